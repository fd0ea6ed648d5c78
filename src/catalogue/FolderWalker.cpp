// SPDX-License-Identifier: GPL-3.0-or-later
#include "catalogue/FolderWalker.h"

#include "catalogue/Path.h"
#include "catalogue/Text.h"
#include "catalogue/Volume.h"
#include "catalogue/Wildcard.h"

#include <cstdint>
#include <cstring>
#include <optional>
#include <vector>

namespace {

using FolderId = CVolume::FolderId;
using EntryType = CVolume::EntryType;
using FolderPtr = std::unique_ptr<CVolume::CFolder>;

// Beyond this many open folder handles, the shallowest give theirs up and are opened again
// by path when the walk comes back to them.
constexpr std::size_t kMaxHeldFolders = 256;

// Device and inode of every folder entered: one flat array with open addressing, so a
// folder costs no allocation and a lookup mostly one cache line.
class CFolderIdSet {
public:
    // False when id was in the set already.
    bool Insert(const FolderId& id)
    {
        if (id == FolderId{}) {
            // The key that marks empty slots gets a flag of its own.
            const bool bNew = !m_bHasEmptyKey;
            m_bHasEmptyKey = true;
            return bNew;
        }
        if ((m_nCount + 1) * 2 > m_arrSlots.size())
            Grow();
        if (!Place(id))
            return false;
        ++m_nCount;
        return true;
    }

private:
    static std::size_t Hash(const FolderId& id) noexcept
    {
        std::uint64_t h = (id.nNode ^ (id.nDevice * 0x9E3779B97F4A7C15ull)) * 0xBF58476D1CE4E5B9ull;
        return static_cast<std::size_t>(h ^ (h >> 31));
    }

    // False when id is there already.
    bool Place(const FolderId& id) noexcept
    {
        const std::size_t mask = m_arrSlots.size() - 1;
        for (std::size_t i = Hash(id) & mask;; i = (i + 1) & mask) {
            FolderId& slot = m_arrSlots[i];
            if (slot == id)
                return false;
            if (slot == FolderId{}) {
                slot = id;
                return true;
            }
        }
    }

    void Grow()
    {
        const std::vector<FolderId> arrOld = std::move(m_arrSlots);
        m_arrSlots.assign(arrOld.empty() ? 64 : arrOld.size() * 2, FolderId{});
        for (const FolderId& id : arrOld) {
            if (!(id == FolderId{}))
                Place(id);
        }
    }

    std::vector<FolderId> m_arrSlots; // size a power of two, at most half full
    std::size_t m_nCount = 0;
    bool m_bHasEmptyKey = false;
};

void AppendName(std::string& path, std::string_view name)
{
    if (!path.empty() && path.back() != '/')
        path.push_back('/');
    path.append(name);
}

// A folder named by a pattern's folder part: the name as written when it is there,
// otherwise the first folder equal to it without regard to case.
class CFolderPick {
public:
    explicit CFolderPick(std::string_view wanted)
        : m_wanted(wanted)
    {}

    void Offer(const std::string& name, EntryType type)
    {
        if (m_bExact || !Text::EqualsNoCase(name, m_wanted))
            return;
        m_bExact = name == m_wanted;
        if (m_bExact || m_strName.empty()) {
            m_strName = name;
            m_type = type;
        }
    }

    bool Found() const noexcept { return !m_strName.empty(); }
    const std::string& Name() const noexcept { return m_strName; }
    bool IsLink() const noexcept { return m_type == EntryType::FolderLink; }

private:
    std::string_view m_wanted;
    std::string m_strName;
    EntryType m_type = EntryType::Folder;
    bool m_bExact = false;
};

// One walk. Depth first with an explicit stack of frames, one per folder that still has
// subfolders to visit; m_strPath always holds the path of the folder being worked on.
class CFolderWalk {
public:
    CFolderWalk(const CVolume& volume, EWalkMode mode, bool recurse, std::string_view pattern,
                CWalkVisitor& visitor);
    CFolderWalk(const CFolderWalk&) = delete;
    CFolderWalk& operator=(const CFolderWalk&) = delete;

