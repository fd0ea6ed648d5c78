// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <cstdint>
#include <list>
#include <memory>
#include <string>
#include <string_view>

class CVolume;

// Reads keys of INI-style files by the rules of the Windows private-profile read:
// section and key names without regard to case (a section line without its ']' names
// the section up to the line's end), blanks around names and values trimmed,
// one pair of enclosing quotes dropped, values cut to 4095 bytes, first section and
// first key of a name win, ';' comment lines, CR LF / LF / CR line ends, a UTF-8 BOM
// ignored. Every read checks the file again (device, inode, size, modification time),
// so it sees the current content, but a file is parsed only when it changed.
//
// Not thread-safe: each thread that reads descriptors owns its own reader.
class CProfileReader {
public:
    static constexpr std::size_t kBufferSize = 4096; // values keep kBufferSize - 1 bytes

    CProfileReader();
    ~CProfileReader();
    CProfileReader(const CProfileReader&) = delete;
    CProfileReader& operator=(const CProfileReader&) = delete;

    // The key's value in the file at filePath on volume, or defaultValue (with its trailing
    // spaces removed) when the file, the section or the key is missing, or the path is not a
    // regular file. Never blocks on FIFOs or devices.
    std::string GetString(const CVolume& volume, const std::string& filePath,
                          std::string_view section, std::string_view key,
                          std::string_view defaultValue);

    // How many times a file was parsed; lets tests prove the cache works.
    std::uint64_t ParseCount() const noexcept { return m_nParses; }

private:
    struct CParsedFile;
    std::shared_ptr<const CParsedFile> Load(const CVolume& volume, const std::string& filePath);

    std::list<std::shared_ptr<const CParsedFile>> m_lstCache; // most recent first
    std::uint64_t m_nParses = 0;
};
