// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "WaitUntil.h"

#include <QTest>

#include <filesystem>
#include <string>

// Makes folder the current folder for the life of the object: the program looks for
// autorun.inf there.
class CCurrentFolder {
public:
    explicit CCurrentFolder(const std::string& folder)
        : m_previous(std::filesystem::current_path())
    {
        std::filesystem::current_path(folder);
    }
    ~CCurrentFolder() { std::filesystem::current_path(m_previous); }
    CCurrentFolder(const CCurrentFolder&) = delete;
    CCurrentFolder& operator=(const CCurrentFolder&) = delete;

private:
    std::filesystem::path m_previous;
};

#include <QIcon>
#include <QImage>

// What an icon draws at the file list's size, so that icons made apart compare equal.
inline QImage Picture(const QIcon& icon)
{
    return icon.pixmap(16, 16).toImage().convertToFormat(QImage::Format_ARGB32);
}
