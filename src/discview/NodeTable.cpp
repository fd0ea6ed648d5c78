// SPDX-License-Identifier: GPL-3.0-or-later
#include "NodeTable.h"

#include <algorithm>

CNodeTable::CNodeTable(const struct stat& rootStatus)
{
    Node& root = m_nodes[kRoot];
    root.status = rootStatus;
    root.status.st_ino = kRoot;
}

// Derived from the path, so that a listing can give an entry's inode before its look-up.
CNodeTable::Ino CNodeTable::InoOf(std::string_view path) noexcept
{
    std::uint64_t hash = 14695981039346656037ULL;
    for (const char c : path)
        hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ULL;
    return hash | (1ULL << 63);
}

CNodeTable::Node* CNodeTable::Find(Ino ino) noexcept
{
    const auto found = m_nodes.find(ino);
    return found == m_nodes.end() ? nullptr : &found->second;
}

CNodeTable::Ino CNodeTable::Look(const std::string& path, struct stat& status)
{
    if (path.empty()) {
        status = m_nodes[kRoot].status;
        return kRoot;
    }
    Ino ino = InoOf(path);
    // Two paths of one hash: the later one takes the next free number.
    for (;; ino = (ino + 1) | (1ULL << 63)) {
        const auto [it, bNew] = m_nodes.try_emplace(ino);
        Node& node = it->second;
        if (bNew) {
            node.strPath = path;
            node.status = status;
            node.status.st_ino = ino;
        } else if (node.strPath != path) {
            continue;
        }
        ++node.nLookups;
        status = node.status;
        return ino;
    }
}

void CNodeTable::Forget(Ino ino, std::uint64_t nLookups) noexcept
{
    const auto found = m_nodes.find(ino);
    if (found == m_nodes.end() || ino == kRoot)
        return;
    Node& node = found->second;
    node.nLookups -= std::min(nLookups, node.nLookups);
    if (node.nLookups == 0)
        m_nodes.erase(found);
}
