// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>

// A path as a folder handle plus the last component, for the *at() system calls. A path
// shorter than the kernel's limit needs no handle; a longer one (a deep folder on a drive)
// has its folder opened in steps that each fit the limit.
class CPathAt {
public:
    explicit CPathAt(const std::string& path);
    ~CPathAt();
    CPathAt(const CPathAt&) = delete;
    CPathAt& operator=(const CPathAt&) = delete;

    // AT_FDCWD, a handle the object owns, or -1 when a step failed.
    int Folder() const noexcept { return m_hFolder; }
    const char* Name() const noexcept { return m_strName.c_str(); }
    bool IsValid() const noexcept { return m_hFolder != -1; }

private:
    int m_hFolder;
    std::string m_strName;
};
