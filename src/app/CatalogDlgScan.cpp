// The scan and the catalogue tree of the main window.
#include "app/CatalogDlg.h"

#include "app/Commands.h"
#include "catalogue/Description.h"
#include "catalogue/ScanJob.h"
#include "catalogue/Text.h"
#include "catalogue/WorkerThread.h"
#include "view/DisplayText.h"

#include <QMetaObject>

#include <utility>

void CCatalogDlg::StartScan(std::string root)
{
    // Two walks never run at once.
    StopLatestJob();

    m_wndCatalogTree.setEnabled(false);
    m_wndToolBar.EnableButton(Command::kSelectDrive, false);
    m_wndToolBar.EnableButton(Command::kOpenFolder, false);

    // Clearing the tree is a change of the selection to no node.
    if (m_wndCatalogTree.currentIndex().isValid())
        m_wndCatalogTree.selectionModel()->setCurrentIndex(QModelIndex(),
                                                           QItemSelectionModel::Clear);
    m_model.Rebuild([](CCatalogTree& tree) {
        tree.DeleteAllItems();
        tree.InsertItem(CCatalogTree::kRootText, nullptr);
    });

    m_strCurrentFolder = root;
    m_pScanJob = std::make_shared<CScanJob>(std::move(root));
    // The wake-up carries no data: the reports cross under the job's own mutex.
    m_pScanJob->SetWakeUp(
        [this] { QMetaObject::invokeMethod(this, "OnJobReports", Qt::QueuedConnection); });
    m_pWorkerThread->Start(m_pScanJob);
}

void CCatalogDlg::OnJobReports()
{
    if (m_pFileListJob)
        TakeFileListReports();
    if (m_pScanJob) {
        CScanJob::Reports reports = m_pScanJob->TakeReports();
        if (reports.bFolderChanged)
            m_wndStatusBar.SetText(0,
                                   QStringLiteral("Scanning: ") + DisplayText(reports.strFolder));
        if (reports.pCatalogue) {
            m_pScanJob.reset();
            EndScan(*reports.pCatalogue);
        }
    }
}

void CCatalogDlg::EndScan(const CCatalogue& catalogue)
{
    // The catalogue arrives sorted: categories, and the applications within each.
    m_model.Rebuild([&catalogue](CCatalogTree& tree) {
        const HTREEITEM root = tree.GetRootItem();
        for (const CCategoryEntry& category : catalogue.Categories()) {
            const HTREEITEM node = tree.InsertItem(Text::DecodeForDisplay(category.strText), root);
            for (const CApplicationEntry& application : category.arrApplications) {
                const HTREEITEM app =
                    tree.InsertItem(Text::DecodeForDisplay(application.strName), node);
                tree.InsertItem(Text::DecodeForDisplay(application.strDescriptorPath), app,
                                application.strDescriptorPath);
                tree.InsertItem(Text::DecodeForDisplay(application.strFolder), app,
                                application.strFolder);
            }
        }
        if (!tree.ItemHasChildren(root))
            tree.InsertItem(CCatalogTree::kEmptyScanText, root);
    });
    m_wndToolBar.EnableButton(Command::kOpenFolder, catalogue.ApplicationCount() > 0);
    m_wndCatalogTree.expand(m_model.IndexFromItem(m_model.Tree().GetRootItem()));
    m_wndCatalogTree.setEnabled(true);
    m_wndStatusBar.SetText(0, QStringLiteral("Done."));
    m_wndToolBar.EnableButton(Command::kSelectDrive, true);
    if (m_strListingAfterScan)
        StartFileList(*std::exchange(m_strListingAfterScan, std::nullopt));
}

void CCatalogDlg::OnItemExpandedTree(const QModelIndex& index)
{
    // Application nodes never stay open; their leaves are the program's, not the user's.
    if (IsApplicationNode(m_model.ItemFromIndex(index)))
        m_wndCatalogTree.collapse(index);
}

void CCatalogDlg::OnSelChangedTree(const QModelIndex& current, const QModelIndex& previous)
{
    // Single-expand: the new node opens, and the old one closes unless it holds the new one.
    if (previous.isValid()) {
        bool holdsCurrent = false;
        for (QModelIndex up = current; up.isValid() && !holdsCurrent; up = up.parent())
            holdsCurrent = up == previous;
        if (!holdsCurrent)
            m_wndCatalogTree.collapse(previous);
    }
    if (current.isValid())
        m_wndCatalogTree.expand(current);

    // The listing before must be gone before the list is emptied and the icons trimmed; a
    // scan, which no listing runs beside, is never stopped for a selection.
    if (!m_pScanJob)
        StopLatestJob();
    m_pFileListJob.reset();
    m_fileModel.Clear();
    RemoveExeIcons();

    const HTREEITEM item = m_model.ItemFromIndex(current);
    if (IsApplicationNode(item)) {
        m_wndStatusBar.SetText(2, QString::fromStdString(item->Text()));
        const HTREEITEM descriptor = m_model.Tree().GetChildItem(item);
        const HTREEITEM folder = m_model.Tree().GetNextSiblingItem(descriptor);
        SetProfileFile(descriptor->Bytes());
        StartFileList(folder->Bytes());
        BuildDescription(folder->Bytes());
    } else {
        m_wndStatusBar.SetText(1, item ? QString::fromStdString(item->Text()) : QString());
        m_wndStatusBar.SetText(2, QString());
        m_wndToolBar.EnableButton(Command::kShowAppFiles, false);
        m_wndToolBar.EnableButton(Command::kShowAllFiles, false);
        m_strDescription.clear();
    }
    // The pane breaks lines at LF only; m_strDescription keeps the CR CR LF line ends.
    m_wndDescription.setPlainText(
        QString::fromStdString(Description::ForDisplay(m_strDescription.toStdString())));
}
