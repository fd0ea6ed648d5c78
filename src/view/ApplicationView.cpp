// SPDX-License-Identifier: GPL-3.0-or-later
#include "view/ApplicationView.h"

#include "catalogue/Catalogue.h"
#include "catalogue/Description.h"
#include "catalogue/FileListJob.h"
#include "catalogue/ProgramIconCache.h"
#include "catalogue/Volume.h"
#include "view/DisplayText.h"

#include <QBuffer>
#include <QByteArray>
#include <QImage>
#include <QImageReader>
#include <QMetaObject>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTreeView>

#include <algorithm>
#include <utility>

namespace {

// Rows placed between two looks at the clock.
constexpr std::size_t kRowsPerStep = 256;
// Program icons placed between two looks at the clock.
constexpr std::size_t kIconsPerStep = 32;
// Rows looked at for icons on screen: more than any window shows.
constexpr int kMaxVisibleRows = 512;
constexpr int kIconSize = 16;

} // namespace

struct CApplicationView::Listing {
    std::string strDescriptor;
    std::string strFolder;
    bool bDescribe = false;
};

CApplicationView::CApplicationView(CJobRunner& runner, QTreeView& fileList,
                                   QPlainTextEdit& description, QObject* parent)
    : QObject(parent)
    , m_runner(runner)
    , m_wndFileList(fileList)
    , m_wndDescription(description)
    , m_pIconCache(std::make_shared<CProgramIconCache>())
{
    m_insertTimer.setSingleShot(true);
    m_insertTimer.setInterval(0);
    connect(&m_insertTimer, &QTimer::timeout, this, &CApplicationView::InsertPendingRows);
    m_iconTimer.setSingleShot(true);
    m_iconTimer.setInterval(0);
    connect(&m_iconTimer, &QTimer::timeout, this, &CApplicationView::PlaceIcons);
    m_requestTimer.setSingleShot(true);
    m_requestTimer.setInterval(0);
    connect(&m_requestTimer, &QTimer::timeout, this, &CApplicationView::RequestIcons);
    connect(m_wndFileList.verticalScrollBar(), &QScrollBar::valueChanged, this,
            &CApplicationView::RequestVisibleIcons);
}

CApplicationView::~CApplicationView()
{
    StopIcons();
}

void CApplicationView::InitFileIcons()
{
    m_typeIcons.Init();
}

void CApplicationView::Select(const CApplicationEntry* application)
{
    // The listing before must be gone before the list is emptied, with a copy waiting for
    // it; a scan is never stopped for a selection.
    m_runner.Cancel(CJobRunner::EKind::Copy);
    m_runner.Cancel(CJobRunner::EKind::Listing);
    ForgetListing();
    ClearList();
    ShowDescription({});
    if (application)
        StartFileList(application->strDescriptorPath, application->strFolder, true);
}

void CApplicationView::StartFileList(std::string descriptor, std::string folder, bool bDescribe)
{
    m_strCurrentDescriptor = descriptor;
    m_strCurrentFolder = folder;
    Start({std::move(descriptor), std::move(folder), bDescribe});
}

void CApplicationView::SetShowAllFiles(bool bShowAll)
{
    m_bShowAllFiles = bShowAll;
    StartFileList(m_strCurrentDescriptor, m_strCurrentFolder);
}

void CApplicationView::SetVolume(std::shared_ptr<const CVolume> volume)
{
    // Another drive's programs are of no more use.
    if (volume != m_pVolume)
        RemoveExeIcons();
    m_pVolume = std::move(volume);
    m_strCurrentFolder = m_pVolume ? m_pVolume->Root() : std::string();
    m_strCurrentDescriptor.clear();
}

void CApplicationView::Clear()
{
    ForgetListing();
    ClearList();
}

void CApplicationView::Start(Listing listing)
{
    ForgetListing();
    ClearList();

    CFileListJob::Settings settings;
    settings.strFolder = std::move(listing.strFolder);
    settings.strDescriptor = std::move(listing.strDescriptor);
    settings.bDescribe = listing.bDescribe;
    settings.bShowAllFiles = m_bShowAllFiles;
    m_pFileListJob = std::make_shared<CFileListJob>(m_pVolume, std::move(settings));
    // Waits for a scan running; replaces a listing running, which goes on to no one.
    m_runner.Start(CJobRunner::EKind::Listing, m_pFileListJob, [this] { OnJobReports(); });
}

void CApplicationView::ForgetListing()
{
    m_pFileListJob.reset();
    m_arrPendingBatches.clear();
    m_nPendingAt = 0;
    m_bJobFinished = false;
    m_insertTimer.stop();
}

