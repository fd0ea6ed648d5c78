// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/Iso9660Reader.h"

#include "platform/SectorSource.h"

#include "catalogue/Text.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <utility>

namespace {

constexpr std::uint32_t kBlock = CImageReader::kBlockSize;
constexpr std::uint64_t kFirstDescriptor = 16;
// Real discs hold a handful of descriptors; this bounds a run of junk ones.
constexpr std::uint64_t kMaxDescriptors = 64;
constexpr std::size_t kRecordMin = 33;
constexpr std::size_t kRootRecordAt = 156;
constexpr std::size_t kRootRecordBytes = 34;
// A folder's blocks are read this many at a time.
constexpr std::uint32_t kFolderAhead = 16;

constexpr unsigned char kFlagFolder = 0x02;
constexpr unsigned char kFlagAssociated = 0x04;
constexpr unsigned char kFlagMultiExtent = 0x80;

// Rock Ridge bounds: continuation areas per record, and the lengths a mount takes at most.
constexpr int kMaxContinuations = 16;
constexpr std::size_t kMaxNameBytes = 255;
constexpr std::size_t kMaxTargetBytes = 4095;
// CD-XA discs put 14 bytes of their own before the SUSP entries.
constexpr std::size_t kXaSystemUseBytes = 14;

constexpr std::uint32_t kTypeMask = 0170000;
constexpr std::uint32_t kTypeRegular = 0100000;
constexpr std::uint32_t kTypeLink = 0120000;

std::uint32_t Le32(const unsigned char* p) noexcept
{
    return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 |
           std::uint32_t{p[3]} << 24;
}

std::uint16_t Sig(const unsigned char* p) noexcept
{
    return static_cast<std::uint16_t>(p[0] << 8 | p[1]);
}

constexpr std::uint16_t Sig(const char (&s)[3]) noexcept
{
    return static_cast<std::uint16_t>(static_cast<unsigned char>(s[0]) << 8 |
                                      static_cast<unsigned char>(s[1]));
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

// A record's seven-byte date: local time and its offset from UTC in quarter hours.
std::int64_t SecondsOf(const unsigned char* d)
{
    if (d[1] < 1 || d[1] > 12 || d[2] < 1 || d[2] > 31)
        return 0;
    const std::int64_t days = DaysFromCivil(1900 + d[0], d[1], d[2]);
    const auto offset = static_cast<signed char>(d[6]);
    return days * 86400 + d[3] * 3600 + d[4] * 60 + d[5] - offset * 900;
}

// Drops a trailing ";1" or ".;1", turns other ';' into '.', and without Joliet lowers ASCII
// capitals: the names libiso9660 gave, which paths stored by earlier versions hold.
std::string Translate(std::string_view raw, bool bJoliet)
{
    std::string out;
    const std::size_t n = raw.size();
    for (std::size_t i = 0; i < n; ++i) {
        char c = raw[i];
        if (c == '.' && i + 3 == n && raw[i + 1] == ';' && raw[i + 2] == '1')
            break;
        if (c == ';' && i + 2 == n && raw[i + 1] == '1')
            break;
        if (c == ';')
            c = '.';
        else if (!bJoliet && c >= 'A' && c <= 'Z')
            c = static_cast<char>(c + 32);
        out += c;
    }
    return out.empty() ? std::string(raw) : out;
}

// Joliet names are UCS-2 big endian; pairs of surrogates are taken as UTF-16 does, and a
// lone one becomes U+FFFD.
std::string JolietToUtf8(std::string_view raw)
{
    auto unit = [&raw](std::size_t i) {
        return static_cast<std::uint32_t>(static_cast<unsigned char>(raw[i]) << 8 |
                                          static_cast<unsigned char>(raw[i + 1]));
    };
    std::string out;
    for (std::size_t i = 0; i + 1 < raw.size(); i += 2) {
        std::uint32_t c = unit(i);
        if (c == 0)
            break;
        if (c >= 0xD800 && c < 0xDC00 && i + 3 < raw.size()) {
            const std::uint32_t low = unit(i + 2);
            if (low >= 0xDC00 && low < 0xE000) {
                c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
                i += 2;
            }
        }
        if (c >= 0xD800 && c < 0xE000)
            c = 0xFFFD;
        Text::AppendUtf8(out, c);
    }
    return out;
}

std::uint64_t BlocksFor(std::uint64_t bytes)
{
    return (bytes + kBlock - 1) / kBlock;
}

} // namespace

// One directory record, its fields checked to lie inside it.
struct CIso9660Reader::Record {
    std::uint64_t nLocation = 0; // where its data starts, past any extended attributes
    std::uint32_t nSize = 0;
    unsigned char nFlags = 0;
    bool bInterleaved = false;
    std::string_view name;
    const unsigned char* pDate = nullptr;
    const unsigned char* pSystemUse = nullptr;
    std::size_t nSystemUse = 0;

