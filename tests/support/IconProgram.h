// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "PeBuilder.h"

#include <cstdint>
#include <string>

// A program holding one 16 x 16 icon, laid out as a resource compiler does: listing it puts
// an image of its own in the file list. Header-only, so that the benchmarks share it too.
namespace IconProgram {

inline std::string WithIcon()
{
    using namespace PeBuilder;
    // Pixels that differ from one another, so that the image is no blank.
    std::string dib = Dib(16, 16, 32, '\0');
    for (std::uint32_t p = 0; p < 16 * 16; ++p)
        Put32(dib, 40 + 4 * p, 0xFF2060C0u + p);
    return BuildPe({{3, {{1, {}, dib}}}, {14, {{1, {}, GroupData({{16, 16, 32, 1}})}}}}).bytes;
}

} // namespace IconProgram
