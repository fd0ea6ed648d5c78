// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

// The 2048-byte data blocks of a disc image, read by pread from a descriptor that the caller
// keeps open for the source's lifetime (the image volume owns it). The image holds cooked
// sectors (2048 bytes, from a byte offset) or raw ones: 2352 bytes, or 2448 with subchannel
// data, in mode 1 or mode 2 form 1; or 2336-byte mode 2 sectors without sync and header.
// Blocks past the image's end are never read, and a block is whole or not read at all.
// Not thread-safe: its owner serialises the calls.
class CSectorSource {
public:
    static constexpr std::uint32_t kBlockSize = 2048;

    // Cooked sectors from offset on; nullptr when the image holds no whole block there.
    static std::unique_ptr<CSectorSource> Plain(int hImage, std::uint64_t offset = 0);
    // Raw sectors of sectorBytes (2352, 2448 or 2336), or of the first of those whose sector
    // 16 holds a volume descriptor when sectorBytes is 0. Sector 16's sync pattern and mode
    // byte tell where the data lies; nullptr when it has no layout known here.
    static std::unique_ptr<CSectorSource> Raw(int hImage, std::uint32_t sectorBytes = 0);
    // One track of a disc: its sectors of sectorBytes (2048 cooked, or raw as above) from byte
    // offset on, at most `sectors` of them and none past the file's end, numbered from
    // firstBlock, the disc address of its first sector, as a later session's file system
    // addresses them. Blocks below firstBlock are not there. nullptr when the track holds no
    // block, or a raw one no data layout known here at its sector 16.
    static std::unique_ptr<CSectorSource> Track(int hImage, std::uint64_t offset,
                                                std::uint32_t sectorBytes, std::uint64_t sectors,
                                                std::uint64_t firstBlock);

    // One past the last block's number, so that readers' bounds checks stay as they are.
    std::uint64_t BlockCount() const noexcept { return m_nBlocks; }
    // Where the file system starts: its volume descriptors lie 16 blocks on.
    std::uint64_t FirstBlock() const noexcept { return m_nFirst; }
    // count blocks from block on into buffer; false unless all of them lie in the image and
    // were read. Small reads go through a read-ahead window that grows while they follow
    // each other, so a reader stepping through a file issues few system calls.
    bool ReadBlocks(std::uint64_t block, std::uint32_t count, void* buffer);
    // One block through a small cache, for the metadata that listings read again and again;
    // on a miss, up to `ahead` blocks from block on are read at once (a folder's next blocks).
    // Its kBlockSize bytes, valid until the next call; nullptr when it cannot be read.
    const unsigned char* ReadCached(std::uint64_t block, std::uint32_t ahead = 1);

private:
    CSectorSource(int hImage, std::uint64_t offset, std::uint32_t sectorBytes,
                  std::uint32_t dataOffset, std::uint64_t first, std::uint64_t blocks);

    // Blocks straight from the image, bounds already checked.
    bool ReadDirect(std::uint64_t block, std::uint32_t count, unsigned char* out);

    static constexpr std::size_t kCacheSlots = 64;
    static constexpr std::uint32_t kMaxCacheAhead = 16;
    // Reads of this many blocks or more bypass the window; it grows up to kMaxWindow.
    static constexpr std::uint32_t kDirectBlocks = 16;
    static constexpr std::uint32_t kMaxWindow = 64;
    // Raw sectors are read this many at a time, then their data copied out.
    static constexpr std::uint32_t kRawBatch = 32;

    int m_hImage;
    std::uint64_t m_nOffset;
    std::uint32_t m_nSectorBytes;
    std::uint32_t m_nDataOffset;
    std::uint64_t m_nFirst;
    std::uint64_t m_nBlocks;

    std::uint64_t m_nClock = 0;
    std::vector<std::uint64_t> m_arrSlotBlock; // UINT64_MAX when empty
    std::vector<std::uint64_t> m_arrSlotUsed;
    std::vector<unsigned char> m_arrSlotData;

    std::vector<unsigned char> m_arrWindow;
    std::uint64_t m_nWindowBlock = 0;
    std::uint32_t m_nWindowBlocks = 0;
    std::uint64_t m_nNextBlock = UINT64_MAX; // where the last small read ended

    std::vector<unsigned char> m_arrRaw;
};
