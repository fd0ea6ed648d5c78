// SPDX-License-Identifier: GPL-3.0-or-later
// The commands of the main window, and opening the listed files and the folder.
#include "app/CatalogDlg.h"

#include "catalogue/Text.h"
#include "dialogs/AboutBox.h"
#include "dialogs/DriveSelectDlg.h"
#include "dialogs/LibraryDlg.h"
#include "library/LibraryStore.h"
#include "view/DisplayText.h"
#include "platform/DriveSource.h"
#include "desktop/Prompt.h"

#include <QContextMenuEvent>
#include <QHelpEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QToolTip>

#include <utility>

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
    if (result == CDriveSelectDlg::kShowLibrary) {
        ShowLibrary();
        return;
    }
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

void CCatalogDlg::CreateActions()
{
    struct Command {
        QAction& action;
        const char* name;
        const char* icon;
        QString text;
        void (CCatalogDlg::*handler)();
    };
    const Command commands[] = {
        {m_actSelectDrive, "selectDrive", ":/toolbar/select-drive.svg",
         QStringLiteral("Select drive to scan for applications"), &CCatalogDlg::OnSelectDrive},
        {m_actOpenFolder, "openFolder", ":/toolbar/open-folder.svg",
         QStringLiteral("Open the folder contaning the currently selected application"),
         &CCatalogDlg::OnOpenFolder},
        {m_actShowAppFiles, "showAppFiles", ":/toolbar/app-files.svg",
         QStringLiteral("Show only application related files"), &CCatalogDlg::OnShowAppFiles},
        {m_actShowAllFiles, "showAllFiles", ":/toolbar/all-files.svg",
         QStringLiteral("Show all files"), &CCatalogDlg::OnShowAllFiles},
        {m_actAbout, "about", ":/toolbar/about.svg", QStringLiteral("About Quarrow"),
         &CCatalogDlg::OnAbout},
        {m_actWindowMenuAbout, "windowMenuAbout", nullptr, QStringLiteral("&About Quarrow..."),
         &CCatalogDlg::OnAbout},
    };
    for (const Command& command : commands) {
        command.action.setParent(this);
        command.action.setObjectName(QString::fromLatin1(command.name));
        command.action.setText(command.text);
        command.action.setToolTip(command.text);
        if (command.icon)
            command.action.setIcon(QIcon(QString::fromLatin1(command.icon)));
        connect(&command.action, &QAction::triggered, this, command.handler);
    }
    // Triggering a pressed mode button switches to the other mode, as pressing it always did.
    m_actShowAppFiles.setCheckable(true);
    m_actShowAllFiles.setCheckable(true);
    // The window manager owns the real window menu, so its About item lives here.
    for (QWidget* bar :
         {static_cast<QWidget*>(&m_wndToolBar), static_cast<QWidget*>(&m_wndStatusBar)}) {
        bar->addAction(&m_actWindowMenuAbout);
        bar->setContextMenuPolicy(Qt::ActionsContextMenu);
    }
}

void CCatalogDlg::OnShowAllFiles()
{
    // The action has toggled already.
    const bool bShowAll = m_actShowAllFiles.isChecked();
    m_actShowAppFiles.setChecked(!bShowAll);
    m_view.SetShowAllFiles(bShowAll);
}

void CCatalogDlg::OnShowAppFiles()
{
    const bool bShowAll = !m_actShowAppFiles.isChecked();
    m_actShowAllFiles.setChecked(bShowAll);
    m_view.SetShowAllFiles(bShowAll);
}

void CCatalogDlg::OnListingEnded()
{
    m_actShowAppFiles.setEnabled(true);
    m_actShowAllFiles.setEnabled(true);
    SelectPendingFile();
}

