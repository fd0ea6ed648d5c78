#include "app/CatalogTreeModel.h"

CCatalogTreeModel::CCatalogTreeModel(QObject* parent)
    : QAbstractItemModel(parent)
{}

HTREEITEM CCatalogTreeModel::ItemFromIndex(const QModelIndex& index) const noexcept
{
    return index.isValid() ? static_cast<HTREEITEM>(index.internalPointer()) : nullptr;
}

QModelIndex CCatalogTreeModel::IndexFromItem(HTREEITEM item) const
{
    if (!item)
        return {};
    return createIndex(item->Row(), 0, item);
}

QModelIndex CCatalogTreeModel::index(int row, int column, const QModelIndex& parent) const
{
    if (column != 0 || row < 0 || row >= rowCount(parent))
        return {};
    const HTREEITEM holder = ItemFromIndex(parent);
    const HTREEITEM item = holder ? holder->Child(row) : m_tree.TopLevelItem(row);
    return createIndex(row, 0, item);
}

QModelIndex CCatalogTreeModel::parent(const QModelIndex& child) const
{
    const HTREEITEM item = ItemFromIndex(child);
    return item ? IndexFromItem(item->Parent()) : QModelIndex();
}

int CCatalogTreeModel::rowCount(const QModelIndex& parent) const
{
    if (parent.column() > 0)
        return 0;
    const HTREEITEM item = ItemFromIndex(parent);
    if (!item)
        return m_tree.TopLevelCount();
    return m_tree.IsApplicationNode(item) ? 0 : item->ChildCount();
}

int CCatalogTreeModel::columnCount(const QModelIndex&) const
{
    return 1;
}

QVariant CCatalogTreeModel::data(const QModelIndex& index, int role) const
{
    const HTREEITEM item = ItemFromIndex(index);
    if (!item || (role != Qt::DisplayRole && role != Qt::AccessibleTextRole))
        return {};
    return QString::fromUtf8(item->Text());
}

Qt::ItemFlags CCatalogTreeModel::flags(const QModelIndex& index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable;
}
