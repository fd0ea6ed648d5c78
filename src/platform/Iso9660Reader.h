// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/ImageReader.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

class CSectorSource;

// ISO 9660 (levels 1 to 3) with Rock Ridge or Joliet, read from a sector source of our own.
// Names are those a Linux mount shows: Rock Ridge where the root's "." record announces SUSP,
// else Joliet (levels 1 to 3), else ISO 9660 names in lower case without their ";1" version.
// Folders are read from where their records point (the path given to List is not used), one
// record after another, each checked against its sector and its folder's extent: a folder
// holding a record that does not fit is unreadable as a whole. Rock Ridge continuation areas
// are followed a bounded number of times, each within one block of the image. A folder's
// identity is where its extent starts, however many records lead to it.
class CIso9660Reader final : public CImageReader {
public:
    // nullptr when source is null or holds no primary volume descriptor (2048-byte blocks)
    // whose root lies inside it. The reader owns the source.
    static std::unique_ptr<CImageReader> Open(std::unique_ptr<CSectorSource> source);
    ~CIso9660Reader() override;
    CIso9660Reader(const CIso9660Reader&) = delete;
    CIso9660Reader& operator=(const CIso9660Reader&) = delete;

    const Entry& RootEntry() const noexcept override { return m_root; }
    bool List(const std::string& rawPath, const Entry& folder, const Limits& limits,
              std::vector<Entry>& out) override;
    bool ReadBlocks(std::uint32_t block, std::uint32_t count, void* buffer) override;

private:
    enum class Names : unsigned char { RockRidge, Joliet, Iso };
    struct Record;
    struct Rock;

    explicit CIso9660Reader(std::unique_ptr<CSectorSource> source);
    // The entry a record shows; false when it shows none (relocated, or without a name).
    bool ToEntry(const Record& record, std::string_view raw, Entry& e);
    // The Rock Ridge fields of a record's system use area and its continuations.
    void ReadRock(const unsigned char* area, std::size_t bytes, Rock& rock);
    // A relocated folder, from its own "." record; false when that does not check out.
    bool RelocatedFolder(std::uint64_t block, Entry& entry);

    std::unique_ptr<CSectorSource> m_pSource;
    Names m_names = Names::Iso;
    std::size_t m_nSkip = 0; // bytes before each system use area's SUSP entries
    Entry m_root;
    std::size_t m_nContinuationsLeft = 0; // continuation areas the listing may still read
};
