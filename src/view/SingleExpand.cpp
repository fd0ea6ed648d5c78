// SPDX-License-Identifier: GPL-3.0-or-later
#include "view/SingleExpand.h"

#include <QEvent>
#include <QItemSelectionModel>
#include <QMetaObject>
#include <QTreeView>

#include <utility>

namespace {

bool Holds(const QModelIndex& node, const QModelIndex& index)
{
    for (QModelIndex up = index; up.isValid(); up = up.parent())
        if (up == node)
            return true;
    return false;
}

} // namespace

CSingleExpand::CSingleExpand(QTreeView& tree)
    : QObject(&tree)
    , m_tree(tree)
{
    connect(tree.selectionModel(), &QItemSelectionModel::currentChanged, this,
            &CSingleExpand::OnCurrentChanged);
    tree.viewport()->installEventFilter(this);
}

bool CSingleExpand::eventFilter(QObject* watched, QEvent* event)
{
    switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
        m_bButtonDown = true;
        break;
    case QEvent::MouseButtonRelease:
        m_bButtonDown = false;
        // After the view has handled the release on the row that was pressed.
        QMetaObject::invokeMethod(this, &CSingleExpand::CollapsePending, Qt::QueuedConnection);
        break;
    default:
        break;
    }
    return QObject::eventFilter(watched, event);
}

void CSingleExpand::OnCurrentChanged(const QModelIndex& current, const QModelIndex& previous)
{
    if (previous.isValid())
        m_pending.emplace_back(previous);
    if (current.isValid())
        m_tree.expand(current);
    if (!m_bButtonDown)
        CollapsePending();
}

void CSingleExpand::CollapsePending()
{
    if (m_bButtonDown)
        return;
    const QModelIndex current = m_tree.currentIndex();
    for (const QPersistentModelIndex& node : std::exchange(m_pending, {}))
        if (node.isValid() && !Holds(node, current))
            m_tree.collapse(node);
}
