// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include <sys/stat.h>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

// The inodes the kernel knows of in the disc view, each a path below the volume's root ("" is
// the root) with the attributes it was looked up with. An inode stays while the kernel holds
// a lookup of it; the root never goes.
class CNodeTable {
public:
    using Ino = std::uint64_t;
    static constexpr Ino kRoot = 1;

    struct Listed {
        std::string strName;
        mode_t type = S_IFREG;
        bool bLink = false; // a link, whose attributes are those of what it leads to
    };
    struct Node {
        std::string strPath;
        struct stat status {};
        std::uint64_t nLookups = 0;
        // A folder's listing while the kernel pages through it; dropped at its end.
        std::unique_ptr<std::vector<Listed>> pListing;
    };

    explicit CNodeTable(const struct stat& rootStatus);

    // The inode a listing names for path before it is looked up: the one it will get.
    static Ino InoOf(std::string_view path) noexcept;
    Node* Find(Ino ino) noexcept;
    // Counts one lookup of path, made an inode with status if new; status.st_ino is set.
    Ino Look(const std::string& path, struct stat& status);
    void Forget(Ino ino, std::uint64_t nLookups) noexcept;

private:
    std::unordered_map<Ino, Node> m_nodes;
};
