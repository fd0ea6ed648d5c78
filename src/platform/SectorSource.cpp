// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/SectorSource.h"

#include "platform/RegularFile.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr std::uint32_t kBlock = CSectorSource::kBlockSize;
constexpr std::uint64_t kDescriptorSector = 16;
constexpr unsigned char kSync[12] = {0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                                     0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00};
constexpr std::uint32_t kMaxSectorBytes = 2448;
// A mode 2 sector without sync and header starts with its 8-byte subheader.
constexpr std::uint32_t kSubheaderBytes = 8;

std::uint64_t FileBytes(int hImage)
{
    struct stat st {};
    if (::fstat(hImage, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size < 0)
        return 0;
    return static_cast<std::uint64_t>(st.st_size);
}

// A volume descriptor's standard identifier, whatever its type; UDF discs begin theirs with
// BEA01.
bool HoldsDescriptor(const unsigned char* data)
{
    return std::memcmp(data + 1, "CD001", 5) == 0 || std::memcmp(data + 1, "BEA01", 5) == 0;
}

// Where a raw sector of this size keeps its 2048 data bytes, told by sector 16; 0 when it
// holds no volume descriptor there.
std::uint32_t DataOffsetOf(int hImage, std::uint64_t imageBytes, std::uint32_t sectorBytes,
                           std::uint64_t start = 0)
{
    const std::uint64_t at = start + kDescriptorSector * sectorBytes;
    if (start > imageBytes)
        return 0;
    unsigned char sector[kMaxSectorBytes];
    if (at + sectorBytes > imageBytes || !PreadAll(hImage, sector, sectorBytes, at))
        return 0;
    std::uint32_t dataOffset = kSubheaderBytes;
    if (sectorBytes != 2336) {
        if (std::memcmp(sector, kSync, sizeof kSync) != 0)
            return 0;
        // Mode 1: sync and header; mode 2 form 1: its subheader after them.
        if (sector[15] == 1)
            dataOffset = 16;
        else if (sector[15] == 2)
            dataOffset = 16 + kSubheaderBytes;
        else
            return 0;
    }
    return HoldsDescriptor(sector + dataOffset) ? dataOffset : 0;
}

} // namespace

CSectorSource::CSectorSource(int hImage, std::uint64_t offset, std::uint32_t sectorBytes,
                             std::uint32_t dataOffset, std::uint64_t first, std::uint64_t blocks)
    : m_hImage(hImage)
    , m_nOffset(offset)
    , m_nSectorBytes(sectorBytes)
    , m_nDataOffset(dataOffset)
    , m_nFirst(first)
    , m_nBlocks(first + blocks)
    , m_arrSlotBlock(kCacheSlots, UINT64_MAX)
    , m_arrSlotUsed(kCacheSlots, 0)
{}

std::unique_ptr<CSectorSource> CSectorSource::Plain(int hImage, std::uint64_t offset)
{
    const std::uint64_t size = FileBytes(hImage);
    if (offset >= size || (size - offset) / kBlock == 0)
        return nullptr;
    return std::unique_ptr<CSectorSource>(
        new CSectorSource(hImage, offset, kBlock, 0, 0, (size - offset) / kBlock));
}

std::unique_ptr<CSectorSource> CSectorSource::Raw(int hImage, std::uint32_t sectorBytes)
{
    const std::uint64_t size = FileBytes(hImage);
    for (const std::uint32_t bytes : {2352u, 2448u, 2336u}) {
        if (sectorBytes != 0 && bytes != sectorBytes)
            continue;
        if (const std::uint32_t dataOffset = DataOffsetOf(hImage, size, bytes))
            return std::unique_ptr<CSectorSource>(
                new CSectorSource(hImage, 0, bytes, dataOffset, 0, size / bytes));
    }
    return nullptr;
}

std::unique_ptr<CSectorSource> CSectorSource::Track(int hImage, std::uint64_t offset,
                                                    std::uint32_t sectorBytes,
                                                    std::uint64_t sectors, std::uint64_t firstBlock)
{
    const std::uint64_t size = FileBytes(hImage);
    // Disc addresses are 32-bit in every file system read here.
    if (offset >= size || firstBlock > UINT32_MAX ||
        (sectorBytes != kBlock && sectorBytes != 2352 && sectorBytes != 2448 &&
         sectorBytes != 2336))
        return nullptr;
    sectors = std::min({sectors, (size - offset) / sectorBytes, std::uint64_t{UINT32_MAX}});
    std::uint32_t dataOffset = 0;
    if (sectorBytes != kBlock) {
        dataOffset = DataOffsetOf(hImage, size, sectorBytes, offset);
        if (dataOffset == 0)
            return nullptr;
    }
    if (sectors == 0)
        return nullptr;
    return std::unique_ptr<CSectorSource>(
        new CSectorSource(hImage, offset, sectorBytes, dataOffset, firstBlock, sectors));
}

