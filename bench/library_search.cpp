// SPDX-License-Identifier: GPL-3.0-or-later
// Times library searches in one process, as a window would run them, so that process start
// is not measured: each line of QUERIES_FILE is one query (words split at spaces), run RUNS
// times on the store at $XDG_DATA_HOME/quarrow/library.sqlite.
//
//   library_search QUERIES_FILE RUNS [LIMIT]     prints "P50_MS P99_MS MEAN_HITS"
//
// LIMIT is how many hits of each kind are fetched, 501 as the library window asks; 0 for all,
// as quarrow --search prints them.
#include "library/LibraryStore.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>

int main(int argc, char** argv)
{
    if (argc != 3 && argc != 4) {
        std::fprintf(stderr, "usage: library_search QUERIES_FILE RUNS [LIMIT]\n");
        return 2;
    }
    std::vector<std::vector<std::string>> queries;
    std::ifstream file(argv[1]);
    for (std::string line; std::getline(file, line);) {
        std::istringstream words(line);
        std::vector<std::string>& query = queries.emplace_back();
        for (std::string word; words >> word;)
            query.push_back(word);
    }
    CLibraryStore store;
    std::string error, notice;
    if (store.Open(CLibraryStore::DefaultPath(), error, notice) != CLibraryStore::EOpen::Ok) {
        std::fprintf(stderr, "library_search: %s\n", error.c_str());
        return 1;
    }
    const int runs = std::max(1, std::atoi(argv[2]));
    const std::size_t limit = argc == 4 ? std::strtoul(argv[3], nullptr, 10) : 501;
    std::vector<double> times;
    std::size_t hits = 0;
    for (int run = 0; run < runs; ++run) {
        for (const auto& query : queries) {
            const auto start = std::chrono::steady_clock::now();
            store.Search(
                query, [&](const auto&) { ++hits; }, [&](const auto&) { ++hits; }, limit);
            times.push_back(
                std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                    .count());
        }
    }
    if (times.empty())
        return 1;
    std::sort(times.begin(), times.end());
    const auto at = [&](double share) {
        return times[std::min(times.size() - 1, static_cast<std::size_t>(share * times.size()))];
    };
    std::printf("%.2f %.2f %.1f\n", at(0.5), at(0.99),
                static_cast<double>(hits) / static_cast<double>(times.size()));
    return 0;
}
