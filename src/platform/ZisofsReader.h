// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

// A file that Rock Ridge's zisofs stores compressed: a header, a table of where each block's
// data starts, and each block deflated by zlib (or no data at all for a block of zeros), read
// back at chosen offsets of the file as it was. Every offset of the table is checked against
// the bytes stored, and a block that does not inflate to exactly its size is a read error.
// Keeps the table and the last block inflated; one thread at a time.
class CZisofsReader {
public:
    // Exactly size stored bytes at offset; false when they cannot be read.
    using ReadStored = std::function<bool(std::uint64_t offset, void* buffer, std::size_t size)>;

    CZisofsReader(ReadStored read, std::uint64_t storedBytes, std::uint64_t size);

    bool ReadAt(std::uint64_t offset, void* buffer, std::size_t size);

private:
    bool LoadTable();
    bool LoadBlock(std::uint64_t index);

    ReadStored m_fnRead;
    std::uint64_t m_nStored;
    std::uint64_t m_nSize;
    std::uint32_t m_nBlockBytes = 0;
    std::vector<std::uint32_t> m_arrStarts; // one more than there are blocks
    std::vector<unsigned char> m_arrStoredBlock;
    std::vector<unsigned char> m_arrBlock;
    std::uint64_t m_nBlock = UINT64_MAX; // the block m_arrBlock holds
    bool m_bBroken = false;
};
