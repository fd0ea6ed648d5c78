// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/ImageReader.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class CSectorSource;

// FAT12, FAT16 and FAT32 with long names, as floppy and hard disk images hold them, read from
// a sector source of our own. The type follows from the cluster count alone. Every cluster
// chain is followed at most as many hops as its content needs and the volume has clusters; a
// chain that loops, ends early or leaves the volume makes its file or folder unreadable.
// Where clusters line up with 2048-byte blocks a file's data is given as extents of the
// image; otherwise (floppies' 512-byte clusters) a file of up to kMaxEmbeddedBytes is read
// into its entry, and a larger one is unreadable. Folders are known by their first cluster.
class CFatReader final : public CImageReader {
public:
    static constexpr std::uint64_t kMaxEmbeddedBytes = 16 * 1024 * 1024;

    // nullptr when source is null or its first sector is no FAT boot sector whose tables
    // and root folder lie inside the image. The reader owns the source.
    static std::unique_ptr<CImageReader> Open(std::unique_ptr<CSectorSource> source);
    ~CFatReader() override;
    CFatReader(const CFatReader&) = delete;
    CFatReader& operator=(const CFatReader&) = delete;

    const Entry& RootEntry() const noexcept override { return m_root; }
    bool List(const std::string& rawPath, const Entry& folder, const Limits& limits,
              std::vector<Entry>& out) override;
    bool ReadBlocks(std::uint32_t block, std::uint32_t count, void* buffer) override;

private:
    explicit CFatReader(std::unique_ptr<CSectorSource> source);
    bool ReadBootSector();
    // bytes from the image's byte offset on; cached for the small reads of the tables.
    bool ReadBytes(std::uint64_t offset, std::size_t bytes, unsigned char* out, bool bCached);
    // The FAT's entry for cluster; false when it cannot be read.
    bool NextCluster(std::uint32_t cluster, std::uint32_t& next);
    // The chain from first, at most maxClusters of it; false when it loops, leaves the
    // volume or ends before that many unless bToEnd lets it end sooner.
    bool Chain(std::uint32_t first, std::uint64_t maxClusters, bool bToEnd,
               std::vector<std::uint32_t>& chain);
    std::uint64_t ClusterOffset(std::uint32_t cluster) const noexcept;
    void PlaceData(std::uint32_t first, Entry& e);
    bool ParseFolder(const std::string& bytes, std::uint64_t folderId, const Limits& limits,
                     std::vector<Entry>& out);

    std::unique_ptr<CSectorSource> m_pSource;
    unsigned m_nBits = 12;
    std::uint32_t m_nSectorBytes = 512;
    std::uint32_t m_nClusterBytes = 512;
    std::uint64_t m_nFatOffset = 0;  // bytes
    std::uint64_t m_nRootOffset = 0; // bytes; the fixed root of FAT12 and FAT16
    std::uint32_t m_nRootBytes = 0;
    std::uint32_t m_nRootCluster = 0; // FAT32
    std::uint64_t m_nDataOffset = 0;  // bytes, where cluster 2 starts
    std::uint32_t m_nClusters = 0;
    Entry m_root;
    std::vector<unsigned char> m_arrSpan;
};
