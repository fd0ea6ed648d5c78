// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// Paths inside the program: bytes, '/'-separated (a descriptor's '\' is read by
// CRelativePath). Pure: no file system access.
namespace Path {

// Without trailing '/', except "/" itself; an empty path stays empty.
std::string_view Trimmed(std::string_view path) noexcept;
// Each component of path between separators (any byte of separators), in order, empty ones
// included; stops at the first for which visit returns false, and returns false then.
template <class Visit>
bool ForEachComponent(std::string_view path, std::string_view separators, Visit&& visit)
{
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find_first_of(separators, start);
        if (end == std::string_view::npos)
            end = path.size();
        if (!visit(path.substr(start, end - start)))
            return false;
        start = end + 1;
    }
    return true;
}

// Joins with exactly one '/', so "/" + "a" is "/a", never "//a".
std::string Join(std::string_view folder, std::string_view name);
// The folder part of a path: everything before the last '/'; "/" for a file in the root.
std::string FolderOf(std::string_view path);
// Title and extension as the file list shows them: the extension runs from the last dot
// (dot included) to the end; "readme" has none, ".profile" has an empty title.
std::pair<std::string_view, std::string_view> SplitFileName(std::string_view name) noexcept;

} // namespace Path

// A path that a descriptor names relative to a folder ("..\common\about.txt", the folder
// part of "bin\..\*.exe"), resolved as Windows resolves it: by name, before the disc is
// asked, so "a\b\..\c" is "a\c" whatever "b" is. '\' and '/' both separate; empty and "."
// components mean nothing; ".." never climbs above the scan root, as it stays at a drive's
// root on Windows. Names keep their bytes and their case.
//
// Pure: no file system access. Looking the names up without regard to case is the caller's.
class CRelativePath {
public:
    // Nullopt when a component holds a NUL, which no file name can.
    static std::optional<CRelativePath> Parse(std::string_view relative);

    // How many folders the path climbs before it descends, after "x\.." pairs cancelled.
    std::size_t Ups() const noexcept { return m_nUps; }
    // The names it then descends through, in order.
    const std::vector<std::string>& Names() const noexcept { return m_astrNames; }

    // The folder the climb reaches from folder: folder itself or one of its ancestors, never
    // above root. Both are '/'-separated paths, and folder lies at or below root; nullopt
    // when it does not. The result is a prefix of folder, without a trailing '/' unless it
    // is "/".
    std::optional<std::string_view> ClimbFrom(std::string_view root, std::string_view folder) const;
    // The full path: ClimbFrom's folder joined with Names(); nullopt as for ClimbFrom.
    std::optional<std::string> ResolveFrom(std::string_view root, std::string_view folder) const;

private:
    std::size_t m_nUps = 0;
    std::vector<std::string> m_astrNames;
};

// CRelativePath::Parse(relative)->ResolveFrom(root, folder): the path that relative names
// from folder, never above root. Nullopt when relative holds a NUL or folder is not at or
// below root.
std::optional<std::string> ResolveBelowRoot(std::string_view root, std::string_view folder,
                                            std::string_view relative);
