#include "catalogue/CatalogTree.h"

#include "catalogue/Text.h"

#include <algorithm>

CCatalogTree::CCatalogTree() = default;
CCatalogTree::~CCatalogTree() = default;

HTREEITEM CCatalogTree::InsertItem(std::string text, HTREEITEM parent, std::string bytes)
{
    CTreeItem* holder = parent ? parent : &m_root;
    auto item = std::make_unique<CTreeItem>();
    item->m_strBytes = bytes.empty() ? text : std::move(bytes);
    item->m_strText = std::move(text);
    item->m_pParent = parent;
    item->m_nRow = holder->ChildCount();
    holder->m_arrChildren.push_back(std::move(item));
    return holder->m_arrChildren.back().get();
}

void CCatalogTree::DeleteAllItems()
{
    m_root.m_arrChildren.clear();
}

HTREEITEM CCatalogTree::GetRootItem() const noexcept
{
    return m_root.Child(0);
}

HTREEITEM CCatalogTree::GetChildItem(HTREEITEM item) const noexcept
{
    return item ? item->Child(0) : nullptr;
}

HTREEITEM CCatalogTree::GetNextSiblingItem(HTREEITEM item) const noexcept
{
    if (!item)
        return nullptr;
    const CTreeItem* holder = item->Parent() ? item->Parent() : &m_root;
    return holder->Child(item->Row() + 1);
}

void CCatalogTree::SortChildren(HTREEITEM parent)
{
    CTreeItem* holder = parent ? parent : &m_root;
    auto& children = holder->m_arrChildren;
    std::stable_sort(children.begin(), children.end(), [](const auto& a, const auto& b) {
        return Text::CompareNoCase(a->m_strText, b->m_strText) < 0;
    });
    for (int row = 0; row < holder->ChildCount(); ++row)
        children[row]->m_nRow = row;
}

bool CCatalogTree::IsApplicationNode(HTREEITEM item) const noexcept
{
    const HTREEITEM child = GetChildItem(item);
    if (!child || ItemHasChildren(child))
        return false;
    return item != GetRootItem();
}
