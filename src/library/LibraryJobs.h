// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "catalogue/Job.h"
#include "library/LibraryAdder.h"
#include "library/LibraryStore.h"

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

// The library window's work, each on a worker with a store connection of its own: SQLite
// and the volumes' paths are never touched on the UI thread.

struct CLibraryHits {
    std::vector<CLibraryStore::ApplicationHit> arrApplications;
    std::vector<CLibraryStore::FileHit> arrFiles;
    bool bMore = false;   // more hits than are kept
    std::string strError; // the store could not be searched
};

// One search; the window starts a new one at every keystroke and drops the ones before.
class CLibrarySearchJob final : public CReportingJob<std::optional<CLibraryHits>> {
public:
    // Hits kept of each kind: a list longer than this helps nobody find a disc.
    static constexpr std::size_t kMaxHits = 500;

    CLibrarySearchJob(std::string storePath, std::vector<std::string> words);
    void Run() override;

private:
    const std::string m_strStorePath;
    const std::vector<std::string> m_words;
};

struct CLibraryShelf {
    struct Row {
        CLibraryVolume volume;
        const char* pszState = "";
    };
    std::vector<Row> rows;
    std::string strError;
};

// Forgets the volumes at the paths given, then reads the volumes and looks at each one's
// path for its state.
class CLibraryShelfJob final : public CReportingJob<std::optional<CLibraryShelf>> {
public:
    explicit CLibraryShelfJob(std::string storePath, std::vector<std::string> forget = {});
    void Run() override;

private:
    const std::string m_strStorePath;
    const std::vector<std::string> m_forget;
};

struct CLibraryAddReports {
    std::size_t nDone = 0;
    std::size_t nFound = 0;
    std::string strCurrent;
    std::vector<CLibraryAdder::Outcome> outcomes; // since the last reports
    bool bEnded = false;
    std::string strError; // the store failed; nothing more was added
};

// Catalogues the volumes the paths stand for, one transaction each; a stop ends it between
// two volumes.
class CLibraryAddJob final : public CReportingJob<CLibraryAddReports> {
public:
    CLibraryAddJob(std::string storePath, std::vector<std::string> paths);
    void Run() override;

private:
    void KeepAfterTaking(const Reports& taken, Reports& pending) const override;

    const std::string m_strStorePath;
    const std::vector<std::string> m_paths;
};

// Opens the store at path for a job; error says why not.
bool OpenLibraryStore(CLibraryStore& store, const std::string& path, std::string& error);
