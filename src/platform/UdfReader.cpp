// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/UdfReader.h"

#include "platform/SectorSource.h"

#include "catalogue/Text.h"

#include <algorithm>
#include <array>
#include <string_view>
#include <utility>

namespace {

constexpr std::uint32_t kBlock = CImageReader::kBlockSize;
// Bounds on what hostile images could make us loop over.
constexpr std::uint32_t kMaxSequenceBlocks = 256;
constexpr std::size_t kMaxMaps = 8;
constexpr std::size_t kMaxAds = 4096;
constexpr int kMaxContinuations = 64;
constexpr std::uint64_t kMaxVatBytes = 16 << 20;
constexpr std::uint64_t kMaxLinkBytes = 4096;
constexpr std::uint32_t kMaxSparingBytes = 64 * 1024;
constexpr std::uint32_t kEntriesAhead = 16;
constexpr int kMaxIndirections = 64;
// The VAT's entry is the last block written; images made for a disc may carry unwritten
// blocks after it.
constexpr std::uint32_t kVatSearchBlocks = 8192;

enum : std::uint16_t {
    kTagSparingTable = 0,
    kTagPrimary = 1,
    kTagAnchor = 2,
    kTagPartition = 5,
    kTagLogicalVolume = 6,
    kTagTerminator = 8,
    kTagFileSet = 256,
    kTagIdentifier = 257,
    kTagAllocationExtent = 258,
    kTagIndirectEntry = 259,
    kTagFileEntry = 261,
    kTagExtendedFileEntry = 266,
};

enum : unsigned {
    kTypeUnspecified = 0,
    kTypeFolder = 4,
    kTypeFile = 5,
    kTypeLink = 12,
    kTypeVat = 248,
    kTypeMetadata = 250,
    kTypeMetadataMirror = 251,
};

enum : unsigned { kAdShort = 0, kAdLong = 1, kAdInEntry = 3 };

std::uint16_t Le16(const unsigned char* p) noexcept
{
    return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}

std::uint32_t Le32(const unsigned char* p) noexcept
{
    return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 |
           std::uint32_t{p[3]} << 24;
}

std::uint64_t Le64(const unsigned char* p) noexcept
{
    return Le32(p) | std::uint64_t{Le32(p + 4)} << 32;
}

const unsigned char* Bytes(const std::string& s, std::size_t at = 0) noexcept
{
    return reinterpret_cast<const unsigned char*>(s.data()) + at;
}

// A descriptor tag of this kind, recorded where it says it is, whose checksum holds.
bool TagIs(const unsigned char* p, std::uint16_t id, std::uint32_t location) noexcept
{
    if (Le16(p) != id || Le32(p + 12) != location)
        return false;
    unsigned char sum = 0;
    for (int i = 0; i < 16; ++i)
        sum = static_cast<unsigned char>(sum + (i == 4 ? 0 : p[i]));
    return sum == p[4];
}

// The CRC-ITU-T of n bytes, as descriptor tags carry it.
std::uint16_t DescriptorCrc(const unsigned char* p, std::size_t n) noexcept
{
    static const auto table = [] {
        std::array<std::uint16_t, 256> t{};
        for (unsigned i = 0; i < 256; ++i) {
            unsigned crc = i << 8;
            for (int bit = 0; bit < 8; ++bit)
                crc = crc & 0x8000 ? crc << 1 ^ 0x1021 : crc << 1;
            t[i] = static_cast<std::uint16_t>(crc);
        }
        return t;
    }();
    unsigned crc = 0;
    for (std::size_t i = 0; i < n; ++i)
        crc = (crc << 8 ^ table[(crc >> 8 ^ p[i]) & 0xFF]) & 0xFFFF;
    return static_cast<std::uint16_t>(crc);
}

// A tag, as TagIs, on a descriptor of its own block whose CRC also holds. A CRC said to run past
// the block is not checked, as a Linux mount does not.
bool DescriptorIs(const unsigned char* p, std::uint16_t id, std::uint32_t location,
                  std::size_t room = kBlock) noexcept
{
    const std::size_t covered = Le16(p + 10);
    return TagIs(p, id, location) &&
           (16 + covered > room || DescriptorCrc(p + 16, covered) == Le16(p + 8));
}

// A compressed name (8-bit or 16-bit characters) in UTF-8; false for an unknown compression or a
// name a path cannot hold.
bool DecodeName(const unsigned char* p, std::size_t n, std::string& out)
{
    out.clear();
    if (n < 2)
        return false;
    const unsigned id = p[0];
    if (id == 8 || id == 254) {
        for (std::size_t i = 1; i < n; ++i)
            Text::AppendUtf8(out, p[i]);
    } else if (id == 16 || id == 255) {
        if ((n - 1) % 2 != 0)
            return false;
        for (std::size_t i = 1; i + 1 < n; i += 2) {
            std::uint32_t c = static_cast<std::uint32_t>(p[i] << 8 | p[i + 1]);
            if (c >= 0xD800 && c < 0xDC00 && i + 3 < n) {
                const std::uint32_t low = static_cast<std::uint32_t>(p[i + 2] << 8 | p[i + 3]);
                if (low >= 0xDC00 && low < 0xE000) {
                    c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
                    i += 2;
                }
            }
            Text::AppendUtf8(out, c >= 0xD800 && c < 0xE000 ? 0xFFFD : c);
        }
    } else {
        return false;
    }
    return !out.empty() && out.find_first_of(std::string_view("/\0", 2)) == std::string::npos;
}

std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d)
{
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const auto yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

// A 12-byte timestamp in seconds since the epoch; 0 when it is no date.
std::int64_t Seconds(const unsigned char* p)
{
    const unsigned typeAndZone = Le16(p);
    const auto year = static_cast<std::int16_t>(Le16(p + 2));
    const unsigned month = p[4];
    const unsigned day = p[5];
    if (month < 1 || month > 12 || day < 1 || day > 31 || p[6] > 23 || p[7] > 59 || p[8] > 60)
        return 0;
    std::int64_t t = DaysFromCivil(year, month, day) * 86400 + p[6] * 3600 + p[7] * 60 + p[8];
    int zone = static_cast<int>(typeAndZone & 0xFFF);
    if (zone >= 0x800)
        zone -= 0x1000;
    if (typeAndZone >> 12 == 1 && zone >= -1440 && zone <= 1440)
        t -= zone * 60;
    return t;
}

// A link's path components as a path; "" when they do not hold together.
std::string LinkTarget(const std::string& data)
{
    std::string target;
    std::string name;
    for (std::size_t at = 0; at < data.size();) {
        if (data.size() - at < 4)
            return {};
        const unsigned type = Bytes(data, at)[0];
        const std::size_t length = Bytes(data, at)[1];
        if (data.size() - at - 4 < length)
            return {};
        switch (type) {
        case 1:
            if (length > 0)
                break; // a root only the originator knows: left out
            [[fallthrough]];
        case 2:
            target.assign(1, '/');
            break;
        case 3:
            target += "../";
            break;
        case 4:
            target += "./";
            break;
        case 5:
            if (!DecodeName(Bytes(data, at + 4), length, name))
                return {};
            target += name + '/';
            break;
        default:
            return {};
        }
        at += 4 + length;
    }
    if (target.size() > 1 && target.back() == '/')
        target.pop_back();
    return target;
}

} // namespace

