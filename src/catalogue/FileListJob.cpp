// SPDX-License-Identifier: GPL-3.0-or-later
#include "catalogue/FileListJob.h"

#include "catalogue/Description.h"
#include "catalogue/Descriptor.h"
#include "catalogue/ProfileReader.h"
#include "catalogue/Wildcard.h"

#include <algorithm>
#include <utility>

namespace {

bool HasFolderPart(std::string_view pattern)
{
    return pattern.find_first_of("/\\") != std::string_view::npos;
}

// Every file one walk finds, in the walk's order: matching each pattern against this list
// gives exactly the rows of one walk per pattern, for one reading of each folder.
class CFolderListing final : public CWalkVisitor {
public:
    struct Entry {
        std::size_t nFolder;
        std::string strName;
    };

    explicit CFolderListing(CWalkVisitor& progress)
        : m_progress(progress)
    {}

    void OnFolder(const std::string& folder) override
    {
        if (m_strRoot.empty())
            m_strRoot = folder; // the walk enters its start folder first
        m_progress.OnFolder(folder);
    }
    bool IsStopRequested() const override { return m_progress.IsStopRequested(); }
    void AddFileRow(const CFoundFile& found) override
    {
        // A folder's files come together, before any of its subfolders.
        if (m_astrFolders.empty() || m_astrFolders.back() != found.GetRoot())
            m_astrFolders.push_back(found.GetRoot());
        m_arrEntries.push_back({m_astrFolders.size() - 1, found.GetFileName()});
    }

    const std::string& Root() const noexcept { return m_strRoot; }
    const std::vector<std::string>& Folders() const noexcept { return m_astrFolders; }
    const std::vector<Entry>& Entries() const noexcept { return m_arrEntries; }

private:
    CWalkVisitor& m_progress;
    std::string m_strRoot;
    std::vector<std::string> m_astrFolders;
    std::vector<Entry> m_arrEntries;
};

} // namespace

CFileListJob::CFileListJob(std::shared_ptr<const CVolume> volume, Settings settings,
                           std::shared_ptr<CFileRowDecorator> decorator)
    : m_pVolume(std::move(volume))
    , m_settings(std::move(settings))
    , m_pDecorator(std::move(decorator))
{}

void CFileListJob::Run()
{
    if (!m_settings.strDescriptor.empty())
        ReadDescriptor();
    const auto& patterns = m_settings.astrPatterns;
    if (std::any_of(patterns.begin(), patterns.end(), HasFolderPart))
        WalkPerPattern();
    else
        WalkOnce();
    if (!CJob::IsStopRequested())
        Flush(true);
}

void CFileListJob::ReadDescriptor()
{
    CProfileReader reader;
    const Descriptor::ReadKey read =
        Descriptor::ReaderFor(reader, *m_pVolume, m_settings.strDescriptor);
    if (m_settings.bDescribe) {
        Description::Result description =
            Description::Build(read, *m_pVolume, m_settings.strFolder);
        {
            std::lock_guard lock(m_mutex);
            m_pending.strDescription = std::move(description.strText);
        }
        NotifyReports(true);
    }
    Descriptor::ShowFiles showFiles = Descriptor::ReadShowFiles(read);
    m_settings.astrPatterns = std::move(showFiles.astrPatterns);
    m_settings.bSearchSubdirs = showFiles.bSearchSubdirs;
}

void CFileListJob::WalkPerPattern()
{
    for (const std::string& pattern : m_settings.astrPatterns) {
        if (CJob::IsStopRequested())
            return;
        WalkFolder(*m_pVolume, m_settings.strFolder, "list", m_settings.bSearchSubdirs, pattern,
                   *this);
    }
    // Only the folder itself, whatever the descriptor says about subfolders.
    if (m_settings.bShowAllFiles && !CJob::IsStopRequested())
        WalkFolder(*m_pVolume, m_settings.strFolder, "list", false, "*.*", *this);
}

void CFileListJob::WalkOnce()
{
    CFolderListing listing(*this);
    WalkFolder(*m_pVolume, m_settings.strFolder, "list", m_settings.bSearchSubdirs, "*", listing);
    const auto& folders = listing.Folders();
    for (const std::string& pattern : m_settings.astrPatterns) {
        const CWildcard wildcard(pattern);
        for (const CFolderListing::Entry& entry : listing.Entries()) {
            if (CJob::IsStopRequested())
                return;
            if (wildcard.Matches(entry.strName))
                AddRow(folders[entry.nFolder], entry.strName);
        }
    }
    if (!m_settings.bShowAllFiles)
        return;
    for (const CFolderListing::Entry& entry : listing.Entries()) {
        if (CJob::IsStopRequested())
            return;
        if (folders[entry.nFolder] == listing.Root())
            AddRow(folders[entry.nFolder], entry.strName);
    }
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

void CFileListJob::AddFileRow(const CFoundFile& found)
{
    AddRow(found.GetRoot(), found.GetFileName());
}

void CFileListJob::AddRow(const std::string& folder, const std::string& name)
{
    const auto [title, extension] = Path::SplitFileName(name);
    if (!m_setTitles.emplace(title).second)
        return;
    CFileRow row;
    row.strTitle = title;
    row.strExtension = Text::ToLower(extension);
    row.strFolder = folder;
    row.strPath = Path::Join(folder, name);
    if (m_pDecorator)
        m_pDecorator->Decorate(*m_pVolume, row);
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
