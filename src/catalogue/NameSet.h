// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// A set of names compared as Text::EqualsFolded compares them. The names share one buffer
// and the index is one flat table: a listing adds tens of thousands of names, and a node per
// name cost more than the look-ups.
class CNameSet {
public:
    // Room for count names without growing.
    void Reserve(std::size_t count);
    // False when an equal name is in the set already.
    bool Insert(std::string_view name);
    std::size_t Size() const noexcept { return m_nCount; }
    // Empties the set and gives its memory back.
    void Release() noexcept;

private:
    struct Slot {
        std::size_t nHash = 0;
        std::size_t nAt = kEmpty; // where the name starts in m_strNames
        std::size_t nSize = 0;
    };
    static constexpr std::size_t kEmpty = static_cast<std::size_t>(-1);

    // Where name (hashed to hash) is, or the empty slot it would go to.
    Slot& Find(std::string_view name, std::size_t hash);
    void Grow(std::size_t slots);

    std::vector<Slot> m_arrSlots; // a power of two in size, at most half full
    std::string m_strNames;
    std::size_t m_nCount = 0;
};
