// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/FatReader.h"

#include "platform/SectorSource.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <string_view>
#include <utility>

namespace {

constexpr std::uint32_t kBlock = CImageReader::kBlockSize;
constexpr std::size_t kEntryBytes = 32;
// No cluster number reaches this: a fixed root and empty files take ids above it.
constexpr std::uint64_t kRootId = std::uint64_t{1} << 32;
constexpr std::uint64_t kEmptyFileIds = std::uint64_t{1} << 33;
constexpr std::uint32_t kMaxClusterBytes = 256 * 1024;
// Long names hold at most 20 entries of 13 units each.
constexpr unsigned kMaxLongEntries = 20;
constexpr unsigned kUnitsPerEntry = 13;

constexpr unsigned char kAttrVolume = 0x08;
constexpr unsigned char kAttrFolder = 0x10;
constexpr unsigned char kAttrLongName = 0x0F;
constexpr unsigned char kLowerBase = 0x08;
constexpr unsigned char kLowerExtension = 0x10;

std::uint16_t Le16(const unsigned char* p) noexcept
{
    return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}

std::uint32_t Le32(const unsigned char* p) noexcept
{
    return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 |
           std::uint32_t{p[3]} << 24;
}

bool PowerOfTwo(std::uint32_t n) noexcept
{
    return n != 0 && (n & (n - 1)) == 0;
}

std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d)
{
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const auto yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

// DOS dates carry no zone; they are taken as UTC.
std::int64_t SecondsOf(std::uint16_t date, std::uint16_t time)
{
    const unsigned day = date & 31;
    const unsigned month = date >> 5 & 15;
    const unsigned hour = time >> 11;
    const unsigned minute = time >> 5 & 63;
    const unsigned second = (time & 31) * 2;
    if (day < 1 || month < 1 || month > 12 || hour > 23 || minute > 59 || second > 59)
        return 0;
    return DaysFromCivil(1980 + (date >> 9), month, day) * 86400 + hour * 3600 + minute * 60 +
           second;
}

void AppendUtf8(std::string& out, std::uint32_t c)
{
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | c >> 6);
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | c >> 12);
        out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | c >> 18);
        out += static_cast<char>(0x80 | (c >> 12 & 0x3F));
        out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// Short names' upper half as code page 437 has it, the one a mount uses unless told otherwise.
constexpr std::array<std::uint16_t, 128> kCp437 = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7, 0x00EA, 0x00EB, 0x00E8, 0x00EF,
    0x00EE, 0x00EC, 0x00C4, 0x00C5, 0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9,
    0x00FF, 0x00D6, 0x00DC, 0x00A2, 0x00A3, 0x00A5, 0x20A7, 0x0192, 0x00E1, 0x00ED, 0x00F3, 0x00FA,
    0x00F1, 0x00D1, 0x00AA, 0x00BA, 0x00BF, 0x2310, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB,
    0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x2561, 0x2562, 0x2556, 0x2555, 0x2563, 0x2551, 0x2557,
    0x255D, 0x255C, 0x255B, 0x2510, 0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F,
    0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x2567, 0x2568, 0x2564, 0x2565, 0x2559,
    0x2558, 0x2552, 0x2553, 0x256B, 0x256A, 0x2518, 0x250C, 0x2588, 0x2584, 0x258C, 0x2590, 0x2580,
    0x03B1, 0x00DF, 0x0393, 0x03C0, 0x03A3, 0x03C3, 0x00B5, 0x03C4, 0x03A6, 0x0398, 0x03A9, 0x03B4,
    0x221E, 0x03C6, 0x03B5, 0x2229, 0x2261, 0x00B1, 0x2265, 0x2264, 0x2320, 0x2321, 0x00F7, 0x2248,
    0x00B0, 0x2219, 0x00B7, 0x221A, 0x207F, 0x00B2, 0x25A0, 0x00A0};

