// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "TempTree.h"

#include <string>
#include <string_view>
#include <vector>

// What the window must show for one application of the synthetic drive.
struct CSoakApplication {
    std::string strName;
    bool bListed = true;
    int nAppFileRows = 0;       // rows in "app files" mode
    int nAllFileRows = 0;       // rows in "all files" mode
    std::string strDescription; // the pane's text
};

// A drive of a few hundred applications in several categories, with descriptions of every
// kind, [showfiles] patterns with and without folders, programs with and without icons and
// application folders at two depths. Always the same tree, so that every scan of it must
// give the same catalogue.
class CSyntheticDrive {
public:
    static constexpr int kDescriptors = 320;
    static constexpr int kCategories = 8;

    CSyntheticDrive();

    const std::string& Root() const noexcept { return m_tree.Root(); }
    int ListedCount() const noexcept { return m_nListed; }
    // The application a tree node names ("App 042"), or nullptr.
    const CSoakApplication* Find(std::string_view name) const;

private:
    CTempTree m_tree;
    std::vector<CSoakApplication> m_arrApps;
    int m_nListed = 0;
};
