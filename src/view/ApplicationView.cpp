// SPDX-License-Identifier: GPL-3.0-or-later
#include "view/ApplicationView.h"

#include "catalogue/Catalogue.h"
#include "catalogue/Description.h"
#include "catalogue/FileListJob.h"
#include "catalogue/Volume.h"
#include "catalogue/WorkerThread.h"
#include "view/DesktopIcons.h"
#include "view/DisplayText.h"
#include "view/FileRowView.h"

#include <QMetaObject>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QTreeView>

#include <utility>
#include <vector>

namespace {

const QString kExeEntry = QStringLiteral(".exe");
// Rows placed between two looks at the clock.
constexpr std::size_t kRowsPerStep = 256;

} // namespace

struct CApplicationView::Listing {
    std::string strDescriptor;
    std::string strFolder;
    bool bDescribe = false;
};

CApplicationView::CApplicationView(CWorkerThread& worker, QTreeView& fileList,
                                   QPlainTextEdit& description, QObject* parent)
    : QObject(parent)
    , m_worker(worker)
    , m_wndFileList(fileList)
    , m_wndDescription(description)
{
    m_insertTimer.setSingleShot(true);
    m_insertTimer.setInterval(0);
    connect(&m_insertTimer, &QTimer::timeout, this, &CApplicationView::InsertPendingRows);
}

CApplicationView::~CApplicationView() = default;

void CApplicationView::InitFileIcons()
{
    DesktopIcons::Setup();
    static const char* const kFixed[][2] = {
        {"unknown", ":/filetypes/unknown.svg"},
        {".com", ":/filetypes/program.svg"},
        {".dll", ":/filetypes/library.svg"},
        {".scr", ":/filetypes/screensaver.svg"},
    };
    for (const auto& [entry, picture] : kFixed) {
        m_imageList.Add(QIcon(QString::fromLatin1(picture)));
        m_astrIconExtensions.append(QString::fromLatin1(entry));
    }
    for (int i = 1; i < m_astrIconExtensions.size(); ++i)
        m_mapTypeImages.insert(m_astrIconExtensions[i], i);
    m_fileModel.SetImageLookup([this](int image) { return m_imageList.Icon(image); });
}

void CApplicationView::Select(const CApplicationEntry* application)
{
    // The listing before must be gone before the list is emptied and the icons trimmed; a
    // scan, which no listing runs beside, is never stopped for a selection.
    if (!m_bScanRunning)
        m_worker.StopAndWait(kSupersedeGrace);
    ForgetListing();
    m_fileModel.Clear();
    RemoveExeIcons();
    ShowDescription({});
    if (application)
        StartFileList(application->strDescriptorPath, application->strFolder, true);
}

void CApplicationView::StartFileList(std::string descriptor, std::string folder, bool bDescribe)
{
    m_strCurrentDescriptor = descriptor;
    m_strCurrentFolder = folder;
    Listing listing{std::move(descriptor), std::move(folder), bDescribe};
    if (m_bScanRunning) {
        m_pDeferred = std::make_unique<Listing>(std::move(listing));
        return;
    }
    Start(std::move(listing));
}

void CApplicationView::SetShowAllFiles(bool bShowAll)
{
    m_bShowAllFiles = bShowAll;
    StartFileList(m_strCurrentDescriptor, m_strCurrentFolder);
}

void CApplicationView::SetScanRunning(bool bRunning)
{
    m_bScanRunning = bRunning;
    if (!bRunning && m_pDeferred)
        Start(std::move(*std::exchange(m_pDeferred, nullptr)));
}

void CApplicationView::SetVolume(std::shared_ptr<const CVolume> volume)
{
    m_pVolume = std::move(volume);
    m_strCurrentFolder = m_pVolume ? m_pVolume->Root() : std::string();
    m_strCurrentDescriptor.clear();
}

void CApplicationView::Clear()
{
    ForgetListing();
    m_fileModel.Clear();
}

void CApplicationView::Start(Listing listing)
{
    m_worker.StopAndWait(kSupersedeGrace);
    ForgetListing();
    m_fileModel.Clear();
    // A new mode lists the same programs again: without this their images pile up.
    RemoveExeIcons();

    CFileListJob::Settings settings;
    settings.strFolder = std::move(listing.strFolder);
    settings.strDescriptor = std::move(listing.strDescriptor);
    settings.bDescribe = listing.bDescribe;
    settings.bShowAllFiles = m_bShowAllFiles;
    m_pFileListJob = std::make_shared<CFileListJob>(m_pVolume, std::move(settings),
                                                    std::make_shared<CFileRowViewDecorator>());
    // The wake-up carries no data: the reports cross under the job's own mutex.
    m_pFileListJob->SetWakeUp(
        [this] { QMetaObject::invokeMethod(this, "OnJobReports", Qt::QueuedConnection); });
    m_worker.Start(m_pFileListJob);
}

void CApplicationView::ForgetListing()
{
    m_pFileListJob.reset();
    m_pDeferred.reset();
    m_arrPendingRows.clear();
    m_bJobFinished = false;
    m_insertTimer.stop();
}

