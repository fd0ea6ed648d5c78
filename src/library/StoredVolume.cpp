// SPDX-License-Identifier: GPL-3.0-or-later
#include "library/StoredVolume.h"

#include "catalogue/Path.h"
#include "catalogue/Text.h"
#include "library/LibraryStore.h"
#include "platform/PathFacts.h"

#include <cstring>
#include <functional>
#include <utility>

namespace {

// Quoted, so that the profile reader gives the value back exactly: it strips one pair.
std::string Quoted(std::string_view value)
{
    std::string text = "\"";
    text += value;
    text += '"';
    return text;
}

std::string JoinInside(const std::string& folder, std::string_view name)
{
    return folder.empty() ? std::string(name) : folder + '/' + std::string(name);
}

CVolume::Whereabouts::EKind KindOf(EVolumeKind kind)
{
    switch (kind) {
    case EVolumeKind::Image:
        return CVolume::Whereabouts::EKind::Image;
    case EVolumeKind::Disc:
        return CVolume::Whereabouts::EKind::Disc;
    case EVolumeKind::Folder:
        break;
    }
    return CVolume::Whereabouts::EKind::Folder;
}

} // namespace

class CStoredVolume::CNodeFolder final : public CVolume::CFolder {
public:
    explicit CNodeFolder(std::uint32_t node)
        : m_nNode(node)
    {}
    std::uint32_t m_nNode;
};

class CStoredVolume::CNodeReader final : public CVolume::CFolderReader {
public:
    explicit CNodeReader(const CStoredVolume& volume)
        : m_volume(volume)
    {}
    bool Start(const CFolder& folder) override
    {
        const auto* pFolder = dynamic_cast<const CNodeFolder*>(&folder);
        m_pChildren = pFolder ? &m_volume.m_arrNodes[pFolder->m_nNode].arrChildren : nullptr;
        m_nNext = 0;
        return m_pChildren != nullptr;
    }
    bool Next(Entry& entry) override
    {
        if (!m_pChildren || m_nNext >= m_pChildren->size())
            return false;
        const Node& node = m_volume.m_arrNodes[(*m_pChildren)[m_nNext++]];
        entry.strName = node.strName;
        entry.type = node.bFolder ? EntryType::Folder : EntryType::File;
        entry.bLink = false;
        entry.bRegular = !node.bFolder;
        return true;
    }

private:
    const CStoredVolume& m_volume;
    const std::vector<std::uint32_t>* m_pChildren = nullptr;
    std::size_t m_nNext = 0;
};

// A descriptor or description made from the store.
class CStoredVolume::CTextFile final : public CVolume::CFile {
public:
    CTextFile(const std::string& text, FileIdentity identity)
        : m_text(text)
        , m_identity(identity)
    {}
    std::uint64_t Size() const override { return m_text.size(); }
    bool ReadAt(std::uint64_t offset, void* buffer, std::size_t size) const override
    {
        if (offset > m_text.size() || size > m_text.size() - offset)
            return false;
        std::memcpy(buffer, m_text.data() + offset, size);
        return true;
    }
    ReadStatus ReadAll(std::string& out, std::size_t) const override
    {
        // Its text was held to the window's limits when it was catalogued; decoded to UTF-8
        // it may have grown past them.
        out = m_text;
        return ReadStatus::Ok;
    }
    std::optional<FileIdentity> Identity() const override { return m_identity; }

private:
    const std::string& m_text;
    FileIdentity m_identity;
};

CStoredVolume::CStoredVolume(const CLibraryVolume& volume, const CLibraryContents& contents)
    : m_strRoot(Path::Trimmed(volume.strPath))
    , m_strIdentity(volume.strIdentity)
    , m_whereabouts{volume.strLabel, volume.strPath, KindOf(volume.eKind)}
    // Apart from every device number a stat gives: the top bits set.
    , m_nDevice((std::uint64_t{0xFFFF} << 48) ^ static_cast<std::uint64_t>(volume.nId))
{
    AddNode({}, true, false);
    std::vector<std::uint32_t> folders;
    folders.reserve(contents.astrFolders.size());
    for (const std::string& folder : contents.astrFolders)
        folders.push_back(EnsureFolder(folder));
    for (const CLibraryFile& file : contents.arrFiles) {
        if (file.nFolder >= folders.size() || file.strName.empty() ||
            file.strName.find('/') != std::string::npos)
            continue;
        const std::string inside =
            JoinInside(m_arrNodes[folders[file.nFolder]].strPath, file.strName);
        if (m_mapByPath.contains(inside))
            continue;
        Node& node = m_arrNodes[AddNode(inside, false, true)];
        node.nSize = file.nSize;
        node.nModified = file.nModified;
        if (!file.strIcon.empty())
            node.pIcon = std::make_shared<const std::vector<unsigned char>>(file.strIcon.begin(),
                                                                            file.strIcon.end());
    }
    for (std::size_t i = 0; i < contents.arrApplications.size(); ++i)
        AddApplication(i, contents.arrApplications[i]);
}

