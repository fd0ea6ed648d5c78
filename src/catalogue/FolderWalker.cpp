#include "catalogue/FolderWalker.h"

#include "catalogue/Text.h"
#include "catalogue/Wildcard.h"
#include "platform/FileFind.h"

#include <cstdint>
#include <cstring>
#include <optional>
#include <vector>

namespace {

enum class WalkMode { None, Tree, List };

// Beyond this many open folder handles, the shallowest give theirs up and are opened again
// by path when the walk comes back to them.
constexpr std::size_t kMaxHeldFolders = 256;

// Device and inode of every folder entered: one flat array with open addressing, so a
// folder costs no allocation and a lookup mostly one cache line.
class CFolderIdSet {
public:
    // False when id was in the set already.
    bool Insert(const CFileFind::FolderId& id)
    {
        if (id == CFileFind::FolderId{}) {
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
    static std::size_t Hash(const CFileFind::FolderId& id) noexcept
    {
        std::uint64_t h = (id.ino ^ (id.dev * 0x9E3779B97F4A7C15ull)) * 0xBF58476D1CE4E5B9ull;
        return static_cast<std::size_t>(h ^ (h >> 31));
    }

    // False when id is there already.
    bool Place(const CFileFind::FolderId& id) noexcept
    {
        const std::size_t mask = m_arrSlots.size() - 1;
        for (std::size_t i = Hash(id) & mask;; i = (i + 1) & mask) {
            CFileFind::FolderId& slot = m_arrSlots[i];
            if (slot == id)
                return false;
            if (slot == CFileFind::FolderId{}) {
                slot = id;
                return true;
            }
        }
    }

    void Grow()
    {
        const std::vector<CFileFind::FolderId> arrOld = std::move(m_arrSlots);
        m_arrSlots.assign(arrOld.empty() ? 64 : arrOld.size() * 2, CFileFind::FolderId{});
        for (const CFileFind::FolderId& id : arrOld) {
            if (!(id == CFileFind::FolderId{}))
                Place(id);
        }
    }

    std::vector<CFileFind::FolderId> m_arrSlots; // size a power of two, at most half full
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

    void Offer(const std::string& name, CFileFind::EntryType type)
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
    bool IsLink() const noexcept { return m_type == CFileFind::EntryType::FolderLink; }

private:
    std::string_view m_wanted;
    std::string m_strName;
    CFileFind::EntryType m_type = CFileFind::EntryType::Folder;
    bool m_bExact = false;
};

// One walk. Depth first with an explicit stack of frames, one per folder that still has
// subfolders to visit; m_strPath always holds the path of the folder being worked on.
class CFolderWalk {
public:
    CFolderWalk(std::string_view mode, bool recurse, std::string_view pattern,
                CWalkVisitor& visitor);
    ~CFolderWalk();
    CFolderWalk(const CFolderWalk&) = delete;
    CFolderWalk& operator=(const CFolderWalk&) = delete;

    void Run(const std::string& folder);

private:
    struct Frame {
        std::size_t pathLen = 0; // m_strPath up to this folder
        int hFolder = -1;        // held while subfolders remain and the cap allows
        bool bGone = false;      // could not be opened again: what remains counts as empty
        CFileFind::FolderId id;
        std::string strSubfolders; // per subfolder: 'd' or 'l' (link), the name, '\0'
        std::size_t nextPos = 0;
    };

    bool Stopped();
    void VisitFolder(int hFolder, const CFileFind::FolderId& id);
    void MatchFolderPart(int hFolder, const CFolderPick& first);
    void HandleFile(const CFileFind& found);
    bool IsLinkInside(const std::string& path);
    int ReopenFrame(std::size_t index);
    bool AcquireHandleSlot(std::size_t forFrame);
    void ReleaseHandle(Frame& frame);

    CWalkVisitor& m_visitor;
    WalkMode m_mode = WalkMode::None;
    const bool m_bRecurse;
    bool m_bHandles = false; // false when nothing can match: the walk only visits
    std::vector<std::string> m_astrFolderPart;
    CWildcard m_wildcard;

    CFileFind m_finder;
    std::string m_strStart;
    std::string m_strPath;
    std::vector<Frame> m_arrFrames;
    CFolderIdSet m_setEntered;
    std::uint64_t m_startDev = 0;
    std::optional<std::string> m_strRealStart;
    bool m_bRealStartKnown = false;
    std::size_t m_heldCount = 0;
    bool m_bStopped = false;
};

std::string_view NamePartOf(std::string_view pattern)
{
    const std::size_t sep = pattern.find_last_of("\\/");
    return sep == std::string_view::npos ? pattern : pattern.substr(sep + 1);
}

CFolderWalk::CFolderWalk(std::string_view mode, bool recurse, std::string_view pattern,
                         CWalkVisitor& visitor)
    : m_visitor(visitor)
    , m_bRecurse(recurse)
    , m_wildcard(NamePartOf(pattern))
{
    if (Text::EqualsNoCase(mode, "tree"))
        m_mode = WalkMode::Tree;
    else if (Text::EqualsNoCase(mode, "list"))
        m_mode = WalkMode::List;

    bool bValid = true;
    const std::size_t sep = pattern.find_last_of("\\/");
    if (sep != std::string_view::npos) {
        const std::string_view folderPart = pattern.substr(0, sep);
        std::size_t start = 0;
        while (start <= folderPart.size()) {
            std::size_t end = folderPart.find_first_of("\\/", start);
            if (end == std::string_view::npos)
                end = folderPart.size();
            const std::string_view component = folderPart.substr(start, end - start);
            if (component == ".." || component.find('\0') != std::string_view::npos)
                bValid = false; // never leave the folder being walked
            else if (!component.empty() && component != ".")
                m_astrFolderPart.emplace_back(component);
            start = end + 1;
        }
    }
    m_bHandles = m_mode != WalkMode::None && bValid && !m_wildcard.Pattern().empty();
}

CFolderWalk::~CFolderWalk()
{
    for (Frame& frame : m_arrFrames)
        CFileFind::CloseFolder(frame.hFolder);
}

bool CFolderWalk::Stopped()
{
    if (!m_bStopped && m_visitor.IsStopRequested())
        m_bStopped = true;
    return m_bStopped;
}

void CFolderWalk::Run(const std::string& folder)
{
    m_strStart = folder;
    while (m_strStart.size() > 1 && m_strStart.back() == '/')
        m_strStart.pop_back();
    m_strPath = m_strStart;

    const int hStart = CFileFind::OpenFolder(m_strStart);
    CFileFind::FolderId id;
    if (hStart < 0 || !CFileFind::GetFolderId(hStart, id)) {
        CFileFind::CloseFolder(hStart);
        m_visitor.OnFolder(m_strPath);
        return;
    }
    m_startDev = id.dev;
    m_setEntered.Insert(id);
    VisitFolder(hStart, id);

    while (!m_arrFrames.empty() && !Stopped()) {
        const std::size_t top = m_arrFrames.size() - 1;
        Frame& frame = m_arrFrames[top];
        if (frame.nextPos >= frame.strSubfolders.size()) {
            ReleaseHandle(frame);
            m_arrFrames.pop_back();
            continue;
        }

        const bool bLink = frame.strSubfolders[frame.nextPos] == 'l';
        const char* name = frame.strSubfolders.c_str() + frame.nextPos + 1;
        frame.nextPos += std::strlen(name) + 2;
        const bool bLast = frame.nextPos >= frame.strSubfolders.size();
        m_strPath.resize(frame.pathLen);
        AppendName(m_strPath, name);
        if (bLink && !IsLinkInside(m_strPath))
            continue;

        int hParent = frame.hFolder;
        bool bTemporary = false;
        if (hParent < 0 && !frame.bGone) {
            hParent = ReopenFrame(top);
            if (hParent < 0)
                frame.bGone = true;
            else if (!bLast && AcquireHandleSlot(top))
                frame.hFolder = hParent;
            else
                bTemporary = true;
        }
        const int hChild = hParent >= 0 ? CFileFind::OpenSubfolder(hParent, name, bLink) : -1;
        if (bTemporary)
            CFileFind::CloseFolder(hParent);
        if (bLast)
            ReleaseHandle(frame); // no more children to open from it

        if (hChild < 0 || !CFileFind::GetFolderId(hChild, id)) {
            // Vanished since it was listed, or refused: it counts as empty.
            CFileFind::CloseFolder(hChild);
            m_visitor.OnFolder(m_strPath);
            continue;
        }
        if (id.dev != m_startDev || !m_setEntered.Insert(id)) {
            CFileFind::CloseFolder(hChild);
            continue;
        }
        VisitFolder(hChild, id);
    }
}

// Takes hFolder over; m_strPath is its path.
void CFolderWalk::VisitFolder(int hFolder, const CFileFind::FolderId& id)
{
    m_visitor.OnFolder(m_strPath);
    if (Stopped()) {
        CFileFind::CloseFolder(hFolder);
        return;
    }
    if (!m_finder.FindFile(hFolder, m_strPath))
        return;

    Frame frame;
    frame.pathLen = m_strPath.size();
    frame.id = id;
    const bool bFolderPart = m_bHandles && !m_astrFolderPart.empty();
    const bool bMatchHere = m_bHandles && m_astrFolderPart.empty();
    CFolderPick pick(bFolderPart ? std::string_view(m_astrFolderPart.front()) : "");

    // Files are handed on while the folder is read; subfolders wait until it is done.
    while (m_finder.FindNextFile()) {
        if (Stopped())
            break;
        const CFileFind::EntryType type = m_finder.GetEntryType();
        const std::string& name = m_finder.GetFileName();
        if (type == CFileFind::EntryType::File) {
            if (bMatchHere && m_wildcard.Matches(name))
                HandleFile(m_finder);
            continue;
        }
        if (bFolderPart)
            pick.Offer(name, type);
        if (m_bRecurse) {
            frame.strSubfolders.push_back(type == CFileFind::EntryType::FolderLink ? 'l' : 'd');
            frame.strSubfolders.append(name);
            frame.strSubfolders.push_back('\0');
        }
    }
    if (Stopped()) {
        m_finder.Close();
        return;
    }

    const bool bNeedHandle = pick.Found() || !frame.strSubfolders.empty();
    int hKeep = bNeedHandle ? m_finder.TakeFolder() : -1;
    m_finder.Close();
    if (pick.Found() && hKeep >= 0)
        MatchFolderPart(hKeep, pick);

    if (frame.strSubfolders.empty() || Stopped()) {
        CFileFind::CloseFolder(hKeep);
        return;
    }
    if (hKeep >= 0 && !AcquireHandleSlot(m_arrFrames.size())) {
        CFileFind::CloseFolder(hKeep);
        hKeep = -1;
    }
    frame.hFolder = hKeep;
    m_arrFrames.push_back(std::move(frame));
}

// The pattern's folder part below the folder at m_strPath (hFolder, borrowed), then its
// name part against the files found there.
void CFolderWalk::MatchFolderPart(int hFolder, const CFolderPick& first)
{
    std::string root = m_strPath;
    int hCurrent = -1;
    for (std::size_t i = 0; i < m_astrFolderPart.size(); ++i) {
        std::optional<CFolderPick> later;
        if (i > 0) {
            // hCurrent is fresh from OpenSubfolder, so it can be listed and then kept.
            later.emplace(m_astrFolderPart[i]);
            m_finder.FindFile(hCurrent, root);
            while (m_finder.FindNextFile() && !Stopped()) {
                if (m_finder.IsFolder())
                    later->Offer(m_finder.GetFileName(), m_finder.GetEntryType());
            }
            hCurrent = m_finder.TakeFolder();
        }
        const CFolderPick& pick = i == 0 ? first : *later;
        int hNext = -1;
        if (pick.Found() && !Stopped()) {
            AppendName(root, pick.Name());
            if (!pick.IsLink() || IsLinkInside(root)) {
                hNext = CFileFind::OpenSubfolder(i == 0 ? hFolder : hCurrent, pick.Name().c_str(),
                                                 pick.IsLink());
            }
            CFileFind::FolderId id;
            if (hNext >= 0 && (!CFileFind::GetFolderId(hNext, id) || id.dev != m_startDev)) {
                CFileFind::CloseFolder(hNext);
                hNext = -1;
            }
        }
        CFileFind::CloseFolder(hCurrent);
        hCurrent = hNext;
        if (hCurrent < 0)
            return;
    }

    if (!m_finder.FindFile(hCurrent, root))
        return;
    while (m_finder.FindNextFile() && !Stopped()) {
        if (m_finder.GetEntryType() == CFileFind::EntryType::File &&
            m_wildcard.Matches(m_finder.GetFileName()))
            HandleFile(m_finder);
    }
    m_finder.Close();
}

void CFolderWalk::HandleFile(const CFileFind& found)
{
    if (m_mode == WalkMode::Tree) {
        // A descriptor reached through a link must lie on the drive too, as folders must.
        if (!found.IsLink() || IsLinkInside(found.GetFilePath()))
            m_visitor.AddApplication(found);
    } else if (m_mode == WalkMode::List) {
        m_visitor.AddFileRow(found);
    }
}

// A link is followed only when its target lies below the start folder, so that a walk
// never climbs out of the tree it was asked for nor runs round a cycle through it.
bool CFolderWalk::IsLinkInside(const std::string& path)
{
    if (!m_bRealStartKnown) {
        m_strRealStart = CFileFind::RealPath(m_strStart);
        m_bRealStartKnown = true;
    }
    if (!m_strRealStart)
        return false;
    const std::optional<std::string> target = CFileFind::RealPath(path);
    if (!target)
        return false;
    const std::string& root = *m_strRealStart;
    if (root == "/")
        return *target != "/";
    return target->size() > root.size() && target->compare(0, root.size(), root) == 0 &&
           (*target)[root.size()] == '/';
}

// Opens the folder of frame index again from the nearest frame above that still holds a
// handle (or from the start path), in steps short enough for the path length limit, and
// makes sure it is still the same folder.
int CFolderWalk::ReopenFrame(std::size_t index)
{
    std::size_t pos = 0;
    int hCurrent = -1;
    for (std::size_t k = index; k-- > 0;) {
        if (m_arrFrames[k].hFolder >= 0) {
            hCurrent = m_arrFrames[k].hFolder;
            pos = m_arrFrames[k].pathLen;
            break;
        }
    }
    const std::size_t end = m_arrFrames[index].pathLen;
    const std::size_t maxStep = CFileFind::MaxPathLength();
    bool bOwned = false;
    std::string step;
    while (pos < end) {
        if (hCurrent >= 0 && m_strPath[pos] == '/')
            ++pos;
        std::size_t stepEnd = end;
        if (stepEnd - pos > maxStep) {
            stepEnd = m_strPath.rfind('/', pos + maxStep);
            if (stepEnd == std::string::npos || stepEnd <= pos)
                break;
        }
        step.assign(m_strPath, pos, stepEnd - pos);
        const int hNext = hCurrent < 0 ? CFileFind::OpenFolder(step)
                                       : CFileFind::OpenSubfolder(hCurrent, step.c_str(), true);
        if (bOwned)
            CFileFind::CloseFolder(hCurrent);
        bOwned = hNext >= 0;
        hCurrent = hNext;
        if (hCurrent < 0)
            return -1;
        pos = stepEnd;
    }
    CFileFind::FolderId id;
    if (!bOwned || pos < end || !CFileFind::GetFolderId(hCurrent, id) ||
        !(id == m_arrFrames[index].id)) {
        if (bOwned)
            CFileFind::CloseFolder(hCurrent);
        return -1;
    }
    return hCurrent;
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
        if (k != forFrame && m_arrFrames[k].hFolder >= 0) {
            CFileFind::CloseFolder(m_arrFrames[k].hFolder);
            m_arrFrames[k].hFolder = -1;
            return true;
        }
    }
    return false;
}

void CFolderWalk::ReleaseHandle(Frame& frame)
{
    if (frame.hFolder >= 0) {
        CFileFind::CloseFolder(frame.hFolder);
        frame.hFolder = -1;
        --m_heldCount;
    }
}

} // namespace

void WalkFolder(const std::string& folder, std::string_view mode, bool recurse,
                std::string_view pattern, CWalkVisitor& visitor)
{
    CFolderWalk walk(mode, recurse, pattern, visitor);
    walk.Run(folder);
}
