// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// What tests need to build and craft disc images: the image tools run quietly, files read and
// written whole, and the byte patches that turn a sound image into a hostile one.
namespace ImageTools {

bool HaveTool(const std::string& tool);
// Runs a command with its output dropped; false when it failed.
bool RunQuietly(const std::string& command);
std::string Quote(const std::string& s);
std::string ReadBytes(const std::string& path);
void WriteBytes(const std::string& path, std::string_view bytes);

std::uint64_t Le(const std::string& data, std::size_t at, int bytes);
void PutLe(std::string& data, std::size_t at, int bytes, std::uint64_t value);

// Offsets of the ISO 9660 directory records whose names start with prefix (raw names, as
// "APP" or "NOTES.TXT;1"), told from other bytes by their both-endian fields.
std::vector<std::size_t> IsoRecords(const std::string& data, std::string_view prefix);

// Offsets of the UDF file identifier descriptors named name (8-bit names).
std::vector<std::size_t> UdfIdentifiers(const std::string& data, std::string_view name);
// Gives the UDF descriptor at `at` a fresh CRC over crcLength bytes and a fresh checksum.
void ResealUdfTag(std::string& data, std::size_t at, std::size_t crcLength);
// Gives the UDF file entry at fe (one short allocation descriptor) a second, empty one.
void AddUdfAllocation(std::string& data, std::size_t fe);

} // namespace ImageTools