    void Run(const std::string& folder);

private:
    struct Frame {
        std::size_t pathLen = 0; // m_strPath up to this folder
        FolderPtr pFolder;       // held while subfolders remain and the cap allows
        bool bGone = false;      // could not be opened again: what remains counts as empty
        FolderId id;
        std::string strSubfolders; // per subfolder: 'd' or 'l' (link), the name, '\0'
        std::size_t nextPos = 0;
    };

    bool Stopped();
    void VisitFolder(FolderPtr pFolder, const FolderId& id);
    void MatchFolderPart(const CVolume::CFolder& start, std::string root,
                         const CFolderPick* pFirst);
    void MatchFromClimbed();
    void HandleFile(const CFoundFile& found);
    bool IsLinkInside(const std::string& path);
    FolderPtr ReopenFrame(std::size_t index);
    bool AcquireHandleSlot(std::size_t forFrame);
    void ReleaseHandle(Frame& frame);

    const CVolume& m_volume;
    CWalkVisitor& m_visitor;
    const EWalkMode m_mode;
    const bool m_bRecurse;
    bool m_bHandles = false; // false when nothing can match: the walk only visits
    CRelativePath m_folderPart;
    CWildcard m_wildcard;

    const std::unique_ptr<CVolume::CFolderReader> m_pReader;
    CVolume::Entry m_entry;
    std::string m_strStart;
    std::string m_strPath;
    std::vector<Frame> m_arrFrames;
    CFolderIdSet m_setEntered;
    std::size_t m_heldCount = 0;
    bool m_bStopped = false;
};

std::string_view NamePartOf(std::string_view pattern)
{
    const std::size_t sep = pattern.find_last_of("\\/");
    return sep == std::string_view::npos ? pattern : pattern.substr(sep + 1);
}

CFolderWalk::CFolderWalk(const CVolume& volume, EWalkMode mode, bool recurse,
                         std::string_view pattern, CWalkVisitor& visitor)
    : m_volume(volume)
    , m_visitor(visitor)
    , m_mode(mode)
    , m_bRecurse(recurse)
    , m_wildcard(NamePartOf(pattern))
    , m_pReader(volume.NewFolderReader())
{
    bool bValid = true;
    const std::size_t sep = pattern.find_last_of("\\/");
    if (sep != std::string_view::npos) {
        std::optional<CRelativePath> folderPart = CRelativePath::Parse(pattern.substr(0, sep));
        if (folderPart)
            m_folderPart = std::move(*folderPart);
        else
            bValid = false;
    }
    m_bHandles = bValid && !m_wildcard.Pattern().empty();
}

bool CFolderWalk::Stopped()
{
    if (!m_bStopped && m_visitor.IsStopRequested())
        m_bStopped = true;
    return m_bStopped;
}

void CFolderWalk::Run(const std::string& folder)
{
    m_strStart = Path::Trimmed(folder);
    m_strPath = m_strStart;

    FolderPtr pStart = m_volume.OpenFolder(m_strStart);
    std::optional<CVolume::FolderInfo> info;
    if (pStart)
        info = m_volume.GetFolderInfo(*pStart);
    if (!info) {
        m_visitor.OnFolder(m_strPath);
        return;
    }
    m_setEntered.Insert(info->id);
    VisitFolder(std::move(pStart), info->id);

    while (!m_arrFrames.empty() && !Stopped()) {
        const std::size_t top = m_arrFrames.size() - 1;
        Frame& frame = m_arrFrames[top];
        if (frame.nextPos >= frame.strSubfolders.size()) {
            ReleaseHandle(frame);
            m_arrFrames.pop_back();
            continue;
        }

        const bool bLink = frame.strSubfolders[frame.nextPos] == 'l';
        const std::string_view name = frame.strSubfolders.c_str() + frame.nextPos + 1;
        frame.nextPos += name.size() + 2;
        const bool bLast = frame.nextPos >= frame.strSubfolders.size();
        m_strPath.resize(frame.pathLen);
        AppendName(m_strPath, name);
        if (bLink && !IsLinkInside(m_strPath))
            continue;

        const CVolume::CFolder* pParent = frame.pFolder.get();
        FolderPtr pTemporary;
        if (!pParent && !frame.bGone) {
            FolderPtr pReopened = ReopenFrame(top);
            if (!pReopened) {
                frame.bGone = true;
            } else if (!bLast && AcquireHandleSlot(top)) {
                frame.pFolder = std::move(pReopened);
                pParent = frame.pFolder.get();
            } else {
                pTemporary = std::move(pReopened);
                pParent = pTemporary.get();
            }
        }
        FolderPtr pChild = pParent ? m_volume.OpenSubfolder(*pParent, name, bLink) : nullptr;
        pTemporary.reset();
        if (bLast)
            ReleaseHandle(frame); // no more children to open from it

        info.reset();
        if (pChild)
            info = m_volume.GetFolderInfo(*pChild);
        if (!info) {
            // Vanished since it was listed, or refused: it counts as empty.
            m_visitor.OnFolder(m_strPath);
            continue;
        }
        if (!info->bOnRootFileSystem || !m_setEntered.Insert(info->id))
            continue;
        VisitFolder(std::move(pChild), info->id);
    }
}

// m_strPath is the path of pFolder.
void CFolderWalk::VisitFolder(FolderPtr pFolder, const FolderId& id)
{
    m_visitor.OnFolder(m_strPath);
    if (Stopped() || !m_pReader->Start(*pFolder))
        return;

    Frame frame;
    frame.pathLen = m_strPath.size();
    frame.id = id;
    const bool bClimbs = m_bHandles && m_folderPart.Ups() > 0;
    const bool bFolderPart = m_bHandles && !bClimbs && !m_folderPart.Names().empty();
    const bool bMatchHere = m_bHandles && !bClimbs && m_folderPart.Names().empty();
    CFolderPick pick(bFolderPart ? std::string_view(m_folderPart.Names().front()) : "");

    // Files are handed on while the folder is read; subfolders wait until it is done.
    while (m_pReader->Next(m_entry)) {
        if (Stopped())
            break;
        const EntryType type = m_entry.type;
        const std::string& name = m_entry.strName;
        if (type == EntryType::File) {
            if (bMatchHere && m_wildcard.Matches(name))
                HandleFile(
                    CFoundFile(m_strPath, name, m_entry.bLink, m_entry.bRegular, m_pReader.get()));
            continue;
        }
        if (bFolderPart)
            pick.Offer(name, type);
        if (m_bRecurse) {
            frame.strSubfolders.push_back(type == EntryType::FolderLink ? 'l' : 'd');
            frame.strSubfolders.append(name);
            frame.strSubfolders.push_back('\0');
        }
    }
    if (Stopped())
        return;

    if (pick.Found())
        MatchFolderPart(*pFolder, m_strPath, &pick);
    else if (bClimbs)
        MatchFromClimbed();
    if (frame.strSubfolders.empty() || Stopped())
        return;
    if (AcquireHandleSlot(m_arrFrames.size()))
        frame.pFolder = std::move(pFolder);
    m_arrFrames.push_back(std::move(frame));
}

// The pattern's folder names below start (at root), then its name part against the files
// found there. pFirst, when given, is the first name already picked from start's listing.
void CFolderWalk::MatchFolderPart(const CVolume::CFolder& start, std::string root,
                                  const CFolderPick* pFirst)
{
    const std::vector<std::string>& names = m_folderPart.Names();
    const CVolume::CFolder* pAt = &start;
    FolderPtr pCurrent;
    for (std::size_t i = 0; i < names.size(); ++i) {
        std::optional<CFolderPick> listed;
        if (i > 0 || !pFirst) {
            // pAt is freshly opened, so it can be listed and then kept.
            listed.emplace(names[i]);
            if (m_pReader->Start(*pAt)) {
                while (m_pReader->Next(m_entry) && !Stopped()) {
                    if (m_entry.type != EntryType::File)
                        listed->Offer(m_entry.strName, m_entry.type);
                }
            }
        }
        const CFolderPick& pick = listed ? *listed : *pFirst;
        FolderPtr pNext;
        if (pick.Found() && !Stopped()) {
            AppendName(root, pick.Name());
            if (!pick.IsLink() || IsLinkInside(root))
                pNext = m_volume.OpenSubfolder(*pAt, pick.Name(), pick.IsLink());
            if (pNext) {
                const std::optional<CVolume::FolderInfo> info = m_volume.GetFolderInfo(*pNext);
                if (!info || !info->bOnRootFileSystem)
                    pNext.reset();
            }
        }
        pCurrent = std::move(pNext);
        if (!pCurrent)
            return;
        pAt = pCurrent.get();
    }

    if (!m_pReader->Start(*pAt))
        return;
    while (m_pReader->Next(m_entry) && !Stopped()) {
        if (m_entry.type == EntryType::File && m_wildcard.Matches(m_entry.strName))
            HandleFile(CFoundFile(root, m_entry.strName, m_entry.bLink, m_entry.bRegular,
                                  m_pReader.get()));
    }
}

// A folder part that climbs ("..\*.exe") starts from an ancestor of the visited folder, by
// name as on Windows, never above the volume's root.
void CFolderWalk::MatchFromClimbed()
{
    const std::optional<std::string_view> climbed =
        m_folderPart.ClimbFrom(m_volume.Root(), m_strPath);
    if (!climbed)
        return;
    std::string root(*climbed);
    const FolderPtr pStart = m_volume.OpenFolder(root);
    if (!pStart)
        return;
    const std::optional<CVolume::FolderInfo> info = m_volume.GetFolderInfo(*pStart);
    if (info && info->bOnRootFileSystem)
        MatchFolderPart(*pStart, std::move(root), nullptr);
}

void CFolderWalk::HandleFile(const CFoundFile& found)
{
    if (m_mode == EWalkMode::Tree) {
        // A descriptor reached through a link must lie on the drive too, as folders must.
        if (!found.IsLink() || IsLinkInside(found.GetFilePath()))
            m_visitor.AddApplication(found);
    } else {
        m_visitor.AddFileRow(found);
    }
}

// A link is followed only when its target lies below the volume's root: a listing may
// follow it wherever the scan could, and neither ever leaves the drive.
bool CFolderWalk::IsLinkInside(const std::string& path)
{
    return m_volume.LinkLeadsBelow(path, m_volume.Root());
}

// Opens the folder of frame index again below the nearest frame above that still holds a
// handle (or below the start folder), and makes sure it is still the same folder.
FolderPtr CFolderWalk::ReopenFrame(std::size_t index)
{
    std::size_t pos = 0;
    const CVolume::CFolder* pBase = nullptr;
    for (std::size_t k = index; k-- > 0;) {
        if (m_arrFrames[k].pFolder) {
            pBase = m_arrFrames[k].pFolder.get();
            pos = m_arrFrames[k].pathLen;
            break;
        }
    }
    FolderPtr pFolder;
    if (!pBase) {
        // The first frame is the start folder's.
        pFolder = m_volume.OpenFolder(m_strStart);
        pBase = pFolder.get();
        pos = m_strStart.size();
    }
    const std::size_t end = m_arrFrames[index].pathLen;
    if (pBase && pos < end) {
        if (m_strPath[pos] == '/')
            ++pos;
        pFolder = m_volume.OpenSubfolder(*pBase, std::string_view(m_strPath).substr(pos, end - pos),
                                         true);
    }
    if (!pFolder)
        return nullptr;
    const std::optional<CVolume::FolderInfo> info = m_volume.GetFolderInfo(*pFolder);
    if (!info || !(info->id == m_arrFrames[index].id))
        return nullptr;
    return pFolder;
}

// Makes room for one more held handle, taking it from the shallowest frame that has one
// when the cap is reached: the deepest frames are the ones the walk returns to first.
bool CFolderWalk::AcquireHandleSlot(std::size_t forFrame)
{
    if (m_heldCount < kMaxHeldFolders) {
        ++m_heldCount;
        return true;
    }
    for (std::size_t k = 0; k < m_arrFrames.size(); ++k) {
        if (k != forFrame && m_arrFrames[k].pFolder) {
            m_arrFrames[k].pFolder.reset();
            return true;
        }
    }
    return false;
}

void CFolderWalk::ReleaseHandle(Frame& frame)
{
    if (frame.pFolder) {
        frame.pFolder.reset();
        --m_heldCount;
    }
}

} // namespace

std::string CFoundFile::GetFilePath() const
{
    return Path::Join(m_strFolder, m_strName);
}

void WalkFolder(const CVolume& volume, const std::string& folder, EWalkMode mode, bool recurse,
                std::string_view pattern, CWalkVisitor& visitor)
{
    CFolderWalk walk(volume, mode, recurse, pattern, visitor);
    walk.Run(folder);
}
