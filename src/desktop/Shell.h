// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>

// Hands files and folders to the desktop. Results follow the Windows shell's convention, so
// that one table turns them into messages: above 32 means accepted, 32 and below is an error.
// Plain C++ on purpose: the GIO header behind it clashes with Qt's keywords.
namespace Shell {

inline constexpr int kAccepted = 42;
inline constexpr int kErrOutOfResources = 0;
inline constexpr int kErrFileNotFound = 2;
inline constexpr int kErrPathNotFound = 3;
inline constexpr int kErrAccessDenied = 5;
inline constexpr int kErrNoMemory = 8; // never given here, though callers know its message
inline constexpr int kErrBadFormat = 11;
inline constexpr int kErrShare = 26;
inline constexpr int kErrAssocIncomplete = 27;
inline constexpr int kErrNoAssoc = 31;

// Opens path (bytes) with verb nullptr, "" or "open" (any case); another verb gives
// kErrNoAssoc. A regular file that starts with an ELF header or "#!", that we may execute and
// whose name gives it no document type (.txt, .pdf, .htm, .exe...: only program types or
// none) is started directly, without a shell and without arguments, in workingFolder or, when that
// is empty, in the file's own folder; it is not waited for. Anything else, folders included,
// goes to the default application of its MIME type (by name and content); the working folder
// then only has to exist. A relative path is taken from workingFolder when one is given.
// Returns once the hand-over is done: kAccepted, or kErrFileNotFound (also for empty paths and
// paths holding NUL), kErrPathNotFound (a missing working folder, or a file in the path),
// kErrNoAssoc (no default application), kErrAssocIncomplete (it could not be started), or an
// error of starting a program (see ResultForExecError). UI thread or any thread.
int Execute(const std::string& path, const char* verb, const std::string& workingFolder);

// The result code for an errno of starting a program: permission refused (a disc mounted
// without execute permission, an interpreter we may not run) gives kErrAccessDenied, a format
// the system cannot run kErrBadFormat, a missing file or interpreter kErrFileNotFound, a file
// open for writing kErrShare, a lack of memory or processes kErrOutOfResources.
int ResultForExecError(int errnum);

} // namespace Shell
