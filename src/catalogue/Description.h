// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "catalogue/Descriptor.h"

#include <cstddef>
#include <string>
#include <string_view>

class CVolume;

// The text of the description pane for one application: the description file named by
// [description] file, else the lines line1, line2, ..., else one of the fixed texts.
namespace Description {

// Past this size a description file is refused rather than read: the pane must show the
// largest allowed one without stalling the window. Building the pane's document costs about
// 4 us per line on the UI thread (bench/responsiveness-bench.sh); at these caps it stays near
// 30 ms, within the 50 ms that the event loop may run late.
inline constexpr std::size_t kMaxDescriptionBytes = std::size_t{512} << 10;
// The cost follows lines rather than bytes, so a file of very short lines is refused past
// this many line breaks, whatever its size.
inline constexpr std::size_t kMaxDescriptionLines = 8000;

inline constexpr std::string_view kNoDescription = "No Description Available.";
inline constexpr std::string_view kNotFound = "Error: Description file not found.";
inline constexpr std::string_view kReadError = "Error reading description file.";
inline constexpr std::string_view kTooLarge = "Error: Description file too large.";
// Ends every line taken from the descriptor, the last one included.
inline constexpr std::string_view kLineEnd = "\r\r\n";

enum class Source : unsigned char {
    File,      // the description file's text
    Lines,     // line1, line2, ... each ending in kLineEnd
    None,      // kNoDescription
    NotFound,  // kNotFound: missing, not a regular file, or cannot be opened
    ReadError, // kReadError
    TooLarge,  // kTooLarge
};

struct Result {
    Source source = Source::None;
    std::string strText; // UTF-8
};

// Reads [description] through read; folder is the application's folder on volume (bytes, no
// trailing '/' except "/" itself), where the description file is read. Only a regular file is
// opened, so nothing blocks. A file larger than maxBytes, or one growing past it while being read,
// is TooLarge; so are lines that together pass maxBytes or kMaxDescriptionLines.
Result Build(const Descriptor::ReadKey& read, const CVolume& volume, const std::string& folder,
             std::size_t maxBytes = kMaxDescriptionBytes);

// The text for a widget that breaks lines at LF only: each CR CR LF, CR LF and lone CR
// becomes one "\n".
std::string ForDisplay(std::string_view text);

} // namespace Description
