// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>
#include <QPersistentModelIndex>

#include <vector>

class QModelIndex;
class QTreeView;

// Keeps one branch of a tree open: the node made current opens, and the node current before
// closes unless it holds the new one. A click closes the old node only once the button is
// up: closing it at the press would move the rows under the pointer, and the release would
// land on another row.
class CSingleExpand final : public QObject {
    Q_OBJECT

public:
    // Made a child of the tree, whose model must be set.
    explicit CSingleExpand(QTreeView& tree);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void OnCurrentChanged(const QModelIndex& current, const QModelIndex& previous);
    void CollapsePending();

    QTreeView& m_tree;
    bool m_bButtonDown = false;
    std::vector<QPersistentModelIndex> m_pending; // to close once the button is up
};
