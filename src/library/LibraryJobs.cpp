// SPDX-License-Identifier: GPL-3.0-or-later
#include "library/LibraryJobs.h"

#include "library/VolumeFinder.h"

bool OpenLibraryStore(CLibraryStore& store, const std::string& path, std::string& error)
{
    std::string notice;
    const CLibraryStore::EOpen result = store.Open(path, error, notice);
    if (result == CLibraryStore::EOpen::Ok)
        return true;
    if (!notice.empty())
        error = notice + ' ' + error;
    return false;
}

CLibrarySearchJob::CLibrarySearchJob(std::string storePath, std::vector<std::string> words)
    : m_strStorePath(std::move(storePath))
    , m_words(std::move(words))
{}

void CLibrarySearchJob::Run()
{
    CLibraryHits hits;
    CLibraryStore store;
    if (OpenLibraryStore(store, m_strStorePath, hits.strError)) {
        try {
            store.Search(
                m_words,
                [&](const CLibraryStore::ApplicationHit& hit) {
                    if (hits.arrApplications.size() < kMaxHits && !IsStopRequested())
                        hits.arrApplications.push_back(hit);
                    else
                        hits.bMore = true;
                },
                [&](const CLibraryStore::FileHit& hit) {
                    if (hits.arrFiles.size() < kMaxHits && !IsStopRequested())
                        hits.arrFiles.push_back(hit);
                    else
                        hits.bMore = true;
                },
                kMaxHits + 1);
        } catch (const CLibraryStore::CError& error) {
            hits.strError = error.what();
        }
    }
    Report([&](auto& pending) { pending = std::move(hits); }, true);
}

CLibraryShelfJob::CLibraryShelfJob(std::string storePath, std::vector<std::string> forget)
    : m_strStorePath(std::move(storePath))
    , m_forget(std::move(forget))
{}

void CLibraryShelfJob::Run()
{
    CLibraryShelf shelf;
    CLibraryStore store;
    if (OpenLibraryStore(store, m_strStorePath, shelf.strError)) {
        try {
            for (const std::string& path : m_forget)
                store.Forget(path);
            for (CLibraryVolume& volume : store.Volumes()) {
                const char* state = VolumeState(volume);
                shelf.rows.push_back({std::move(volume), state});
            }
        } catch (const CLibraryStore::CError& error) {
            shelf.strError = error.what();
        }
    }
    Report([&](auto& pending) { pending = std::move(shelf); }, true);
}

CLibraryAddJob::CLibraryAddJob(std::string storePath, std::vector<std::string> paths)
    : m_strStorePath(std::move(storePath))
    , m_paths(std::move(paths))
{}

void CLibraryAddJob::Run()
{
    std::string error;
    CLibraryStore store;
    if (!OpenLibraryStore(store, m_strStorePath, error)) {
        Report([&](Reports& pending) { pending.strError = error, pending.bEnded = true; }, true);
        return;
    }
    std::vector<std::string> volumes;
    for (const std::string& path : m_paths) {
        for (std::string& volume : VolumeFinder::Find(path))
            volumes.push_back(std::move(volume));
        if (IsStopRequested())
            break;
    }
    CLibraryAdder adder(store);
    std::size_t nDone = 0;
    try {
        adder.AddAll(volumes, {[this] { return IsStopRequested(); },
                               [&](std::size_t i) {
                                   Report([&](Reports& pending) {
                                       pending.nDone = i;
                                       pending.nFound = volumes.size();
                                       pending.strCurrent = volumes[i];
                                   });
                               },
                               [&](CLibraryAdder::Outcome&& outcome) {
                                   ++nDone;
                                   Update([&](Reports& pending) {
                                       pending.outcomes.push_back(std::move(outcome));
                                   });
                               }});
    } catch (const CLibraryStore::CError& failure) {
        error = failure.what();
    }
    Report(
        [&](Reports& pending) {
            pending.nDone = nDone;
            pending.nFound = volumes.size();
            pending.strError = error;
            pending.bEnded = true;
        },
        true);
}

void CLibraryAddJob::KeepAfterTaking(const Reports& taken, Reports& pending) const
{
    pending.nDone = taken.nDone;
    pending.nFound = taken.nFound;
    pending.strCurrent = taken.strCurrent;
}
