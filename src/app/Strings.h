// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

// The program's string table: texts by id, exactly as the program has always shown them
// (spelling included). An id without a string gives an empty text.
namespace Strings {

inline constexpr int kAboutMenuItem = 101;

QString Load(int id);

} // namespace Strings
