// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "catalogue/Volume.h"

#include <optional>
#include <string>
#include <string_view>

// The file a walk stands on when it calls its visitor; valid during that call only.
class CFoundFile {
public:
    CFoundFile(const std::string& folder, const std::string& name, bool bLink,
               bool bRegular = false, const CVolume::CFolderReader* pListing = nullptr) noexcept
        : m_strFolder(folder)
        , m_strName(name)
        , m_pListing(pListing)
        , m_bLink(bLink)
        , m_bRegular(bRegular)
    {}

    // The folder the file is in.
    const std::string& GetRoot() const noexcept { return m_strFolder; }
    const std::string& GetFileName() const noexcept { return m_strName; }
    // A symbolic link (to a file, or to nothing).
    bool IsLink() const noexcept { return m_bLink; }
    // Listed as a regular file (see CVolume::OpenListedFile).
    bool IsRegular() const noexcept { return m_bRegular; }
    std::string GetFilePath() const;
    // The file's identity as its folder's listing tells it, sparing a look-up by path; nullopt
    // when the listing does not tell (then ask CVolume::IdentityOf).
    std::optional<CVolume::FileIdentity> ListedIdentity() const
    {
        return m_pListing && m_bRegular ? m_pListing->ListedIdentity() : std::nullopt;
    }

private:
    const std::string& m_strFolder;
    const std::string& m_strName;
    const CVolume::CFolderReader* m_pListing;
    bool m_bLink;
    bool m_bRegular;
};

// What a walk does with what it finds. The walk calls these on its own thread.
class CWalkVisitor {
public:
    virtual ~CWalkVisitor() = default;

    // Each folder as the walk enters it ("Scanning: " + folder).
    virtual void OnFolder(const std::string& folder) { (void)folder; }
    // EWalkMode::Tree: a matched file (never a folder); found stands on it.
    virtual void AddApplication(const CFoundFile& found) { (void)found; }
    // EWalkMode::List: a matched file (never a folder); found stands on it.
    virtual void AddFileRow(const CFoundFile& found) { (void)found; }
    // Checked between directory entries; true ends the walk early.
    virtual bool IsStopRequested() const { return false; }
};

// What a walk hands its visitor: descriptors for the catalogue, or rows for the file list.
enum class EWalkMode : unsigned char { Tree, List };

// Visits folder (a path of volume) and, with recurse, every folder below it, handing each
// file whose name matches pattern to the visitor according to mode. A folder's matching files come
// before its subfolders; subfolders depth first, in listing order. The walk never leaves the
// volume's root file system, follows a folder link only when its target lies below the volume's
// root (when it walks the tree, a file link too), never enters a folder twice (device and inode),
// and has no depth limit. A pattern with a folder part ("bin\*.exe" or "bin/*.exe") searches that
// folder, looked up without regard to case, from each visited folder; ".." in it goes up by name,
// never above the volume's root. A folder that cannot be listed counts as empty.
void WalkFolder(const CVolume& volume, const std::string& folder, EWalkMode mode, bool recurse,
                std::string_view pattern, CWalkVisitor& visitor);
