// SPDX-License-Identifier: GPL-3.0-or-later
// Arbitrary bytes as a disc image file: opened as a volume, walked through every folder,
// each name looked up again without regard to case, and each file read whole and in part.
// Whatever the bytes, this ends, stays within its memory limit, and what is read agrees
// with the sizes the volume gave. An input ending in an NRG footer is named ".nrg".

#include "FuzzSupport.h"

#include "platform/DiscImage.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr std::size_t kMaxFolders = 500;
constexpr std::size_t kMaxEntries = 5000;
constexpr std::size_t kMaxFileBytes = 1 << 20;

void ReadFile(const CVolume& volume, const std::string& path)
{
    const auto file = volume.OpenFile(path);
    if (!file)
        return;
    const std::uint64_t size = file->Size();
    std::string bytes;
    const CVolume::ReadStatus status = file->ReadAll(bytes, kMaxFileBytes);
    if (status == CVolume::ReadStatus::Ok)
        FUZZ_CHECK(bytes.size() == size);
    else
        FUZZ_CHECK(bytes.empty());
    if (size > kMaxFileBytes)
        FUZZ_CHECK(status == CVolume::ReadStatus::TooLarge);
    char buffer[16];
    FUZZ_CHECK(!file->ReadAt(size, buffer, 1));
    FUZZ_CHECK(!file->ReadAt(UINT64_MAX, buffer, 2));
    if (size >= sizeof buffer && file->ReadAt(size - sizeof buffer, buffer, sizeof buffer) &&
        status == CVolume::ReadStatus::Ok)
        FUZZ_CHECK(std::string_view(buffer, sizeof buffer) ==
                   std::string_view(bytes).substr(size - sizeof buffer));
    FUZZ_CHECK(volume.What(path) == CVolume::PathKind::File);
    FUZZ_CHECK(volume.IdentityOf(path).has_value());
}

void Walk(const CVolume& volume)
{
    std::vector<std::string> pending{volume.Root()};
    std::vector<CVolume::FolderId> entered;
    std::size_t entries = 0;
    const auto reader = volume.NewFolderReader();
    while (!pending.empty() && entered.size() < kMaxFolders) {
        const std::string folder = std::move(pending.back());
        pending.pop_back();
        const auto open = volume.OpenFolder(folder);
        if (!open)
            continue;
        const auto info = volume.GetFolderInfo(*open);
        FUZZ_CHECK(info.has_value());
        bool bSeen = false;
        for (const CVolume::FolderId& id : entered)
            bSeen = bSeen || id == info->id;
        if (bSeen)
            continue;
        entered.push_back(info->id);
        if (!reader->Start(*open))
            continue;
        CVolume::Entry entry;
        while (reader->Next(entry) && ++entries < kMaxEntries) {
            FUZZ_CHECK(!entry.strName.empty());
            const std::string path = folder + '/' + entry.strName;
            const auto resolved = volume.ResolveNoCase(folder, Fuzz::FlipAsciiCase(entry.strName));
            if (entry.strName.find_first_of("/\\") == std::string::npos && entry.strName != "." &&
                entry.strName != "..")
                FUZZ_CHECK(resolved.has_value());
            switch (entry.type) {
            case CVolume::EntryType::Folder:
                pending.push_back(path);
                break;
            case CVolume::EntryType::FolderLink:
                if (volume.LinkLeadsBelow(path, volume.Root()))
                    pending.push_back(path);
                break;
            case CVolume::EntryType::File:
                ReadFile(volume, path);
                break;
            }
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view bytes = Fuzz::AsText(data, size);
    const std::string_view tail = bytes.substr(bytes.size() > 12 ? bytes.size() - 12 : 0);
    const bool bNrg =
        tail.find("NER5") != std::string_view::npos || tail.find("NERO") != std::string_view::npos;
    const std::string path = Fuzz::ScratchFolder() + (bNrg ? "/image.nrg" : "/image.iso");
    Fuzz::WriteFile(path, bytes);
    if (const auto volume = DiscImage::Open(path)) {
        FUZZ_CHECK(volume->Root() == path);
        FUZZ_CHECK(volume->What(path) == CVolume::PathKind::Folder);
        FUZZ_CHECK(!volume->RealPathForDesktop(path + "/x"));
        Walk(*volume);
    }
    return 0;
}
