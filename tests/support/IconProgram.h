#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// A program holding one 16 x 16 icon, laid out as a resource compiler does: listing it puts
// an image of its own in the file list. Header-only, so that the benchmarks share it too.
namespace IconProgram {

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

inline std::string WithIcon()
{
    constexpr std::uint32_t kRsrcRva = 0x2000;
    constexpr std::size_t kRsrcOffset = 0x400;
    constexpr std::size_t kPeOffset = 0x80;

    // 32-bit image: header (height doubled for the mask), pixels, AND mask.
    std::string dib(40 + 16 * 16 * 4 + 4 * 16, '\0');
    Put32(dib, 0, 40);
    Put32(dib, 4, 16);
    Put32(dib, 8, 32);
    Put16(dib, 12, 1);
    Put16(dib, 14, 32);
    for (std::uint32_t p = 0; p < 16 * 16; ++p)
        Put32(dib, 40 + 4 * p, 0xFF2060C0u + p);
    std::string group(6 + 14, '\0');
    Put16(group, 2, 1);
    Put16(group, 4, 1);
    group[6] = 16;
    group[7] = 16;
    Put16(group, 10, 1);
    Put16(group, 12, 32);
    Put32(group, 14, static_cast<std::uint32_t>(dib.size()));
    Put16(group, 18, 1);

    // Root with RT_ICON (3) and RT_GROUP_ICON (14), each one name (1) in one language.
    constexpr std::size_t kTypeDirs[] = {32, 56};
    constexpr std::size_t kLangDirs[] = {80, 104};
    constexpr std::size_t kDataEntries[] = {128, 144};
    const std::size_t dataAt[] = {160, (160 + dib.size() + 7) / 8 * 8};
    const std::string* data[] = {&dib, &group};
    constexpr std::uint32_t kTypes[] = {3, 14};
    std::string rsrc(dataAt[1] + group.size(), '\0');
    Put16(rsrc, 14, 2);
    for (std::size_t t = 0; t < 2; ++t) {
        Put32(rsrc, 16 + 8 * t, kTypes[t]);
        Put32(rsrc, 20 + 8 * t, 0x80000000u | kTypeDirs[t]);
        Put16(rsrc, kTypeDirs[t] + 14, 1);
        Put32(rsrc, kTypeDirs[t] + 16, 1);
        Put32(rsrc, kTypeDirs[t] + 20, 0x80000000u | kLangDirs[t]);
        Put16(rsrc, kLangDirs[t] + 14, 1);
        Put32(rsrc, kLangDirs[t] + 16, 0x409);
        Put32(rsrc, kLangDirs[t] + 20, kDataEntries[t]);
        Put32(rsrc, kDataEntries[t], static_cast<std::uint32_t>(kRsrcRva + dataAt[t]));
        Put32(rsrc, kDataEntries[t] + 4, static_cast<std::uint32_t>(data[t]->size()));
        rsrc.replace(dataAt[t], data[t]->size(), *data[t]);
    }

    const std::size_t rsrcRaw = (rsrc.size() + 0x1FF) / 0x200 * 0x200;
    std::string s(kRsrcOffset + rsrcRaw, '\0');
    s[0] = 'M';
    s[1] = 'Z';
    Put32(s, 0x3C, kPeOffset);
    s.replace(kPeOffset, 4, std::string("PE\0\0", 4));
    const std::size_t coff = kPeOffset + 4;
    Put16(s, coff, 0x14C);
    Put16(s, coff + 2, 1);
    Put16(s, coff + 16, 224);
    Put16(s, coff + 18, 0x0102);
    const std::size_t optional = coff + 20;
    Put16(s, optional, 0x10B);
    Put32(s, optional + 92, 16);
    Put32(s, optional + 96 + 2 * 8, kRsrcRva);
    Put32(s, optional + 96 + 2 * 8 + 4, static_cast<std::uint32_t>(rsrc.size()));
    const std::size_t section = optional + 224;
    s.replace(section, 5, ".rsrc");
    Put32(s, section + 8, static_cast<std::uint32_t>(rsrc.size()));
    Put32(s, section + 12, kRsrcRva);
    Put32(s, section + 16, static_cast<std::uint32_t>(rsrcRaw));
    Put32(s, section + 20, static_cast<std::uint32_t>(kRsrcOffset));
    s.replace(kRsrcOffset, rsrc.size(), rsrc);
    return s;
}

} // namespace IconProgram