void AppendShort(std::string& out, const unsigned char* p, std::size_t n, bool bLower)
{
    while (n > 0 && p[n - 1] == ' ')
        --n;
    for (std::size_t i = 0; i < n; ++i) {
        unsigned char c = p[i];
        if (bLower && c >= 'A' && c <= 'Z')
            c = static_cast<unsigned char>(c + 32);
        AppendUtf8(out, c < 0x80 ? c : kCp437[c - 0x80]);
    }
}

// The 8.3 name, with the case that byte 12 records for systems that keep no long name.
std::string ShortName(const unsigned char* e)
{
    unsigned char first[1] = {e[0] == 0x05 ? static_cast<unsigned char>(0xE5) : e[0]};
    std::string name;
    AppendShort(name, first, 1, (e[12] & kLowerBase) != 0);
    AppendShort(name, e + 1, 7, (e[12] & kLowerBase) != 0);
    std::string extension;
    AppendShort(extension, e + 8, 3, (e[12] & kLowerExtension) != 0);
    if (!extension.empty())
        name += '.' + extension;
    return name;
}

unsigned char ShortChecksum(const unsigned char* e)
{
    unsigned char sum = 0;
    for (int i = 0; i < 11; ++i)
        sum = static_cast<unsigned char>(((sum & 1) << 7) + (sum >> 1) + e[i]);
    return sum;
}

std::string LongToUtf8(const std::vector<std::uint16_t>& units)
{
    std::string out;
    for (std::size_t i = 0; i < units.size(); ++i) {
        std::uint32_t c = units[i];
        if (c == 0 || c == 0xFFFF)
            break;
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < units.size() && units[i + 1] >= 0xDC00 &&
            units[i + 1] < 0xE000) {
            c = 0x10000 + ((c - 0xD800) << 10) + (units[i + 1] - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c < 0xE000) {
            c = 0xFFFD;
        }
        AppendUtf8(out, c);
    }
    return out;
}

// The long name being gathered from the entries before a short one, last part first.
struct LongName {
    std::vector<std::uint16_t> units;
    unsigned nNext = 0; // the ordinal the next entry must carry; 0 when none is under way
    unsigned char nChecksum = 0;
    bool bWhole = false;

    void Reset() noexcept
    {
        nNext = 0;
        bWhole = false;
    }
    void Add(const unsigned char* e)
    {
        const unsigned ordinal = e[0] & 0x1F;
        if ((e[0] & 0x40) != 0) {
            if (ordinal == 0 || ordinal > kMaxLongEntries) {
                Reset();
                return;
            }
            units.assign(std::size_t{ordinal} * kUnitsPerEntry, 0xFFFF);
            nChecksum = e[13];
        } else if (nNext == 0 || ordinal != nNext || e[13] != nChecksum) {
            Reset();
            return;
        }
        static constexpr std::array<std::size_t, kUnitsPerEntry> kAt = {1,  3,  5,  7,  9,  14, 16,
                                                                        18, 20, 22, 24, 28, 30};
        for (std::size_t i = 0; i < kUnitsPerEntry; ++i)
            units[(ordinal - 1) * kUnitsPerEntry + i] = Le16(e + kAt[i]);
        nNext = ordinal - 1;
        bWhole = ordinal == 1;
    }
};

} // namespace

CFatReader::CFatReader(std::unique_ptr<CSectorSource> source)
    : m_pSource(std::move(source))
{}

CFatReader::~CFatReader() = default;

std::unique_ptr<CImageReader> CFatReader::Open(std::unique_ptr<CSectorSource> source)
{
    if (!source)
        return nullptr;
    std::unique_ptr<CFatReader> reader(new CFatReader(std::move(source)));
    if (!reader->ReadBootSector())
        return nullptr;
    return reader;
}

