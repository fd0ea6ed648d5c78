#pragma once

#include "catalogue/CatalogTree.h"

#include <QAbstractItemModel>

#include <utility>

// Shows a CCatalogTree in a view. The two leaves under each application node are data for
// the program, not for people: the model gives application nodes no rows, so no view, no
// keyboard and no assistive technology can open them.
class CCatalogTreeModel final : public QAbstractItemModel {
    Q_OBJECT

public:
    explicit CCatalogTreeModel(QObject* parent = nullptr);

    const CCatalogTree& Tree() const noexcept { return m_tree; }

    // Changes the tree as one reset of the model.
    template <class Build>
    void Rebuild(Build&& build)
    {
        beginResetModel();
        std::forward<Build>(build)(m_tree);
        endResetModel();
    }

    HTREEITEM ItemFromIndex(const QModelIndex& index) const noexcept;
    QModelIndex IndexFromItem(HTREEITEM item) const;

    QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

private:
    CCatalogTree m_tree;
};
