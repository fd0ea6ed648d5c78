// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/ToolBar.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QFrame>
#include <QIcon>

namespace {

// A plain widget reads as a "filler" to assistive technologies; this row of buttons is a tool
// bar. The name stays the widget's accessible name.
QAccessibleInterface* ToolBarAccessible(const QString& className, QObject* object)
{
    auto* bar = qobject_cast<CToolBar*>(object);
    if (!bar || className != QLatin1String(CToolBar::staticMetaObject.className()))
        return nullptr;
    return new QAccessibleWidget(bar, QAccessible::ToolBar);
}

} // namespace

CToolBarButton::CToolBarButton(int commandId, QWidget* parent)
    : QToolButton(parent)
    , m_nCommandId(commandId)
{
    setAutoRaise(true);
    setCheckable(true);
    setToolButtonStyle(Qt::ToolButtonIconOnly);
    setFocusPolicy(Qt::TabFocus);
    connect(this, &QToolButton::clicked, this, [this] { emit Command(m_nCommandId); });
    connect(this, &QToolButton::toggled, this, &CToolBarButton::OnToggled);
}

void CToolBarButton::SetPressedLook(bool pressed)
{
    m_bSettingLook = true;
    setChecked(pressed);
    m_bSettingLook = false;
}

void CToolBarButton::OnToggled(bool checked)
{
    if (m_bSettingLook)
        return;
    // Only an outside toggle (an assistive technology's action) gets here: undo it and run
    // the command, which decides the look itself.
    SetPressedLook(!checked);
    emit Command(m_nCommandId);
}

CToolBar::CToolBar(QWidget* parent)
    : QWidget(parent)
{
    static const bool installed = [] {
        QAccessible::installFactory(&ToolBarAccessible);
        return true;
    }();
    Q_UNUSED(installed);
}

void CToolBar::SetButtonSize(QSize size)
{
    m_buttonSize = size;
}

void CToolBar::InsertButton(int commandId, const QIcon& image)
{
    if (commandId == 0) {
        auto* separator = new QFrame(this);
        separator->setFrameShape(QFrame::VLine);
        separator->setFrameShadow(QFrame::Sunken);
        separator->setGeometry(m_nNextX + kSeparatorWidth / 2 - 1, kMargin + 2, 2,
                               m_buttonSize.height() - 4);
        separator->show();
        m_nNextX += kSeparatorWidth;
        return;
    }
    auto* button = new CToolBarButton(commandId, this);
    button->setIcon(image);
    button->setIconSize(QSize(16, 16));
    button->setGeometry(m_nNextX, kMargin, m_buttonSize.width(), m_buttonSize.height());
    connect(button, &CToolBarButton::Command, this, &CToolBar::Command);
    button->show();
    m_mapButtons[commandId] = button;
    m_nNextX += m_buttonSize.width();
}

CToolBarButton* CToolBar::Button(int commandId) const
{
    const auto it = m_mapButtons.find(commandId);
    return it == m_mapButtons.end() ? nullptr : it->second;
}

void CToolBar::EnableButton(int commandId, bool enable)
{
    if (CToolBarButton* button = Button(commandId))
        button->setEnabled(enable);
}

bool CToolBar::IsButtonEnabled(int commandId) const
{
    const CToolBarButton* button = Button(commandId);
    return button && button->isEnabled();
}

void CToolBar::CheckButton(int commandId, bool check)
{
    if (CToolBarButton* button = Button(commandId))
        button->SetPressedLook(check);
}

bool CToolBar::IsButtonChecked(int commandId) const
{
    const CToolBarButton* button = Button(commandId);
    return button && button->isChecked();
}

QSize CToolBar::sizeHint() const
{
    return {m_nNextX + kMargin, m_buttonSize.height() + 2 * kMargin};
}
