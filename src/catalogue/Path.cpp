// SPDX-License-Identifier: GPL-3.0-or-later
#include "catalogue/Path.h"

namespace {

// Below "/" every absolute path lies: its stripped form is then empty.
std::string_view WithoutTrailingSlashes(std::string_view path) noexcept
{
    path = Path::Trimmed(path);
    return path == "/" ? std::string_view() : path;
}

} // namespace

std::optional<CRelativePath> CRelativePath::Parse(std::string_view relative)
{
    CRelativePath path;
    const bool bNamed = Path::ForEachComponent(relative, "\\/", [&](std::string_view component) {
        if (component.find('\0') != std::string_view::npos)
            return false;
        if (component.empty() || component == ".")
            return true;
        if (component != "..")
            path.m_astrNames.emplace_back(component);
        else if (!path.m_astrNames.empty())
            path.m_astrNames.pop_back();
        else
            ++path.m_nUps;
        return true;
    });
    if (!bNamed)
        return std::nullopt;
    return path;
}

std::optional<std::string_view> CRelativePath::ClimbFrom(std::string_view root,
                                                         std::string_view folder) const
{
    if (root.empty() || folder.empty())
        return std::nullopt;
    // Below "/" every absolute path lies; the stripped root is then empty.
    const std::string_view base = WithoutTrailingSlashes(root);
    const std::string_view path = WithoutTrailingSlashes(folder);
    if (base.empty()
            ? folder.front() != '/'
            : !path.starts_with(base) || (path.size() > base.size() && path[base.size()] != '/'))
        return std::nullopt;

    std::size_t end = path.size();
    for (std::size_t n = 0; n < m_nUps && end > base.size(); ++n) {
        end = path.rfind('/', end - 1);
        while (end > base.size() && path[end - 1] == '/')
            --end;
    }
    if (end == 0)
        return folder.substr(0, 1); // "/"
    return path.substr(0, end);
}

std::optional<std::string> CRelativePath::ResolveFrom(std::string_view root,
                                                      std::string_view folder) const
{
    const std::optional<std::string_view> climbed = ClimbFrom(root, folder);
    if (!climbed)
        return std::nullopt;
    std::string out(*climbed);
    for (const std::string& name : m_astrNames) {
        if (out.back() != '/')
            out += '/';
        out += name;
    }
    return out;
}

std::optional<std::string> ResolveBelowRoot(std::string_view root, std::string_view folder,
                                            std::string_view relative)
{
    const std::optional<CRelativePath> path = CRelativePath::Parse(relative);
    if (!path)
        return std::nullopt;
    return path->ResolveFrom(root, folder);
}

namespace Path {

std::string_view Trimmed(std::string_view path) noexcept
{
    while (path.size() > 1 && path.back() == '/')
        path.remove_suffix(1);
    return path;
}

std::string Join(std::string_view folder, std::string_view name)
{
    if (folder.empty())
        return std::string(name);
    folder = Trimmed(folder);
    if (folder == "/")
        folder = {};
    while (!name.empty() && name.front() == '/')
        name.remove_prefix(1);
    std::string out;
    out.reserve(folder.size() + 1 + name.size());
    out.append(folder);
    out += '/';
    out.append(name);
    return out;
}

std::string FolderOf(std::string_view path)
{
    const std::size_t slash = path.rfind('/');
    if (slash == std::string_view::npos)
        return {};
    if (slash == 0)
        return "/";
    return std::string(path.substr(0, slash));
}

std::pair<std::string_view, std::string_view> SplitFileName(std::string_view name) noexcept
{
    const std::size_t dot = name.rfind('.');
    if (dot == std::string_view::npos)
        return {name, {}};
    return {name.substr(0, dot), name.substr(dot)};
}

} // namespace Path
