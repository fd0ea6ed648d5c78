// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QToolButton>
#include <QWidget>

#include <map>

class QIcon;

// A toolbar button whose pressed look only the program sets: a click runs the command and
// leaves the look alone, whether it comes from the mouse, the keyboard or an assistive
// technology's "toggle" action.
class CToolBarButton final : public QToolButton {
    Q_OBJECT

public:
    CToolBarButton(int commandId, QWidget* parent);

    int CommandId() const noexcept { return m_nCommandId; }
    void SetPressedLook(bool pressed);

signals:
    void Command(int commandId);

protected:
    void nextCheckState() override {}

private:
    void OnToggled(bool checked);

    int m_nCommandId;
    bool m_bSettingLook = false;
};

// A row of flat, icon-only command buttons and separators, addressed by command id. Assistive
// technologies see it as a tool bar named by its accessible name.
class CToolBar final : public QWidget {
    Q_OBJECT

public:
    explicit CToolBar(QWidget* parent = nullptr);

    void SetButtonSize(QSize size);
    // commandId 0 inserts a separator. Entries are placed left to right in insertion order.
    void InsertButton(int commandId, const QIcon& image);

    void EnableButton(int commandId, bool enable);
    bool IsButtonEnabled(int commandId) const;
    void CheckButton(int commandId, bool check);
    bool IsButtonChecked(int commandId) const;
    CToolBarButton* Button(int commandId) const;

    QSize sizeHint() const override;

signals:
    void Command(int commandId);

private:
    static constexpr int kSeparatorWidth = 8;
    static constexpr int kMargin = 2;

    QSize m_buttonSize{24, 22};
    int m_nNextX = kMargin;
    std::map<int, CToolBarButton*> m_mapButtons;
};
