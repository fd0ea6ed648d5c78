// SPDX-License-Identifier: GPL-3.0-or-later
#include "widgets/ToolBar.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QAction>
#include <QFrame>

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

CToolBarButton::CToolBarButton(QAction& action, QWidget* parent)
    : QToolButton(parent)
    , m_action(action)
{
    setObjectName(action.objectName());
    setAutoRaise(true);
    setCheckable(true);
    setToolButtonStyle(Qt::ToolButtonIconOnly);
    setFocusPolicy(Qt::TabFocus);
    ShowAction();
    connect(&action, &QAction::changed, this, &CToolBarButton::ShowAction);
    connect(this, &QToolButton::clicked, &action, &QAction::trigger);
    connect(this, &QToolButton::toggled, this, &CToolBarButton::OnToggled);
}

void CToolBarButton::ShowAction()
{
    setIcon(m_action.icon());
    setText(m_action.text());
    setAccessibleName(m_action.text());
    setToolTip(m_action.toolTip());
    setEnabled(m_action.isEnabled());
    m_bSettingLook = true;
    setChecked(m_action.isChecked());
    m_bSettingLook = false;
}

void CToolBarButton::OnToggled(bool checked)
{
    if (m_bSettingLook)
        return;
    // Only an outside toggle (an assistive technology's action) gets here: undo it and
    // trigger the action, which decides the look itself.
    m_bSettingLook = true;
    setChecked(!checked);
    m_bSettingLook = false;
    m_action.trigger();
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

void CToolBar::AddSeparator()
{
    auto* separator = new QFrame(this);
    separator->setFrameShape(QFrame::VLine);
    separator->setFrameShadow(QFrame::Sunken);
    separator->setGeometry(m_nNextX + kSeparatorWidth / 2 - 1, kMargin + 2, 2,
                           m_buttonSize.height() - 4);
    separator->show();
    m_nNextX += kSeparatorWidth;
}

void CToolBar::AddButton(QAction& action)
{
    auto* button = new CToolBarButton(action, this);
    button->setIconSize(QSize(16, 16));
    button->setGeometry(m_nNextX, kMargin, m_buttonSize.width(), m_buttonSize.height());
    button->show();
    m_nNextX += m_buttonSize.width();
}

QSize CToolBar::sizeHint() const
{
    return {m_nNextX + kMargin, m_buttonSize.height() + 2 * kMargin};
}
