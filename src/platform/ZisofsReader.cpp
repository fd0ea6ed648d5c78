// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/ZisofsReader.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <utility>

namespace {

constexpr unsigned char kMagic[8] = {0x37, 0xE4, 0x53, 0x96, 0xC9, 0xDB, 0xD6, 0x07};
constexpr std::size_t kHeaderBytes = 16;

std::uint32_t Le32(const unsigned char* p)
{
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

} // namespace

CZisofsReader::CZisofsReader(ReadStored read, std::uint64_t storedBytes, std::uint64_t size)
    : m_fnRead(std::move(read))
    , m_nStored(storedBytes)
    , m_nSize(size)
{}

bool CZisofsReader::LoadTable()
{
    unsigned char header[kHeaderBytes];
    if (m_nStored < kHeaderBytes || !m_fnRead(0, header, kHeaderBytes) ||
        std::memcmp(header, kMagic, sizeof kMagic) != 0 || Le32(header + 8) != m_nSize)
        return false;
    const std::uint32_t tableAt = header[12] * 4u;
    const unsigned log2 = header[13];
    if (tableAt < kHeaderBytes || log2 < 15 || log2 > 17)
        return false;
    m_nBlockBytes = 1u << log2;
    const std::uint64_t blocks = (m_nSize + m_nBlockBytes - 1) / m_nBlockBytes;
    // The table lies within what is stored, which bounds it.
    if ((blocks + 1) * 4 > m_nStored - std::min<std::uint64_t>(tableAt, m_nStored))
        return false;
    std::vector<unsigned char> table(static_cast<std::size_t>((blocks + 1) * 4));
    if (!m_fnRead(tableAt, table.data(), table.size()))
        return false;
    m_arrStarts.resize(static_cast<std::size_t>(blocks + 1));
    for (std::size_t i = 0; i < m_arrStarts.size(); ++i) {
        m_arrStarts[i] = Le32(table.data() + 4 * i);
        if (m_arrStarts[i] > m_nStored || (i > 0 && m_arrStarts[i] < m_arrStarts[i - 1]))
            return false;
    }
    return true;
}

bool CZisofsReader::LoadBlock(std::uint64_t index)
{
    if (index == m_nBlock)
        return true;
    const std::uint64_t at = index * m_nBlockBytes;
    const auto size = static_cast<uLongf>(std::min<std::uint64_t>(m_nBlockBytes, m_nSize - at));
    const std::uint32_t start = m_arrStarts[index];
    const std::uint32_t stored = m_arrStarts[index + 1] - start;
    m_nBlock = UINT64_MAX;
    m_arrBlock.assign(size, 0);
    if (stored > 0) {
        // Deflate grows incompressible data by a few bytes a block, never more.
        if (stored > m_nBlockBytes + m_nBlockBytes / 8 + 64)
            return false;
        m_arrStoredBlock.resize(stored);
        if (!m_fnRead(start, m_arrStoredBlock.data(), stored))
            return false;
        uLongf inflated = size;
        if (::uncompress(m_arrBlock.data(), &inflated, m_arrStoredBlock.data(), stored) != Z_OK ||
            inflated != size)
            return false;
    }
    m_nBlock = index;
    return true;
}

bool CZisofsReader::ReadAt(std::uint64_t offset, void* buffer, std::size_t size)
{
    if (offset > m_nSize || size > m_nSize - offset || m_bBroken)
        return false;
    if (m_arrStarts.empty() && !LoadTable()) {
        m_bBroken = true;
        return false;
    }
    auto* out = static_cast<unsigned char*>(buffer);
    while (size > 0) {
        const std::uint64_t index = offset / m_nBlockBytes;
        if (!LoadBlock(index))
            return false;
        const std::uint64_t skip = offset - index * m_nBlockBytes;
        const std::size_t take = std::min<std::size_t>(size, m_arrBlock.size() - skip);
        std::memcpy(out, m_arrBlock.data() + skip, take);
        out += take;
        offset += take;
        size -= take;
    }
    return true;
}
