// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>
#include <vector>

// What --add makes of one path: the volumes it stands for. An image (any regular file) is one
// volume, as is a folder with an autorun.inf at its top. Any other folder is searched, never
// leaving its file system, for disc images by name (.iso .img .bin .cue .ccd .mds .nrg .mdf
// .udf, and .ima .vfd floppies; any case; a .bin that a .cue beside it names, or an .img or .mdf
// that a .ccd or .mds of its base name describes, counts once, through that file) and for folders
// with an autorun.inf at their top, whose insides belong to them; a folder holding neither is one
// volume itself. Anything else (missing, a FIFO) is given back as it is, for opening to fail. path
// is absolute, without a trailing '/'. The volumes come sorted by path.
namespace VolumeFinder {

std::vector<std::string> Find(const std::string& path);

} // namespace VolumeFinder
