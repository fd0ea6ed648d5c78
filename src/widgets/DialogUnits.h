// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QFont>
#include <QRect>
#include <QSize>

// Converts dialog units to pixels from a font's metrics, as dialog templates were laid out:
// a horizontal unit is a quarter of the average character width, a vertical unit an
// eighth of the character height.
class CDialogUnits {
public:
    explicit CDialogUnits(const QFont& font);

    int X(int units) const;
    int Y(int units) const;
    QRect Rect(int x, int y, int width, int height) const;
    QSize Size(int width, int height) const { return {X(width), Y(height)}; }

private:
    int m_nBaseX;
    int m_nBaseY;
};