std::uint32_t CStoredVolume::EnsureFolder(const std::string& inside)
{
    if (const auto found = FindInside(inside))
        return *found;
    std::string path;
    std::uint32_t node = 0;
    Path::ForEachComponent(inside, "/", [&](std::string_view name) {
        if (name.empty() || name == "." || name == "..")
            return true;
        path = JoinInside(path, name);
        const auto found = FindInside(path);
        node = found && m_arrNodes[*found].bFolder ? *found : AddNode(path, true, !found);
        return true;
    });
    return node;
}

std::uint32_t CStoredVolume::AddNode(const std::string& inside, bool bFolder, bool bListed)
{
    const auto index = static_cast<std::uint32_t>(m_arrNodes.size());
    const std::size_t slash = inside.rfind('/');
    Node node;
    node.strName = slash == std::string::npos ? inside : inside.substr(slash + 1);
    node.strPath = inside;
    node.bFolder = bFolder;
    m_arrNodes.push_back(std::move(node));
    if (index == 0)
        return index;
    const std::string parent = slash == std::string::npos ? std::string() : inside.substr(0, slash);
    const std::uint32_t parentNode = EnsureFolder(parent);
    if (bListed)
        m_arrNodes[parentNode].arrChildren.push_back(index);
    m_mapByPath.emplace(inside, index);
    return index;
}

void CStoredVolume::AddApplication(std::size_t index, const CLibraryApplication& application)
{
    if (application.strDescriptor.empty() || application.strDescriptor.back() == '/')
        return;
    // Beside the application, under a name no listing shows.
    const std::string descriptionName = ".quarrow-description-" + std::to_string(index);
    std::string descriptor =
        "[info]\ncategory=" + Quoted(application.strCategory) +
        "\nname=" + Quoted(application.strName) +
        "\n[description]\nfile=" + Quoted(descriptionName) +
        "\n[showfiles]\nsearchsubdirs=" + (application.bSearchSubdirs ? "true" : "false") + '\n';
    std::size_t number = 0;
    for (const std::string& pattern : application.astrPatterns)
        descriptor += "file" + std::to_string(++number) + '=' + Quoted(pattern) + '\n';
    descriptor += "file" + std::to_string(number + 1) + "=-1\n";

    auto found = FindInside(application.strDescriptor);
    if (!found || m_arrNodes[*found].bFolder)
        found = AddNode(application.strDescriptor, false, !found);
    m_arrNodes[*found].strText = std::move(descriptor);

    const std::uint32_t folder = EnsureFolder(application.strFolder);
    const std::string inside = JoinInside(m_arrNodes[folder].strPath, descriptionName);
    if (FindInside(inside))
        return;
    Node& description = m_arrNodes[AddNode(inside, false, false)];
    description.strText = application.strDescription;
    description.nSize = application.strDescription.size();
}

std::optional<std::uint32_t> CStoredVolume::FindInside(const std::string& inside) const
{
    if (inside.empty())
        return m_arrNodes.empty() ? std::nullopt : std::optional<std::uint32_t>(0);
    const auto it = m_mapByPath.find(inside);
    return it == m_mapByPath.end() ? std::nullopt : std::optional<std::uint32_t>(it->second);
}

std::optional<std::uint32_t> CStoredVolume::Find(const std::string& path) const
{
    if (!Contains(path))
        return std::nullopt;
    if (path.size() <= m_strRoot.size())
        return 0;
    return FindInside(path.substr(m_strRoot == "/" ? 1 : m_strRoot.size() + 1));
}

std::string CStoredVolume::Full(const Node& node) const
{
    return node.strPath.empty() ? m_strRoot : Path::Join(m_strRoot, node.strPath);
}

CVolume::FileIdentity CStoredVolume::IdentityOfNode(std::uint32_t index) const
{
    const Node& node = m_arrNodes[index];
    const Timestamp time{node.nModified, 0};
    return {m_nDevice, index, node.strText && node.nSize == 0 ? node.strText->size() : node.nSize,
            time, time};
}

std::unique_ptr<CVolume::CFolder> CStoredVolume::OpenFolder(const std::string& path) const
{
    const auto node = Find(path);
    if (!node || !m_arrNodes[*node].bFolder)
        return nullptr;
    return std::make_unique<CNodeFolder>(*node);
}

std::unique_ptr<CVolume::CFolder>
CStoredVolume::OpenSubfolder(const CFolder& parent, std::string_view name, bool bFollowLink) const
{
    const auto* pParent = dynamic_cast<const CNodeFolder*>(&parent);
    if (!pParent || name.empty() || name.front() == '/' ||
        (!bFollowLink && name.find('/') != std::string_view::npos))
        return nullptr;
    std::string inside = m_arrNodes[pParent->m_nNode].strPath;
    const bool bValid = Path::ForEachComponent(name, "/", [&](std::string_view component) {
        if (component == ".." || component.find('\0') != std::string_view::npos)
            return false;
        if (!component.empty() && component != ".")
            inside = JoinInside(inside, component);
        return true;
    });
    const auto node = bValid ? FindInside(inside) : std::nullopt;
    if (!node || !m_arrNodes[*node].bFolder)
        return nullptr;
    return std::make_unique<CNodeFolder>(*node);
}

