// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QAbstractItemModel>
#include <QIcon>
#include <QString>

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

// The rows of the file list: Name, Type and Location, an icon, and the file's own path as
// bytes (what opening it uses; never rebuilt from the shown texts). UI thread only.
class CFileListModel final : public QAbstractItemModel {
    Q_OBJECT

public:
    struct Row {
        QString strName;
        QString strType;
        QString strLocation;
        std::string strPath;
        QIcon icon;
        std::uint32_t nProgram = 0; // the owner's number for a program row; 0 for none
    };
    // Names a row for as long as the list is not cleared, wherever later insertions move it.
    using Handle = std::uint32_t;

    explicit CFileListModel(QObject* parent = nullptr);

    // Inserts rows, given in order of discovery, each at position row as if one at a time:
    // the last one ends up first. Returns the handle of rows[0]; rows[i] gets that plus i.
    Handle InsertRowsAt(int row, std::vector<Row> rows);
    void Clear();
    const Row* RowAt(int row) const noexcept;
    // nullptr for a handle the list does not hold.
    const Row* RowOf(Handle handle) const noexcept;

    // Changes the icon of a row without a signal; IconsChanged() then tells the views once
    // for a whole batch. An unknown handle is ignored.
    void SetIcon(Handle handle, const QIcon& icon);
    void IconsChanged();

    QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

private:
    // Rows stay where they were first stored, so a handle is an index into m_arrRows; the
    // order holds the handles bottom row first, so that inserting at the top, the usual
    // case, is an append. A deque, so that growing never moves the rows already there.
    std::deque<Row> m_arrRows;
    std::vector<Handle> m_arrOrder;
};
