// SPDX-License-Identifier: GPL-3.0-or-later
// Tooltips, the window menu and the commands of the main window.
#include "app/CatalogDlg.h"

#include "app/Commands.h"
#include "app/Strings.h"
#include "catalogue/Text.h"
#include "dialogs/AboutBox.h"
#include "dialogs/DriveSelectDlg.h"
#include "view/DisplayText.h"
#include "platform/DriveSource.h"
#include "platform/desktop/Prompt.h"

#include <QContextMenuEvent>
#include <QHelpEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QToolTip>

#include <utility>

namespace {
const char* const kControlIdProperty = "quarrowControlId";
} // namespace

void CCatalogDlg::SetDriveSource(std::unique_ptr<CDriveSource> source)
{
    m_pDriveSource = std::move(source);
}

void CCatalogDlg::SelectDrive(bool atStartup)
{
    if (!m_pDriveSource)
        m_pDriveSource = std::make_unique<CMachineDriveSource>();
    CDriveSelectDlg dlg(*m_pDriveSource, this);
    dlg.SetAtStartup(atStartup);
    dlg.SetImageOpener(m_fnOpenImage);
    const int result = CPrompt::ExecDialog(dlg);
    if (result != QDialog::Accepted || dlg.Drive().empty())
        return; // Cancel changes nothing
    // The listing still running must not add rows to the emptied list.
    StopLatestJob();
    m_view.Clear();
    if (std::shared_ptr<const CVolume> image = dlg.Image()) {
        StartLabelledScan(std::move(image), dlg.ImageLabel());
        return;
    }
    setWindowTitle(QStringLiteral("Quarrow - ") + DisplayText(dlg.Drive()));
    StartScan(dlg.Drive());
}

void CCatalogDlg::OnShowAllFiles()
{
    // Pressing the button that is already pressed switches to the other mode.
    const bool bShowAll = !m_wndToolBar.IsButtonChecked(Command::kShowAllFiles);
    m_wndToolBar.CheckButton(Command::kShowAllFiles, bShowAll);
    m_wndToolBar.CheckButton(Command::kShowAppFiles, !bShowAll);
    m_view.SetShowAllFiles(bShowAll);
}

void CCatalogDlg::OnShowAppFiles()
{
    const bool bShowAll = m_wndToolBar.IsButtonChecked(Command::kShowAppFiles);
    m_wndToolBar.CheckButton(Command::kShowAllFiles, bShowAll);
    m_wndToolBar.CheckButton(Command::kShowAppFiles, !bShowAll);
    m_view.SetShowAllFiles(bShowAll);
}

void CCatalogDlg::OnListingEnded()
{
    if (m_pendingCopy) {
        CopyRequest request = std::move(*std::exchange(m_pendingCopy, std::nullopt));
        CopyOut(std::move(request.strFile), std::move(request.strFolder), request.bConfirmed);
    }
    m_wndToolBar.EnableButton(Command::kShowAppFiles, true);
    m_wndToolBar.EnableButton(Command::kShowAllFiles, true);
}

std::optional<QString> CCatalogDlg::OnToolTipNotify(int id) const
{
    if (id == Control::kStatusBar) {
        // Built whole: the joined text may run past the 80 characters of a tip buffer.
        return m_wndStatusBar.GetText(0) + QStringLiteral(" | ") + m_wndStatusBar.GetText(1) +
               QStringLiteral(" | ") + m_wndStatusBar.GetText(2);
    }
    if (id == 0)
        return std::nullopt;
    const QString text = Strings::Load(id & 0xFFFF);
    if (text.isEmpty())
        return std::nullopt;
    return text;
}

void CCatalogDlg::ServeToolTips(QWidget* widget, int id)
{
    widget->setProperty(kControlIdProperty, id);
    widget->installEventFilter(this);
}

bool CCatalogDlg::eventFilter(QObject* watched, QEvent* event)
{
    const QVariant id = watched->property(kControlIdProperty);
    if (!id.isValid())
        return QDialog::eventFilter(watched, event);
    if (event->type() == QEvent::ToolTip) {
        const auto* help = static_cast<QHelpEvent*>(event);
        if (const std::optional<QString> text = OnToolTipNotify(id.toInt()))
            QToolTip::showText(help->globalPos(), *text, static_cast<QWidget*>(watched));
        else
            QToolTip::hideText();
        return true;
    }
    if ((event->type() == QEvent::MouseButtonPress ||
         event->type() == QEvent::MouseButtonDblClick) &&
        id.toInt() == Control::kFileList) {
        // A click below the last row leaves no row selected, so nothing is opened.
        const auto* mouse = static_cast<QMouseEvent*>(event);
        if (!m_wndFileList.indexAt(mouse->position().toPoint()).isValid()) {
            m_wndFileList.clearSelection();
            return true;
        }
    }
    if (event->type() == QEvent::ContextMenu &&
        (id.toInt() == Control::kStatusBar || id.toInt() == Control::kToolBar)) {
        ShowWindowMenu(static_cast<QContextMenuEvent*>(event)->globalPos());
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

void CCatalogDlg::ShowWindowMenu(const QPoint& globalPos)
{
    // The window manager owns the real window menu, so the About item lives here.
    QMenu menu(this);
    QAction* about = menu.addAction(Strings::Load(Strings::kAboutMenuItem));
    if (menu.exec(globalPos) == about)
        OnSysCommand(Command::kSysAbout);
}

void CCatalogDlg::OnSysCommand(int nID)
{
    if ((nID & 0xFFF0) == Command::kSysAbout)
        OnAbout();
}

void CCatalogDlg::OnAbout()
{
    CAboutBox box(this);
    CPrompt::ExecDialog(box);
}