struct CUdfReader::Node {
    Address where;
    std::uint64_t nBlock = 0; // in the image
    unsigned nStrategy = 0;
    unsigned fileType = 0;
    unsigned adType = 0;
    std::uint32_t permissions = 0;
    std::uint64_t nSize = 0;
    std::int64_t nModified = 0;
    std::string strAds; // the allocation descriptors, or the data kept in the entry
};

CUdfReader::CUdfReader(std::unique_ptr<CSectorSource> source)
    : m_pSource(std::move(source))
{}

CUdfReader::~CUdfReader() = default;

std::unique_ptr<CImageReader> CUdfReader::Open(std::unique_ptr<CSectorSource> source)
{
    if (!source || source->BlockCount() <= source->FirstBlock() + 257)
        return nullptr;
    const std::uint64_t blocks = source->BlockCount();
    std::unique_ptr<CUdfReader> reader(new CUdfReader(std::move(source)));
    // The anchor 256 blocks into the session, else the copies at the end a disc closed
    // without one there keeps.
    const std::uint64_t first = reader->m_pSource->FirstBlock() + 256;
    for (const std::uint64_t anchor : {first, blocks - 256, blocks - 1}) {
        if (anchor >= first && anchor <= UINT32_MAX &&
            reader->ReadVolume(static_cast<std::uint32_t>(anchor)))
            return reader;
    }
    return nullptr;
}