void CApplicationView::ClearList()
{
    // The icons asked for belong to the rows that go.
    StopIcons();
    m_arrPrograms.clear();
    m_nIconsPlaced = 0;
    m_bListIdle = false;
    m_fileModel.Clear();
    m_nLastInsertNs = 0;
}

void CApplicationView::StopIcons()
{
    if (m_pIconJob) {
        m_pIconJob->Close();
        m_iconWorker.StopAndWait(kSupersedeGrace);
        m_pIconJob.reset();
    }
    m_arrPendingIcons.clear();
    m_iconTimer.stop();
    m_requestTimer.stop();
    // Rows shown keep the icons they have; none is asked for again.
    for (ProgramRow& program : m_arrPrograms)
        program.bRequested = true;
    m_nIconsPlaced = m_arrPrograms.size();
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
    // Whole batches move, not rows: a fast walk hands over tens of thousands at once.
    if (!reports.arrRows.empty())
        m_arrPendingBatches.push_back(std::move(reports.arrRows));
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
    const std::size_t firstProgram = m_arrPrograms.size();
    // The insertion itself costs about what the last one did: the turn keeps room for it.
    while (!m_arrPendingBatches.empty() &&
           (rows.empty() || clock.nsecsElapsed() + m_nLastInsertNs < budget.count())) {
        std::vector<CFileRow>& batch = m_arrPendingBatches.front();
        const std::size_t count = std::min(kRowsPerStep, batch.size() - m_nPendingAt);
        for (std::size_t i = 0; i < count; ++i) {
            CFileRow& row = batch[m_nPendingAt++];
            CFileListModel::Row shown;
            shown.strName = DisplayText(row.strTitle);
            if (row.Folder() != m_strLastFolder || m_strLastLocation.isNull()) {
                m_strLastFolder = row.Folder();
                m_strLastLocation = DisplayText(row.Folder());
            }
            shown.strLocation = m_strLastLocation; // shared, not copied, across a folder's rows
            const CFileTypeIcons::Type& type = m_typeIcons.ForExtension(row.strExtension);
            shown.strType = type.strText;
            shown.icon = type.icon;
            if (row.strExtension == ".exe") {
                // The handle is the row's place in this batch until the batch is in.
                const auto at = static_cast<CFileListModel::Handle>(rows.size());
                m_arrPrograms.push_back({at, row.bListedRegular, false});
                shown.nProgram = static_cast<std::uint32_t>(m_arrPrograms.size());
            }
            shown.strPath = std::move(row.strPath);
            rows.push_back(std::move(shown));
        }
        if (m_nPendingAt == batch.size()) {
            m_arrPendingBatches.pop_front();
            m_nPendingAt = 0;
        }
    }
    if (!rows.empty()) {
        // Each row goes in at the first visible row, so an unscrolled list shows the file
        // found last at the top.
        const QModelIndex top = m_wndFileList.indexAt(QPoint(1, 1));
        const qint64 insertAt = clock.nsecsElapsed();
        const CFileListModel::Handle first =
            m_fileModel.InsertRowsAt(top.isValid() ? top.row() : 0, std::move(rows));
        m_nLastInsertNs = clock.nsecsElapsed() - insertAt;
        for (std::size_t i = firstProgram; i < m_arrPrograms.size(); ++i)
            m_arrPrograms[i].handle += first;
        // Finding the rows on screen lays the list out: a turn of its own, as painting
        // would take anyway.
        m_requestTimer.start();
    }
    if (!m_arrPendingBatches.empty())
        m_insertTimer.start(); // the rest after the events that waited meanwhile
    else if (m_bJobFinished)
        EndFileList();
}

void CApplicationView::EndFileList()
{
    ForgetListing();
    m_bListIdle = true;
    m_requestTimer.start();
    emit Progress(QStringLiteral("Done."));
    emit ListingEnded();
}

void CApplicationView::RequestIcons()
{
    RequestVisibleIcons();
    // The rest of the programs once the list is idle.
    if (m_bListIdle)
        RequestRemainingIcons();
}

void CApplicationView::RequestVisibleIcons()
{
    if (m_arrPrograms.empty())
        return;
    const QModelIndex top = m_wndFileList.indexAt(QPoint(1, 1));
    if (!top.isValid())
        return;
    const QModelIndex bottom =
        m_wndFileList.indexAt(QPoint(1, m_wndFileList.viewport()->height() - 1));
    const int last = std::min(bottom.isValid() ? bottom.row() : m_fileModel.rowCount() - 1,
                              top.row() + kMaxVisibleRows);
    std::vector<CProgramIconJob::Request> requests;
    for (int r = top.row(); r <= last; ++r) {
        const CFileListModel::Row* row = m_fileModel.RowAt(r);
        if (!row || row->nProgram == 0)
            continue;
        ProgramRow& program = m_arrPrograms[row->nProgram - 1];
        if (program.bRequested)
            continue;
        program.bRequested = true;
        requests.push_back({row->strPath, program.bListedRegular, row->nProgram});
    }
    Request(std::move(requests), true);
}

