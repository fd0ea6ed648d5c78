// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/DiscImage.h"

#include "platform/ImageVolume.h"
#include "platform/NrgFooter.h"

#include <cerrno>
#include <cstdint>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace {

// A .cue sheet is text of a few lines; anything larger is not one.
constexpr off_t kMaxCueBytes = 64 * 1024;

bool EndsWithNoCase(const std::string& path, std::string_view suffix)
{
    if (path.size() < suffix.size())
        return false;
    for (std::size_t i = 0; i < suffix.size(); ++i) {
        char c = path[path.size() - suffix.size() + i];
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c + 32);
        if (c != suffix[i])
            return false;
    }
    return true;
}

// An open descriptor, closed when it goes.
class CDescriptor {
public:
    explicit CDescriptor(int h) noexcept
        : m_h(h)
    {}
    ~CDescriptor()
    {
        if (m_h >= 0)
            ::close(m_h);
    }
    CDescriptor(const CDescriptor&) = delete;
    CDescriptor& operator=(const CDescriptor&) = delete;
    int Get() const noexcept { return m_h; }
    int Release() noexcept { return std::exchange(m_h, -1); }

private:
    int m_h;
};

// libcdio opens the files a sheet names itself, by name: each must be a regular file, or
// the open could block on a FIFO. Names are taken as libcdio takes them, relative to the
// sheet's folder.
bool CueNamesOnlyRegularFiles(const std::string& cuePath, int hCue, off_t size)
{
    std::string text(static_cast<std::size_t>(size), '\0');
    if (::pread(hCue, text.data(), text.size(), 0) != static_cast<ssize_t>(text.size()))
        return false;
    const std::string folder = cuePath.substr(0, cuePath.rfind('/') + 1);
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t end = text.find('\n', at);
        if (end == std::string::npos)
            end = text.size();
        std::string_view line(text.data() + at, end - at);
        at = end + 1;
        while (!line.empty() && (line.front() == ' ' || line.front() == '\t'))
            line.remove_prefix(1);
        if (!line.starts_with("FILE") && !line.starts_with("file"))
            continue;
        const std::size_t open = line.find('"');
        const std::size_t close = open == std::string_view::npos ? open : line.find('"', open + 1);
        if (close == std::string_view::npos)
            continue;
        const std::string_view name = line.substr(open + 1, close - open - 1);
        const std::string path =
            name.starts_with('/') ? std::string(name) : folder + std::string(name);
        struct stat st {};
        if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
            return false;
    }
    return true;
}

// Below this no file system we read fits: the volume descriptors follow 16 blocks of system
// area. libcdio's NRG probe, which every UDF open runs, misreads files shorter than its footer.
constexpr off_t kMinImageBytes = 17 * 2048;

} // namespace

namespace DiscImage {

std::shared_ptr<const CVolume> Open(const std::string& imagePath)
{
    if (imagePath.empty() || imagePath.front() != '/' || imagePath.back() == '/' ||
        imagePath.find('\0') != std::string::npos)
        return nullptr;
    // O_NONBLOCK: a FIFO under the image's name must not hold the open.
    CDescriptor file(::open(imagePath.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    struct stat st {};
    if (file.Get() < 0 || ::fstat(file.Get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size == 0)
        return nullptr;

    std::unique_ptr<CImageReader> reader;
    if (EndsWithNoCase(imagePath, ".cue")) {
        if (st.st_size <= kMaxCueBytes &&
            CueNamesOnlyRegularFiles(imagePath, file.Get(), st.st_size))
            reader = CImageReader::OpenCue(imagePath);
    } else {
        // The library reopens the image by name: through the descriptor it reads the very
        // file checked above, even when the name is replaced or removed meanwhile.
        const std::string self = "/proc/self/fd/" + std::to_string(file.Get());
        if (st.st_size < kMinImageBytes)
            return nullptr;
        // Only a sound NRG footer may reach libcdio's NRG driver, and only a file without
        // one libudf, which probes for NRG; plain ISO 9660 is read without either.
        const NrgFooter::Kind nrg = NrgFooter::Check(file.Get(), st.st_size);
        if (nrg == NrgFooter::Kind::Sound) {
            reader = CImageReader::OpenNrgUdf(self);
            if (!reader)
                reader = CImageReader::OpenNrg(self);
        } else if (nrg == NrgFooter::Kind::None) {
            reader = CImageReader::OpenUdf(self);
        }
        if (!reader)
            reader = CImageReader::OpenIso(self);
        if (!reader)
            reader = CImageReader::OpenRawIso(self);
    }
    if (!reader)
        return nullptr;
    // Device and inode of the image make one number that tells its files from others'.
    const std::uint64_t device = (static_cast<std::uint64_t>(st.st_dev) << 40) ^
                                 static_cast<std::uint64_t>(st.st_ino) ^ (std::uint64_t{1} << 63);
    return std::make_shared<const CImageVolume>(
        imagePath, std::move(reader), device,
        CVolume::Timestamp{st.st_ctim.tv_sec, st.st_ctim.tv_nsec}, file.Release());
}

} // namespace DiscImage
