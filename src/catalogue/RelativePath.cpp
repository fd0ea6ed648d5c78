// SPDX-License-Identifier: GPL-3.0-or-later
#include "catalogue/RelativePath.h"

namespace {

std::string_view WithoutTrailingSlashes(std::string_view path) noexcept
{
    while (!path.empty() && path.back() == '/')
        path.remove_suffix(1);
    return path;
}

} // namespace

std::optional<CRelativePath> CRelativePath::Parse(std::string_view relative)
{
    CRelativePath path;
    std::size_t start = 0;
    while (start <= relative.size()) {
        std::size_t end = relative.find_first_of("\\/", start);
        if (end == std::string_view::npos)
            end = relative.size();
        const std::string_view component = relative.substr(start, end - start);
        start = end + 1;
        if (component.find('\0') != std::string_view::npos)
            return std::nullopt;
        if (component.empty() || component == ".")
            continue;
        if (component != "..")
            path.m_astrNames.emplace_back(component);
        else if (!path.m_astrNames.empty())
            path.m_astrNames.pop_back();
        else
            ++path.m_nUps;
    }
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
