// SPDX-License-Identifier: GPL-3.0-or-later
// The scan and the catalogue tree of the main window.
#include "app/CatalogDlg.h"

#include "catalogue/OpenVolumeJob.h"
#include "catalogue/Path.h"
#include "catalogue/ScanJob.h"
#include "library/LibraryStore.h"
#include "library/StoredVolume.h"
#include "platform/OpenVolume.h"
#include "desktop/Prompt.h"
#include "view/Collation.h"
#include "view/DisplayText.h"

#include <QMetaObject>

#include <filesystem>
#include <system_error>
#include <utility>

void CCatalogDlg::LookForAutorun()
{
    namespace fs = std::filesystem;
    std::error_code error;
    if (m_strStartPath.empty()) {
        std::string folder = fs::current_path(error).string();
        if (error) {
            SelectDrive(true);
            return;
        }
        // Whether a drive must be chosen is known before the window shows, unless the folder
        // is stuck: the window then shows and the answer comes when it comes.
        OpenOnWorker(std::move(folder), false);
        if (m_runner.WaitFor(kStartupLookGrace))
            OnOpenReports();
        return;
    }
    const std::string path =
        fs::absolute(fs::path(m_strStartPath), error).lexically_normal().string();
    OpenOnWorker(std::string(Path::Trimmed(path)), true);
}

void CCatalogDlg::OpenOnWorker(std::string path, bool bNamed)
{
    m_bOpeningNamedPath = bNamed;
    // As while scanning, until the open has ended.
    m_wndCatalogTree.setEnabled(false);
    m_actSelectDrive.setEnabled(false);
    m_actOpenFolder.setEnabled(false);
    m_wndStatusBar.SetText(0, QStringLiteral("Opening: ") + DisplayText(path));

    // A volume the library knows that is away is shown as it was catalogued.
    m_pOpenJob = std::make_shared<COpenVolumeJob>(
        std::move(path),
        [openImage = m_fnOpenImage, store = CLibraryStore::DefaultPath()](
            const std::string& named) { return OpenVolumeOrStored(named, openImage, store); });
    m_runner.Start(CJobRunner::EKind::Open, m_pOpenJob, [this] { OnOpenReports(); });
}

void CCatalogDlg::OnOpenReports()
{
    if (!m_pOpenJob)
        return;
    std::optional<COpenedVolume> opened = m_pOpenJob->TakeReports();
    if (!opened)
        return;
    const std::string path = m_pOpenJob->Path();
    m_pOpenJob.reset();
    // The current folder is scanned as the drive only when it has an autorun.inf.
    if (opened->m_pVolume && (m_bOpeningNamedPath || opened->m_strLabel)) {
        StartLabelledScan(std::move(opened->m_pVolume), opened->m_strLabel);
        return;
    }
    if (!m_bOpeningNamedPath) {
        m_wndStatusBar.SetText(0, QString());
        m_wndCatalogTree.setEnabled(true);
        SelectDrive(true);
        return;
    }

    const QString shown = DisplayText(path);
    QString text;
    using EFailure = COpenedVolume::EFailure;
    switch (opened->m_eFailure) {
    case EFailure::CannotOpen:
        text = QStringLiteral("Quarrow cannot open %1: %2.")
                   .arg(shown, QString::fromLocal8Bit(opened->m_strReason));
        break;
    case EFailure::FolderUnreadable:
        text = QStringLiteral("Quarrow cannot read the folder %1.").arg(shown);
        break;
    case EFailure::NotFolderOrImage:
        text = QStringLiteral("%1 is neither a folder nor a disc image.").arg(shown);
        break;
    case EFailure::Unreadable:
        text = QStringLiteral("Quarrow cannot read %1.").arg(shown);
        break;
    case EFailure::None:
    case EFailure::NotAnImage:
        text = QStringLiteral("%1 is not a disc image that Quarrow can read").arg(shown);
        break;
    }
    // Back to what a window that has scanned nothing shows.
    m_wndStatusBar.SetText(0, QString());
    m_wndCatalogTree.setEnabled(true);
    ShowError(text);
    // A path that cannot be opened leaves the choice to the user, as a folder without
    // autorun.inf does.
    SelectDrive(true);
}

void CCatalogDlg::ShowError(const QString& text)
{
    CPrompt::MessageBox(this, text, QStringLiteral("Quarrow"), QMessageBox::Ok,
                        QMessageBox::Warning);
}

void CCatalogDlg::StartLabelledScan(std::shared_ptr<const CVolume> volume,
                                    const std::optional<std::string>& label)
{
    QString title = QStringLiteral("Quarrow - ") + DisplayText(label.value_or(volume->Root()));
    if (volume->Away())
        title += QStringLiteral(" (not available)");
    setWindowTitle(title);
    StartScan(std::move(volume));
}

void CCatalogDlg::StartScan(std::string root)
{
    StartScan(OpenDriveFolder(std::move(root)));
}

void CCatalogDlg::StartScan(std::shared_ptr<const CVolume> volume)
{
    m_pOpenJob.reset();

    m_wndCatalogTree.setEnabled(false);
    m_actSelectDrive.setEnabled(false);
    m_actOpenFolder.setEnabled(false);

    // Clearing the tree is a change of the selection to no node.
    if (m_wndCatalogTree.currentIndex().isValid())
        m_wndCatalogTree.selectionModel()->setCurrentIndex(QModelIndex(),
                                                           QItemSelectionModel::Clear);
    m_model.ShowScanning();

    m_view.SetVolume(volume);
    // Sorted as the user's locale sorts, on the worker: a large drive has thousands of names.
    m_pScanJob = std::make_shared<CScanJob>(std::move(volume), CCollation().Order());
    // Replaces whatever runs: two walks never run at once.
    m_runner.Start(CJobRunner::EKind::Scan, m_pScanJob, [this] { OnJobReports(); });
}

void CCatalogDlg::OnJobReports()
{
    if (!m_pScanJob)
        return;
    CScanJob::Reports reports = m_pScanJob->TakeReports();
    if (reports.bFolderChanged)
        m_wndStatusBar.SetText(0, QStringLiteral("Scanning: ") + DisplayText(reports.strFolder));
    if (reports.pCatalogue) {
        m_pScanJob.reset();
        EndScan(std::move(reports.pCatalogue));
    }
}

void CCatalogDlg::EndScan(std::shared_ptr<const CCatalogue> catalogue)
{
    const bool bFoundAny = catalogue->ApplicationCount() > 0;
    // The catalogue arrives sorted: categories, and the applications within each.
    m_model.SetCatalogue(std::move(catalogue));
    m_actOpenFolder.setEnabled(bFoundAny);
    m_wndCatalogTree.expand(m_model.RootIndex());
    m_wndCatalogTree.setEnabled(true);
    m_wndStatusBar.SetText(0, QStringLiteral("Done."));
    m_actSelectDrive.setEnabled(true);
    SelectPendingApplication();
}

void CCatalogDlg::OnItemExpandedTree(const QModelIndex& index)
{
    // Application nodes never stay open.
    if (m_model.IsApplication(index))
        m_wndCatalogTree.collapse(index);
}

void CCatalogDlg::OnSelChangedTree(const QModelIndex& current)
{
    const CApplicationEntry* application = m_model.ApplicationAt(current);
    const QString text = current.data().toString();
    if (application) {
        m_wndStatusBar.SetText(2, text);
    } else {
        m_wndStatusBar.SetText(1, text);
        m_wndStatusBar.SetText(2, QString());
        m_actShowAppFiles.setEnabled(false);
        m_actShowAllFiles.setEnabled(false);
    }
    m_view.Select(application);
}