bool CFatReader::ReadBootSector()
{
    unsigned char b[512];
    if (!ReadBytes(0, sizeof b, b, true))
        return false;
    if ((b[0] != 0xEB && b[0] != 0xE9) || b[510] != 0x55 || b[511] != 0xAA)
        return false;
    const std::uint32_t sectorBytes = Le16(b + 11);
    const std::uint32_t perCluster = b[13];
    const std::uint32_t reserved = Le16(b + 14);
    const std::uint32_t fats = b[16];
    const std::uint32_t rootEntries = Le16(b + 17);
    const std::uint32_t total = Le16(b + 19) != 0 ? Le16(b + 19) : Le32(b + 32);
    const std::uint32_t fatSectors = Le16(b + 22) != 0 ? Le16(b + 22) : Le32(b + 36);
    if (sectorBytes < 512 || sectorBytes > 4096 || !PowerOfTwo(sectorBytes) ||
        !PowerOfTwo(perCluster) || sectorBytes * perCluster > kMaxClusterBytes || reserved == 0 ||
        fats < 1 || fats > 4 || fatSectors == 0)
        return false;
    const std::uint64_t rootSectors =
        (std::uint64_t{rootEntries} * kEntryBytes + sectorBytes - 1) / sectorBytes;
    const std::uint64_t dataStart = reserved + std::uint64_t{fats} * fatSectors + rootSectors;
    if (dataStart >= total)
        return false;
    const std::uint64_t clusters = (total - dataStart) / perCluster;
    if (clusters == 0)
        return false;
    m_nBits = clusters < 4085 ? 12 : clusters < 65525 ? 16 : 32;
    if ((m_nBits == 32) != (rootEntries == 0) || (m_nBits == 32 && Le16(b + 22) != 0))
        return false;
    // Clusters that the table has no entry for are not used.
    const std::uint64_t inTable = std::uint64_t{fatSectors} * sectorBytes * 8 / m_nBits;
    if (inTable < 3)
        return false;
    m_nClusters = static_cast<std::uint32_t>(std::min<std::uint64_t>(clusters, inTable - 2));
    m_nSectorBytes = sectorBytes;
    m_nClusterBytes = sectorBytes * perCluster;
    m_nFatOffset = std::uint64_t{reserved} * sectorBytes;
    m_nRootOffset = (reserved + std::uint64_t{fats} * fatSectors) * sectorBytes;
    m_nRootBytes = rootEntries * kEntryBytes;
    m_nDataOffset = dataStart * sectorBytes;
    if (m_nBits == 32) {
        m_nRootCluster = Le32(b + 44);
        if (m_nRootCluster < 2 || m_nRootCluster - 2 >= m_nClusters)
            return false;
    }
    // The tables and the fixed root must be there to read.
    if ((m_nDataOffset + kBlock - 1) / kBlock > m_pSource->BlockCount())
        return false;
    m_root.kind = Kind::Folder;
    // FAT32's root is a folder like others, which a damaged one may lead back to.
    m_root.nId = m_nBits == 32 ? m_nRootCluster : kRootId;
    return true;
}

bool CFatReader::ReadBytes(std::uint64_t offset, std::size_t bytes, unsigned char* out,
                           bool bCached)
{
    if (bytes == 0)
        return true;
    const std::uint64_t first = offset / kBlock;
    const std::uint64_t last = (offset + bytes - 1) / kBlock;
    if (!bCached) {
        const std::uint64_t count = last - first + 1;
        m_arrSpan.resize(count * kBlock);
        if (!m_pSource->ReadBlocks(first, static_cast<std::uint32_t>(count), m_arrSpan.data()))
            return false;
        std::memcpy(out, m_arrSpan.data() + offset % kBlock, bytes);
        return true;
    }
    for (std::uint64_t block = first; block <= last; ++block) {
        const unsigned char* data = m_pSource->ReadCached(block);
        if (!data)
            return false;
        const std::uint64_t from = std::max(offset, block * kBlock);
        const std::uint64_t to = std::min(offset + bytes, (block + 1) * kBlock);
        std::memcpy(out + (from - offset), data + (from - block * kBlock), to - from);
    }
    return true;
}

