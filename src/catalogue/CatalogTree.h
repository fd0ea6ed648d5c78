#pragma once

#include <memory>
#include <string>
#include <vector>

class CTreeItem;
using HTREEITEM = CTreeItem*;

// One node of the catalogue tree: a text to show and, for the hidden leaves, the bytes of
// the path it stands for (never rebuilt from the shown text).
class CTreeItem {
public:
    const std::string& Text() const noexcept { return m_strText; }
    const std::string& Bytes() const noexcept { return m_strBytes; }
    HTREEITEM Parent() const noexcept { return m_pParent; }
    int Row() const noexcept { return m_nRow; }
    int ChildCount() const noexcept { return static_cast<int>(m_arrChildren.size()); }
    HTREEITEM Child(int row) const noexcept
    {
        return row >= 0 && row < ChildCount() ? m_arrChildren[row].get() : nullptr;
    }

private:
    friend class CCatalogTree;
    std::string m_strText;
    std::string m_strBytes;
    HTREEITEM m_pParent = nullptr;
    int m_nRow = 0;
    std::vector<std::unique_ptr<CTreeItem>> m_arrChildren;
};

// The data behind the catalogue tree, with the operations of a tree control: items are
// appended, sorted per parent, and read back by position.
class CCatalogTree {
public:
    static constexpr const char* kRootText = "Application Categories";
    static constexpr const char* kEmptyScanText = "No Applications Found!";

    CCatalogTree();
    ~CCatalogTree();

    // parent nullptr inserts at the top level. bytes defaults to the text.
    HTREEITEM InsertItem(std::string text, HTREEITEM parent, std::string bytes = {});
    void DeleteAllItems();

    HTREEITEM GetRootItem() const noexcept;
    HTREEITEM GetChildItem(HTREEITEM item) const noexcept;
    HTREEITEM GetNextSiblingItem(HTREEITEM item) const noexcept;
    HTREEITEM GetParentItem(HTREEITEM item) const noexcept
    {
        return item ? item->Parent() : nullptr;
    }
    bool ItemHasChildren(HTREEITEM item) const noexcept { return GetChildItem(item) != nullptr; }
    int TopLevelCount() const noexcept { return m_root.ChildCount(); }
    HTREEITEM TopLevelItem(int row) const noexcept { return m_root.Child(row); }

    // The children of parent by text, without regard to case, equal texts keeping their
    // order; not recursive.
    void SortChildren(HTREEITEM parent);

    // An application node has a first child that has no children, and is not the root.
    bool IsApplicationNode(HTREEITEM item) const noexcept;

private:
    CTreeItem m_root; // invisible holder of the top-level items
};
