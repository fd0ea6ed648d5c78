// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "catalogue/Text.h"

#include <QString>

#include <string_view>

// File names and descriptor values are bytes; people see them as UTF-8 when valid and as
// Windows-1252 otherwise.
inline QString DisplayText(std::string_view bytes)
{
    // Nearly every text is valid UTF-8: straight in, without a decoded copy on the way.
    if (Text::IsValidUtf8(bytes))
        return QString::fromUtf8(bytes.data(), static_cast<qsizetype>(bytes.size()));
    return QString::fromStdString(Text::DecodeForDisplay(bytes));
}
