// SPDX-License-Identifier: GPL-3.0-or-later
#include "view/FileListModel.h"

#include <algorithm>
#include <iterator>

namespace {
constexpr int kColumnCount = 3;
}

CFileListModel::CFileListModel(QObject* parent)
    : QAbstractItemModel(parent)
{}

CFileListModel::Handle CFileListModel::InsertRowsAt(int row, std::vector<Row> rows)
{
    const auto first = static_cast<Handle>(m_arrRows.size());
    if (rows.empty())
        return first;
    row = std::clamp(row, 0, rowCount());
    const int count = static_cast<int>(rows.size());
    beginInsertRows({}, row, row + count - 1);
    m_arrRows.insert(m_arrRows.end(), std::make_move_iterator(rows.begin()),
                     std::make_move_iterator(rows.end()));
    // Model row r is m_arrOrder[size - 1 - r]; in discovery order the rows already go
    // bottom first, which is the order's order.
    const auto at = m_arrOrder.end() - row;
    const auto inserted = m_arrOrder.insert(at, static_cast<std::size_t>(count), first);
    for (Handle i = 0; i < static_cast<Handle>(count); ++i)
        inserted[i] = first + i;
    endInsertRows();
    return first;
}

void CFileListModel::Clear()
{
    if (m_arrRows.empty())
        return;
    beginResetModel();
    std::deque<Row>().swap(m_arrRows);
    std::vector<Handle>().swap(m_arrOrder);
    endResetModel();
}

const CFileListModel::Row* CFileListModel::RowAt(int row) const noexcept
{
    if (row < 0 || row >= rowCount())
        return nullptr;
    return &m_arrRows[m_arrOrder[m_arrOrder.size() - 1 - static_cast<std::size_t>(row)]];
}

const CFileListModel::Row* CFileListModel::RowOf(Handle handle) const noexcept
{
    return handle < m_arrRows.size() ? &m_arrRows[handle] : nullptr;
}

void CFileListModel::SetIcon(Handle handle, const QIcon& icon)
{
    if (handle < m_arrRows.size())
        m_arrRows[handle].icon = icon;
}

void CFileListModel::IconsChanged()
{
    // One signal for the column: the view repaints what it shows, whichever rows changed.
    if (!m_arrRows.empty())
        emit dataChanged(index(0, 0), index(rowCount() - 1, 0), {Qt::DecorationRole});
}

QModelIndex CFileListModel::index(int row, int column, const QModelIndex& parent) const
{
    if (parent.isValid() || row < 0 || row >= rowCount() || column < 0 || column >= kColumnCount)
        return {};
    return createIndex(row, column);
}

QModelIndex CFileListModel::parent(const QModelIndex&) const
{
    return {};
}

int CFileListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_arrRows.size());
}

int CFileListModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : kColumnCount;
}

QVariant CFileListModel::data(const QModelIndex& index, int role) const
{
    const Row* row = RowAt(index.row());
    if (!row || index.column() >= kColumnCount)
        return {};
    if (role == Qt::DisplayRole || role == Qt::AccessibleTextRole) {
        switch (index.column()) {
        case 0:
            return row->strName;
        case 1:
            return row->strType;
        default:
            return row->strLocation;
        }
    }
    if (role == Qt::DecorationRole && index.column() == 0)
        return row->icon;
    return {};
}

QVariant CFileListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    switch (section) {
    case 0:
        return QStringLiteral("Name");
    case 1:
        return QStringLiteral("Type");
    case 2:
        return QStringLiteral("Location");
    default:
        return {};
    }
}