void CApplicationView::OnJobReports()
{
    if (!m_pFileListJob)
        return; // a wake-up from a listing that has been replaced since
    CFileListJob::Reports reports = m_pFileListJob->TakeReports();
    if (reports.strDescription)
        ShowDescription(*reports.strDescription);
    if (reports.bFolderChanged)
        emit Progress(QStringLiteral("Scanning: ") + DisplayText(reports.strFolder));
    for (CFileRow& row : reports.arrRows)
        m_arrPendingRows.push_back(std::move(row));
    // A wake-up left over from the listing before takes this one's reports too: the next one
    // may bring nothing, and must not take back the end already taken.
    m_bJobFinished = m_bJobFinished || reports.bFinished;
    InsertPendingRows();
}

void CApplicationView::InsertPendingRows()
{
    // Rows are made ready within the budget, then go in as one insertion: each insertion
    // costs the view a pass over every row it has, so fewer and larger ones keep a long
    // listing linear.
    QElapsedTimer clock;
    clock.start();
    const auto budget = std::chrono::duration_cast<std::chrono::nanoseconds>(kInsertBudget);
    std::vector<CFileListModel::Row> rows;
    while (!m_arrPendingRows.empty() && clock.nsecsElapsed() < budget.count()) {
        const std::size_t count = std::min(kRowsPerStep, m_arrPendingRows.size());
        for (std::size_t i = 0; i < count; ++i) {
            CFileRow& row = m_arrPendingRows.front();
            const auto* view = dynamic_cast<const CFileRowView*>(row.pExtra.get());
            CFileListModel::Row shown;
            if (view) {
                shown.strName = view->strName;
                shown.strType = view->strType;
                shown.strLocation = view->strLocation;
            }
            shown.nImage = GetFileIcon(row);
            shown.strPath = std::move(row.strPath);
            rows.push_back(std::move(shown));
            m_arrPendingRows.pop_front();
        }
    }
    if (!rows.empty()) {
        // Each row goes in at the first visible row, so an unscrolled list shows the file
        // found last at the top.
        const QModelIndex top = m_wndFileList.indexAt(QPoint(1, 1));
        m_fileModel.InsertRowsAt(top.isValid() ? top.row() : 0, std::move(rows));
    }
    if (!m_arrPendingRows.empty())
        m_insertTimer.start(); // the rest after the events that waited meanwhile
    else if (m_bJobFinished)
        EndFileList();
}

void CApplicationView::EndFileList()
{
    ForgetListing();
    emit Progress(QStringLiteral("Done."));
    emit ListingEnded();
}

void CApplicationView::ShowDescription(const std::string& text)
{
    // The pane breaks lines at LF only; the text keeps the CR CR LF line ends.
    m_wndDescription.setPlainText(QString::fromStdString(Description::ForDisplay(text)));
}

const CFileListModel::Row* CApplicationView::SelectedFileRow() const
{
    const QModelIndexList rows = m_wndFileList.selectionModel()->selectedRows();
    return rows.isEmpty() ? nullptr : m_fileModel.RowAt(rows.first().row());
}

int CApplicationView::GetFileIcon(const CFileRow& row)
{
    const auto* view = dynamic_cast<const CFileRowView*>(row.pExtra.get());
    if (row.strExtension == ".exe") {
        // One image per program listed: each may carry its own icon.
        if (!view || view->imageExe.isNull())
            return 1;
        const int image = m_imageList.Add(QIcon(QPixmap::fromImage(view->imageExe)));
        m_astrIconExtensions.append(kExeEntry);
        return image;
    }
    const QString extension = view ? view->strType : QString::fromStdString(row.strExtension);
    // Extensions are lower case already; the table holds each type once.
    if (const auto it = m_mapTypeImages.constFind(extension); it != m_mapTypeImages.constEnd())
        return it.value();
    if (!view || view->strIconName.isEmpty())
        return 0; // an unknown type leaves no trace and is looked up again next time
    QIcon icon = QIcon::fromTheme(view->strIconName);
    if (icon.isNull())
        icon = QIcon::fromTheme(view->strGenericIconName);
    if (icon.isNull())
        return 0;
    const int image = m_imageList.Add(icon);
    m_astrIconExtensions.append(extension);
    m_mapTypeImages.insert(extension, image);
    return image;
}

void CApplicationView::RemoveExeIcons()
{
    // One pass over both lists: a listing may have left thousands of program icons.
    const auto isProgram = [this](int i) {
        return i >= 2 && m_astrIconExtensions[i].compare(kExeEntry, Qt::CaseInsensitive) == 0;
    };
    QStringList kept;
    kept.reserve(m_astrIconExtensions.size());
    for (int i = 0; i < m_astrIconExtensions.size(); ++i)
        if (!isProgram(i))
            kept.append(m_astrIconExtensions[i]);
    if (kept.size() == m_astrIconExtensions.size())
        return;
    m_imageList.RemoveWhere(isProgram);
    m_astrIconExtensions = std::move(kept);
    // Type entries behind removed programs moved down with their images.
    m_mapTypeImages.clear();
    for (int i = 1; i < m_astrIconExtensions.size(); ++i)
        m_mapTypeImages.insert(m_astrIconExtensions[i], i);
}
