// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Builds Windows programs with icon resources, byte by byte, for the icon reader's tests and
// for drives that list programs with icons. Header-only, so that the benchmarks share it too.
namespace PeBuilder {

inline void Append16(std::string& s, std::uint32_t value)
{
    s.push_back(static_cast<char>(value & 0xFF));
    s.push_back(static_cast<char>((value >> 8) & 0xFF));
}

inline void Append32(std::string& s, std::uint32_t value)
{
    Append16(s, value & 0xFFFF);
    Append16(s, value >> 16);
}

inline void Put16(std::string& s, std::size_t at, std::uint32_t value)
{
    s[at] = static_cast<char>(value & 0xFF);
    s[at + 1] = static_cast<char>((value >> 8) & 0xFF);
}

inline void Put32(std::string& s, std::size_t at, std::uint32_t value)
{
    Put16(s, at, value & 0xFFFF);
    Put16(s, at + 2, value >> 16);
}

inline std::size_t AlignUp(std::size_t value, std::size_t alignment)
{
    return (value + alignment - 1) / alignment * alignment;
}

// An icon image as stored: BITMAPINFOHEADER (height doubled for the mask), palette, pixels,
// AND mask. fill tells the images of a test apart.
inline std::string Dib(unsigned width, unsigned height, unsigned bits, char fill)
{
    std::string s;
    Append32(s, 40);
    Append32(s, width);
    Append32(s, height * 2);
    Append16(s, 1);
    Append16(s, bits);
    s.append(24, '\0');
    if (bits <= 8)
        s.append(std::size_t{4} << bits, '\0');
    s.append((width * bits + 31) / 32 * 4 * height, fill);
    s.append((width + 31) / 32 * 4 * height, '\0');
    return s;
}

struct GroupEntry {
    unsigned char width;
    unsigned char height;
    std::uint16_t bits;
    std::uint16_t id;
};

inline std::string GroupData(const std::vector<GroupEntry>& entries, int statedCount = -1)
{
    std::string s;
    Append16(s, 0);
    Append16(s, 1);
    Append16(s, statedCount >= 0 ? static_cast<std::uint32_t>(statedCount) : entries.size());
    for (const GroupEntry& e : entries) {
        s.push_back(static_cast<char>(e.width));
        s.push_back(static_cast<char>(e.height));
        s.push_back('\0'); // colours
        s.push_back('\0');
        Append16(s, 1);
        Append16(s, e.bits);
        Append32(s, 0x1234); // bytes in resource: the data entry's size is what counts
        Append16(s, e.id);
    }
    return s;
}

// One resource with a single language; a non-empty name makes it a named entry.
struct ResName {
    std::uint16_t id = 0;
    std::u16string name;
    std::string data;
};

struct ResType {
    std::uint16_t id;
    std::vector<ResName> names;
};

inline constexpr std::uint32_t kRsrcRva = 0x2000;
inline constexpr std::size_t kRsrcFileOffset = 0x400;
inline constexpr std::size_t kPeOffset = 0x80;

// The resource section as a resource compiler lays it out: root, type directories, name
// directories, language directories, data entries, name strings, data. Entries are stored
// in the order given; named ones must come first.
inline std::string ResourceSection(const std::vector<ResType>& types)
{
    std::size_t nNames = 0;
    for (const ResType& type : types)
        nNames += type.names.size();
    std::size_t offset = 16 + 8 * types.size();
    std::vector<std::size_t> typeDirs;
    for (const ResType& type : types) {
        typeDirs.push_back(offset);
        offset += 16 + 8 * type.names.size();
    }
    std::vector<std::size_t> langDirs, dataEntries, strings, data;
    for (std::size_t i = 0; i < nNames; ++i, offset += 24)
        langDirs.push_back(offset);
    for (std::size_t i = 0; i < nNames; ++i, offset += 16)
        dataEntries.push_back(offset);
    for (const ResType& type : types) {
        for (const ResName& name : type.names) {
            strings.push_back(offset);
            offset = AlignUp(offset + (name.name.empty() ? 0 : 2 + 2 * name.name.size()), 4);
        }
    }
    for (const ResType& type : types) {
        for (const ResName& name : type.names) {
            offset = AlignUp(offset, 8);
            data.push_back(offset);
            offset += name.data.size();
        }
    }

    std::string s(offset, '\0');
    auto putDirectory = [&](std::size_t at, std::size_t named, std::size_t ids) {
        Put16(s, at + 12, named);
        Put16(s, at + 14, ids);
    };
    putDirectory(0, 0, types.size());
    std::size_t n = 0;
    for (std::size_t t = 0; t < types.size(); ++t) {
        Put32(s, 16 + 8 * t, types[t].id);
        Put32(s, 16 + 8 * t + 4, 0x80000000u | typeDirs[t]);
        std::size_t named = 0;
        for (const ResName& name : types[t].names)
            named += name.name.empty() ? 0 : 1;
        putDirectory(typeDirs[t], named, types[t].names.size() - named);
        for (std::size_t i = 0; i < types[t].names.size(); ++i, ++n) {
            const ResName& name = types[t].names[i];
            const std::size_t entry = typeDirs[t] + 16 + 8 * i;
            if (name.name.empty()) {
                Put32(s, entry, name.id);
            } else {
                Put32(s, entry, 0x80000000u | strings[n]);
                Put16(s, strings[n], name.name.size());
                for (std::size_t c = 0; c < name.name.size(); ++c)
                    Put16(s, strings[n] + 2 + 2 * c, name.name[c]);
            }
            Put32(s, entry + 4, 0x80000000u | langDirs[n]);
            putDirectory(langDirs[n], 0, 1);
            Put32(s, langDirs[n] + 16, 0x409);
            Put32(s, langDirs[n] + 20, dataEntries[n]);
            Put32(s, dataEntries[n], kRsrcRva + data[n]);
            Put32(s, dataEntries[n] + 4, name.data.size());
            s.replace(data[n], name.data.size(), name.data);
        }
    }
    return s;
}

struct CBuiltPe {
    std::string bytes;
    std::size_t nResourceEntryAt; // the optional header's data directory entry 2
    std::size_t nRsrcSectionAt;   // the .rsrc section header
};

// A minimal program: headers, a .text section and a .rsrc section.
inline CBuiltPe BuildPe(const std::vector<ResType>& types, bool bPlus = false)
{
    const std::string rsrc = ResourceSection(types);
    CBuiltPe pe;
    std::string& s = pe.bytes;
    s.assign(kRsrcFileOffset + AlignUp(rsrc.size(), 0x200), '\0');
    s[0] = 'M';
    s[1] = 'Z';
    Put32(s, 0x3C, kPeOffset);
    s.replace(kPeOffset, 4, std::string("PE\0\0", 4));
    const std::size_t coff = kPeOffset + 4;
    const std::size_t optionalSize = bPlus ? 240 : 224;
    Put16(s, coff, bPlus ? 0x8664 : 0x14C);
    Put16(s, coff + 2, 2);
    Put16(s, coff + 16, optionalSize);
    Put16(s, coff + 18, 0x0102);
    const std::size_t optional = coff + 20;
    Put16(s, optional, bPlus ? 0x20B : 0x10B);
    Put32(s, optional + (bPlus ? 108 : 92), 16);
    pe.nResourceEntryAt = optional + (bPlus ? 112 : 96) + 2 * 8;
    Put32(s, pe.nResourceEntryAt, kRsrcRva);
    Put32(s, pe.nResourceEntryAt + 4, rsrc.size());
    const std::size_t text = optional + optionalSize;
    s.replace(text, 5, ".text");
    Put32(s, text + 8, 0x10);
    Put32(s, text + 12, 0x1000);
    Put32(s, text + 16, 0x200);
    Put32(s, text + 20, 0x200);
    s[0x200] = '\xC3';
    pe.nRsrcSectionAt = text + 40;
    s.replace(pe.nRsrcSectionAt, 5, ".rsrc");
    Put32(s, pe.nRsrcSectionAt + 8, rsrc.size());
    Put32(s, pe.nRsrcSectionAt + 12, kRsrcRva);
    Put32(s, pe.nRsrcSectionAt + 16, AlignUp(rsrc.size(), 0x200));
    Put32(s, pe.nRsrcSectionAt + 20, kRsrcFileOffset);
    s.replace(kRsrcFileOffset, rsrc.size(), rsrc);
    return pe;
}

} // namespace PeBuilder
