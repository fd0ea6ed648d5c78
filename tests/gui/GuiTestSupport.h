// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "MainWindow.h"
#include "WaitUntil.h"

#include <QAction>
#include <QIcon>
#include <QImage>
#include <QTest>
#include <QToolButton>

#include <stdexcept>
#include <string>

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

// What an icon draws at the file list's size, so that icons made apart compare equal.
inline QImage Picture(const QIcon& icon)
{
    return icon.pixmap(16, 16).toImage().convertToFormat(QImage::Format_ARGB32);
}
