// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdio>
#include <string>
#include <vector>

// The library's command-line operations on the store at CLibraryStore::DefaultPath(). Each
// writes its lines, tab-separated, to out and what went wrong to err, and returns the exit
// status: 0 done, 1 when something could not be read or found. Arguments are bytes as given.
namespace LibraryCommand {

// Catalogues the volumes each path stands for (see VolumeFinder), one line per volume; a
// progress line goes to err when it is a terminal.
int Add(const std::vector<std::string>& paths, std::FILE* out, std::FILE* err);
int ListVolumes(std::FILE* out, std::FILE* err);
int Search(const std::vector<std::string>& words, std::FILE* out, std::FILE* err);
int Forget(const std::vector<std::string>& paths, std::FILE* out, std::FILE* err);

// path made absolute against the current folder, "." and ".." and repeated '/' taken out
// by name, without a trailing '/'.
std::string Absolute(const std::string& path);

} // namespace LibraryCommand
