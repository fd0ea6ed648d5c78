// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/CatalogDlg.h"

#include "widgets/DialogUnits.h"
#include "widgets/Pictures.h"
#include "platform/DriveSource.h"
#include "platform/OpenVolume.h"
#include "view/DisplayText.h"
#include "view/SingleExpand.h"

#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>

#include <filesystem>
#include <system_error>

namespace {

constexpr int kTemplateWidth = 368;
constexpr int kTemplateHeight = 240;
constexpr int kToolBarUnits = 20;
constexpr int kStatusBarUnits = 15;

} // namespace

CCatalogDlg::CCatalogDlg(QWidget* pParent)
    : QDialog(pParent)
    , m_runner(this)
    , m_view(m_runner, m_wndFileList, m_wndDescription, this)
    , m_opener(*this, m_runner, m_wndStatusBar)
{
    m_view.setObjectName(QStringLiteral("applicationView"));
    m_model.setObjectName(QStringLiteral("catalogModel"));
    m_model.setParent(this);
    Pictures::EnsureLoaded();
    setWindowTitle(QStringLiteral("Quarrow"));
    // A fixed dialog: title, window menu, minimise and close, but no maximise or sizing.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    setSizeGripEnabled(false);

    m_wndToolBar.setParent(this);
    m_wndCatalogTree.setParent(this);
    m_wndFileList.setParent(this);
    m_wndDescription.setParent(this);
    m_wndStatusBar.setParent(this);

    m_wndCatalogTree.setObjectName(QStringLiteral("catalogTree"));
    m_wndCatalogTree.setAccessibleName(QStringLiteral("Catalogue"));
    m_wndCatalogTree.setModel(&m_model);
    m_wndCatalogTree.setHeaderHidden(true);
    m_wndCatalogTree.setRootIsDecorated(false);
    m_wndCatalogTree.setUniformRowHeights(true);
    m_wndCatalogTree.setAnimated(false);
    m_wndCatalogTree.setSelectionMode(QAbstractItemView::SingleSelection);
    m_wndCatalogTree.setEditTriggers(QAbstractItemView::NoEditTriggers);
    // Nodes open by selection, double-click or keyboard; there are no expand buttons.
    m_wndCatalogTree.setStyleSheet(
        QStringLiteral("QTreeView::branch { image: none; border-image: none; }"));
    // Opens and closes nodes before the window hears of the change.
    new CSingleExpand(m_wndCatalogTree);
    connect(m_wndCatalogTree.selectionModel(), &QItemSelectionModel::currentChanged, this,
            &CCatalogDlg::OnSelChangedTree);
    connect(&m_wndCatalogTree, &QTreeView::expanded, this, &CCatalogDlg::OnItemExpandedTree);
    connect(&m_wndCatalogTree, &QTreeView::collapsed, this, &CCatalogDlg::OnItemExpandedTree);

    m_wndFileList.setObjectName(QStringLiteral("fileList"));
    m_wndFileList.setAccessibleName(QStringLiteral("Files"));
    m_wndFileList.setRootIsDecorated(false);
    m_wndFileList.setItemsExpandable(false);
    m_wndFileList.setUniformRowHeights(true);
    m_wndFileList.setSelectionMode(QAbstractItemView::SingleSelection);
    m_wndFileList.setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_wndFileList.setAllColumnsShowFocus(true);
    m_wndFileList.header()->setSectionsClickable(false);
    m_wndFileList.header()->setSectionsMovable(false);
    m_wndFileList.header()->setStretchLastSection(false);
    m_wndFileList.setModel(&m_view.FileListModel());
    // The view's double-click, not "activated", which some desktops fire on a single click.
    connect(&m_wndFileList, &QTreeView::clicked, this, &CCatalogDlg::OnClickList);
    connect(&m_wndFileList, &QTreeView::doubleClicked, this, &CCatalogDlg::OnDblclkList);

    m_wndDescription.setObjectName(QStringLiteral("description"));
    m_wndDescription.setAccessibleName(QStringLiteral("Description"));
    m_wndDescription.setReadOnly(true);
    m_wndDescription.setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    m_wndDescription.setLineWrapMode(QPlainTextEdit::WidgetWidth);

    m_wndToolBar.setObjectName(QStringLiteral("toolBar"));
    m_wndToolBar.setAccessibleName(QStringLiteral("Toolbar"));
    m_wndStatusBar.setObjectName(QStringLiteral("statusBar"));
    m_wndStatusBar.setAccessibleName(QStringLiteral("Status"));
    connect(&m_view, &CApplicationView::Progress, this,
            [this](const QString& text) { m_wndStatusBar.SetText(0, text); });
    connect(&m_view, &CApplicationView::ListingEnded, this, &CCatalogDlg::OnListingEnded);

    const QString descriptionTip = QStringLiteral("Description of the selected application");
    m_wndDescription.setToolTip(descriptionTip);
    m_wndDescription.viewport()->setToolTip(descriptionTip);
    // A click below the last row must not reach the view.
    m_wndFileList.viewport()->installEventFilter(this);
    CreateActions();

    setTabOrder(&m_wndCatalogTree, &m_wndFileList);
    setTabOrder(&m_wndFileList, &m_wndDescription);
    LayoutControls();
}