bool CFatReader::NextCluster(std::uint32_t cluster, std::uint32_t& next)
{
    unsigned char b[4] = {};
    if (m_nBits == 12) {
        if (!ReadBytes(m_nFatOffset + cluster + cluster / 2, 2, b, true))
            return false;
        const std::uint32_t pair = Le16(b);
        next = (cluster & 1) != 0 ? pair >> 4 : pair & 0xFFF;
        if (next >= 0xFF7)
            next |= 0x0FFFF000;
    } else if (m_nBits == 16) {
        if (!ReadBytes(m_nFatOffset + std::uint64_t{cluster} * 2, 2, b, true))
            return false;
        next = Le16(b);
        if (next >= 0xFFF7)
            next |= 0x0FFF0000;
    } else {
        if (!ReadBytes(m_nFatOffset + std::uint64_t{cluster} * 4, 4, b, true))
            return false;
        next = Le32(b) & 0x0FFFFFFF;
    }
    return true;
}

bool CFatReader::Chain(std::uint32_t first, std::uint64_t maxClusters, bool bToEnd,
                       std::vector<std::uint32_t>& chain)
{
    chain.clear();
    std::uint32_t cluster = first;
    while (chain.size() < maxClusters) {
        if (cluster < 2 || cluster - 2 >= m_nClusters || chain.size() >= m_nClusters)
            return false;
        chain.push_back(cluster);
        if (chain.size() == maxClusters)
            break;
        if (!NextCluster(cluster, cluster))
            return false;
        if (cluster >= 0x0FFFFFF8)
            break;
    }
    if (chain.size() < maxClusters && !bToEnd)
        return false;
    std::vector<std::uint32_t> sorted = chain;
    std::sort(sorted.begin(), sorted.end());
    return std::adjacent_find(sorted.begin(), sorted.end()) == sorted.end();
}

std::uint64_t CFatReader::ClusterOffset(std::uint32_t cluster) const noexcept
{
    return m_nDataOffset + std::uint64_t{cluster - 2} * m_nClusterBytes;
}

void CFatReader::PlaceData(std::uint32_t first, Entry& e)
{
    if (e.nSize == 0)
        return;
    const std::uint64_t clusters = (e.nSize + m_nClusterBytes - 1) / m_nClusterBytes;
    const bool bAligned = m_nClusterBytes % kBlock == 0 && m_nDataOffset % kBlock == 0;
    if (!bAligned && e.nSize > kMaxEmbeddedBytes)
        return;
    std::vector<std::uint32_t> chain;
    if (!Chain(first, clusters, false, chain))
        return;
    if (!bAligned) {
        std::string data(static_cast<std::size_t>(clusters) * m_nClusterBytes, '\0');
        auto* out = reinterpret_cast<unsigned char*>(data.data());
        for (std::size_t i = 0; i < chain.size();) {
            std::size_t run = 1;
            while (i + run < chain.size() && chain[i + run] == chain[i] + run)
                ++run;
            if (!ReadBytes(ClusterOffset(chain[i]), run * m_nClusterBytes,
                           out + i * m_nClusterBytes, false))
                return;
            i += run;
        }
        data.resize(static_cast<std::size_t>(e.nSize));
        e.strEmbedded = std::move(data);
        return;
    }
    std::vector<Extent> extents;
    std::uint64_t left = e.nSize;
    for (std::size_t i = 0; i < chain.size(); ++i) {
        const std::uint64_t block = ClusterOffset(chain[i]) / kBlock;
        const std::uint64_t bytes = std::min<std::uint64_t>(left, m_nClusterBytes);
        if (block > UINT32_MAX || block + m_nClusterBytes / kBlock > m_pSource->BlockCount())
            return;
        if (!extents.empty() && extents.back().nBlock + extents.back().nBytes / kBlock == block &&
            extents.back().nBytes % kBlock == 0)
            extents.back().nBytes += bytes;
        else
            extents.push_back({static_cast<std::uint32_t>(block), bytes});
        left -= bytes;
    }
    e.extents = std::move(extents);
}

