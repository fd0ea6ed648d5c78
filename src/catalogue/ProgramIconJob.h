// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "catalogue/Job.h"
#include "catalogue/ProgramIconCache.h"

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

class CVolume;

// Reads the icons of listed programs, apart from the listing, on a worker of its own: no
// listing and no scan ever waits for a program's icon. The UI thread hands requests in while
// the job runs, those of rows on screen ahead of the rest; each file version is read once,
// through the shared cache. With nothing to do the job waits; it ends on Close() or a stop.
//
// Owned by the UI thread and by the worker that runs it (shared_ptr), so a job let go while
// blocked in the file system keeps its state; its reports then go nowhere.
class CProgramIconJob final : public CJob {
public:
    struct Request {
        std::string strPath;         // a path of the volume
        bool bListedRegular = false; // see CVolume::OpenListedFile
        std::uint32_t nTag = 0;      // the caller's; handed back with the result
    };
    struct Result {
        std::uint32_t nTag = 0;
        CProgramIconCache::Icon icon; // never null; empty when the program has no icon
    };

    CProgramIconJob(std::shared_ptr<const CVolume> volume,
                    std::shared_ptr<CProgramIconCache> cache);

    void Run() override;

    // UI side. Urgent requests go before every request waiting; the rest after them.
    void Add(std::vector<Request> requests, bool bUrgent);
    // Ends Run at the next request; call before stopping the worker, which then need not wait
    // for the job to look at its stop flag.
    void Close();
    // What the worker read since the last call, in the order read.
    std::vector<Result> TakeResults();

    // Icon 0 of the program at path, through cache; reads nothing for a version cached.
    static CProgramIconCache::Icon Read(const CVolume& volume, CProgramIconCache& cache,
                                        const Request& request);

private:
    // A wait wakes this often to look at the stop flag, which a bare stop does not signal.
    static constexpr std::chrono::milliseconds kStopPoll{50};

    const std::shared_ptr<const CVolume> m_pVolume;
    const std::shared_ptr<CProgramIconCache> m_pCache;
    std::condition_variable m_wake;   // with m_mutex
    std::deque<Request> m_arrQueue;   // guarded by m_mutex
    bool m_bClosed = false;           // guarded by m_mutex
    std::vector<Result> m_arrResults; // guarded by m_mutex
};
