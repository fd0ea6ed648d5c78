// SPDX-License-Identifier: GPL-3.0-or-later
#include "catalogue/NameSet.h"

#include "catalogue/Text.h"

#include <bit>
#include <utility>

void CNameSet::Reserve(std::size_t count)
{
    const std::size_t slots = std::bit_ceil(count * 2 + 2);
    if (slots > m_arrSlots.size())
        Grow(slots);
}

bool CNameSet::Insert(std::string_view name)
{
    if ((m_nCount + 1) * 2 > m_arrSlots.size())
        Grow(std::max<std::size_t>(16, m_arrSlots.size() * 2));
    const std::size_t hash = Text::NoCaseHash()(name);
    Slot& slot = Find(name, hash);
    if (slot.nAt != kEmpty)
        return false;
    slot = {hash, m_strNames.size(), name.size()};
    m_strNames.append(name);
    ++m_nCount;
    return true;
}

void CNameSet::Release() noexcept
{
    std::vector<Slot>().swap(m_arrSlots);
    std::string().swap(m_strNames);
    m_nCount = 0;
}

CNameSet::Slot& CNameSet::Find(std::string_view name, std::size_t hash)
{
    const std::size_t mask = m_arrSlots.size() - 1;
    for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
        Slot& slot = m_arrSlots[i];
        if (slot.nAt == kEmpty)
            return slot;
        if (slot.nHash == hash &&
            Text::EqualsFolded(std::string_view(m_strNames).substr(slot.nAt, slot.nSize), name))
            return slot;
    }
}

void CNameSet::Grow(std::size_t slots)
{
    std::vector<Slot> old = std::exchange(m_arrSlots, std::vector<Slot>(slots));
    const std::size_t mask = slots - 1;
    for (const Slot& slot : old) {
        if (slot.nAt == kEmpty)
            continue;
        std::size_t i = slot.nHash & mask;
        while (m_arrSlots[i].nAt != kEmpty)
            i = (i + 1) & mask;
        m_arrSlots[i] = slot;
    }
}