bool CSectorSource::ReadDirect(std::uint64_t block, std::uint32_t count, unsigned char* out)
{
    block -= m_nFirst;
    if (m_nSectorBytes == kBlock)
        return PreadAll(m_hImage, out, std::size_t{count} * kBlock, m_nOffset + block * kBlock);
    while (count > 0) {
        const std::uint32_t batch = std::min(count, kRawBatch);
        m_arrRaw.resize(std::size_t{batch} * m_nSectorBytes);
        if (!PreadAll(m_hImage, m_arrRaw.data(), m_arrRaw.size(),
                      m_nOffset + block * m_nSectorBytes))
            return false;
        for (std::uint32_t i = 0; i < batch; ++i, out += kBlock)
            std::memcpy(out, m_arrRaw.data() + std::size_t{i} * m_nSectorBytes + m_nDataOffset,
                        kBlock);
        block += batch;
        count -= batch;
    }
    return true;
}

bool CSectorSource::ReadBlocks(std::uint64_t block, std::uint32_t count, void* buffer)
{
    if (block < m_nFirst || block > m_nBlocks || count > m_nBlocks - block)
        return false;
    if (count == 0)
        return true;
    auto* out = static_cast<unsigned char*>(buffer);
    if (count >= kDirectBlocks) {
        m_nNextBlock = UINT64_MAX;
        return ReadDirect(block, count, out);
    }
    const std::uint64_t windowEnd = m_nWindowBlock + m_nWindowBlocks;
    if (block < m_nWindowBlock || block + count > windowEnd) {
        // Reads that carry on where the last ended double the window; others read no more
        // than they ask, so a scan's scattered small files cost no extra bytes.
        const bool bFollows =
            block == m_nNextBlock || (block > m_nWindowBlock && block < windowEnd);
        std::uint32_t want =
            bFollows ? std::max(count, std::min(kMaxWindow, m_nWindowBlocks * 2)) : count;
        want = static_cast<std::uint32_t>(std::min<std::uint64_t>(want, m_nBlocks - block));
        m_arrWindow.resize(std::size_t{want} * kBlock);
        if (!ReadDirect(block, want, m_arrWindow.data())) {
            m_nWindowBlocks = 0;
            m_nNextBlock = UINT64_MAX;
            return want > count && ReadDirect(block, count, out);
        }
        m_nWindowBlock = block;
        m_nWindowBlocks = want;
    }
    std::memcpy(out, m_arrWindow.data() + (block - m_nWindowBlock) * kBlock,
                std::size_t{count} * kBlock);
    m_nNextBlock = block + count;
    return true;
}

const unsigned char* CSectorSource::ReadCached(std::uint64_t block, std::uint32_t ahead)
{
    if (block < m_nFirst || block >= m_nBlocks)
        return nullptr;
    for (std::size_t slot = 0; slot < kCacheSlots; ++slot) {
        if (m_arrSlotBlock[slot] == block) {
            m_arrSlotUsed[slot] = ++m_nClock;
            return &m_arrSlotData[slot * kBlock];
        }
    }
    std::uint32_t count = std::clamp<std::uint32_t>(ahead, 1, kMaxCacheAhead);
    count = static_cast<std::uint32_t>(std::min<std::uint64_t>(count, m_nBlocks - block));
    unsigned char fill[kMaxCacheAhead * kBlock];
    if (!ReadDirect(block, count, fill)) {
        if (count == 1 || !ReadDirect(block, 1, fill))
            return nullptr;
        count = 1;
    }
    // Allocated on the first miss: sources are made track after track to look for a file
    // system, most of them in vain.
    if (m_arrSlotData.empty())
        m_arrSlotData.resize(kCacheSlots * kBlock);
    // The blocks after the one asked for are older in the cache's eyes: they may not be used.
    const unsigned char* pAsked = nullptr;
    for (std::uint32_t i = count; i-- > 0;) {
        std::size_t victim = 0;
        for (std::size_t slot = 0; slot < kCacheSlots; ++slot) {
            if (m_arrSlotBlock[slot] == block + i) {
                victim = slot;
                break;
            }
            if (m_arrSlotUsed[slot] < m_arrSlotUsed[victim])
                victim = slot;
        }
        m_arrSlotBlock[victim] = block + i;
        m_arrSlotUsed[victim] = ++m_nClock;
        pAsked = &m_arrSlotData[victim * kBlock];
        std::memcpy(&m_arrSlotData[victim * kBlock], fill + std::size_t{i} * kBlock, kBlock);
    }
    return pAsked;
}