bool CFatReader::List(const std::string& /*rawPath*/, const Entry& folder, const Limits& limits,
                      std::vector<Entry>& out)
{
    out.clear();
    std::string bytes;
    if (folder.nId == kRootId && m_nBits != 32) {
        if (m_nRootBytes > limits.nMaxFolderBytes)
            return false;
        bytes.resize(m_nRootBytes);
        if (!ReadBytes(m_nRootOffset, bytes.size(), reinterpret_cast<unsigned char*>(bytes.data()),
                       false))
            return false;
    } else {
        if (folder.nId > UINT32_MAX)
            return false;
        // One cluster more than the limit allows, to tell a folder past it.
        const std::uint64_t most =
            std::min<std::uint64_t>(limits.nMaxFolderBytes / m_nClusterBytes, m_nClusters) + 1;
        std::vector<std::uint32_t> chain;
        if (!Chain(static_cast<std::uint32_t>(folder.nId), most, true, chain) ||
            std::uint64_t{chain.size()} * m_nClusterBytes > limits.nMaxFolderBytes)
            return false;
        bytes.resize(chain.size() * m_nClusterBytes);
        for (std::size_t i = 0; i < chain.size(); ++i)
            if (!ReadBytes(ClusterOffset(chain[i]), m_nClusterBytes,
                           reinterpret_cast<unsigned char*>(bytes.data()) + i * m_nClusterBytes,
                           false))
                return false;
    }
    if (ParseFolder(bytes, folder.nId, limits, out))
        return true;
    out.clear();
    return false;
}

bool CFatReader::ParseFolder(const std::string& bytes, std::uint64_t folderId, const Limits& limits,
                             std::vector<Entry>& out)
{
    LongName longName;
    for (std::size_t i = 0; i + kEntryBytes <= bytes.size(); i += kEntryBytes) {
        const auto* e = reinterpret_cast<const unsigned char*>(bytes.data() + i);
        if (e[0] == 0x00)
            break;
        if (e[0] == 0xE5) {
            longName.Reset();
            continue;
        }
        if ((e[11] & 0x3F) == kAttrLongName) {
            longName.Add(e);
            continue;
        }
        const bool bLong = longName.bWhole && longName.nChecksum == ShortChecksum(e);
        longName.Reset();
        if ((e[11] & kAttrVolume) != 0)
            continue;
        Entry entry;
        entry.strName = bLong ? LongToUtf8(longName.units) : ShortName(e);
        if (entry.strName.empty() || entry.strName == "." || entry.strName == ".." ||
            entry.strName.find_first_of(std::string_view("/\0", 2)) != std::string::npos)
            continue;
        entry.strRaw = entry.strName;
        const std::uint32_t first =
            (m_nBits == 32 ? std::uint32_t{Le16(e + 20)} << 16 : 0) | Le16(e + 26);
        entry.nModified = SecondsOf(Le16(e + 24), Le16(e + 22));
        if ((e[11] & kAttrFolder) != 0) {
            entry.kind = Kind::Folder;
            entry.nId = first;
        } else {
            entry.nSize = Le32(e + 28);
            // Empty files hold no cluster; their place in their folder tells them apart.
            entry.nId = first != 0 ? first : kEmptyFileIds + (folderId << 24) + i / kEntryBytes;
            PlaceData(first, entry);
        }
        if (out.size() >= limits.nMaxEntries)
            return false;
        out.push_back(std::move(entry));
    }
    return true;
}

bool CFatReader::ReadBlocks(std::uint32_t block, std::uint32_t count, void* buffer)
{
    return m_pSource->ReadBlocks(block, count, buffer);
}
