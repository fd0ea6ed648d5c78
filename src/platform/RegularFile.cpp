// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/RegularFile.h"

#include "platform/PathAt.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <limits>
#include <new>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int kOpenFlags = O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY;

CRegularFile::Identity IdentityFrom(const struct stat& st) noexcept
{
    return {static_cast<std::uint64_t>(st.st_dev),
            static_cast<std::uint64_t>(st.st_ino),
            static_cast<std::uint64_t>(st.st_size),
            {st.st_mtim.tv_sec, st.st_mtim.tv_nsec},
            {st.st_ctim.tv_sec, st.st_ctim.tv_nsec}};
}

} // namespace

CRegularFile::~CRegularFile()
{
    Close();
}

bool CRegularFile::Open(const std::string& path)
{
    Close();
    // Stat first so that a FIFO or device is never opened at all.
    struct stat st {};
    const CPathAt at(path);
    if (::fstatat(at.Folder(), at.Name(), &st, 0) != 0 || !S_ISREG(st.st_mode))
        return false;
    return Adopt(::openat(at.Folder(), at.Name(), kOpenFlags));
}

bool CRegularFile::OpenListed(const std::string& path)
{
    Close();
    const CPathAt at(path);
    return at.IsValid() && Adopt(::openat(at.Folder(), at.Name(), kOpenFlags | O_NOFOLLOW));
}

bool CRegularFile::Adopt(int hFile)
{
    if (hFile < 0)
        return false;
    // The path may have been swapped for something else since it was looked at.
    struct stat st {};
    if (::fstat(hFile, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size < 0) {
        ::close(hFile);
        return false;
    }
    m_hFile = hFile;
    m_nSize = static_cast<std::uint64_t>(st.st_size);
    m_bExecutable = (st.st_mode & 0111) != 0;
    return true;
}

void CRegularFile::Close() noexcept
{
    if (m_hFile >= 0)
        ::close(m_hFile);
    m_hFile = -1;
    m_nSize = 0;
    m_bExecutable = false;
}

bool CRegularFile::ReadAt(std::uint64_t offset, void* buffer, std::size_t size) const
{
    if (m_hFile < 0)
        return false;
    constexpr auto kMaxOffset = static_cast<std::uint64_t>(std::numeric_limits<off_t>::max());
    if (offset > kMaxOffset || size > kMaxOffset - offset)
        return false;
    return PreadAll(m_hFile, buffer, size, offset);
}

bool PreadAll(int fd, void* buffer, std::size_t size, std::uint64_t offset)
{
    auto* pOut = static_cast<unsigned char*>(buffer);
    while (size > 0) {
        const ssize_t n = ::pread(fd, pOut, size, static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        pOut += n;
        offset += static_cast<std::uint64_t>(n);
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

CRegularFile::ReadStatus CRegularFile::ReadAll(std::string& out, std::size_t maxBytes) const
{
    out.clear();
    if (m_hFile < 0)
        return ReadStatus::ReadError;
    maxBytes = std::min(maxBytes, out.max_size() - 1);
    if (m_nSize > maxBytes)
        return ReadStatus::TooLarge;
    // One byte past the size, so that the end of the file shows without growing the buffer,
    // and one past the cap, so that a file that grew beyond it is seen to have done so.
    const std::size_t nLimit = maxBytes + 1;
    try {
        out.resize(static_cast<std::size_t>(m_nSize) + 1);
        std::size_t nUsed = 0;
        for (;;) {
            if (nUsed == out.size())
                out.resize(std::min(nUsed * 2, nLimit));
            const ssize_t n =
                ::pread(m_hFile, out.data() + nUsed, out.size() - nUsed, static_cast<off_t>(nUsed));
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0) {
                out.clear();
                return ReadStatus::ReadError;
            }
            if (n == 0)
                break;
            nUsed += static_cast<std::size_t>(n);
            if (nUsed > maxBytes) {
                out.clear();
                out.shrink_to_fit();
                return ReadStatus::TooLarge;
            }
        }
        out.resize(nUsed);
        // Only worth a copy when the file shrank a lot while being read.
        if (out.capacity() > nUsed + nUsed / 4 + 4096)
            out.shrink_to_fit();
    } catch (const std::bad_alloc&) {
        out.clear();
        out.shrink_to_fit();
        return ReadStatus::TooLarge;
    }
    return ReadStatus::Ok;
}

std::optional<CRegularFile::Identity> CRegularFile::GetIdentity() const
{
    struct stat st {};
    if (m_hFile < 0 || ::fstat(m_hFile, &st) != 0)
        return std::nullopt;
    return IdentityFrom(st);
}

std::optional<CRegularFile::Identity> CRegularFile::IdentityOf(const std::string& path)
{
    struct stat st {};
    const CPathAt at(path);
    if (::fstatat(at.Folder(), at.Name(), &st, 0) != 0 || !S_ISREG(st.st_mode))
        return std::nullopt;
    return IdentityFrom(st);
}
