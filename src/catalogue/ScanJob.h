// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "catalogue/Catalogue.h"
#include "catalogue/Descriptor.h"
#include "catalogue/FolderWalker.h"
#include "catalogue/Job.h"
#include "catalogue/ProfileReader.h"
#include "catalogue/Volume.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>

struct CScanReports {
    bool bFolderChanged = false;
    std::string strFolder;                  // the folder being walked, when changed
    std::shared_ptr<CCatalogue> pCatalogue; // set once, when the walk has ended, sorted
};

// Walks a volume from its root for descriptors and files each listed one into a catalogue.
// The records of an image may point thousands of descriptors at one extent: each file (by
// identity) is read once per scan, and past kMaxDescriptorBytes read in all, no real disc's
// amount, further descriptors count as unreadable.
class CScanJob final : public CReportingJob<CScanReports>, private CWalkVisitor {
public:
    static constexpr std::uint64_t kMaxDescriptorBytes = 512u << 20;

    // order sorts the catalogue on the worker (empty: the plain case-blind order).
    explicit CScanJob(std::shared_ptr<const CVolume> volume, CCatalogue::TextOrder order = {});

    void Run() override;

    const std::string& Root() const noexcept { return m_pVolume->Root(); }

private:
    void OnFolder(const std::string& folder) override;
    void AddApplication(const CFoundFile& found) override;
    bool IsStopRequested() const override { return CJob::IsStopRequested(); }

    const std::shared_ptr<const CVolume> m_pVolume;
    const CCatalogue::TextOrder m_order;
    struct IdentityHash {
        std::size_t operator()(const CVolume::FileIdentity& id) const noexcept;
    };
    std::optional<Descriptor::Listing> ReadOnce(const std::string& path);

    CProfileReader m_reader;
    std::unordered_map<CVolume::FileIdentity, Descriptor::Listing, IdentityHash> m_mapRead;
    std::uint64_t m_nBytesRead = 0;
    std::shared_ptr<CCatalogue> m_pCatalogue;
};