void CApplicationView::RequestRemainingIcons()
{
    std::vector<CProgramIconJob::Request> requests;
    for (std::size_t i = 0; i < m_arrPrograms.size(); ++i) {
        ProgramRow& program = m_arrPrograms[i];
        if (program.bRequested)
            continue;
        const CFileListModel::Row* row = m_fileModel.RowOf(program.handle);
        if (!row)
            continue;
        program.bRequested = true;
        requests.push_back({row->strPath, program.bListedRegular, row->nProgram});
    }
    Request(std::move(requests), false);
}

void CApplicationView::Request(std::vector<CProgramIconJob::Request> requests, bool bUrgent)
{
    if (requests.empty() || !m_pVolume)
        return;
    if (!m_pIconJob) {
        m_pIconJob = std::make_shared<CProgramIconJob>(m_pVolume, m_pIconCache);
        // As for the listing: the wake-up carries no data.
        m_pIconJob->SetWakeUp(
            [this] { QMetaObject::invokeMethod(this, "OnIconReports", Qt::QueuedConnection); });
        m_iconWorker.Start(m_pIconJob);
    }
    m_pIconJob->Add(std::move(requests), bUrgent);
}

void CApplicationView::OnIconReports()
{
    if (!m_pIconJob)
        return; // a wake-up from an icon job let go since
    for (CProgramIconJob::Result& result : m_pIconJob->TakeResults())
        m_arrPendingIcons.push_back(std::move(result));
    PlaceIcons();
}

void CApplicationView::PlaceIcons()
{
    // Decoding costs the UI thread, so it goes by the same budget as placing rows.
    QElapsedTimer clock;
    clock.start();
    const auto budget = std::chrono::duration_cast<std::chrono::nanoseconds>(kInsertBudget);
    bool bChanged = false;
    while (!m_arrPendingIcons.empty() && clock.nsecsElapsed() < budget.count()) {
        const std::size_t count = std::min(kIconsPerStep, m_arrPendingIcons.size());
        for (std::size_t i = 0; i < count; ++i) {
            const CProgramIconJob::Result result = std::move(m_arrPendingIcons.front());
            m_arrPendingIcons.pop_front();
            ++m_nIconsPlaced;
            if (result.nTag == 0 || result.nTag > m_arrPrograms.size())
                continue;
            const QIcon icon = ProgramIcon(result.icon);
            if (icon.isNull())
                continue; // no icon in the program: the type's stays
            m_fileModel.SetIcon(m_arrPrograms[result.nTag - 1].handle, icon);
            bChanged = true;
        }
    }
    if (bChanged)
        m_fileModel.IconsChanged();
    if (!m_arrPendingIcons.empty())
        m_iconTimer.start();
}

QIcon CApplicationView::ProgramIcon(const CProgramIconCache::Icon& bytes)
{
    if (!bytes || bytes->empty())
        return {};
    if (const auto it = m_mapProgramIcons.find(bytes.get()); it != m_mapProgramIcons.end())
        return it->second.second;
    QByteArray data(reinterpret_cast<const char*>(bytes->data()),
                    static_cast<qsizetype>(bytes->size()));
    QBuffer buffer(&data);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, "ico");
    QImage image = reader.read();
    QIcon icon;
    if (!image.isNull()) {
        if (image.width() != kIconSize || image.height() != kIconSize)
            image =
                image.scaled(kIconSize, kIconSize, Qt::KeepAspectRatio, Qt::SmoothTransformation);
        icon = QIcon(QPixmap::fromImage(image));
    }
    if (m_mapProgramIcons.size() >= CProgramIconCache::kMaxIcons)
        m_mapProgramIcons.clear();
    // Undecodable bytes are remembered too, so they are not decoded again.
    m_mapProgramIcons.emplace(bytes.get(), std::make_pair(bytes, icon));
    return icon;
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

QIcon CApplicationView::GetFileIcon(const CFileRow& row)
{
    return m_typeIcons.ForExtension(row.strExtension).icon;
}

void CApplicationView::RemoveExeIcons()
{
    m_pIconCache->Clear();
    m_mapProgramIcons.clear();
}
