// SPDX-License-Identifier: GPL-3.0-or-later
// Arbitrary bytes as an ISO 9660 image from its volume descriptors on: the 16 blocks of
// system area before them are zeros here, so that mutations fall where the reader looks.
// Read as cooked sectors or, failing that, as raw ones, and walked as ReaderWalk does. Whatever the
// bytes, this ends, stays within its memory limit, and what the reader gives keeps its promises.

#include "FuzzSupport.h"
#include "ReaderWalk.h"

#include "platform/Iso9660Reader.h"
#include "platform/SectorSource.h"

#include <cstdint>
#include <string>

namespace {

constexpr std::size_t kSystemArea = 16 * CImageReader::kBlockSize;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const std::string path = Fuzz::ScratchFolder() + "/image.iso";
    std::string bytes(kSystemArea, '\0');
    bytes.append(Fuzz::AsText(data, size));
    Fuzz::WriteFile(path, bytes);
    const int h = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    FUZZ_CHECK(h >= 0);
    auto reader = CIso9660Reader::Open(CSectorSource::Plain(h));
    if (!reader)
        reader = CIso9660Reader::Open(CSectorSource::Raw(h));
    if (reader)
        ReaderWalk::Walk(*reader);
    reader.reset();
    ::close(h);
    return 0;
}
