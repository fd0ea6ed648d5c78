// SPDX-License-Identifier: GPL-3.0-or-later
// Arbitrary bytes as a FAT image from its boot sector on, walked as ReaderWalk does. Whatever
// the bytes, this ends, stays within its memory limit, and what the reader gives keeps its
// promises.

#include "FuzzSupport.h"
#include "ReaderWalk.h"

#include "platform/FatReader.h"
#include "platform/SectorSource.h"

#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const std::string path = Fuzz::ScratchFolder() + "/image.img";
    Fuzz::WriteFile(path, Fuzz::AsText(data, size));
    const int h = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    FUZZ_CHECK(h >= 0);
    if (auto reader = CFatReader::Open(CSectorSource::Plain(h)))
        ReaderWalk::Walk(*reader);
    ::close(h);
    return 0;
}
