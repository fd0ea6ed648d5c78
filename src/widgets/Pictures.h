// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QIcon>
#include <QPixmap>

// The program's own pictures, drawn as SVG and kept in the resources.
namespace Pictures {

// Registers the resources; safe to call more than once.
void EnsureLoaded();

// The program icon: a pixel-exact small drawing for 16 x 16, the large one for the rest.
QIcon ProgramIcon();

// One picture drawn at side x side device-independent pixels. Unlike a fresh QIcon, it leaves
// nothing behind in the pixmap cache, so a dialog opened again and again costs nothing more.
QPixmap Render(const QString& path, int side, qreal devicePixelRatio);

} // namespace Pictures
