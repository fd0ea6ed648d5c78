// SPDX-License-Identifier: GPL-3.0-or-later
#include "catalogue/ProgramIconCache.h"

#include <utility>

std::size_t
CProgramIconCache::Hash::operator()(const CVolume::FileIdentity& identity) const noexcept
{
    std::uint64_t h = identity.nInode;
    for (const std::uint64_t part :
         {identity.nDevice, identity.nSize, static_cast<std::uint64_t>(identity.modified.nSeconds),
          static_cast<std::uint64_t>(identity.modified.nNanoseconds)})
        h = (h ^ part) * 0x100000001b3ULL + (h >> 29);
    return static_cast<std::size_t>(h);
}

CProgramIconCache::Icon CProgramIconCache::Find(const CVolume::FileIdentity& identity) const
{
    std::lock_guard lock(m_mutex);
    const auto it = m_mapIcons.find(identity);
    return it == m_mapIcons.end() ? nullptr : it->second;
}

void CProgramIconCache::Add(const CVolume::FileIdentity& identity, Icon icon)
{
    if (!icon)
        return;
    std::lock_guard lock(m_mutex);
    if (m_mapIcons.size() >= kMaxIcons)
        m_mapIcons.clear();
    m_mapIcons.insert_or_assign(identity, std::move(icon));
}

void CProgramIconCache::Clear()
{
    std::unordered_map<CVolume::FileIdentity, Icon, Hash> dropped;
    {
        std::lock_guard lock(m_mutex);
        dropped.swap(m_mapIcons);
    }
    // Freed outside the lock, so a job is not kept waiting for it.
}

std::size_t CProgramIconCache::Size() const
{
    std::lock_guard lock(m_mutex);
    return m_mapIcons.size();
}
