// SPDX-License-Identifier: GPL-3.0-or-later
// The drive scan without widgets: runs the real scan job in this process and prints what
// it found, so scripts can time it against find and bfs on the same tree.
//
//   scan_tool ROOT [--assume-unknown-type] [--repeat N] [--image] [--bytes-read]

#include "catalogue/ScanJob.h"
#include "platform/DiscImage.h"
#include "platform/MountedVolume.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace {

[[noreturn]] void Usage()
{
    std::fprintf(stderr, "usage: scan_tool ROOT [--assume-unknown-type] [--repeat N] [--image]"
                         " [--bytes-read]\n");
    std::exit(2);
}

struct CRunResult {
    std::size_t nApplications = 0;
    std::size_t nCategories = 0;
    std::uint64_t nStatCalls = 0;
    std::uint64_t nBytesRead = 0;
    double dMilliseconds = 0;
    bool bFinished = false;
};

// Bytes this process has read through read-like system calls (rchar of /proc/self/io):
// counts reads served from the page cache too, so a warm scan reports what it asked for.
std::uint64_t BytesReadSoFar()
{
    std::ifstream io("/proc/self/io");
    std::string key;
    std::uint64_t value = 0;
    while (io >> key >> value) {
        if (key == "rchar:")
            return value;
    }
    return 0;
}

CRunResult ScanOnce(const std::string& root, bool image, bool assumeUnknown)
{
    CRunResult result;
    const std::uint64_t bytesBefore = BytesReadSoFar();
    const auto start = std::chrono::steady_clock::now();
    std::shared_ptr<const CMountedVolume> folder;
    if (!image)
        folder =
            std::make_shared<const CMountedVolume>(root, CMountedVolume::Options{assumeUnknown});
    std::shared_ptr<const CVolume> volume = image ? DiscImage::Open(root) : folder;
    if (!volume)
        return result;
    CScanJob job(std::move(volume));
    job.Run();
    const CScanJob::Reports reports = job.TakeReports();
    const auto end = std::chrono::steady_clock::now();
    result.dMilliseconds = std::chrono::duration<double, std::milli>(end - start).count();
    result.nStatCalls = folder ? folder->StatCallCount() : 0;
    result.nBytesRead = BytesReadSoFar() - bytesBefore;
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
    bool image = false;
    bool bytesRead = false;
    long repeat = 1;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--assume-unknown-type") {
            assumeUnknown = true;
        } else if (arg == "--image") {
            image = true;
        } else if (arg == "--bytes-read") {
            bytesRead = true;
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

    std::vector<CRunResult> runs;
    for (long i = 0; i < repeat; ++i) {
        runs.push_back(ScanOnce(root, image, assumeUnknown));
        if (!runs.back().bFinished) {
            std::fprintf(stderr, image ? "scan_tool: not an image it can read, or the scan ended"
                                         " without a catalogue\n"
                                       : "scan_tool: the scan ended without a catalogue\n");
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
    if (bytesRead)
        std::printf(" bytes-read %llu", static_cast<unsigned long long>(last.nBytesRead));
    std::printf(" runs %zu median-ms %.1f min-ms %.1f max-ms %.1f\n", times.size(),
                times[times.size() / 2], times.front(), times.back());
    return 0;
}