    // The record at p, of at most room bytes; false when it is shorter than its own fields.
    bool Parse(const unsigned char* p, std::size_t room)
    {
        const std::size_t length = p[0];
        if (length < kRecordMin || length > room)
            return false;
        const std::size_t nameBytes = p[32];
        if (kRecordMin + nameBytes > length)
            return false;
        nLocation = std::uint64_t{Le32(p + 2)} + p[1];
        nSize = Le32(p + 10);
        nFlags = p[25];
        bInterleaved = p[26] != 0 || p[27] != 0;
        name = {reinterpret_cast<const char*>(p + 33), nameBytes};
        pDate = p + 18;
        // A name of even length is followed by a padding byte.
        const std::size_t su = kRecordMin + nameBytes + (nameBytes % 2 == 0 ? 1 : 0);
        pSystemUse = p + std::min(su, length);
        nSystemUse = su < length ? length - su : 0;
        return true;
    }
    bool IsSelf() const noexcept { return name.size() == 1 && name[0] == '\0'; }
    bool IsParent() const noexcept { return name.size() == 1 && name[0] == '\1'; }
};

struct CIso9660Reader::Rock {
    bool bAny = false; // the record carries Rock Ridge fields at all
    std::string strName;
    bool bMode = false;
    std::uint32_t nMode = 0;
    std::string strTarget;
    bool bTargetTooLong = false;
    bool bSlashDue = false; // the last link component ended: the next one starts anew
    bool bRelocated = false;
    bool bChild = false;
    std::uint64_t nChild = 0;
    bool bCompressed = false;
    bool bZisofs = false; // compressed as zisofs ("pz"), in blocks of 32 to 128 KiB
    std::uint32_t nRealSize = 0;

    void AddName(const unsigned char* text, std::size_t bytes)
    {
        const auto* end = static_cast<const unsigned char*>(std::memchr(text, 0, bytes));
        if (end)
            bytes = static_cast<std::size_t>(end - text);
        strName.append(reinterpret_cast<const char*>(text),
                       std::min(bytes, kMaxNameBytes - std::min(kMaxNameBytes, strName.size())));
    }

