// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QIcon>

#include <vector>

// The small images of the file list, addressed by index; removing one moves the rest down.
// UI thread only.
class CImageList {
public:
    int Add(const QIcon& icon);
    bool Remove(int index);
    // Removes every image whose index drop() accepts, in one pass; the rest move down.
    template <class Drop>
    void RemoveWhere(Drop drop)
    {
        std::vector<QIcon> kept;
        kept.reserve(m_arrIcons.size());
        for (std::size_t i = 0; i < m_arrIcons.size(); ++i)
            if (!drop(static_cast<int>(i)))
                kept.push_back(std::move(m_arrIcons[i]));
        m_arrIcons = std::move(kept);
    }
    int Count() const noexcept { return static_cast<int>(m_arrIcons.size()); }
    // An empty icon for an index out of range.
    QIcon Icon(int index) const;

private:
    std::vector<QIcon> m_arrIcons;
};
