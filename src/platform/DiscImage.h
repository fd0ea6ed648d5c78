// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "catalogue/Volume.h"

#include <memory>
#include <string>

// Disc images opened as volumes, read-only, without mounting, by our own readers: ISO 9660
// (levels 1 to 3, Joliet, Rock Ridge), UDF (read first on bridge discs), raw CD images (2352 and
// 2448-byte sectors, modes 1 and 2), NRG images whose data starts at their first byte (DVDs'; CD
// images keep a pregap before it that is not read past yet), and any file of 2048-byte
// sectors whatever its name. A .cue sheet, a .ccd control file (with its .img) and a .mds
// descriptor (with its .mdf) open their last data track that holds a file system, as a mount
// shows a disc of several sessions: behind sound tracks, in a file of its own or not, its
// addresses taken as the disc's or as the track's own. Files they name are found beside them
// without regard to case; only the one holding that track is opened.
namespace DiscImage {

// Opens the image at imagePath (absolute, no trailing '/'). The volume's Root() is
// imagePath; a path inside the image is Root() + '/' + its path there, with the names a
// Linux mount of the image shows. RealPathForDesktop gives nullopt: a file must be copied
// out of the image before the desktop can open it. nullptr when the file is missing,
// unreadable, or not an image Quarrow can read. Reads only what tells the format.
std::shared_ptr<const CVolume> Open(const std::string& imagePath);

} // namespace DiscImage
