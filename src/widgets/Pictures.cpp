// SPDX-License-Identifier: GPL-3.0-or-later
#include "widgets/Pictures.h"

#include <QPainter>
#include <QSvgRenderer>

QIcon Pictures::ProgramIcon()
{
    QIcon icon;
    icon.addFile(QStringLiteral(":/icons/quarrow-16.svg"), QSize(16, 16));
    for (int size : {24, 32, 48, 64, 128, 256})
        icon.addFile(QStringLiteral(":/icons/quarrow.svg"), QSize(size, size));
    return icon;
}

QPixmap Pictures::Render(const QString& path, int side, qreal devicePixelRatio)
{
    QSvgRenderer renderer(path);
    const int pixels = qRound(side * devicePixelRatio);
    QPixmap pixmap(pixels, pixels);
    pixmap.fill(Qt::transparent);
    {
        QPainter painter(&pixmap);
        renderer.render(&painter);
    }
    pixmap.setDevicePixelRatio(devicePixelRatio);
    return pixmap;
}

static void InitQuarrowResources()
{
    // The resources live in a static library, so nothing registers them by itself.
    Q_INIT_RESOURCE(quarrow);
}

void Pictures::EnsureLoaded()
{
    static const bool loaded = (InitQuarrowResources(), true);
    (void)loaded;
}