bool CUdfReader::ReadVolume(std::uint32_t anchor)
{
    const unsigned char* p = m_pSource->ReadCached(anchor);
    if (!p || !DescriptorIs(p, kTagAnchor, anchor))
        return false;
    // The main sequence, then its reserve copy.
    const std::pair<std::uint32_t, std::uint32_t> sequences[] = {{Le32(p + 20), Le32(p + 16)},
                                                                 {Le32(p + 28), Le32(p + 24)}};
    for (const auto& [start, bytes] : sequences) {
        std::map<std::uint16_t, std::pair<std::uint32_t, std::uint32_t>> partitions;
        std::string volume; // the logical volume descriptor
        const std::uint32_t count = std::min(bytes / kBlock, kMaxSequenceBlocks);
        for (std::uint32_t i = 0; i < count && start + i >= start; ++i) {
            const unsigned char* d = m_pSource->ReadCached(start + i, 4);
            if (!d || Le32(d + 12) != start + i)
                break;
            const std::uint16_t id = Le16(d);
            if (id == kTagTerminator || !DescriptorIs(d, id, start + i))
                break;
            if (id == kTagPartition)
                partitions.emplace(Le16(d + 22), std::make_pair(Le32(d + 188), Le32(d + 192)));
            else if (id == kTagLogicalVolume && volume.empty())
                volume.assign(reinterpret_cast<const char*>(d), kBlock);
        }
        if (volume.empty() || partitions.empty())
            continue;
        const unsigned char* v = Bytes(volume);
        const std::uint32_t tableBytes = Le32(v + 264);
        if (Le32(v + 212) != kBlock || tableBytes > kBlock - 440)
            continue;
        m_arrMaps.clear();
        bool bOk = true;
        for (std::uint32_t at = 0; bOk && at + 2 <= tableBytes && m_arrMaps.size() < kMaxMaps;) {
            const unsigned char* m = v + 440 + at;
            const unsigned length = m[1];
            if (length < 6 || at + length > tableBytes)
                break;
            at += length;
            Map map;
            std::uint16_t number = 0;
            if (m[0] == 1) {
                number = Le16(m + 4);
            } else if (m[0] == 2 && length >= 64) {
                number = Le16(m + 38);
                const std::string_view type(reinterpret_cast<const char*>(m + 5), 23);
                if (type.starts_with("*UDF Sparable Partition"))
                    map.type = MapType::Sparable;
                else if (type.starts_with("*UDF Metadata Partition"))
                    map.type = MapType::Metadata;
                else if (type.starts_with("*UDF Virtual Partition"))
                    map.type = MapType::Virtual;
                else
                    bOk = false;
            } else {
                bOk = false;
            }
            const auto found = partitions.find(number);
            if (found == partitions.end())
                bOk = false;
            else
                std::tie(map.nStart, map.nLength) = found->second;
            m_arrMaps.push_back(std::move(map));
        }
        if (!bOk || m_arrMaps.empty())
            continue;
        // Partitions over others read theirs once all the maps are known.
        for (std::size_t i = 0; bOk && i < m_arrMaps.size(); ++i) {
            Map& map = m_arrMaps[i];
            const unsigned char* m = v + 440; // find this map's bytes again
            for (std::size_t k = 0; k < i; ++k)
                m += m[1];
            if (map.type == MapType::Sparable) {
                // Any of the copies of the sparing table will do.
                map.nPacket = Le16(m + 40);
                bool bTable = false;
                for (unsigned t = 0; map.nPacket > 0 && !bTable && t < std::min<unsigned>(m[42], 4);
                     ++t)
                    bTable = ReadSparingTable(map, Le32(m + 48 + 4 * t), Le32(m + 44));
                bOk = bTable;
            } else if (map.type == MapType::Metadata) {
                bOk = ReadMetadataFile(map, Le32(m + 40)) || ReadMetadataFile(map, Le32(m + 44));
            } else if (map.type == MapType::Virtual) {
                bOk = ReadVat(map, static_cast<std::uint16_t>(i));
            }
        }
        if (!bOk)
            continue;
        // The file set descriptor, then the root folder it names.
        const Address fileSet{Le32(v + 252), Le16(v + 256)};
        std::uint32_t run = 0;
        const std::optional<std::uint64_t> fsd = Translate(fileSet, run);
        const unsigned char* f = fsd ? m_pSource->ReadCached(*fsd) : nullptr;
        if (!f || !DescriptorIs(f, kTagFileSet, fileSet.nBlock))
            continue;
        Entry root;
        if (ToEntry({}, {Le32(f + 404), Le16(f + 408)}, root) && root.kind == Kind::Folder) {
            m_root = std::move(root);
            return true;
        }
    }
    return false;
}

