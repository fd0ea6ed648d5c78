// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <string_view>
#include <unistd.h>

// What the fuzz targets share: a failed check aborts, so libFuzzer keeps the input as a
// crash; each process gets one scratch folder, removed at a normal exit.
#define FUZZ_CHECK(condition)                                                                      \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition);     \
            std::abort();                                                                          \
        }                                                                                          \
    } while (false)

namespace Fuzz {

// A folder of this process's own under $TMPDIR (or /tmp), made on first use.
inline const std::string& ScratchFolder()
{
    // Never destroyed, so that the exit handler can still read it.
    static const std::string* const folder = [] {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/quarrow-fuzz-XXXXXX";
        if (!::mkdtemp(pattern.data())) {
            std::perror("mkdtemp");
            std::abort();
        }
        return new std::string(pattern);
    }();
    static const bool registered = std::atexit([] {
                                       std::error_code ec;
                                       std::filesystem::remove_all(*folder, ec);
                                   }) == 0;
    (void)registered;
    return *folder;
}

// Replaces the file's content in place, keeping its inode, as an editor saving over it does.
inline void WriteFile(const std::string& path, std::string_view bytes)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    FUZZ_CHECK(fd >= 0);
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        FUZZ_CHECK(n > 0);
        done += static_cast<std::size_t>(n);
    }
    ::close(fd);
}

inline std::string_view AsText(const unsigned char* data, std::size_t size)
{
    return {reinterpret_cast<const char*>(data), size};
}

inline char FlipAsciiCase(char c)
{
    if (c >= 'a' && c <= 'z')
        return static_cast<char>(c - 'a' + 'A');
    if (c >= 'A' && c <= 'Z')
        return static_cast<char>(c - 'A' + 'a');
    return c;
}

inline std::string FlipAsciiCase(std::string_view s)
{
    std::string out(s);
    for (char& c : out)
        c = FlipAsciiCase(c);
    return out;
}

} // namespace Fuzz
