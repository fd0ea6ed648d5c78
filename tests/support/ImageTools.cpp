// SPDX-License-Identifier: GPL-3.0-or-later
#include "ImageTools.h"

#include <cstdlib>
#include <fstream>
#include <iterator>

namespace ImageTools {

bool HaveTool(const std::string& tool)
{
    return std::system(("command -v " + tool + " >/dev/null 2>&1").c_str()) == 0;
}

bool RunQuietly(const std::string& command)
{
    return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

std::string Quote(const std::string& s)
{
    return "'" + s + "'";
}

std::string ReadBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteBytes(const std::string& path, std::string_view bytes)
{
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        .write(bytes.data(), static_cast<long>(bytes.size()));
}

std::uint64_t Le(const std::string& data, std::size_t at, int bytes)
{
    std::uint64_t v = 0;
    for (int i = bytes - 1; i >= 0; --i)
        v = v << 8 | static_cast<unsigned char>(data[at + static_cast<std::size_t>(i)]);
    return v;
}

void PutLe(std::string& data, std::size_t at, int bytes, std::uint64_t value)
{
    for (int i = 0; i < bytes; ++i, value >>= 8)
        data[at + static_cast<std::size_t>(i)] = static_cast<char>(value & 0xFF);
}

namespace {

std::uint64_t Be32(const std::string& data, std::size_t at)
{
    std::uint64_t v = 0;
    for (std::size_t i = 0; i < 4; ++i)
        v = v << 8 | static_cast<unsigned char>(data[at + i]);
    return v;
}

} // namespace

std::vector<std::size_t> IsoRecords(const std::string& data, std::string_view prefix)
{
    std::vector<std::size_t> found;
    for (std::size_t at = 16 * 2048; at + 34 <= data.size(); ++at) {
        const std::size_t length = static_cast<unsigned char>(data[at]);
        const std::size_t nameLength = static_cast<unsigned char>(data[at + 32]);
        if (length < 34 || at + length > data.size() || 33 + nameLength > length ||
            nameLength < prefix.size() || data.compare(at + 33, prefix.size(), prefix) != 0)
            continue;
        if (Le(data, at + 2, 4) == Be32(data, at + 6) &&
            Le(data, at + 10, 4) == Be32(data, at + 14))
            found.push_back(at);
    }
    return found;
}

std::vector<std::size_t> UdfIdentifiers(const std::string& data, std::string_view name)
{
    std::vector<std::size_t> found;
    for (std::size_t at = 0; at + 40 <= data.size(); at += 4) {
        if (Le(data, at, 2) != 257)
            continue;
        const std::size_t nameLength = static_cast<unsigned char>(data[at + 19]);
        const std::size_t nameAt = at + 38 + Le(data, at + 36, 2);
        if (nameLength == name.size() + 1 && nameAt + nameLength <= data.size() &&
            data[nameAt] == 8 && data.compare(nameAt + 1, name.size(), name) == 0)
            found.push_back(at);
    }
    return found;
}

void ResealUdfTag(std::string& data, std::size_t at, std::size_t crcLength)
{
    PutLe(data, at + 10, 2, crcLength);
    unsigned crc = 0; // CRC-ITU-T, as UDF tags carry it
    for (std::size_t i = 0; i < crcLength; ++i) {
        crc ^= static_cast<unsigned char>(data[at + 16 + i]) << 8;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 0x8000) ? (crc << 1 ^ 0x1021) & 0xFFFF : (crc << 1) & 0xFFFF;
    }
    PutLe(data, at + 8, 2, crc);
    unsigned checksum = 0;
    for (std::size_t i = 0; i < 16; ++i)
        checksum += i == 4 ? 0 : static_cast<unsigned char>(data[at + i]);
    PutLe(data, at + 4, 1, checksum & 0xFF);
}

void AddUdfAllocation(std::string& data, std::size_t fe)
{
    const std::size_t extendedLength = Le(data, fe + 168, 4);
    PutLe(data, fe + 176 + extendedLength + 8, 8, 0);
    PutLe(data, fe + 172, 4, 16);
    ResealUdfTag(data, fe, 176 + extendedLength + 16 - 16);
}

} // namespace ImageTools