bool CUdfReader::ReadSparingTable(Map& map, std::uint32_t block, std::uint32_t bytes)
{
    bytes = std::min(bytes, kMaxSparingBytes);
    if (bytes < 56)
        return false;
    std::string table((bytes + kBlock - 1) / kBlock * kBlock, '\0');
    if (!m_pSource->ReadBlocks(block, static_cast<std::uint32_t>(table.size() / kBlock),
                               table.data()))
        return false;
    const unsigned char* t = Bytes(table);
    if (!DescriptorIs(t, kTagSparingTable, block, table.size()) ||
        std::string_view(table).substr(17, 18) != "*UDF Sparing Table")
        return false;
    const std::size_t entries = Le16(t + 48);
    if (56 + entries * 8 > bytes)
        return false;
    for (std::size_t i = 0; i < entries; ++i) {
        const std::uint32_t original = Le32(t + 56 + i * 8);
        if (original < 0xFFFFFFF0u)
            map.mapSpared[original] = Le32(t + 60 + i * 8);
    }
    return true;
}

bool CUdfReader::ReadMetadataFile(Map& map, std::uint32_t block)
{
    // The metadata file lies in the partition under this map, which reads as that one
    // until its extents are known.
    const auto self = static_cast<std::uint16_t>(&map - m_arrMaps.data());
    map.type = MapType::Physical;
    Node node;
    std::vector<Ad> ads;
    const bool bRead = ReadNode({block, self}, node) &&
                       (node.fileType == kTypeMetadata || node.fileType == kTypeMetadataMirror) &&
                       node.adType == kAdShort && ReadAds(node, ads);
    map.type = MapType::Metadata;
    if (!bRead)
        return false;
    map.arrRuns.clear();
    for (const Ad& ad : ads) {
        const std::uint32_t blocks = (ad.nBytes + kBlock - 1) / kBlock;
        if (ad.where.nBlock > map.nLength || blocks > map.nLength - ad.where.nBlock)
            return false;
        map.arrRuns.emplace_back(ad.type == 2 ? UINT32_MAX : map.nStart + ad.where.nBlock, blocks);
    }
    return !map.arrRuns.empty();
}

bool CUdfReader::ReadVat(Map& map, std::uint16_t self)
{
    const std::uint64_t last = std::min<std::uint64_t>(m_pSource->BlockCount() - 1,
                                                       std::uint64_t{map.nStart} + map.nLength - 1);
    map.type = MapType::Physical;
    Node node;
    bool bFound = false;
    for (std::uint32_t back = 0; !bFound && back < kVatSearchBlocks && last >= map.nStart + back;
         ++back) {
        const auto block = static_cast<std::uint32_t>(last - back - map.nStart);
        // One block at a time while stepping back: a read ahead would bring in what was seen.
        const unsigned char* p = m_pSource->ReadCached(last - back);
        if (!p || (Le16(p) != kTagFileEntry && Le16(p) != kTagExtendedFileEntry))
            continue;
        bFound = ReadNode({block, self}, node) &&
                 (node.fileType == kTypeVat || node.fileType == kTypeUnspecified);
    }
    std::string data;
    bFound = bFound && ReadData(node, kMaxVatBytes, data, nullptr);
    map.type = MapType::Virtual;
    if (!bFound)
        return false;
    std::size_t from = 0;
    std::size_t to = data.size();
    if (node.fileType == kTypeVat) {
        from = data.size() >= 2 ? Le16(Bytes(data)) : to + 1;
    } else {
        // The older table: entries first, then who wrote it and where the previous one is.
        if (to < 36 || data.compare(to - 35, 22, "*UDF Virtual Alloc Tbl") != 0)
            return false;
        to -= 36;
    }
    if (from > to)
        return false;
    for (std::size_t at = from; at + 4 <= to; at += 4)
        map.arrVirtual.push_back(Le32(Bytes(data, at)));
    return true;
}

