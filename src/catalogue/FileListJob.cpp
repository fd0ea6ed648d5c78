// SPDX-License-Identifier: GPL-3.0-or-later
#include "catalogue/FileListJob.h"

#include "catalogue/Description.h"
#include "catalogue/Descriptor.h"
#include "catalogue/Path.h"
#include "catalogue/ProfileReader.h"
#include "catalogue/Wildcard.h"

#include <algorithm>
#include <utility>

namespace {

bool HasFolderPart(std::string_view pattern)
{
    return pattern.find_first_of("/\\") != std::string_view::npos;
}

} // namespace

// Every file one walk finds, in the walk's order: matching each pattern against this list
// gives exactly the rows of one walk per pattern, for one reading of each folder.
class CFileListJob::CFolderListing final : public CWalkVisitor {
public:
    struct Entry {
        std::size_t nFolder;
        std::size_t nNameAt; // in the names of all entries, one after another
        std::size_t nNameSize;
        bool bRegular;
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
        const std::string& name = found.GetFileName();
        m_arrEntries.push_back(
            {m_astrFolders.size() - 1, m_strNames.size(), name.size(), found.IsRegular()});
        m_strNames += name; // one buffer, not an allocation per name
    }

    const std::string& Root() const noexcept { return m_strRoot; }
    const std::vector<std::string>& Folders() const noexcept { return m_astrFolders; }
    const std::vector<Entry>& Entries() const noexcept { return m_arrEntries; }
    std::string_view NameOf(const Entry& entry) const noexcept
    {
        return std::string_view(m_strNames).substr(entry.nNameAt, entry.nNameSize);
    }

private:
    CWalkVisitor& m_progress;
    std::string m_strRoot;
    std::vector<std::string> m_astrFolders;
    std::vector<Entry> m_arrEntries;
    std::string m_strNames;
};

CFileListJob::CFileListJob(std::shared_ptr<const CVolume> volume, Settings settings)
    : m_pVolume(std::move(volume))
    , m_settings(std::move(settings))
{}

void CFileListJob::Run()
{
    if (!m_settings.strDescriptor.empty())
        ReadDescriptor();
    const auto& patterns = m_settings.astrPatterns;
    CFolderListing listing(*this);
    if (std::any_of(patterns.begin(), patterns.end(), HasFolderPart))
        WalkPerPattern();
    else
        WalkOnce(listing);
    if (!CJob::IsStopRequested())
        Flush(true);
    // Freed here, while the window places the last rows, rather than by whoever drops the
    // job last: that is the window, when the next listing starts.
    m_setTitles.Release();
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
        WalkFolder(*m_pVolume, m_settings.strFolder, EWalkMode::List, m_settings.bSearchSubdirs,
                   pattern, *this);
    }
    // Only the folder itself, whatever the descriptor says about subfolders.
    if (m_settings.bShowAllFiles && !CJob::IsStopRequested())
        WalkFolder(*m_pVolume, m_settings.strFolder, EWalkMode::List, false, "*.*", *this);
}

void CFileListJob::WalkOnce(CFolderListing& listing)
{
    WalkFolder(*m_pVolume, m_settings.strFolder, EWalkMode::List, m_settings.bSearchSubdirs, "*",
               listing);
    m_setTitles.Reserve(listing.Entries().size());
    const auto& folders = listing.Folders();
    for (const std::string& pattern : m_settings.astrPatterns) {
        const CWildcard wildcard(pattern);
        for (const CFolderListing::Entry& entry : listing.Entries()) {
            if (CJob::IsStopRequested())
                return;
            const std::string_view name = listing.NameOf(entry);
            if (wildcard.Matches(name))
                AddRow(folders[entry.nFolder], name, entry.bRegular);
        }
    }
    if (!m_settings.bShowAllFiles)
        return;
    for (const CFolderListing::Entry& entry : listing.Entries()) {
        if (CJob::IsStopRequested())
            return;
        if (folders[entry.nFolder] == listing.Root())
            AddRow(folders[entry.nFolder], listing.NameOf(entry), entry.bRegular);
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
    AddRow(found.GetRoot(), found.GetFileName(), found.IsRegular());
}

void CFileListJob::AddRow(const std::string& folder, std::string_view name, bool bRegular)
{
    const auto [title, extension] = Path::SplitFileName(name);
    if (!m_setTitles.Insert(title))
        return;
    CFileRow row;
    row.strTitle = title;
    row.strExtension = Text::ToLower(extension);
    row.strPath = Path::Join(folder, name);
    // As Join wrote it: "/" stays, "/a/" loses its '/'.
    row.nFolderSize = Path::Trimmed(folder).size();
    row.bListedRegular = bRegular;
    if (m_arrBatch.empty())
        m_arrBatch.reserve(kBatchRows);
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
