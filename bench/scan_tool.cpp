// SPDX-License-Identifier: GPL-3.0-or-later
// The drive scan without widgets: runs the real scan job in this process and prints what
// it found, so scripts can time it against find and bfs on the same tree.
//
//   scan_tool ROOT [--assume-unknown-type] [--repeat N]

#include "catalogue/ScanJob.h"
#include "platform/FileFind.h"
#include "platform/MountedVolume.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace {

[[noreturn]] void Usage()
{
    std::fprintf(stderr, "usage: scan_tool ROOT [--assume-unknown-type] [--repeat N]\n");
    std::exit(2);
}

struct CRunResult {
    std::size_t nApplications = 0;
    std::size_t nCategories = 0;
    std::uint64_t nStatCalls = 0;
    double dMilliseconds = 0;
    bool bFinished = false;
};

CRunResult ScanOnce(const std::string& root)
{
    CRunResult result;
    const std::uint64_t statsBefore = CFileFind::StatCallCount();
    const auto start = std::chrono::steady_clock::now();
    CScanJob job(CMountedVolume::Create(root));
    job.Run();
    const CScanJob::Reports reports = job.TakeReports();
    const auto end = std::chrono::steady_clock::now();
    result.dMilliseconds = std::chrono::duration<double, std::milli>(end - start).count();
    result.nStatCalls = CFileFind::StatCallCount() - statsBefore;
    if (reports.pCatalogue) {
        result.bFinished = true;
        result.nApplications = reports.pCatalogue->ApplicationCount();
        result.nCategories = reports.pCatalogue->Categories().size();
    }
    return result;
}

} // namespace

int main(int argc, char** argv)
{
    std::string root;
    bool assumeUnknown = false;
    long repeat = 1;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--assume-unknown-type") {
            assumeUnknown = true;
        } else if (arg == "--repeat" && i + 1 < argc) {
            char* end = nullptr;
            repeat = std::strtol(argv[++i], &end, 10);
            if (*end != '\0' || repeat < 1)
                Usage();
        } else if (arg.starts_with("--") || !root.empty()) {
            Usage();
        } else {
            root = arg;
        }
    }
    if (root.empty())
        Usage();

    CFileFind::SetAssumeUnknownType(assumeUnknown);
    std::vector<CRunResult> runs;
    for (long i = 0; i < repeat; ++i) {
        runs.push_back(ScanOnce(root));
        if (!runs.back().bFinished) {
            std::fprintf(stderr, "scan_tool: the scan ended without a catalogue\n");
            return 1;
        }
    }

    // Every run scans the same tree, so the counts of the last stand for all of them.
    const CRunResult& last = runs.back();
    std::vector<double> times;
    for (const CRunResult& run : runs)
        times.push_back(run.dMilliseconds);
    std::sort(times.begin(), times.end());
    std::printf("scan_tool: applications %zu categories %zu", last.nApplications, last.nCategories);
    if (assumeUnknown)
        std::printf(" fstatat %llu", static_cast<unsigned long long>(last.nStatCalls));
    std::printf(" runs %zu median-ms %.1f min-ms %.1f max-ms %.1f\n", times.size(),
                times[times.size() / 2], times.front(), times.back());
    return 0;
}