std::optional<std::uint64_t> CUdfReader::Translate(Address where, std::uint32_t& run) const
{
    if (where.nPartition >= m_arrMaps.size())
        return std::nullopt;
    const Map& map = m_arrMaps[where.nPartition];
    std::uint32_t block = where.nBlock;
    switch (map.type) {
    case MapType::Physical:
        break;
    case MapType::Sparable: {
        if (block >= map.nLength)
            return std::nullopt;
        const std::uint32_t inPacket = block % map.nPacket;
        run = std::min(map.nPacket - inPacket, map.nLength - block);
        if (const auto spared = map.mapSpared.find(block - inPacket); spared != map.mapSpared.end())
            return std::uint64_t{spared->second} + inPacket;
        return std::uint64_t{map.nStart} + block;
    }
    case MapType::Metadata:
        for (const auto& [start, blocks] : map.arrRuns) {
            if (block < blocks) {
                if (start == UINT32_MAX)
                    return std::nullopt;
                run = blocks - block;
                return std::uint64_t{start} + block;
            }
            block -= blocks;
        }
        return std::nullopt;
    case MapType::Virtual:
        if (block >= map.arrVirtual.size())
            return std::nullopt;
        block = map.arrVirtual[block];
        if (block >= map.nLength)
            return std::nullopt;
        run = 1;
        return std::uint64_t{map.nStart} + block;
    }
    if (block >= map.nLength)
        return std::nullopt;
    run = map.nLength - block;
    return std::uint64_t{map.nStart} + block;
}

bool CUdfReader::ReadNode(Address where, Node& node)
{
    // An entry recorded again (strategy 4096) leads on through the indirect entry after it.
    for (int hop = 0; hop < kMaxIndirections; ++hop) {
        if (!ReadEntryAt(where, node))
            return false;
        if (node.nStrategy != 4096)
            return true;
        std::uint32_t run = 0;
        const Address after{node.where.nBlock + 1, node.where.nPartition};
        const std::optional<std::uint64_t> block = Translate(after, run);
        const unsigned char* p = block ? m_pSource->ReadCached(*block) : nullptr;
        const std::optional<Address> next = p ? IndirectTarget(p, after.nBlock) : std::nullopt;
        if (!next)
            return true;
        where = *next;
    }
    return false;
}

std::optional<CUdfReader::Address> CUdfReader::IndirectTarget(const unsigned char* p,
                                                              std::uint32_t block) noexcept
{
    if (!DescriptorIs(p, kTagIndirectEntry, block) || (Le32(p + 36) & 0x3FFFFFFFu) == 0)
        return std::nullopt;
    return Address{Le32(p + 40), Le16(p + 44)};
}

bool CUdfReader::ReadEntryAt(Address where, Node& node)
{
    for (int hop = 0;; ++hop) {
        std::uint32_t run = 0;
        const std::optional<std::uint64_t> block = Translate(where, run);
        // Writers put the entries of a folder's files one after another: read them together.
        const unsigned char* p =
            block ? m_pSource->ReadCached(*block, std::min(run, kEntriesAhead)) : nullptr;
        if (!p)
            return false;
        if (Le16(p) == kTagIndirectEntry) {
            const std::optional<Address> next = IndirectTarget(p, where.nBlock);
            if (!next || hop >= kMaxIndirections)
                return false;
            where = *next;
            continue;
        }
        const bool bExtended = Le16(p) == kTagExtendedFileEntry;
        if (!DescriptorIs(p, bExtended ? kTagExtendedFileEntry : kTagFileEntry, where.nBlock))
            return false;
        const std::size_t header = bExtended ? 216 : 176;
        const std::uint64_t extended = Le32(p + header - 8);
        const std::uint64_t ads = Le32(p + header - 4);
        if (header + extended + ads > kBlock)
            return false;
        node.where = where;
        node.nBlock = *block;
        node.nStrategy = Le16(p + 20);
        node.fileType = p[27];
        node.adType = Le16(p + 34) & 7;
        node.permissions = Le32(p + 44);
        node.nSize = Le64(p + 56);
        node.nModified = Seconds(p + (bExtended ? 92 : 84));
        node.strAds.assign(reinterpret_cast<const char*>(p + header + extended), ads);
        return true;
    }
}

