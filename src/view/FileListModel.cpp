// SPDX-License-Identifier: GPL-3.0-or-later
#include "view/FileListModel.h"

#include <QIcon>

#include <algorithm>
#include <iterator>

namespace {
constexpr int kColumnCount = 3;
}

CFileListModel::CFileListModel(QObject* parent)
    : QAbstractItemModel(parent)
{}

void CFileListModel::InsertRowsAt(int row, std::vector<Row> rows)
{
    if (rows.empty())
        return;
    row = std::clamp(row, 0, rowCount());
    const int count = static_cast<int>(rows.size());
    beginInsertRows({}, row, row + count - 1);
    // Model row r is m_arrRows[size - 1 - r]; in discovery order the rows already go
    // bottom first, which is the storage order.
    const auto at = m_arrRows.end() - row;
    m_arrRows.insert(at, std::make_move_iterator(rows.begin()),
                     std::make_move_iterator(rows.end()));
    endInsertRows();
}

void CFileListModel::Clear()
{
    if (m_arrRows.empty())
        return;
    beginResetModel();
    std::deque<Row>().swap(m_arrRows);
    endResetModel();
}

const CFileListModel::Row* CFileListModel::RowAt(int row) const noexcept
{
    if (row < 0 || row >= rowCount())
        return nullptr;
    return &m_arrRows[m_arrRows.size() - 1 - static_cast<std::size_t>(row)];
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
    if (role == Qt::DecorationRole && index.column() == 0 && m_imageLookup)
        return m_imageLookup(row->nImage);
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
