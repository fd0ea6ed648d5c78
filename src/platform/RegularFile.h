// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "catalogue/Volume.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

// Reads exactly size bytes at offset of the open descriptor fd, again after interruptions
// and short reads; false on an error or at the end of the file.
bool PreadAll(int fd, void* buffer, std::size_t size, std::uint64_t offset);

// A regular file opened for reading at chosen offsets, so that parsers of large files read
// only the parts they need. FIFOs, sockets and devices are refused without being opened, so
// nothing blocks and no device sees an open.
class CRegularFile {
public:
    using Timestamp = CVolume::Timestamp;
    using Identity = CVolume::FileIdentity;
    using ReadStatus = CVolume::ReadStatus;

    CRegularFile() = default;
    ~CRegularFile();
    CRegularFile(const CRegularFile&) = delete;
    CRegularFile& operator=(const CRegularFile&) = delete;

    // False when path is not a regular file or cannot be opened; the object is then closed.
    // Closes any file opened before.
    bool Open(const std::string& path);
    // The same for a path that a listing has just shown as a regular file: no look first,
    // links not followed, anything else refused once opened (without blocking).
    bool OpenListed(const std::string& path);
    bool IsOpen() const noexcept { return m_hFile >= 0; }
    void Close() noexcept;

    // The size when the file was opened; 0 when closed.
    std::uint64_t Size() const noexcept { return m_nSize; }
    // An execute bit was set in the mode when the file was opened.
    bool IsExecutable() const noexcept { return m_bExecutable; }
    // Reads exactly size bytes at offset into buffer. False on a read error, at the end of the
    // file, or when closed; buffer may then be partly written.
    bool ReadAt(std::uint64_t offset, void* buffer, std::size_t size) const;

    // Reads the file from its start to its end into out, at most maxBytes: a file larger than
    // that when opened, or one that grows past it while being read, gives TooLarge, as does no
    // memory for the buffer. ReadError when a read fails or the file is closed. Unless Ok,
    // out is empty.
    ReadStatus ReadAll(std::string& out, std::size_t maxBytes) const;

    // The open file's identity as it is now; nullopt when closed.
    std::optional<Identity> GetIdentity() const;
    // The identity of what path names, links followed, without opening it; nullopt unless it
    // is a regular file.
    static std::optional<Identity> IdentityOf(const std::string& path);

private:
    // Keeps hFile (closing it otherwise) when it is a regular file.
    bool Adopt(int hFile);

    int m_hFile = -1;
    std::uint64_t m_nSize = 0;
    bool m_bExecutable = false;
};
