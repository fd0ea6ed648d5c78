// SPDX-License-Identifier: GPL-3.0-or-later
#include "view/DesktopIcons.h"

#include <QDir>
#include <algorithm>
#include <QIcon>
#include <QStandardPaths>
#include <QStringList>

void DesktopIcons::Setup()
{
    static bool done = false;
    if (done)
        return;
    done = true;

    QStringList paths = QIcon::themeSearchPaths();
    const QStringList xdgIcons =
        QStandardPaths::locateAll(QStandardPaths::GenericDataLocation, QStringLiteral("icons"),
                                  QStandardPaths::LocateDirectory);
    for (const QString& folder : xdgIcons)
        if (!paths.contains(folder))
            paths.append(folder);
    QIcon::setThemeSearchPaths(paths);

    if (QIcon::themeName().isEmpty())
        QIcon::setThemeName(QStringLiteral("hicolor"));
    if (QIcon::fallbackThemeName().isEmpty() ||
        QIcon::fallbackThemeName() == QLatin1String("hicolor")) {
        for (const QString& theme : {QStringLiteral("Adwaita"), QStringLiteral("breeze")}) {
            const bool installed = std::any_of(paths.cbegin(), paths.cend(), [&](const QString& p) {
                return QDir(p).exists(theme + QStringLiteral("/index.theme"));
            });
            if (installed) {
                QIcon::setFallbackThemeName(theme);
                break;
            }
        }
    }
}
