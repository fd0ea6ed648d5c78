// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "catalogue/Catalogue.h"

#include <QAbstractItemModel>
#include <QString>

#include <memory>
#include <vector>

// Shows a scan's catalogue as a tree: one root item, the categories under it and the
// applications under each category. Applications have no rows, so no view, keyboard or
// assistive technology can open them; what opening one needs is in its CApplicationEntry.
class CCatalogModel final : public QAbstractItemModel {
    Q_OBJECT

public:
    static constexpr const char* kRootText = "Application Categories";
    static constexpr const char* kEmptyScanText = "No Applications Found!";

    explicit CCatalogModel(QObject* parent = nullptr);

    // No items at all, as before the first scan.
    void Clear();
    // Only the root item, as while a scan runs.
    void ShowScanning();
    // The scan's result (sorted already); the root holds kEmptyScanText when it is empty.
    void SetCatalogue(std::shared_ptr<const CCatalogue> catalogue);

    QModelIndex RootIndex() const;
    // Null unless index is an application.
    const CApplicationEntry* ApplicationAt(const QModelIndex& index) const;
    bool IsApplication(const QModelIndex& index) const { return ApplicationAt(index) != nullptr; }
    // The index of the first application shown as name (display text), or an invalid index.
    QModelIndex FindApplication(const QString& name) const;

    QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

private:
    enum class State { Empty, Scanning, Scanned };
    struct CategoryTexts {
        QString strText;
        std::vector<QString> astrApplications;
    };

    // An index's internal id tells the list it stands in: kTopLevel, kUnderRoot, or
    // kFirstCategory + c for the applications of category c.
    static constexpr quintptr kTopLevel = 0;
    static constexpr quintptr kUnderRoot = 1;
    static constexpr quintptr kFirstCategory = 2;

    int ChildCount(const QModelIndex& parent) const;
    // True for the one leaf of a scan that found nothing.
    bool IsEmptyScanLeaf(const QModelIndex& index) const;

    State m_state = State::Empty;
    std::shared_ptr<const CCatalogue> m_pCatalogue;
    std::vector<CategoryTexts> m_arrTexts; // decoded once, not on every paint
};
