// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "library/LibraryRecord.h"

#include <string>

class CVolume;

// Reading a volume for the library; each call reads the volume, so it runs on a worker.
namespace LibraryCatalogue {

// Tells the volume from others by what it holds, whatever its path: the image file's size
// and its bytes where ISO 9660 and UDF keep their volume descriptors (imagePath empty for a
// folder), the root's autorun.inf and the names and sizes of the root's entries. A few KiB
// read, however large the volume.
std::string Identity(const CVolume& volume, const std::string& imagePath);

// The applications as the window lists and describes them, and every regular file, by one
// walk from the root as the scan makes it.
CLibraryContents Read(const CVolume& volume);

// path inside the volume: without Root() and the '/' after it; "" for Root() itself.
std::string Inside(const CVolume& volume, const std::string& path);

} // namespace LibraryCatalogue
