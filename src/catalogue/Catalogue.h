// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "catalogue/Text.h"

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

// What a scan found: categories in order of discovery, each with its applications.
// Texts are the descriptor's bytes; paths are the walk's bytes.
struct CApplicationEntry {
    std::string strName;
    std::string strDescriptorPath;
    std::string strFolder;
};

struct CCategoryEntry {
    std::string strText; // as the first descriptor found with this category wrote it
    std::vector<CApplicationEntry> arrApplications;
};

class CCatalogue {
public:
    // Categories equal without regard to case share the entry of the first one found.
    void AddApplication(const std::string& category, CApplicationEntry application);
    // Orders two display texts (UTF-8, as Text::DecodeForDisplay gives them): negative,
    // zero or positive. Called only on the thread that sorts, and only during Sort.
    using TextOrder = std::function<int(std::string_view, std::string_view)>;
    // Categories, and the applications of each, by display text in the given order
    // (Text::CompareNoCase when empty); texts equal in it keep their order of discovery.
    void Sort(const TextOrder& order = {});

    const std::vector<CCategoryEntry>& Categories() const noexcept { return m_arrCategories; }
    std::size_t ApplicationCount() const noexcept { return m_nApplications; }

private:
    std::vector<CCategoryEntry> m_arrCategories;
    std::unordered_map<std::string, std::size_t, Text::NoCaseHash, Text::NoCaseEqual> m_mapIndex;
    std::size_t m_nApplications = 0;
};
