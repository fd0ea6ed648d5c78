#include "catalogue/FileListJob.h"

#include "platform/FileFind.h"

#include <utility>

CFileListJob::CFileListJob(Settings settings, std::shared_ptr<CFileRowDecorator> decorator)
    : m_settings(std::move(settings))
    , m_pDecorator(std::move(decorator))
{}

void CFileListJob::Run()
{
    for (const std::string& pattern : m_settings.astrPatterns) {
        if (CJob::IsStopRequested())
            return;
        WalkFolder(m_settings.strFolder, "list", m_settings.bSearchSubdirs, pattern, *this);
    }
    // Only the folder itself, whatever the descriptor says about subfolders.
    if (m_settings.bShowAllFiles && !CJob::IsStopRequested())
        WalkFolder(m_settings.strFolder, "list", false, "*.*", *this);
    if (!CJob::IsStopRequested())
        Flush(true);
}

CFileListJob::Reports CFileListJob::TakeReports()
{
    std::lock_guard lock(m_mutex);
    ReportsTaken();
    return std::exchange(m_pending, Reports{});
}

void CFileListJob::OnFolder(const std::string& folder)
{
    m_strFolder = folder;
    Flush(false);
}

void CFileListJob::AddFileRow(const CFileFind& found)
{
    const std::string& name = found.GetFileName();
    const auto [title, extension] = Path::SplitFileName(name);
    if (!m_setTitles.emplace(title).second)
        return;
    CFileRow row;
    row.strTitle = title;
    row.strExtension = Text::ToLowerAscii(extension);
    row.strFolder = found.GetRoot();
    row.strPath = found.GetFilePath();
    if (m_pDecorator)
        m_pDecorator->Decorate(row);
    m_arrBatch.push_back(std::move(row));
    if (m_arrBatch.size() >= kBatchRows)
        Flush(false);
}

void CFileListJob::Flush(bool finished)
{
    {
        std::lock_guard lock(m_mutex);
        m_pending.bFinished = finished;
        if (!m_arrBatch.empty()) {
            if (m_pending.arrRows.empty()) {
                m_pending.arrRows = std::move(m_arrBatch);
            } else {
                for (CFileRow& row : m_arrBatch)
                    m_pending.arrRows.push_back(std::move(row));
            }
            m_arrBatch.clear();
        }
        if (!m_strFolder.empty()) {
            m_pending.bFolderChanged = true;
            m_pending.strFolder = m_strFolder;
        }
    }
    NotifyReports(finished);
}
