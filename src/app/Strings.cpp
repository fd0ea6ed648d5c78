// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/Strings.h"

#include "app/Commands.h"

QString Strings::Load(int id)
{
    switch (id) {
    case kAboutMenuItem:
        return QStringLiteral("&About Quarrow...");
    case Control::kDescription:
        return QStringLiteral("Description of the selected application");
    case Command::kSelectDrive:
        return QStringLiteral("Select drive to scan for applications");
    case Command::kOpenFolder:
        return QStringLiteral("Open the folder contaning the currently selected application");
    case Command::kShowAppFiles:
        return QStringLiteral("Show only application related files");
    case Command::kShowAllFiles:
        return QStringLiteral("Show all files");
    case Command::kAbout:
        return QStringLiteral("About Quarrow");
    default:
        return {};
    }
}
