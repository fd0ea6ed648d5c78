// SPDX-License-Identifier: GPL-3.0-or-later
#include "view/ImageList.h"

int CImageList::Add(const QIcon& icon)
{
    m_arrIcons.push_back(icon);
    return Count() - 1;
}

bool CImageList::Remove(int index)
{
    if (index < 0 || index >= Count())
        return false;
    m_arrIcons.erase(m_arrIcons.begin() + index);
    return true;
}

QIcon CImageList::Icon(int index) const
{
    return index >= 0 && index < Count() ? m_arrIcons[static_cast<std::size_t>(index)] : QIcon();
}
