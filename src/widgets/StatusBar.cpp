// SPDX-License-Identifier: GPL-3.0-or-later
#include "widgets/StatusBar.h"

#include <QHelpEvent>
#include <QLabel>
#include <QToolTip>

CStatusBar::CStatusBar(QWidget* parent)
    : QWidget(parent)
{
    for (QLabel*& part : m_arrParts) {
        part = new QLabel(this);
        part->setFrameShape(QFrame::Panel);
        part->setFrameShadow(QFrame::Sunken);
        part->setTextFormat(Qt::PlainText);
        part->setIndent(2);
        part->setFocusPolicy(Qt::NoFocus);
    }
}

void CStatusBar::SetParts(const std::array<int, kPartCount>& rightEdges)
{
    m_arrRightEdges = rightEdges;
    LayoutParts();
}

void CStatusBar::SetText(int part, const QString& text)
{
    if (QLabel* label = PartLabel(part))
        label->setText(text);
}

QString CStatusBar::GetText(int part) const
{
    const QLabel* label = PartLabel(part);
    return label ? label->text() : QString();
}

void CStatusBar::SetTipText(int part, const QString& text)
{
    if (part >= 0 && part < kPartCount)
        m_astrTips[part] = text;
}

QString CStatusBar::GetTipText(int part) const
{
    return part >= 0 && part < kPartCount ? m_astrTips[part] : QString();
}

QLabel* CStatusBar::PartLabel(int part) const
{
    return part >= 0 && part < kPartCount ? m_arrParts[part] : nullptr;
}

QString CStatusBar::ToolTipText() const
{
    return GetText(0) + QStringLiteral(" | ") + GetText(1) + QStringLiteral(" | ") + GetText(2);
}

bool CStatusBar::event(QEvent* event)
{
    // The parts have no tips of their own, so theirs reach the bar.
    if (event->type() == QEvent::ToolTip) {
        QToolTip::showText(static_cast<QHelpEvent*>(event)->globalPos(), ToolTipText(), this);
        return true;
    }
    return QWidget::event(event);
}

void CStatusBar::resizeEvent(QResizeEvent*)
{
    LayoutParts();
}

void CStatusBar::LayoutParts()
{
    int left = 0;
    for (int part = 0; part < kPartCount; ++part) {
        const int edge = m_arrRightEdges[part] < 0 ? width() : m_arrRightEdges[part];
        const int right = std::max(left, std::min(edge, width()));
        m_arrParts[part]->setGeometry(left, 1, right - left, height() - 1);
        left = right;
    }
}