bool CUdfReader::ReadAds(const Node& node, std::vector<Ad>& ads)
{
    ads.clear();
    std::size_t size = 0;
    if (node.adType == kAdShort)
        size = 8;
    else if (node.adType == kAdLong)
        size = 16;
    else
        return false;
    std::string area = node.strAds;
    int continuations = 0;
    for (std::size_t at = 0; at + size <= area.size();) {
        const unsigned char* p = Bytes(area, at);
        const std::uint32_t recorded = Le32(p);
        const Ad ad{{Le32(p + 4), size == 8 ? node.where.nPartition : Le16(p + 8)},
                    recorded & 0x3FFFFFFFu,
                    recorded >> 30};
        if (ad.nBytes == 0)
            break;
        if (ad.type == 3) {
            // The list goes on in an allocation extent descriptor of its own.
            std::uint32_t run = 0;
            const std::optional<std::uint64_t> block = Translate(ad.where, run);
            const unsigned char* e = block ? m_pSource->ReadCached(*block) : nullptr;
            if (++continuations > kMaxContinuations || !e ||
                !DescriptorIs(e, kTagAllocationExtent, ad.where.nBlock) ||
                Le32(e + 20) > kBlock - 24)
                return false;
            area.assign(reinterpret_cast<const char*>(e + 24), Le32(e + 20));
            at = 0;
            continue;
        }
        if (ads.size() >= kMaxAds)
            return false;
        ads.push_back(ad);
        at += size;
    }
    return true;
}

bool CUdfReader::ReadData(const Node& node, std::uint64_t maxBytes, std::string& data,
                          std::vector<Address>* blocks)
{
    data.clear();
    if (blocks)
        blocks->clear();
    if (node.nSize > maxBytes)
        return false;
    if (node.adType == kAdInEntry) {
        if (node.strAds.size() < node.nSize)
            return false;
        data = node.strAds.substr(0, node.nSize);
        if (blocks)
            blocks->push_back(node.where);
        return true;
    }
    std::vector<Ad> ads;
    if (!ReadAds(node, ads))
        return false;
    for (const Ad& ad : ads) {
        if (data.size() >= node.nSize)
            break;
        if (ad.type != 0)
            return false;
        for (std::uint32_t b = 0; b * std::uint64_t{kBlock} < ad.nBytes; ++b) {
            const std::uint64_t left = node.nSize - data.size();
            if (left == 0)
                break;
            const Address where{ad.where.nBlock + b, ad.where.nPartition};
            std::uint32_t run = 0;
            const std::optional<std::uint64_t> block = Translate(where, run);
            const std::uint64_t wanted = (left + kBlock - 1) / kBlock;
            const unsigned char* p =
                block
                    ? m_pSource->ReadCached(*block, static_cast<std::uint32_t>(
                                                        std::min<std::uint64_t>({run, wanted, 16})))
                    : nullptr;
            if (!p || where.nBlock < ad.where.nBlock)
                return false;
            // Only an extent's last block may be partly used.
            const std::uint64_t inExtent = ad.nBytes - b * std::uint64_t{kBlock};
            data.append(reinterpret_cast<const char*>(p),
                        std::min<std::uint64_t>({left, inExtent, kBlock}));
            if (blocks)
                blocks->push_back(where);
        }
    }
    return data.size() == node.nSize;
}

