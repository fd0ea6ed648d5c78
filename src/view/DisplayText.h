// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "catalogue/Text.h"

#include <QString>

#include <string_view>

// File names and descriptor values are bytes; people see them as UTF-8 when valid and as
// Windows-1252 otherwise.
inline QString DisplayText(std::string_view bytes)
{
    return QString::fromStdString(Text::DecodeForDisplay(bytes));
}
