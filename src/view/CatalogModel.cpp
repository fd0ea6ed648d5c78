// SPDX-License-Identifier: GPL-3.0-or-later
#include "view/CatalogModel.h"

#include "view/DisplayText.h"

#include <utility>

CCatalogModel::CCatalogModel(QObject* parent)
    : QAbstractItemModel(parent)
{}

void CCatalogModel::Clear()
{
    beginResetModel();
    m_state = State::Empty;
    m_pCatalogue.reset();
    m_arrTexts.clear();
    endResetModel();
}

void CCatalogModel::ShowScanning()
{
    beginResetModel();
    m_state = State::Scanning;
    m_pCatalogue.reset();
    m_arrTexts.clear();
    endResetModel();
}

void CCatalogModel::SetCatalogue(std::shared_ptr<const CCatalogue> catalogue)
{
    beginResetModel();
    m_state = State::Scanned;
    m_pCatalogue = std::move(catalogue);
    m_arrTexts.clear();
    if (m_pCatalogue) {
        m_arrTexts.reserve(m_pCatalogue->Categories().size());
        for (const CCategoryEntry& category : m_pCatalogue->Categories()) {
            CategoryTexts texts{DisplayText(category.strText), {}};
            texts.astrApplications.reserve(category.arrApplications.size());
            for (const CApplicationEntry& application : category.arrApplications)
                texts.astrApplications.push_back(DisplayText(application.strName));
            m_arrTexts.push_back(std::move(texts));
        }
    }
    endResetModel();
}

QModelIndex CCatalogModel::RootIndex() const
{
    return index(0, 0);
}

const CApplicationEntry* CCatalogModel::ApplicationAt(const QModelIndex& index) const
{
    if (!index.isValid() || index.model() != this || index.internalId() < kFirstCategory ||
        !m_pCatalogue)
        return nullptr;
    const auto category = static_cast<std::size_t>(index.internalId() - kFirstCategory);
    const auto& categories = m_pCatalogue->Categories();
    if (category >= categories.size())
        return nullptr;
    const auto& applications = categories[category].arrApplications;
    const auto row = static_cast<std::size_t>(index.row());
    return row < applications.size() ? &applications[row] : nullptr;
}

QModelIndex CCatalogModel::FindApplication(const QString& name) const
{
    for (std::size_t c = 0; c < m_arrTexts.size(); ++c) {
        const auto& names = m_arrTexts[c].astrApplications;
        for (std::size_t a = 0; a < names.size(); ++a) {
            if (names[a] == name)
                return createIndex(static_cast<int>(a), 0, kFirstCategory + c);
        }
    }
    return {};
}

bool CCatalogModel::IsEmptyScanLeaf(const QModelIndex& index) const
{
    return index.internalId() == kUnderRoot && m_arrTexts.empty();
}

int CCatalogModel::ChildCount(const QModelIndex& parent) const
{
    if (!parent.isValid())
        return m_state == State::Empty ? 0 : 1;
    switch (parent.internalId()) {
    case kTopLevel:
        if (m_state != State::Scanned)
            return 0;
        return m_arrTexts.empty() ? 1 : static_cast<int>(m_arrTexts.size());
    case kUnderRoot:
        if (IsEmptyScanLeaf(parent))
            return 0;
        return static_cast<int>(
            m_arrTexts[static_cast<std::size_t>(parent.row())].astrApplications.size());
    default:
        return 0; // applications never open
    }
}

QModelIndex CCatalogModel::index(int row, int column, const QModelIndex& parent) const
{
    if (column != 0 || row < 0 || row >= rowCount(parent))
        return {};
    if (!parent.isValid())
        return createIndex(row, 0, kTopLevel);
    if (parent.internalId() == kTopLevel)
        return createIndex(row, 0, kUnderRoot);
    return createIndex(row, 0, kFirstCategory + static_cast<quintptr>(parent.row()));
}

QModelIndex CCatalogModel::parent(const QModelIndex& child) const
{
    if (!child.isValid() || child.internalId() == kTopLevel)
        return {};
    if (child.internalId() == kUnderRoot)
        return createIndex(0, 0, kTopLevel);
    return createIndex(static_cast<int>(child.internalId() - kFirstCategory), 0, kUnderRoot);
}

int CCatalogModel::rowCount(const QModelIndex& parent) const
{
    return parent.column() > 0 ? 0 : ChildCount(parent);
}

int CCatalogModel::columnCount(const QModelIndex&) const
{
    return 1;
}

QVariant CCatalogModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || (role != Qt::DisplayRole && role != Qt::AccessibleTextRole))
        return {};
    if (index.internalId() == kTopLevel)
        return QString::fromLatin1(kRootText);
    if (index.internalId() == kUnderRoot) {
        if (IsEmptyScanLeaf(index))
            return QString::fromLatin1(kEmptyScanText);
        return m_arrTexts[static_cast<std::size_t>(index.row())].strText;
    }
    const auto category = static_cast<std::size_t>(index.internalId() - kFirstCategory);
    return m_arrTexts[category].astrApplications[static_cast<std::size_t>(index.row())];
}

Qt::ItemFlags CCatalogModel::flags(const QModelIndex& index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable;
}
