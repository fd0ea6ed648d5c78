// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "WaitUntil.h"

#include <QAction>
#include <QTest>
#include <QToolButton>

#include <filesystem>
#include <stdexcept>
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

// A command of the window, found by the object name that its action and its toolbar button
// both carry; a test that names a missing one fails at once.
inline QAction& Action(QObject& window, const char* name)
{
    auto* action = window.findChild<QAction*>(QString::fromLatin1(name));
    if (!action)
        throw std::runtime_error(std::string("no action ") + name);
    return *action;
}
inline QToolButton* ToolButton(QObject& window, const char* name)
{
    auto* button = window.findChild<QToolButton*>(QString::fromLatin1(name));
    if (!button)
        throw std::runtime_error(std::string("no button ") + name);
    return button;
}
