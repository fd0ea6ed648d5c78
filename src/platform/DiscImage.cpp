// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/DiscImage.h"

#include "platform/CueSheet.h"
#include "platform/FatReader.h"
#include "platform/ImageVolume.h"
#include "platform/Iso9660Reader.h"
#include "platform/MountedVolume.h"
#include "platform/SectorSource.h"
#include "platform/UdfReader.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <fcntl.h>
#include <optional>
#include <string>
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

// Below this no disc's file system fits: the volume descriptors follow 16 blocks of system
// area. FAT images may be smaller.
constexpr off_t kMinImageBytes = 17 * 2048;

// The volume over an image read through its open descriptor, which the volume keeps.
std::shared_ptr<const CVolume> VolumeOver(const std::string& root,
                                          std::unique_ptr<CImageReader> reader,
                                          const struct stat& st, CDescriptor& image)
{
    if (!reader)
        return nullptr;
    // Device and inode of the image make one number that tells its files from others'.
    const std::uint64_t device = (static_cast<std::uint64_t>(st.st_dev) << 40) ^
                                 static_cast<std::uint64_t>(st.st_ino) ^ (std::uint64_t{1} << 63);
    return std::make_shared<const CImageVolume>(
        root, std::move(reader), device, CVolume::Timestamp{st.st_ctim.tv_sec, st.st_ctim.tv_nsec},
        image.Release());
}

// UDF first: a bridge disc's ISO 9660 names are the short ones. An NRG image's data track
// starts the file, so it reads as plain or raw sectors like any other.
std::unique_ptr<CImageReader> OpenPlain(const CDescriptor& image)
{
    std::unique_ptr<CImageReader> reader = CUdfReader::Open(CSectorSource::Plain(image.Get()));
    if (!reader)
        reader = CIso9660Reader::Open(CSectorSource::Plain(image.Get()));
    if (!reader)
        reader = CUdfReader::Open(CSectorSource::Raw(image.Get()));
    if (!reader)
        reader = CIso9660Reader::Open(CSectorSource::Raw(image.Get()));
    // Floppy and hard disk images last: a disc's system area may begin like a boot sector.
    if (!reader)
        reader = CFatReader::Open(CSectorSource::Plain(image.Get()));
    return reader;
}

bool ReadWhole(int h, std::string& text)
{
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n =
            ::pread(h, text.data() + done, text.size() - done, static_cast<off_t>(done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// The sheet's first data track, read from its file alone: no other file the sheet names
// (sound tracks, CD-TEXT) is opened, and nothing by a name the sheet does not give.
std::shared_ptr<const CVolume> OpenCueSheet(const std::string& cuePath, int hCue, off_t size)
{
    if (size > kMaxCueBytes)
        return nullptr;
    std::string text(static_cast<std::size_t>(size), '\0');
    if (!ReadWhole(hCue, text))
        return nullptr;
    const std::optional<CCueSheet> sheet = CCueSheet::Parse(text);
    const CCueSheet::Track* pTrack = sheet ? sheet->FirstDataTrack() : nullptr;
    if (!pTrack)
        return nullptr;
    // Readers start at the file's first byte; a track after others, or after a pregap kept
    // in the file, would need an offset they cannot take.
    const std::optional<std::size_t> fileIndex = sheet->FileStartingWith(*pTrack);
    if (!fileIndex)
        return nullptr;
    const CCueSheet::File& dataFile = sheet->Files()[*fileIndex];
    if (dataFile.m_eType != CCueSheet::FileType::Binary || dataFile.m_strName.starts_with('/') ||
        dataFile.m_strName.starts_with('\\'))
        return nullptr;
    // Sheets written on Windows name DZONE.BIN for dzone.bin; ".." is refused there.
    const std::string folder = cuePath.substr(0, std::max<std::size_t>(cuePath.rfind('/'), 1));
    const std::optional<std::string> dataPath =
        CMountedVolume(folder).ResolveNoCase(folder, dataFile.m_strName);
    // A look first, so that no device sees an open; the descriptor is checked again.
    struct stat st {};
    if (!dataPath || ::stat(dataPath->c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return nullptr;
    CDescriptor data(::open(dataPath->c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (data.Get() < 0 || ::fstat(data.Get(), &st) != 0 || !S_ISREG(st.st_mode) ||
        st.st_size < kMinImageBytes)
        return nullptr;

    std::unique_ptr<CImageReader> reader;
    switch (CCueSheet::SectorBytes(pTrack->m_eMode)) {
    case 2048:
        reader = CUdfReader::Open(CSectorSource::Plain(data.Get()));
        if (!reader)
            reader = CIso9660Reader::Open(CSectorSource::Plain(data.Get()));
        break;
    case 2336:
    case 2352:
        reader = CUdfReader::Open(
            CSectorSource::Raw(data.Get(), CCueSheet::SectorBytes(pTrack->m_eMode)));
        if (!reader)
            reader = CIso9660Reader::Open(
                CSectorSource::Raw(data.Get(), CCueSheet::SectorBytes(pTrack->m_eMode)));
        break;
    default:
        break;
    }
    return VolumeOver(cuePath, std::move(reader), st, data);
}

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
    if (EndsWithNoCase(imagePath, ".cue"))
        return OpenCueSheet(imagePath, file.Get(), st.st_size);
    if (st.st_size < kMinImageBytes)
        return VolumeOver(imagePath, CFatReader::Open(CSectorSource::Plain(file.Get())), st, file);
    return VolumeOver(imagePath, OpenPlain(file), st, file);
}

} // namespace DiscImage
