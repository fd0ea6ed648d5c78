// SPDX-License-Identifier: GPL-3.0-or-later
// Arbitrary bytes as a program or icon file. Whatever comes back must be an icon file a
// decoder can walk safely, and reading the same bytes from a file must give the same answer.

#include "FuzzSupport.h"

#include "catalogue/PeIconReader.h"
#include "platform/MountedVolume.h"

#include <algorithm>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;
using Images = CPeIconReader::Images;

std::uint32_t Get16(const Bytes& b, std::size_t at)
{
    return b[at] | static_cast<std::uint32_t>(b[at + 1]) << 8;
}

std::uint32_t Get32(const Bytes& b, std::size_t at)
{
    return Get16(b, at) | Get16(b, at + 2) << 16;
}

// A directory entry's first 8 bytes (size, colours, planes, bits) and the image's bytes.
using Image = std::pair<Bytes, Bytes>;

// A directory, then every image back to back in directory order up to the end.
std::vector<Image> CheckIconFile(const Bytes& ico, Images images)
{
    if (ico.empty())
        return {};
    FUZZ_CHECK(ico.size() >= 6);
    FUZZ_CHECK(ico.size() <= CPeIconReader::kMaxIconFileSize);
    FUZZ_CHECK(Get16(ico, 0) == 0 && Get16(ico, 2) == 1);
    const std::size_t count = Get16(ico, 4);
    FUZZ_CHECK(count >= 1 && count <= CPeIconReader::kMaxImages);
    FUZZ_CHECK(images == Images::All || count == 1);
    std::size_t expected = 6 + 16 * count;
    FUZZ_CHECK(expected <= ico.size());
    std::vector<Image> parsed;
    for (std::size_t i = 0; i < count; ++i) {
        const auto entry = ico.begin() + static_cast<std::ptrdiff_t>(6 + 16 * i);
        const std::size_t imageSize = Get32(ico, 6 + 16 * i + 8);
        FUZZ_CHECK(Get32(ico, 6 + 16 * i + 12) == expected);
        FUZZ_CHECK(imageSize > 0 && imageSize <= CPeIconReader::kMaxImageSize);
        FUZZ_CHECK(imageSize <= ico.size() - expected);
        const auto data = ico.begin() + static_cast<std::ptrdiff_t>(expected);
        parsed.emplace_back(Bytes(entry, entry + 8),
                            Bytes(data, data + static_cast<std::ptrdiff_t>(imageSize)));
        expected += imageSize;
    }
    FUZZ_CHECK(expected == ico.size());
    return parsed;
}

bool MayHoldIcons(std::string_view bytes)
{
    return bytes.starts_with("MZ") || bytes.starts_with(std::string_view("\0\0\1\0", 4));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const std::string path = Fuzz::ScratchFolder() + "/program.exe";
    const std::string_view bytes = Fuzz::AsText(data, size);

    // By position, by resource id (-1 never names one), and the extremes of both.
    for (const int index : {0, 1, 7, -1, -2, -100, INT_MAX, INT_MIN}) {
        const Bytes all = CPeIconReader::ExtractIconFromBytes(bytes, index, Images::All);
        const std::vector<Image> allImages = CheckIconFile(all, Images::All);
        const Bytes one = CPeIconReader::ExtractIconFromBytes(bytes, index, Images::ClosestTo16);
        const std::vector<Image> oneImage = CheckIconFile(one, Images::ClosestTo16);
        // The one image drawn is one of the icon's images, unchanged.
        FUZZ_CHECK(all.empty() == one.empty());
        if (!one.empty())
            FUZZ_CHECK(std::find(allImages.begin(), allImages.end(), oneImage.front()) !=
                       allImages.end());
        if (index == -1 || !MayHoldIcons(bytes))
            FUZZ_CHECK(all.empty());
    }

    if (MayHoldIcons(bytes)) {
        Fuzz::WriteFile(path, bytes);
        for (const Images images : {Images::All, Images::ClosestTo16}) {
            FUZZ_CHECK(CPeIconReader::ExtractIcon(CMountedVolume(Fuzz::ScratchFolder()), path, 0,
                                                  images) ==
                       CPeIconReader::ExtractIconFromBytes(bytes, 0, images));
        }
    }
    return 0;
}
