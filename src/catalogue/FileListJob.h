// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "catalogue/FolderWalker.h"
#include "catalogue/Job.h"
#include "catalogue/NameSet.h"
#include "catalogue/Text.h"
#include "catalogue/Volume.h"

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// One file of the list. All texts are the file name's and folder's bytes; the view makes
// the shown texts and icons from them on its own thread.
struct CFileRow {
    std::string strTitle;        // the name without its extension
    std::string strExtension;    // from the last dot, dot included, lower case; may be empty
    std::string strPath;         // the file itself, as found: what opening it uses
    std::size_t nFolderSize = 0; // strPath's first bytes name the folder it was found in
    bool bListedRegular = false; // see CVolume::OpenListedFile

    std::string_view Folder() const noexcept
    {
        return std::string_view(strPath).substr(0, nFolderSize);
    }
};

// Lists an application's files: one walk per pattern, in order, then (in show-all mode) one
// walk of the folder itself for every file. Each file title is listed once, without regard
// to case: the first file found with it wins. Given a descriptor, the job reads its patterns
// (and, when asked, builds the description) on the worker, so a slow drive never holds up
// the window.
class CFileListJob final : public CJob, private CWalkVisitor {
public:
    struct Settings {
        std::string strFolder;
        std::vector<std::string> astrPatterns;
        bool bSearchSubdirs = false;
        bool bShowAllFiles = false;
        // When set, [showfiles] of this descriptor replaces astrPatterns and bSearchSubdirs.
        std::string strDescriptor;
        bool bDescribe = false; // also report the description (needs strDescriptor)
    };

    // Folder and descriptor are paths of volume.
    CFileListJob(std::shared_ptr<const CVolume> volume, Settings settings);

    void Run() override;

    struct Reports {
        bool bFolderChanged = false;
        std::string strFolder;                     // the folder being walked, when changed
        std::vector<CFileRow> arrRows;             // in order of discovery
        std::optional<std::string> strDescription; // once, before any row, when asked for
        bool bFinished = false;
    };
    // UI side: what the worker reported since the last call.
    Reports TakeReports();

private:
    static constexpr std::size_t kBatchRows = 512;

    void OnFolder(const std::string& folder) override;
    void AddFileRow(const CFoundFile& found) override;
    void AddRow(const std::string& folder, std::string_view name, bool bRegular);
    // A pattern with a folder part needs walks of its own; otherwise each folder is read
    // once and every pattern is matched against that reading, in pattern order.
    class CFolderListing;
    void WalkPerPattern();
    void WalkOnce(CFolderListing& listing);
    void ReadDescriptor();
    bool IsStopRequested() const override { return CJob::IsStopRequested(); }
    // Hands the batch and the folder over; finished marks the last report.
    void Flush(bool finished);

    const std::shared_ptr<const CVolume> m_pVolume;
    Settings m_settings; // worker-only once the job runs
    CNameSet m_setTitles;
    std::vector<CFileRow> m_arrBatch; // worker-only until flushed
    std::string m_strFolder;          // worker-only

    Reports m_pending; // guarded by m_mutex
};