std::optional<CVolume::FolderInfo> CStoredVolume::GetFolderInfo(const CFolder& folder) const
{
    const auto* pFolder = dynamic_cast<const CNodeFolder*>(&folder);
    if (!pFolder)
        return std::nullopt;
    return FolderInfo{{m_nDevice, pFolder->m_nNode}, true};
}

std::unique_ptr<CVolume::CFolderReader> CStoredVolume::NewFolderReader() const
{
    return std::make_unique<CNodeReader>(*this);
}

std::optional<std::string> CStoredVolume::ResolveNoCase(const std::string& folder,
                                                        std::string_view relative) const
{
    auto node = Find(folder);
    if (!node || !m_arrNodes[*node].bFolder)
        return std::nullopt;
    const bool bFound = Path::ForEachComponent(relative, "\\/", [&](std::string_view name) {
        if (name == ".." || name.find('\0') != std::string_view::npos || !node ||
            !m_arrNodes[*node].bFolder)
            return false;
        if (name.empty() || name == ".")
            return true;
        const Node& here = m_arrNodes[*node];
        const auto exact = FindInside(JoinInside(here.strPath, name));
        node.reset();
        if (exact) {
            node = exact;
            return true;
        }
        for (const std::uint32_t child : here.arrChildren) {
            if (Text::EqualsNoCase(m_arrNodes[child].strName, name)) {
                node = child;
                return true;
            }
        }
        return false;
    });
    if (!bFound || !node)
        return std::nullopt;
    return Full(m_arrNodes[*node]);
}

std::unique_ptr<CVolume::CFile> CStoredVolume::OpenFile(const std::string& path) const
{
    const auto node = Find(path);
    if (!node || !m_arrNodes[*node].strText)
        return nullptr;
    return std::make_unique<CTextFile>(*m_arrNodes[*node].strText, IdentityOfNode(*node));
}

std::optional<CVolume::FileIdentity> CStoredVolume::IdentityOf(const std::string& path) const
{
    const auto node = Find(path);
    if (!node || m_arrNodes[*node].bFolder)
        return std::nullopt;
    return IdentityOfNode(*node);
}

std::shared_ptr<const std::vector<unsigned char>>
CStoredVolume::KeptIcon(const std::string& path) const
{
    const auto node = Find(path);
    return node ? m_arrNodes[*node].pIcon : nullptr;
}

CVolume::PathKind CStoredVolume::What(const std::string& path) const
{
    const auto node = Find(path);
    if (!node)
        return PathKind::Missing;
    return m_arrNodes[*node].bFolder ? PathKind::Folder : PathKind::File;
}

std::shared_ptr<const CVolume> OpenStoredVolume(const std::string& path,
                                                const std::string& storePath)
{
    // A window that merely opens a drive makes no store.
    if (CPathFacts::Of(storePath).eKind != CPathFacts::EKind::File)
        return nullptr;
    try {
        CLibraryStore store;
        std::string error, notice;
        if (store.Open(storePath, error, notice) != CLibraryStore::EOpen::Ok)
            return nullptr;
        const std::optional<CLibraryVolume> volume = store.VolumeAt(path);
        if (!volume || !volume->strError.empty())
            return nullptr;
        return std::make_shared<const CStoredVolume>(*volume, store.Contents(volume->nId));
    } catch (const CLibraryStore::CError&) {
        return nullptr;
    }
}

namespace {

bool IsEmptyFolder(const CVolume& volume)
{
    const auto root = volume.OpenFolder(volume.Root());
    const auto reader = volume.NewFolderReader();
    CVolume::Entry entry;
    return root && reader->Start(*root) && !reader->Next(entry);
}

} // namespace

COpenedVolume OpenVolumeOrStored(const std::string& path, const ImageOpenFn& openImage,
                                 const std::string& storePath)
{
    COpenedVolume opened = OpenVolume(path, openImage);
    const bool bAway = !opened.m_pVolume || (!opened.m_bImage && IsEmptyFolder(*opened.m_pVolume));
    if (!bAway)
        return opened;
    std::shared_ptr<const CVolume> stored = OpenStoredVolume(path, storePath);
    if (!stored)
        return opened;
    // An empty folder stands in only for a disc that was mounted there.
    const CVolume::Whereabouts& where = *stored->Away();
    if (opened.m_pVolume && where.eKind != CVolume::Whereabouts::EKind::Disc)
        return opened;
    COpenedVolume shown;
    shown.m_bImage = where.eKind == CVolume::Whereabouts::EKind::Image;
    shown.m_strLabel = where.strLabel;
    shown.m_pVolume = std::move(stored);
    return shown;
}