bool CCatalogDlg::eventFilter(QObject* watched, QEvent* event)
{
    // The type first: the list is asked for its viewport only while it is whole, not while
    // its parts go at closing.
    const bool bPress =
        event->type() == QEvent::MouseButtonPress || event->type() == QEvent::MouseButtonDblClick;
    if (bPress && watched == m_wndFileList.viewport()) {
        // A click below the last row leaves no row selected, so nothing is opened.
        const auto* mouse = static_cast<QMouseEvent*>(event);
        if (!m_wndFileList.indexAt(mouse->position().toPoint()).isValid()) {
            m_wndFileList.clearSelection();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void CCatalogDlg::OnAbout()
{
    CAboutBox box(this);
    CPrompt::ExecDialog(box);
}

void CCatalogDlg::OnClickList()
{
    if (const CFileListModel::Row* row = m_view.SelectedFileRow())
        m_wndStatusBar.SetText(0, DisplayText(row->strPath));
}

void CCatalogDlg::OnDblclkList()
{
    // The path kept with the row, never one rebuilt from the shown (lower-cased) texts.
    if (const CFileListModel::Row* row = m_view.SelectedFileRow())
        m_opener.OpenFile(m_view.Volume(), row->strPath, m_view.CurrentFolder());
}

void CCatalogDlg::OnOpenFolder()
{
    const std::string& folder = m_view.CurrentFolder();
    if (folder.empty()) {
        CPrompt::MessageBox(this, QStringLiteral("No file selected."), QStringLiteral("Error"),
                            QMessageBox::Ok, QMessageBox::Warning);
        return;
    }
    m_opener.OpenFolder(m_view.Volume(), folder);
}

void CCatalogDlg::ShowLibrary()
{
    if (!m_pLibrary) {
        m_pLibrary = new CLibraryDlg(CLibraryStore::DefaultPath(), this);
        m_pLibrary->setWindowFlag(Qt::Window);
        m_pLibrary->SetOpener([this](const CLibraryDlg::OpenRequest& request) {
            OpenAndSelect(request.strVolume,
                          {request.strApplication, request.strFolder, request.strFile});
            raise();
            activateWindow();
        });
    }
    m_pLibrary->show();
    m_pLibrary->raise();
    m_pLibrary->activateWindow();
}

void CCatalogDlg::OpenAndSelect(std::string path, Selection selection)
{
    StopLatestJob();
    m_view.Clear();
    m_pendingSelection = std::move(selection);
    OpenOnWorker(std::move(path), true);
}

namespace {

// The application whose folder holds file most closely, for a file found by the library.
bool Holds(const std::string& folder, const std::string& file)
{
    return file.size() > folder.size() && file.compare(0, folder.size(), folder) == 0 &&
           (folder == "/" || file[folder.size()] == '/');
}

} // namespace

void CCatalogDlg::SelectPendingApplication()
{
    const Selection& wanted = m_pendingSelection;
    if (wanted.strApplication.empty() && wanted.strFile.empty())
        return;
    QModelIndex best;
    std::size_t bestLength = 0;
    const QModelIndex root = m_model.RootIndex();
    for (int c = 0; c < m_model.rowCount(root); ++c) {
        const QModelIndex category = m_model.index(c, 0, root);
        for (int a = 0; a < m_model.rowCount(category); ++a) {
            const QModelIndex index = m_model.index(a, 0, category);
            const CApplicationEntry* application = m_model.ApplicationAt(index);
            if (!application)
                continue;
            const bool bNamed = !wanted.strApplication.empty() &&
                                application->strName == wanted.strApplication &&
                                application->strFolder == wanted.strFolder;
            const bool bHolds = wanted.strApplication.empty() &&
                                Holds(application->strFolder, wanted.strFile) &&
                                application->strFolder.size() + 1 > bestLength;
            if (bNamed || bHolds) {
                best = index;
                bestLength = application->strFolder.size() + 1;
            }
            if (bNamed)
                break;
        }
    }
    if (!best.isValid()) {
        m_pendingSelection = {};
        return;
    }
    m_pendingSelection.strApplication.clear();
    m_wndCatalogTree.setCurrentIndex(best);
    m_wndCatalogTree.scrollTo(best);
}

void CCatalogDlg::SelectPendingFile()
{
    if (m_pendingSelection.strFile.empty() || !m_pendingSelection.strApplication.empty())
        return;
    const CFileListModel& list = m_view.FileListModel();
    for (int row = 0; row < list.rowCount(); ++row) {
        if (list.RowAt(row)->strPath == m_pendingSelection.strFile) {
            m_pendingSelection = {};
            const QModelIndex index = list.index(row, 0);
            m_wndFileList.setCurrentIndex(index);
            m_wndFileList.scrollTo(index);
            OnClickList();
            return;
        }
    }
    // Not one of the application's own files: it is among all of them, listed next.
    if (m_view.IsShowingAllFiles()) {
        m_pendingSelection = {};
        return;
    }
    m_actShowAllFiles.setChecked(true);
    OnShowAllFiles();
}
