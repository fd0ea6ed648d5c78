// SPDX-License-Identifier: GPL-3.0-or-later
#include "catalogue/PeIconReader.h"

#include "catalogue/Volume.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <optional>

namespace {

using Bytes = std::vector<unsigned char>;

constexpr std::uint32_t kRtIcon = 3;
constexpr std::uint32_t kRtGroupIcon = 14;
constexpr std::uint32_t kSubdirectoryFlag = 0x80000000u;
// Windows XP's loader refused more; a resource section further on is not looked for.
constexpr std::size_t kMaxSections = 96;
constexpr std::size_t kIconDirSize = 6;
constexpr std::size_t kIconDirEntrySize = 16;
constexpr std::size_t kGroupEntrySize = 14;
constexpr unsigned char kPngSignature[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

std::uint16_t Le16(const unsigned char* p)
{
    return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}

std::uint32_t Le32(const unsigned char* p)
{
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

void Put16(Bytes& out, std::uint16_t value)
{
    out.push_back(static_cast<unsigned char>(value));
    out.push_back(static_cast<unsigned char>(value >> 8));
}

void Put32(Bytes& out, std::uint32_t value)
{
    Put16(out, static_cast<std::uint16_t>(value));
    Put16(out, static_cast<std::uint16_t>(value >> 16));
}

// The file as the parsers see it: no read reaches past its end.
struct Source {
    std::uint64_t size;
    const CPeIconReader::ReadAt& read;

    bool Read(std::uint64_t offset, void* buffer, std::size_t count) const
    {
        if (offset > size || count > size - offset)
            return false;
        return count == 0 || read(offset, buffer, count);
    }

    std::optional<Bytes> ReadBytes(std::uint64_t offset, std::size_t count) const
    {
        if (offset > size || count > size - offset)
            return std::nullopt;
        Bytes bytes(count);
        if (count > 0 && !read(offset, bytes.data(), count))
            return std::nullopt;
        return bytes;
    }
};

// One image of the icon being rebuilt.
struct Image {
    // Width, height, colours, reserved, planes, bit count: laid out alike in a group icon
    // entry and an icon file entry, and copied unchanged.
    std::array<unsigned char, 8> header{};
    std::uint64_t offset = 0; // in the file
    std::uint32_t size = 0;

    unsigned Width() const { return header[0] != 0 ? header[0] : 256; }
    unsigned Height() const { return header[1] != 0 ? header[1] : 256; }
    unsigned StatedBitCount() const { return Le16(&header[6]); }
};

bool IsUsableImage(std::uint64_t size)
{
    return size > 0 && size <= CPeIconReader::kMaxImageSize;
}

// Old group entries leave the bit count 0; then the image's own header tells.
unsigned BitCount(const Source& source, const Image& image)
{
    if (image.StatedBitCount() != 0)
        return image.StatedBitCount();
    unsigned char head[16];
    if (image.size >= sizeof head && source.Read(image.offset, head, sizeof head)) {
        if (std::memcmp(head, kPngSignature, sizeof kPngSignature) == 0)
            return 32;
        if (Le32(head) >= 40)
            return Le16(head + 14);
    }
    return 0;
}

// Exactly 16 x 16 first, then the smallest larger image, then the largest smaller one;
// among images of one size the deepest colours, then the earliest.
std::size_t PickClosestTo16(const Source& source, const std::vector<Image>& images)
{
    auto rank = [&](const Image& image) {
        const unsigned extent = std::max(image.Width(), image.Height());
        const bool bExact = image.Width() == 16 && image.Height() == 16;
        const int nClass = bExact ? 0 : extent >= 16 ? 1 : 2;
        const int nSize = nClass == 1 ? static_cast<int>(extent) : -static_cast<int>(extent);
        return std::array<int, 3>{nClass, nSize, -static_cast<int>(BitCount(source, image))};
    };
    std::size_t nBest = 0;
    auto best = rank(images[0]);
    for (std::size_t i = 1; i < images.size(); ++i) {
        const auto candidate = rank(images[i]);
        if (candidate < best) {
            best = candidate;
            nBest = i;
        }
    }
    return nBest;
}

Bytes BuildIconFile(const Source& source, std::vector<Image> images, CPeIconReader::Images which)
{
    if (images.empty())
        return {};
    if (which == CPeIconReader::Images::ClosestTo16)
        images = {images[PickClosestTo16(source, images)]};

    std::size_t nTotal = kIconDirSize;
    std::vector<Image> kept;
    for (const Image& image : images) {
        const std::size_t nGrown = nTotal + kIconDirEntrySize + image.size;
        if (nGrown > CPeIconReader::kMaxIconFileSize)
            continue;
        nTotal = nGrown;
        kept.push_back(image);
    }
    if (kept.empty())
        return {};

    Bytes out;
    out.reserve(nTotal);
    Put16(out, 0);
    Put16(out, 1);
    Put16(out, static_cast<std::uint16_t>(kept.size()));
    std::size_t nOffset = kIconDirSize + kIconDirEntrySize * kept.size();
    for (const Image& image : kept) {
        out.insert(out.end(), image.header.begin(), image.header.end());
        Put32(out, image.size);
        Put32(out, static_cast<std::uint32_t>(nOffset));
        nOffset += image.size;
    }
    for (const Image& image : kept) {
        const std::size_t nAt = out.size();
        out.resize(nAt + image.size);
        // Every range was checked against the file size: a failure means the file changed.
        if (!source.Read(image.offset, out.data() + nAt, image.size))
            return {};
    }
    return out;
}

std::vector<Image> ReadIconFileImages(const Source& source)
{
    unsigned char dir[kIconDirSize];
    if (!source.Read(0, dir, sizeof dir) || Le16(dir) != 0 || Le16(dir + 2) != 1)
        return {};
    const std::size_t nCount = Le16(dir + 4);
    if (nCount == 0 || nCount > CPeIconReader::kMaxImages)
        return {};
    const auto entries = source.ReadBytes(kIconDirSize, nCount * kIconDirEntrySize);
    if (!entries)
        return {};
    const std::uint64_t nDataStart = kIconDirSize + nCount * kIconDirEntrySize;
    std::vector<Image> images;
    for (std::size_t i = 0; i < nCount; ++i) {
        const unsigned char* pEntry = entries->data() + i * kIconDirEntrySize;
        Image image;
        std::copy_n(pEntry, image.header.size(), image.header.begin());
        image.size = Le32(pEntry + 8);
        image.offset = Le32(pEntry + 12);
        if (IsUsableImage(image.size) && image.offset >= nDataStart &&
            image.offset <= source.size && image.size <= source.size - image.offset)
            images.push_back(image);
    }
    return images;
}

struct Section {
    std::uint32_t nVirtualAddress = 0;
    std::uint32_t nExtent = 0; // bytes of the section that come from the file
    std::uint32_t nRawOffset = 0;
};

struct DirEntry {
    std::uint32_t nName = 0;   // an id, or a name's offset with kSubdirectoryFlag set
    std::uint32_t nTarget = 0; // a subdirectory with kSubdirectoryFlag set, else a data entry
};

// A PE file's resource tree. Offsets in the tree are relative to its root; the data entries
// at its leaves hold addresses of the loaded image (RVAs), mapped to the file by the sections.
class CResourceTree {
public:
    explicit CResourceTree(const Source& source)
        : m_source(source)
    {}

    bool Load();
    // The entries of the directory at dirOffset, at most nMax of them; nullopt when unreadable.
    std::optional<std::vector<DirEntry>> ReadDirectory(std::uint32_t dirOffset,
                                                       std::size_t nMax) const;
    // The first language's data of a name entry, as file offset and size.
    std::optional<std::pair<std::uint64_t, std::uint32_t>>
    FirstLanguage(const DirEntry& name) const;

private:
    // File offset of [rva, rva + size) when it lies within one section's bytes from the file.
    std::optional<std::uint64_t> Map(std::uint64_t rva, std::uint64_t size) const;
    std::optional<Bytes> ReadTree(std::uint64_t treeOffset, std::size_t size) const;

    const Source& m_source;
    std::vector<Section> m_arrSections;
    std::uint32_t m_nRootRva = 0;
};

bool CResourceTree::Load()
{
    unsigned char dos[64];
    if (!m_source.Read(0, dos, sizeof dos) || dos[0] != 'M' || dos[1] != 'Z')
        return false;
    const std::uint64_t nPeOffset = Le32(dos + 0x3C);
    unsigned char pe[24];
    if (!m_source.Read(nPeOffset, pe, sizeof pe) || std::memcmp(pe, "PE\0\0", 4) != 0)
        return false;
    const std::size_t nSections = Le16(pe + 4 + 2);
    const std::size_t nOptionalSize = Le16(pe + 4 + 16);
    const std::uint64_t nOptionalOffset = nPeOffset + sizeof pe;

    unsigned char magic[2];
    if (nOptionalSize < sizeof magic || !m_source.Read(nOptionalOffset, magic, sizeof magic))
        return false;
    std::size_t nCountAt = 0;
    if (Le16(magic) == 0x10B)
        nCountAt = 92;
    else if (Le16(magic) == 0x20B)
        nCountAt = 108;
    else
        return false;
    const std::size_t nResourceEntryAt = nCountAt + 4 + 2 * 8;
    if (nOptionalSize < nResourceEntryAt + 8)
        return false;
    const auto optional = m_source.ReadBytes(nOptionalOffset, nResourceEntryAt + 8);
    if (!optional || Le32(optional->data() + nCountAt) <= 2)
        return false;
    m_nRootRva = Le32(optional->data() + nResourceEntryAt);
    if (m_nRootRva == 0)
        return false;

    const std::size_t nRead = std::min(nSections, kMaxSections);
    const auto table = m_source.ReadBytes(nOptionalOffset + nOptionalSize, nRead * 40);
    if (!table)
        return false;
    for (std::size_t i = 0; i < nRead; ++i) {
        const unsigned char* pSection = table->data() + i * 40;
        const std::uint32_t nVirtualSize = Le32(pSection + 8);
        Section section;
        section.nVirtualAddress = Le32(pSection + 12);
        section.nExtent = Le32(pSection + 16);
        if (nVirtualSize != 0)
            section.nExtent = std::min(section.nExtent, nVirtualSize);
        section.nRawOffset = Le32(pSection + 20);
        m_arrSections.push_back(section);
    }
    return true;
}

std::optional<std::uint64_t> CResourceTree::Map(std::uint64_t rva, std::uint64_t size) const
{
    for (const Section& section : m_arrSections) {
        if (rva < section.nVirtualAddress)
            continue;
        const std::uint64_t nInside = rva - section.nVirtualAddress;
        if (nInside > section.nExtent || size > section.nExtent - nInside)
            continue;
        const std::uint64_t nOffset = section.nRawOffset + nInside;
        if (nOffset <= m_source.size && size <= m_source.size - nOffset)
            return nOffset;
    }
    return std::nullopt;
}

std::optional<Bytes> CResourceTree::ReadTree(std::uint64_t treeOffset, std::size_t size) const
{
    const auto nOffset = Map(m_nRootRva + treeOffset, size);
    if (!nOffset)
        return std::nullopt;
    return m_source.ReadBytes(*nOffset, size);
}

std::optional<std::vector<DirEntry>> CResourceTree::ReadDirectory(std::uint32_t dirOffset,
                                                                  std::size_t nMax) const
{
    const auto header = ReadTree(dirOffset, 16);
    if (!header)
        return std::nullopt;
    const std::size_t nCount =
        std::min<std::size_t>(Le16(header->data() + 12) + Le16(header->data() + 14), nMax);
    const auto raw = ReadTree(std::uint64_t{dirOffset} + 16, nCount * 8);
    if (!raw)
        return std::nullopt;
    std::vector<DirEntry> entries(nCount);
    for (std::size_t i = 0; i < nCount; ++i) {
        entries[i].nName = Le32(raw->data() + i * 8);
        entries[i].nTarget = Le32(raw->data() + i * 8 + 4);
    }
    return entries;
}

std::optional<std::pair<std::uint64_t, std::uint32_t>>
CResourceTree::FirstLanguage(const DirEntry& name) const
{
    // The tree is always type, name, language: a data entry anywhere else is corrupt.
    if ((name.nTarget & kSubdirectoryFlag) == 0)
        return std::nullopt;
    const auto languages = ReadDirectory(name.nTarget & ~kSubdirectoryFlag, 1);
    if (!languages || languages->empty() || ((*languages)[0].nTarget & kSubdirectoryFlag) != 0)
        return std::nullopt;
    const auto data = ReadTree((*languages)[0].nTarget, 16);
    if (!data)
        return std::nullopt;
    const std::uint32_t nSize = Le32(data->data() + 4);
    const auto nOffset = Map(Le32(data->data()), nSize);
    if (!nOffset)
        return std::nullopt;
    return std::make_pair(*nOffset, nSize);
}

std::optional<std::vector<DirEntry>>
ReadTypeDirectory(const CResourceTree& tree, const std::vector<DirEntry>& types, std::uint32_t type)
{
    for (const DirEntry& entry : types) {
        if (entry.nName == type && (entry.nTarget & kSubdirectoryFlag) != 0)
            return tree.ReadDirectory(entry.nTarget & ~kSubdirectoryFlag,
                                      CPeIconReader::kMaxDirectoryEntries);
    }
    return std::nullopt;
}

std::vector<Image> ReadProgramImages(const Source& source, int index)
{
    CResourceTree tree(source);
    if (!tree.Load())
        return {};
    const auto types = tree.ReadDirectory(0, CPeIconReader::kMaxDirectoryEntries);
    if (!types)
        return {};
    const auto groups = ReadTypeDirectory(tree, *types, kRtGroupIcon);
    if (!groups)
        return {};

    const DirEntry* pGroup = nullptr;
    if (index >= 0) {
        if (static_cast<std::size_t>(index) < groups->size())
            pGroup = &(*groups)[static_cast<std::size_t>(index)];
    } else {
        const std::int64_t nId = -static_cast<std::int64_t>(index);
        for (const DirEntry& entry : *groups) {
            if (entry.nName == nId) {
                pGroup = &entry;
                break;
            }
        }
    }
    if (!pGroup)
        return {};
    const auto groupData = tree.FirstLanguage(*pGroup);
    if (!groupData || groupData->second < kIconDirSize)
        return {};
    unsigned char dir[kIconDirSize];
    if (!source.Read(groupData->first, dir, sizeof dir) || Le16(dir) != 0 || Le16(dir + 2) != 1)
        return {};
    const std::size_t nCount = Le16(dir + 4);
    if (nCount == 0 || nCount > CPeIconReader::kMaxImages ||
        groupData->second < kIconDirSize + nCount * kGroupEntrySize)
        return {};
    const auto groupEntries =
        source.ReadBytes(groupData->first + kIconDirSize, nCount * kGroupEntrySize);
    if (!groupEntries)
        return {};

    const auto icons = ReadTypeDirectory(tree, *types, kRtIcon);
    if (!icons)
        return {};
    std::vector<Image> images;
    for (std::size_t i = 0; i < nCount; ++i) {
        const unsigned char* pEntry = groupEntries->data() + i * kGroupEntrySize;
        const std::uint32_t nId = Le16(pEntry + 12);
        const auto it = std::find_if(icons->begin(), icons->end(),
                                     [&](const DirEntry& entry) { return entry.nName == nId; });
        if (it == icons->end())
            continue;
        const auto imageData = tree.FirstLanguage(*it);
        if (!imageData || !IsUsableImage(imageData->second))
            continue;
        Image image;
        std::copy_n(pEntry, image.header.size(), image.header.begin());
        image.offset = imageData->first;
        image.size = imageData->second;
        images.push_back(image);
    }
    return images;
}

} // namespace

std::vector<unsigned char>
CPeIconReader::ExtractIcon(const CVolume& volume, const std::string& path, int index, Images images)
{
    const std::unique_ptr<CVolume::CFile> file = volume.OpenFile(path);
    if (!file)
        return {};
    return ExtractIconFromFile(*file, index, images);
}

std::vector<unsigned char> CPeIconReader::ExtractIconFromFile(const CVolume::CFile& file, int index,
                                                              Images images)
{
    const ReadAt read = [&file](std::uint64_t offset, void* buffer, std::size_t size) {
        return file.ReadAt(offset, buffer, size);
    };
    return ExtractIconFromSource(file.Size(), read, index, images);
}

std::vector<unsigned char> CPeIconReader::ExtractIconFromBytes(std::string_view bytes, int index,
                                                               Images images)
{
    const ReadAt read = [bytes](std::uint64_t offset, void* buffer, std::size_t size) {
        if (offset > bytes.size() || size > bytes.size() - offset)
            return false;
        std::memcpy(buffer, bytes.data() + offset, size);
        return true;
    };
    return ExtractIconFromSource(bytes.size(), read, index, images);
}

std::vector<unsigned char> CPeIconReader::ExtractIconFromSource(std::uint64_t fileSize,
                                                                const ReadAt& read, int index,
                                                                Images images)
{
    if (index == -1)
        return {};
    const Source source{fileSize, read};
    unsigned char magic[4];
    if (!source.Read(0, magic, sizeof magic))
        return {};
    if (magic[0] == 'M' && magic[1] == 'Z')
        return BuildIconFile(source, ReadProgramImages(source, index), images);
    if (index == 0 && Le16(magic) == 0 && Le16(magic + 2) == 1)
        return BuildIconFile(source, ReadIconFileImages(source), images);
    return {};
}
