// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/ImageReader.h"

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class CSectorSource;

// UDF (1.02 to 2.60) with 2048-byte blocks, read from a sector source of our own: physical,
// sparable, metadata and virtual (VAT) partitions. Every descriptor is read whole from the
// block its tag names, with its checksum and location checked, and every length is checked
// against what holds it. Allocation descriptors are followed through a bounded number of
// continuation extents; a file whose data is not all recorded, or lies where no partition
// maps, has no extents and reads as unreadable. Folders are known by where their file entry
// lies, so a folder reached along two paths is one folder; List reads only folders it has
// handed out (the path is not used).
class CUdfReader final : public CImageReader {
public:
    // nullptr when source is null or holds no UDF volume whose root folder can be read.
    // The reader owns the source.
    static std::unique_ptr<CImageReader> Open(std::unique_ptr<CSectorSource> source);
    ~CUdfReader() override;
    CUdfReader(const CUdfReader&) = delete;
    CUdfReader& operator=(const CUdfReader&) = delete;

    const Entry& RootEntry() const noexcept override { return m_root; }
    bool List(const std::string& rawPath, const Entry& folder, const Limits& limits,
              std::vector<Entry>& out) override;
    bool ReadBlocks(std::uint32_t block, std::uint32_t count, void* buffer) override;

private:
    enum class MapType : unsigned char { Physical, Sparable, Metadata, Virtual };
    struct Map {
        MapType type = MapType::Physical;
        std::uint32_t nStart = 0;  // the underlying partition's first block in the image
        std::uint32_t nLength = 0; // its length in blocks
        // Sparable: packet length and the remapped packets (original -> image block).
        std::uint32_t nPacket = 0;
        std::map<std::uint32_t, std::uint32_t> mapSpared;
        // Metadata: the metadata file's extents; virtual: the VAT's table.
        std::vector<std::pair<std::uint32_t, std::uint32_t>> arrRuns; // image block, blocks
        std::vector<std::uint32_t> arrVirtual;
    };
    // A block inside the partition a map reference names.
    struct Address {
        std::uint32_t nBlock = 0;
        std::uint16_t nPartition = 0;
    };
    struct Ad {
        Address where;
        std::uint32_t nBytes = 0;
        unsigned type = 0; // 0 recorded, 1 and 2 not recorded
    };
    struct Node;

    explicit CUdfReader(std::unique_ptr<CSectorSource> source);
    bool ReadVolume(std::uint32_t anchor);
    bool ReadSparingTable(Map& map, std::uint32_t block, std::uint32_t bytes);
    bool ReadMetadataFile(Map& map, std::uint32_t block);
    bool ReadVat(Map& map, std::uint16_t underlying);
    // The image block at a partition's block, and how many blocks follow it contiguously.
    std::optional<std::uint64_t> Translate(Address where, std::uint32_t& run) const;
    // The file entry at where, tag checked; false when there is none.
    // The latest recording of the file entry at where, indirect entries followed.
    bool ReadNode(Address where, Node& node);
    bool ReadEntryAt(Address where, Node& node);
    // Where the indirect entry at p, recorded at block, leads; nullopt when p holds none.
    static std::optional<Address> IndirectTarget(const unsigned char* p,
                                                 std::uint32_t block) noexcept;
    // A node's allocation descriptors, continuations followed; false when they do not hold.
    bool ReadAds(const Node& node, std::vector<Ad>& ads);
    // A node's data, at most maxBytes; each 2048 bytes' partition block into blocks if given.
    bool ReadData(const Node& node, std::uint64_t maxBytes, std::string& data,
                  std::vector<Address>* blocks);
    void PlaceData(const Node& node, Entry& e);
    bool ToEntry(const std::string& name, Address icb, Entry& e);

    std::unique_ptr<CSectorSource> m_pSource;
    std::vector<Map> m_arrMaps;
    Entry m_root;
    std::map<std::uint64_t, Address> m_mapFolders; // folder nId -> its file entry
};
