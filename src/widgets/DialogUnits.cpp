// SPDX-License-Identifier: GPL-3.0-or-later
#include "widgets/DialogUnits.h"

#include <QFontMetrics>

CDialogUnits::CDialogUnits(const QFont& font)
{
    const QFontMetrics metrics(font);
    const int alphabetWidth = metrics.horizontalAdvance(
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    // The average of upper and lower case, rounded, as dialog templates measure it.
    m_nBaseX = (alphabetWidth / 26 + 1) / 2;
    m_nBaseY = metrics.height();
}

int CDialogUnits::X(int units) const
{
    return units * m_nBaseX / 4;
}

int CDialogUnits::Y(int units) const
{
    return units * m_nBaseY / 8;
}

QRect CDialogUnits::Rect(int x, int y, int width, int height) const
{
    const int left = X(x);
    const int top = Y(y);
    return {left, top, X(x + width) - left, Y(y + height) - top};
}
