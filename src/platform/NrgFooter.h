// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <sys/types.h>

// The footer that ends an NRG image: chunks describing its tracks, then "NER5" and a 64-bit
// offset or "NERO" and a 32-bit one (big endian) pointing at the first chunk. libcdio reads
// it for every image it probes, trusting each count and length it holds, so it must be
// checked before any image reaches libcdio's NRG driver or libudf.
namespace NrgFooter {

enum class Kind {
    None,  // the file does not end in an NRG footer
    Sound, // every chunk lies inside the footer and describes 1 to 99 tracks consistently
    Unsafe // a footer the library would read out of bounds, leak or crash on
};

// What the last bytes of the open image (size bytes) are.
Kind Check(int hImage, off_t size);

} // namespace NrgFooter
