// SPDX-License-Identifier: GPL-3.0-or-later
#include "catalogue/Catalogue.h"

#include <algorithm>

void CCatalogue::AddApplication(const std::string& category, CApplicationEntry application)
{
    auto [it, inserted] = m_mapIndex.try_emplace(category, m_arrCategories.size());
    if (inserted)
        m_arrCategories.push_back({category, {}});
    m_arrCategories[it->second].arrApplications.push_back(std::move(application));
    ++m_nApplications;
}

namespace {

// Sorts by display text; decoding once per element keeps the comparisons cheap.
template <class T, class TextOf>
void SortByDisplayText(std::vector<T>& items, TextOf textOf, const CCatalogue::TextOrder& order)
{
    std::vector<std::pair<std::string, T>> keyed;
    keyed.reserve(items.size());
    for (T& item : items)
        keyed.emplace_back(Text::DecodeForDisplay(textOf(item)), std::move(item));
    std::stable_sort(keyed.begin(), keyed.end(),
                     [&](const auto& a, const auto& b) { return order(a.first, b.first) < 0; });
    items.clear();
    for (auto& [key, item] : keyed)
        items.push_back(std::move(item));
}

} // namespace

void CCatalogue::Sort(const TextOrder& order)
{
    const TextOrder& compare = order ? order : TextOrder(Text::CompareNoCase);
    SortByDisplayText(
        m_arrCategories, [](const CCategoryEntry& c) -> const std::string& { return c.strText; },
        compare);
    for (CCategoryEntry& category : m_arrCategories)
        SortByDisplayText(
            category.arrApplications,
            [](const CApplicationEntry& a) -> const std::string& { return a.strName; }, compare);
    m_mapIndex.clear();
}