CCatalogDlg::~CCatalogDlg()
{
    OnDestroy();
}

void CCatalogDlg::LayoutControls()
{
    const CDialogUnits units(font());
    setFixedSize(units.Size(kTemplateWidth, kTemplateHeight));
    m_wndToolBar.setGeometry(0, 0, width(), units.Y(kToolBarUnits));
    m_wndCatalogTree.setGeometry(units.Rect(0, 20, 150, 205));
    m_wndFileList.setGeometry(units.Rect(150, 20, 218, 151));
    m_wndDescription.setGeometry(units.Rect(150, 171, 218, 54));
    const int statusTop = units.Y(kTemplateHeight - kStatusBarUnits);
    m_wndStatusBar.setGeometry(0, statusTop, width(), height() - statusTop);
}

void CCatalogDlg::setVisible(bool visible)
{
    // The first showing initialises the window before it appears, so that the drive
    // selection at start-up comes before the main window.
    if (visible && !m_bInitialised)
        OnInitDialog();
    QDialog::setVisible(visible);
}

bool CCatalogDlg::OnInitDialog()
{
    m_bInitialised = true;

    m_hIcon = Pictures::ProgramIcon();
    setWindowIcon(m_hIcon);

    CreateToolBar();
    CreateStatusBar();

    LookForAutorun();

    m_actShowAppFiles.setChecked(true);
    m_actSelectDrive.setEnabled(false);
    m_actShowAppFiles.setEnabled(false);
    m_actShowAllFiles.setEnabled(false);

    m_view.InitFileIcons();
    m_wndFileList.setColumnWidth(0, 150);
    m_wndFileList.setColumnWidth(1, 50);
    m_wndFileList.setColumnWidth(2, 200);
    return true;
}

void CCatalogDlg::CreateToolBar()
{
    m_wndToolBar.SetButtonSize(QSize(50, 24));
    m_wndToolBar.AddButton(m_actSelectDrive);
    m_wndToolBar.AddSeparator();
    m_wndToolBar.AddButton(m_actOpenFolder);
    m_wndToolBar.AddSeparator();
    m_wndToolBar.AddButton(m_actShowAppFiles);
    m_wndToolBar.AddButton(m_actShowAllFiles);
    m_wndToolBar.AddSeparator();
    m_wndToolBar.AddButton(m_actAbout);
}

void CCatalogDlg::CreateStatusBar()
{
    const int w = m_wndStatusBar.width();
    m_wndStatusBar.SetParts({w - 260, w - 150, -1});
    m_wndStatusBar.SetTipText(1, QStringLiteral("Catagory"));
    static const char* const kDescriptions[] = {"Progress", "Category", "Application"};
    for (int part = 0; part < CStatusBar::kPartCount; ++part)
        m_wndStatusBar.PartLabel(part)->setAccessibleDescription(
            QString::fromLatin1(kDescriptions[part]));
}

void CCatalogDlg::keyPressEvent(QKeyEvent* event)
{
    // Enter ends the window even though no button takes it, as the dialog's default command.
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    if (enter && (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
        accept();
        return;
    }
    // While a copy runs, Escape ends the copy rather than the window.
    if (event->key() == Qt::Key_Escape && IsCopying()) {
        m_opener.CancelCopy();
        return;
    }
    QDialog::keyPressEvent(event);
}

void CCatalogDlg::done(int result)
{
    QDialog::done(result);
    OnDestroy();
}

void CCatalogDlg::OnDestroy()
{
    if (m_bDestroyed)
        return;
    m_bDestroyed = true;
    StopLatestJob(kCloseGrace);
    m_view.StopIcons();
    m_pOpenJob.reset();
    m_opener.Close();
}

void CCatalogDlg::StopLatestJob(std::chrono::milliseconds grace)
{
    m_runner.Stop(grace);
}

bool CCatalogDlg::IsWorkerRunning() const
{
    return m_runner.IsWorkerRunning();
}
