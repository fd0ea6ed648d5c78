// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QAbstractItemModel>
#include <QString>

#include <deque>
#include <functional>
#include <string>
#include <vector>

class QIcon;

// The rows of the file list: Name, Type and Location, an image, and the file's own path as
// bytes (what opening it uses; never rebuilt from the shown texts).
class CFileListModel final : public QAbstractItemModel {
    Q_OBJECT

public:
    struct Row {
        QString strName;
        QString strType;
        QString strLocation;
        std::string strPath;
        int nImage = 0;
    };
    using ImageLookup = std::function<QIcon(int image)>;

    explicit CFileListModel(QObject* parent = nullptr);

    void SetImageLookup(ImageLookup lookup) { m_imageLookup = std::move(lookup); }

    // Inserts rows, given in order of discovery, each at position row as if one at a time:
    // the last one ends up first.
    void InsertRowsAt(int row, std::vector<Row> rows);
    void Clear();
    const Row* RowAt(int row) const noexcept;

    QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

private:
    // Stored bottom row first, so that inserting at the top, the usual case, is an append;
    // a deque, so that growing never moves the rows already there.
    std::deque<Row> m_arrRows;
    ImageLookup m_imageLookup;
};
