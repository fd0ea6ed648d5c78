// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QToolButton>
#include <QWidget>

class QAction;

// A toolbar button showing one action: its icon, text, tooltip, enabled and checked state. A
// click triggers the action, whether it comes from the mouse, the keyboard or an assistive
// technology's "toggle" action; the pressed look follows the action's checked state alone.
// Every button is a toggle button to assistive technologies, as it always was.
class CToolBarButton final : public QToolButton {
    Q_OBJECT

public:
    CToolBarButton(QAction& action, QWidget* parent);

protected:
    void nextCheckState() override {}

private:
    void ShowAction();
    void OnToggled(bool checked);

    QAction& m_action;
    bool m_bSettingLook = false;
};

// A row of flat, icon-only buttons for actions, and separators. Assistive technologies see it
// as a tool bar named by its accessible name.
class CToolBar final : public QWidget {
    Q_OBJECT

public:
    explicit CToolBar(QWidget* parent = nullptr);

    void SetButtonSize(QSize size);
    // Placed left to right in the order added. The button takes the action's object name.
    void AddButton(QAction& action);
    void AddSeparator();

    QSize sizeHint() const override;

private:
    static constexpr int kSeparatorWidth = 8;
    static constexpr int kMargin = 2;

    QSize m_buttonSize{24, 22};
    int m_nNextX = kMargin;
};