void CUdfReader::PlaceData(const Node& node, Entry& e)
{
    if (node.adType == kAdInEntry) {
        if (node.strAds.size() >= node.nSize)
            e.strEmbedded = node.strAds.substr(0, node.nSize);
        return;
    }
    std::vector<Ad> ads;
    if (!ReadAds(node, ads))
        return;
    // No sound file needs more blocks than the image holds: this bounds the work.
    const std::uint64_t imageBlocks = m_pSource->BlockCount();
    std::uint64_t left = node.nSize;
    std::uint64_t blocksSeen = 0;
    for (const Ad& ad : ads) {
        if (left == 0)
            break;
        if (ad.type != 0) {
            e.extents.clear();
            return;
        }
        const std::uint64_t take = std::min<std::uint64_t>(ad.nBytes, left);
        const std::uint64_t blocks = (take + kBlock - 1) / kBlock;
        for (std::uint64_t b = 0; b < blocks;) {
            std::uint32_t run = 0;
            const std::uint64_t inPartition = ad.where.nBlock + b;
            const std::optional<std::uint64_t> at =
                inPartition <= UINT32_MAX
                    ? Translate({static_cast<std::uint32_t>(inPartition), ad.where.nPartition}, run)
                    : std::nullopt;
            const std::uint64_t n = std::min<std::uint64_t>(run, blocks - b);
            blocksSeen += n;
            if (!at || n == 0 || *at + n > imageBlocks || blocksSeen > imageBlocks) {
                e.extents.clear();
                return;
            }
            const std::uint64_t bytes = std::min<std::uint64_t>(n * kBlock, take - b * kBlock);
            if (!e.extents.empty() && e.extents.back().nBytes % kBlock == 0 &&
                e.extents.back().nBlock + e.extents.back().nBytes / kBlock == *at)
                e.extents.back().nBytes += bytes;
            else
                e.extents.push_back({static_cast<std::uint32_t>(*at), bytes});
            b += n;
        }
        left -= take;
    }
    if (left > 0)
        e.extents.clear();
}

bool CUdfReader::ToEntry(const std::string& name, Address icb, Entry& e)
{
    Node node;
    if (!ReadNode(icb, node))
        return false;
    e = Entry{};
    e.strRaw = name;
    e.strName = name;
    e.nSize = node.nSize;
    e.nModified = node.nModified;
    e.bExecutable = (node.permissions & (1u | 1u << 5 | 1u << 10)) != 0;
    switch (node.fileType) {
    case kTypeFolder:
        e.kind = Kind::Folder;
        e.nId = node.nBlock;
        m_mapFolders.emplace(e.nId, icb);
        break;
    case kTypeFile:
        e.kind = Kind::File;
        // Apart from any block number, for a file without extents of its own.
        e.nId = std::uint64_t{1} << 62 | node.nBlock;
        PlaceData(node, e);
        break;
    case kTypeLink: {
        e.kind = Kind::Link;
        std::string data;
        if (ReadData(node, kMaxLinkBytes, data, nullptr))
            e.strTarget = LinkTarget(data);
        break;
    }
    default:
        e.kind = Kind::Other;
        break;
    }
    return true;
}

bool CUdfReader::List(const std::string& /*rawPath*/, const Entry& folder, const Limits& limits,
                      std::vector<Entry>& out)
{
    out.clear();
    const auto found = m_mapFolders.find(folder.nId);
    Node node;
    std::string data;
    std::vector<Address> blocks;
    if (found == m_mapFolders.end() || !ReadNode(found->second, node) ||
        node.fileType != kTypeFolder || !ReadData(node, limits.nMaxFolderBytes, data, &blocks) ||
        blocks.empty())
        return false;
    std::string name;
    for (std::size_t at = 0; at < data.size();) {
        const unsigned char* p = Bytes(data, at);
        const Address block = blocks[std::min(at / kBlock, blocks.size() - 1)];
        if (data.size() - at < 38 || !TagIs(p, kTagIdentifier, block.nBlock)) {
            out.clear();
            return false;
        }
        const std::size_t nameBytes = p[19];
        const std::size_t useBytes = Le16(p + 36);
        const std::size_t length = (38 + useBytes + nameBytes + 3) & ~std::size_t{3};
        if (length > data.size() - at) {
            out.clear();
            return false;
        }
        at += length;
        const unsigned traits = p[18];
        // Deleted entries and the parent are not shown.
        if ((traits & 0x0C) != 0 || !DecodeName(p + 38 + useBytes, nameBytes, name) ||
            name == "." || name == "..")
            continue;
        if (out.size() >= limits.nMaxEntries) {
            out.clear();
            return false;
        }
        Entry e;
        if (ToEntry(name, {Le32(p + 24), Le16(p + 28)}, e))
            out.push_back(std::move(e));
    }
    return true;
}

bool CUdfReader::ReadBlocks(std::uint32_t block, std::uint32_t count, void* buffer)
{
    return m_pSource->ReadBlocks(block, count, buffer);
}
