// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Command ids: each is a toolbar button, a command and the id of its tooltip string.
namespace Command {
inline constexpr int kSelectDrive = 32772;
inline constexpr int kOpenFolder = 32773;
inline constexpr int kShowAppFiles = 32774;
inline constexpr int kShowAllFiles = 32775;
inline constexpr int kAbout = 32776;
inline constexpr int kSysAbout = 16; // the About item of the window menu
} // namespace Command

// Control ids, kept so that tooltips and tests can name the controls as the program does.
namespace Control {
inline constexpr int kCatalogTree = 1000;
inline constexpr int kFileList = 1001;
inline constexpr int kDescription = 1009;
inline constexpr int kStatusBar = 104;
inline constexpr int kToolBar = 158;
} // namespace Control
