#pragma once

#include <QIcon>

#include <vector>

// The small images of the file list, addressed by index; removing one moves the rest down.
// UI thread only.
class CImageList {
public:
    int Add(const QIcon& icon);
    bool Remove(int index);
    int Count() const noexcept { return static_cast<int>(m_arrIcons.size()); }
    // An empty icon for an index out of range.
    QIcon Icon(int index) const;

private:
    std::vector<QIcon> m_arrIcons;
};
