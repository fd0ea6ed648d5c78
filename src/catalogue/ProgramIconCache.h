// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "catalogue/Volume.h"

#include <cstddef>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

// Program icons already read, by the identity of the file version they came from, so that
// listing an application again reads none of its programs. Shared by the UI thread and the
// icon jobs, one let go while blocked included; every call locks.
class CProgramIconCache {
public:
    // The .ico bytes of a program's icon 0; empty when it has none. Never null once given out.
    using Icon = std::shared_ptr<const std::vector<unsigned char>>;

    // Beyond this many programs the cache starts again, so a session of huge drives stays
    // bounded.
    static constexpr std::size_t kMaxIcons = 65536;

    // nullptr when the version at identity has not been read.
    Icon Find(const CVolume::FileIdentity& identity) const;
    void Add(const CVolume::FileIdentity& identity, Icon icon);
    void Clear();
    std::size_t Size() const;

private:
    struct Hash {
        std::size_t operator()(const CVolume::FileIdentity& identity) const noexcept;
    };

    mutable std::mutex m_mutex;
    std::unordered_map<CVolume::FileIdentity, Icon, Hash> m_mapIcons; // guarded by m_mutex
};