    // One SL component: its flags (continued 1, "." 2, ".." 4, root 8) and text.
    void AddComponent(unsigned char flags, const unsigned char* text, std::size_t bytes)
    {
        std::string_view part;
        if (flags & 0x02)
            part = ".";
        else if (flags & 0x04)
            part = "..";
        else if (flags & 0x08)
            part = "/";
        else if (!(flags & 0x30))
            part = {reinterpret_cast<const char*>(text), bytes};
        const bool bSlash = bSlashDue && !(flags & 0x08);
        if (strTarget.size() + part.size() + (bSlash ? 1 : 0) > kMaxTargetBytes) {
            bTargetTooLong = true;
            return;
        }
        if (bSlash)
            strTarget += '/';
        strTarget += part;
        bSlashDue = !(flags & 0x01) && !(flags & 0x08);
    }
};

CIso9660Reader::CIso9660Reader(std::unique_ptr<CSectorSource> source)
    : m_pSource(std::move(source))
{}

CIso9660Reader::~CIso9660Reader() = default;

std::unique_ptr<CImageReader> CIso9660Reader::Open(std::unique_ptr<CSectorSource> source)
{
    if (!source)
        return nullptr;
    std::unique_ptr<CIso9660Reader> reader(new CIso9660Reader(std::move(source)));
    CSectorSource& src = *reader->m_pSource;
    std::array<unsigned char, kBlock> block{};
    std::array<unsigned char, kRootRecordBytes> primary{};
    std::array<unsigned char, kRootRecordBytes> joliet{};
    bool bPrimary = false;
    bool bJoliet = false;
    // A later session's descriptors follow its own system area, not the disc's.
    const std::uint64_t first = src.FirstBlock() + kFirstDescriptor;
    for (std::uint64_t at = first; at < first + kMaxDescriptors; ++at) {
        const unsigned char* pBlock = src.ReadCached(at, 4);
        if (!pBlock || std::memcmp(pBlock + 1, "CD001", 5) != 0 || pBlock[0] == 255)
            break;
        std::memcpy(block.data(), pBlock, block.size());
        // Only 2048-byte logical blocks: what every disc has, and what the source gives.
        const bool bBlockSize = (block[128] | block[129] << 8) == kBlock;
        const unsigned char* root = block.data() + kRootRecordAt;
        if (block[0] == 1 && !bPrimary && bBlockSize) {
            std::memcpy(primary.data(), root, primary.size());
            bPrimary = true;
        } else if (block[0] == 2 && !bJoliet && bBlockSize && block[88] == '%' &&
                   block[89] == '/' && (block[90] == '@' || block[90] == 'C' || block[90] == 'E')) {
            std::memcpy(joliet.data(), root, joliet.size());
            bJoliet = true;
        }
    }
    auto rootOf = [&src](const std::array<unsigned char, kRootRecordBytes>& raw, Entry& e) {
        Record r;
        // A root before the session's start: its addresses count from the track's.
        if (!r.Parse(raw.data(), raw.size()) || !(r.nFlags & kFlagFolder) ||
            r.nLocation < src.FirstBlock() || r.nLocation >= src.BlockCount())
            return false;
        e.kind = Kind::Folder;
        e.nId = r.nLocation;
        e.nSize = r.nSize;
        e.nModified = SecondsOf(r.pDate);
        return true;
    };
    if (!bPrimary || !rootOf(primary, reader->m_root))
        return nullptr;
    // SUSP announces itself by an SP entry first in the root's "." record.
    Record dot;
    const unsigned char* pRoot = src.ReadCached(reader->m_root.nId);
    if (pRoot && dot.Parse(pRoot, kBlock) && dot.IsSelf()) {
        for (const std::size_t at : {std::size_t{0}, kXaSystemUseBytes}) {
            const unsigned char* sp = dot.pSystemUse + at;
            if (dot.nSystemUse >= at + 7 && Sig(sp) == Sig("SP") && sp[2] >= 7 && sp[4] == 0xBE &&
                sp[5] == 0xEF) {
                reader->m_names = Names::RockRidge;
                reader->m_nSkip = at + sp[6];
                return reader;
            }
        }
    }
    Entry jolietRoot;
    if (bJoliet && rootOf(joliet, jolietRoot)) {
        reader->m_root = jolietRoot;
        reader->m_names = Names::Joliet;
    }
    return reader;
}

void CIso9660Reader::ReadRock(const unsigned char* area, std::size_t bytes, Rock& rock)
{
    if (bytes < m_nSkip)
        return;
    area += m_nSkip;
    bytes -= m_nSkip;
    std::pair<std::uint64_t, std::uint32_t> visited[kMaxContinuations];
    for (int areas = 0;; ++areas) {
        bool bNext = false;
        std::uint64_t nextBlock = 0;
        std::uint32_t nextOffset = 0;
        std::uint32_t nextBytes = 0;
        for (std::size_t at = 0; at + 4 <= bytes;) {
            const unsigned char* p = area + at;
            const std::size_t length = p[2];
            if (length < 4 || length > bytes - at)
                break;
            at += length;
            switch (Sig(p)) {
            case Sig("ST"):
                at = bytes;
                break;
            case Sig("CE"):
                if (length >= 28) {
                    bNext = true;
                    nextBlock = Le32(p + 4);
                    nextOffset = Le32(p + 12);
                    nextBytes = Le32(p + 20);
                }
                break;
            case Sig("NM"):
                rock.bAny = true;
                // Flags other than "continued" stand for "." , ".." or the host's name.
                if (length >= 5 && !(p[4] & ~1))
                    rock.AddName(p + 5, length - 5);
                break;
            case Sig("PX"):
                rock.bAny = true;
                if (length >= 12) {
                    rock.bMode = true;
                    rock.nMode = Le32(p + 4);
                }
                break;
            case Sig("SL"):
                rock.bAny = true;
                for (std::size_t c = 5; c + 2 <= length;) {
                    const std::size_t textBytes = p[c + 1];
                    if (c + 2 + textBytes > length)
                        break;
                    rock.AddComponent(p[c], p + c + 2, textBytes);
                    c += 2 + textBytes;
                }
                break;
            case Sig("RE"):
                rock.bAny = true;
                rock.bRelocated = true;
                break;
            case Sig("CL"):
                rock.bAny = true;
                if (length >= 12) {
                    rock.bChild = true;
                    rock.nChild = Le32(p + 4);
                }
                break;
            case Sig("ZF"):
                rock.bAny = true;
                rock.bCompressed = true;
                if (length >= 16 && p[4] == 'p' && p[5] == 'z' && p[7] >= 15 && p[7] <= 17) {
                    rock.bZisofs = true;
                    rock.nRealSize = Le32(p + 8);
                }
                break;
            case Sig("RR"):
            case Sig("TF"):
            case Sig("PN"):
            case Sig("PL"):
            case Sig("SF"):
                rock.bAny = true;
                break;
            default:
                break;
            }
        }
        // A continuation lies within one block of the image and is read at most once.
        if (!bNext || areas >= kMaxContinuations || m_nContinuationsLeft == 0 || nextBytes == 0 ||
            nextOffset >= kBlock || nextBytes > kBlock - nextOffset)
            return;
        --m_nContinuationsLeft;
        const std::pair<std::uint64_t, std::uint32_t> key{nextBlock, nextOffset};
        auto* const seen = visited + areas;
        if (std::find(&visited[0], seen, key) != seen)
            return;
        // The area stays valid while it is read: nothing else reads through the cache meanwhile.
        const unsigned char* pArea = m_pSource->ReadCached(nextBlock);
        if (!pArea)
            return;
        visited[areas] = key;
        area = pArea + nextOffset;
        bytes = nextBytes;
    }
}

bool CIso9660Reader::RelocatedFolder(std::uint64_t block, Entry& entry)
{
    const unsigned char* data = m_pSource->ReadCached(block);
    Record dot;
    if (!data || !dot.Parse(data, kBlock) || !dot.IsSelf() || dot.nLocation != block ||
        !(dot.nFlags & kFlagFolder))
        return false;
    entry.kind = Kind::Folder;
    entry.nId = block;
    entry.nSize = dot.nSize;
    return true;
}

bool CIso9660Reader::ToEntry(const Record& r, std::string_view raw, Entry& e)
{
    e.strRaw.assign(raw);
    e.nId = r.nLocation;
    e.nSize = r.nSize;
    e.nModified = SecondsOf(r.pDate);
    e.kind = (r.nFlags & kFlagFolder) ? Kind::Folder : Kind::File;
    bool bReadable = !r.bInterleaved;
    if (m_names == Names::Joliet) {
        e.strName = Translate(JolietToUtf8(r.name), true);
    } else if (m_names == Names::Iso) {
        e.strName = Translate(raw, false);
    } else {
        Rock rock;
        ReadRock(r.pSystemUse, r.nSystemUse, rock);
        if (rock.bRelocated)
            return false; // shown where its CL record stands
        e.strName = !rock.strName.empty() ? rock.strName : Translate(raw, false);
        e.bExecutable = rock.bMode && (rock.nMode & 0111) != 0;
        const std::uint32_t type = rock.nMode & kTypeMask;
        if (rock.bChild) {
            if (!RelocatedFolder(rock.nChild, e))
                e.kind = Kind::Other;
        } else if (rock.bMode && type == kTypeLink) {
            e.kind = Kind::Link;
            if (!rock.bTargetTooLong)
                e.strTarget = std::move(rock.strTarget);
        } else if (rock.bMode && e.kind == Kind::File && type != kTypeRegular) {
            e.kind = Kind::Other;
        }
        // Shown at the size it inflates to; other compression would be handed out as stored.
        if (rock.bZisofs && e.kind == Kind::File) {
            e.bZisofs = true;
            e.nSize = rock.nRealSize;
        }
        bReadable = bReadable && (!rock.bCompressed || e.bZisofs);
    }
    e.strName.resize(std::strlen(e.strName.c_str()));
    // A '/' would split the name in two wherever a path holds it.
    std::replace(e.strName.begin(), e.strName.end(), '/', '.');
    if (e.strName.empty() || e.strName == "." || e.strName == "..")
        return false;
    if (e.kind == Kind::File && bReadable && r.nLocation <= UINT32_MAX)
        e.extents.push_back({static_cast<std::uint32_t>(r.nLocation), r.nSize});
    return true;
}

bool CIso9660Reader::List(const std::string&, const Entry& folder, const Limits& limits,
                          std::vector<Entry>& out)
{
    out.clear();
    if (folder.nSize == 0)
        return true;
    const std::uint64_t blocks = BlocksFor(folder.nSize);
    const std::uint64_t imageBlocks = m_pSource->BlockCount();
    if (folder.nSize > limits.nMaxFolderBytes || folder.nId >= imageBlocks ||
        blocks > imageBlocks - folder.nId)
        return false;
    auto fail = [&out] {
        out.clear();
        return false;
    };
    std::array<unsigned char, kBlock> data;
    // Enough for every record to continue once or twice; beyond, hostile records lose names.
    m_nContinuationsLeft = 2 * limits.nMaxEntries + kMaxContinuations;
    // The entry of the file that the last record said goes on in the next one.
    constexpr std::size_t kNone = SIZE_MAX;
    std::size_t goesOn = kNone;
    for (std::uint64_t b = 0; b < blocks; ++b) {
        const auto ahead =
            static_cast<std::uint32_t>(std::min<std::uint64_t>(blocks - b, kFolderAhead));
        const unsigned char* pBlock = m_pSource->ReadCached(folder.nId + b, ahead);
        if (!pBlock)
            return fail();
        // A copy: reading Rock Ridge continuation areas goes through the cache too.
        std::memcpy(data.data(), pBlock, data.size());
        // Records never cross a block's end; the rest of a block after a zero is padding.
        const std::size_t end = std::min<std::uint64_t>(kBlock, folder.nSize - b * kBlock);
        for (std::size_t at = 0; at < end && data[at] != 0;) {
            Record r;
            if (!r.Parse(data.data() + at, end - at))
                return fail();
            at += data[at];
            const std::size_t continued = std::exchange(goesOn, kNone);
            const bool bMore = (r.nFlags & kFlagMultiExtent) != 0;
            if (r.IsSelf()) {
                // Reached by a record we trust no more than it: make sure it is this folder.
                if (r.nLocation != folder.nId)
                    return fail();
                continue;
            }
            if (r.IsParent() || (r.nFlags & kFlagAssociated))
                continue;
            // UCS-2 names hold zero bytes; the others end at the first, as C strings do.
            const std::string_view raw =
                m_names == Names::Joliet ? r.name : r.name.substr(0, r.name.find('\0'));
            // The parts of a file in several extents follow each other under one name, each
            // but the last flagged; records that merely repeat a name stay apart.
            if (continued != kNone && !(r.nFlags & kFlagFolder) && out[continued].strRaw == raw) {
                Entry& file = out[continued];
                if (!file.extents.empty() && r.nLocation <= UINT32_MAX && !r.bInterleaved &&
                    !file.bZisofs)
                    file.extents.push_back({static_cast<std::uint32_t>(r.nLocation), r.nSize});
                else
                    file.extents.clear();
                file.nSize += r.nSize;
                if (bMore)
                    goesOn = continued;
                continue;
            }
            Entry e;
            if (!ToEntry(r, raw, e))
                continue;
            if (out.size() >= limits.nMaxEntries)
                return fail();
            out.push_back(std::move(e));
            if (bMore && out.back().kind == Kind::File)
                goesOn = out.size() - 1;
        }
    }
    return true;
}

bool CIso9660Reader::ReadBlocks(std::uint32_t block, std::uint32_t count, void* buffer)
{
    return m_pSource->ReadBlocks(block, count, buffer);
}
