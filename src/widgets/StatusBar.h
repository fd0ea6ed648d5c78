// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QWidget>

#include <array>

class QLabel;

// A status bar of three parts, each a label, with fixed right edges set once: the window
// cannot be resized, so they are never recomputed.
class CStatusBar final : public QWidget {
    Q_OBJECT

public:
    static constexpr int kPartCount = 3;

    explicit CStatusBar(QWidget* parent = nullptr);

    // Right edges in pixels; -1 reaches the right edge of the bar.
    void SetParts(const std::array<int, kPartCount>& rightEdges);
    std::array<int, kPartCount> Parts() const noexcept { return m_arrRightEdges; }

    void SetText(int part, const QString& text);
    QString GetText(int part) const;
    // Kept as data; the bar shows no tip of its own per part.
    void SetTipText(int part, const QString& text);
    QString GetTipText(int part) const;

    QLabel* PartLabel(int part) const;
    // The bar's tooltip: the three texts joined by " | ", built whole whatever their length.
    QString ToolTipText() const;

protected:
    bool event(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void LayoutParts();

    std::array<QLabel*, kPartCount> m_arrParts{};
    std::array<int, kPartCount> m_arrRightEdges{-1, -1, -1};
    std::array<QString, kPartCount> m_astrTips;
};
