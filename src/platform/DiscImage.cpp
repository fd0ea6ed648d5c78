// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/DiscImage.h"

#include "platform/CdControlFile.h"
#include "platform/CueSheet.h"
#include "platform/FatReader.h"
#include "platform/ImageVolume.h"
#include "platform/Iso9660Reader.h"
#include "platform/MdsDescriptor.h"
#include "platform/MountedVolume.h"
#include "platform/SectorSource.h"
#include "platform/UdfReader.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <fcntl.h>
#include <iterator>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

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
    CDescriptor(CDescriptor&& other) noexcept
        : m_h(other.Release())
    {}
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

// A regular file beside the descriptor file at path, named name there in any case; looked
// at before it is opened, so that no device sees an open, and checked again once it is.
CDescriptor OpenBeside(const std::string& path, const std::string& name, struct stat& st)
{
    // Names come from the descriptor's text: ".." is refused there, and so are absolute ones.
    if (name.empty() || name.starts_with('/') || name.starts_with('\\'))
        return CDescriptor(-1);
    const std::string folder = path.substr(0, std::max<std::size_t>(path.rfind('/'), 1));
    const std::optional<std::string> found = CMountedVolume(folder).ResolveNoCase(folder, name);
    if (!found || ::stat(found->c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return CDescriptor(-1);
    CDescriptor file(::open(found->c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (file.Get() < 0 || ::fstat(file.Get(), &st) != 0 || !S_ISREG(st.st_mode))
        return CDescriptor(-1);
    return file;
}

// The file named as path but for its extension, which becomes extension.
std::string SameBaseName(const std::string& path, std::string_view extension)
{
    const std::string name = path.substr(path.rfind('/') + 1);
    return name.substr(0, name.rfind('.')) + std::string(extension);
}

// A descriptor file's text, or nullopt when it is larger than maxBytes or cannot be read.
std::optional<std::string> ReadSmall(int h, off_t size, off_t maxBytes)
{
    if (size > maxBytes)
        return std::nullopt;
    std::string text(static_cast<std::size_t>(size), '\0');
    if (!ReadWhole(h, text))
        return std::nullopt;
    return text;
}

// The file system on one track: read at the track's disc address first, as a later
// session's own addresses are, then taking its first sector as block 0, as an image of the
// track alone has it.
std::unique_ptr<CImageReader> OpenTrack(int h, std::uint64_t offset, std::uint32_t sectorBytes,
                                        std::uint64_t sectors, std::uint64_t discBlock)
{
    for (const std::uint64_t first : {discBlock, std::uint64_t{0}}) {
        std::unique_ptr<CImageReader> reader =
            CUdfReader::Open(CSectorSource::Track(h, offset, sectorBytes, sectors, first));
        if (!reader)
            reader =
                CIso9660Reader::Open(CSectorSource::Track(h, offset, sectorBytes, sectors, first));
        if (reader || first == 0)
            return reader;
    }
    return nullptr;
}

// The sheet's last data track with a file system, as a mount shows the last session. Only
// its own file is opened; the other files named are looked at for their sizes, which place
// the tracks after them on the disc.
std::shared_ptr<const CVolume> OpenCueSheet(const std::string& cuePath, int hCue, off_t size)
{
    const std::optional<std::string> text = ReadSmall(hCue, size, kMaxCueBytes);
    const std::optional<CCueSheet> sheet = text ? CCueSheet::Parse(*text) : std::nullopt;
    if (!sheet)
        return nullptr;
    const std::string folder = cuePath.substr(0, std::max<std::size_t>(cuePath.rfind('/'), 1));
    std::vector<std::optional<std::uint64_t>> fileBytes;
    for (const CCueSheet::File& file : sheet->Files()) {
        const std::optional<std::string> path =
            file.m_eType == CCueSheet::FileType::Binary && !file.m_strName.starts_with('/')
                ? CMountedVolume(folder).ResolveNoCase(folder, file.m_strName)
                : std::nullopt;
        struct stat st {};
        fileBytes.push_back(path && ::stat(path->c_str(), &st) == 0 && S_ISREG(st.st_mode)
                                ? std::optional<std::uint64_t>(st.st_size)
                                : std::nullopt);
    }
    const auto& tracks = sheet->Tracks();
    for (auto it = tracks.rbegin(); it != tracks.rend(); ++it) {
        const std::uint32_t sectorBytes = CCueSheet::SectorBytes(it->m_eMode);
        if (!CCueSheet::IsData(it->m_eMode) || sectorBytes == 2324)
            continue;
        const std::optional<CCueSheet::Placement> place = sheet->Place(*it, fileBytes);
        if (!place || sheet->Files()[place->m_nFile].m_eType != CCueSheet::FileType::Binary)
            continue;
        struct stat st {};
        CDescriptor data = OpenBeside(cuePath, sheet->Files()[place->m_nFile].m_strName, st);
        if (data.Get() < 0 || st.st_size < kMinImageBytes)
            continue;
        std::unique_ptr<CImageReader> reader =
            OpenTrack(data.Get(), place->m_nOffset, sectorBytes, place->m_nSectors,
                      place->m_nDiscBlock.value_or(0));
        if (reader)
            return VolumeOver(cuePath, std::move(reader), st, data);
    }
    return nullptr;
}

// A .ccd's last data track with a file system, in the raw .img of the same base name; the
// volume's root is path.
std::shared_ptr<const CVolume> OpenControlFile(const std::string& path, int hCcd, off_t size)
{
    const std::optional<std::string> text =
        ReadSmall(hCcd, size, static_cast<off_t>(CCdControlFile::kMaxBytes));
    const std::optional<CCdControlFile> control =
        text ? CCdControlFile::Parse(*text) : std::nullopt;
    if (!control)
        return nullptr;
    struct stat st {};
    CDescriptor image = OpenBeside(path, SameBaseName(path, ".img"), st);
    if (image.Get() < 0 || st.st_size < kMinImageBytes)
        return nullptr;
    const auto& tracks = control->Tracks();
    for (auto it = tracks.rbegin(); it != tracks.rend(); ++it) {
        if (!it->m_bData)
            continue;
        // Sectors only up to the next track: a later one's lie after them.
        const std::uint64_t sectors =
            it == tracks.rbegin() ? UINT64_MAX : std::prev(it)->m_nStart - it->m_nStart;
        for (const std::uint64_t sector : control->ImageSectors(*it)) {
            if (sector > static_cast<std::uint64_t>(st.st_size) / CCdControlFile::kSectorBytes)
                continue;
            std::unique_ptr<CImageReader> reader =
                OpenTrack(image.Get(), sector * CCdControlFile::kSectorBytes,
                          CCdControlFile::kSectorBytes, sectors, it->m_nStart);
            if (reader)
                return VolumeOver(path, std::move(reader), st, image);
        }
    }
    return nullptr;
}

// A .mds's last data track with a file system, in the .mdf of the same base name; the
// volume's root is path.
std::shared_ptr<const CVolume> OpenMds(const std::string& path, int hMds, off_t size)
{
    const std::optional<std::string> bytes =
        ReadSmall(hMds, size, static_cast<off_t>(CMdsDescriptor::kMaxBytes));
    const std::optional<CMdsDescriptor> mds = bytes ? CMdsDescriptor::Parse(*bytes) : std::nullopt;
    if (!mds)
        return nullptr;
    struct stat st {};
    CDescriptor image = OpenBeside(path, SameBaseName(path, ".mdf"), st);
    if (image.Get() < 0 || st.st_size < kMinImageBytes)
        return nullptr;
    const auto& tracks = mds->Tracks();
    for (auto it = tracks.rbegin(); it != tracks.rend(); ++it) {
        if (!it->m_bData || it->m_nOffset >= static_cast<std::uint64_t>(st.st_size))
            continue;
        std::unique_ptr<CImageReader> reader =
            OpenTrack(image.Get(), it->m_nOffset, it->m_nSectorBytes, it->m_nSectors, it->m_nStart);
        if (reader)
            return VolumeOver(path, std::move(reader), st, image);
    }
    return nullptr;
}

// The descriptor file beside an image opened by its own name, when the image reads as
// nothing alone (its data track after sound); the volume's root stays the image's path.
std::shared_ptr<const CVolume> OpenThroughDescriptor(const std::string& imagePath)
{
    const bool bImg = EndsWithNoCase(imagePath, ".img");
    if (!bImg && !EndsWithNoCase(imagePath, ".mdf"))
        return nullptr;
    struct stat st {};
    CDescriptor file = OpenBeside(imagePath, SameBaseName(imagePath, bImg ? ".ccd" : ".mds"), st);
    if (file.Get() < 0)
        return nullptr;
    return bImg ? OpenControlFile(imagePath, file.Get(), st.st_size)
                : OpenMds(imagePath, file.Get(), st.st_size);
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
    if (EndsWithNoCase(imagePath, ".ccd"))
        return OpenControlFile(imagePath, file.Get(), st.st_size);
    if (EndsWithNoCase(imagePath, ".mds"))
        return OpenMds(imagePath, file.Get(), st.st_size);
    if (st.st_size < kMinImageBytes)
        return VolumeOver(imagePath, CFatReader::Open(CSectorSource::Plain(file.Get())), st, file);
    if (auto volume = VolumeOver(imagePath, OpenPlain(file), st, file))
        return volume;
    return OpenThroughDescriptor(imagePath);
}

} // namespace DiscImage
