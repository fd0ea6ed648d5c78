// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/MountedVolume.h"

#include "catalogue/Path.h"

#include "platform/FileFind.h"
#include "platform/PathAt.h"
#include "platform/RegularFile.h"

#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace {

class CMountedFolder final : public CVolume::CFolder {
public:
    explicit CMountedFolder(int hFolder) noexcept
        : m_hFolder(hFolder)
    {}
    ~CMountedFolder() override { CFileFind::CloseFolder(m_hFolder); }
    CMountedFolder(const CMountedFolder&) = delete;
    CMountedFolder& operator=(const CMountedFolder&) = delete;

    int Handle() const noexcept { return m_hFolder; }

private:
    int m_hFolder;
};

int HandleOf(const CVolume::CFolder& folder) noexcept
{
    return static_cast<const CMountedFolder&>(folder).Handle();
}

std::unique_ptr<CVolume::CFolder> Wrap(int hFolder)
{
    if (hFolder < 0)
        return nullptr;
    return std::make_unique<CMountedFolder>(hFolder);
}

class CMountedReader final : public CVolume::CFolderReader {
public:
    explicit CMountedReader(CFileFind::Options options)
        : m_finder(options)
    {}
    bool Start(const CVolume::CFolder& folder) override
    {
        return m_finder.FindFile(HandleOf(folder), {}, true);
    }
    bool Next(CVolume::Entry& entry) override
    {
        if (!m_finder.FindNextFile()) {
            m_finder.Close();
            return false;
        }
        entry.strName = m_finder.GetFileName();
        entry.type = m_finder.GetEntryType();
        entry.bLink = m_finder.IsLink();
        entry.bRegular = m_finder.IsRegular();
        return true;
    }

private:
    CFileFind m_finder;
};

class CMountedFile final : public CVolume::CFile {
public:
    bool Open(const std::string& path, bool bListed)
    {
        return bListed ? m_file.OpenListed(path) : m_file.Open(path);
    }
    std::uint64_t Size() const override { return m_file.Size(); }
    bool ReadAt(std::uint64_t offset, void* buffer, std::size_t size) const override
    {
        return m_file.ReadAt(offset, buffer, size);
    }
    CVolume::ReadStatus ReadAll(std::string& out, std::size_t maxBytes) const override
    {
        return m_file.ReadAll(out, maxBytes);
    }
    std::optional<CVolume::FileIdentity> Identity() const override { return m_file.GetIdentity(); }
    bool IsRecordedExecutable() const override { return m_file.IsExecutable(); }

private:
    CRegularFile m_file;
};

// bListed: as CVolume::OpenListedFile.
std::unique_ptr<CVolume::CFile> OpenRegular(const std::string& path, bool bListed)
{
    auto file = std::make_unique<CMountedFile>();
    if (!file->Open(path, bListed))
        return nullptr;
    return file;
}

// A subfolder name for openat: never absolute (openat would ignore the parent), never "..",
// and a single component unless links are followed anyway.
bool IsSubfolderName(std::string_view name, bool bFollowLink) noexcept
{
    if (name.empty() || name.front() == '/' || name.find('\0') != std::string_view::npos)
        return false;
    if (!bFollowLink)
        return name.find('/') == std::string_view::npos && name != "..";
    return Path::ForEachComponent(name, "/",
                                  [](std::string_view component) { return component != ".."; });
}

bool IsStrictlyBelow(const std::string& path, const std::string& folder)
{
    if (folder == "/")
        return path.size() > 1 && path.front() == '/';
    return path.size() > folder.size() && path.compare(0, folder.size(), folder) == 0 &&
           path[folder.size()] == '/';
}

} // namespace

CMountedVolume::CMountedVolume(std::string root, Options options)
    : m_strRoot(Path::Trimmed(root))
    , m_options(options)
{}

std::shared_ptr<const CVolume> CMountedVolume::Create(std::string root)
{
    return std::make_shared<const CMountedVolume>(std::move(root));
}

const CMountedVolume::RootFacts& CMountedVolume::Facts() const
{
    std::call_once(m_factsOnce, [this] {
        struct stat st {};
        const CPathAt at(m_strRoot);
        if (::fstatat(at.Folder(), at.Name(), &st, 0) == 0)
            m_facts.nDevice = static_cast<std::uint64_t>(st.st_dev);
        m_facts.strRealPath = CFileFind::RealPath(m_strRoot);
    });
    return m_facts;
}

std::unique_ptr<CVolume::CFolder> CMountedVolume::OpenFolder(const std::string& path) const
{
    if (!Contains(path))
        return nullptr;
    return Wrap(CFileFind::OpenFolder(path));
}

std::unique_ptr<CVolume::CFolder>
CMountedVolume::OpenSubfolder(const CFolder& parent, std::string_view name, bool bFollowLink) const
{
    if (!IsSubfolderName(name, bFollowLink))
        return nullptr;
    // Most names fit here, sparing an allocation per folder of a walk.
    char buffer[256];
    if (name.size() < sizeof buffer) {
        std::memcpy(buffer, name.data(), name.size());
        buffer[name.size()] = '\0';
        return Wrap(CFileFind::OpenSubfolder(HandleOf(parent), buffer, bFollowLink));
    }
    // A long relative path goes in steps that each fit the kernel's limit.
    int hBase = HandleOf(parent);
    int hOwned = -1;
    std::string step;
    for (;;) {
        std::size_t cut = name.size();
        if (cut > CFileFind::MaxPathLength()) {
            cut = name.rfind('/', CFileFind::MaxPathLength());
            if (cut == std::string_view::npos || cut == 0) {
                CFileFind::CloseFolder(hOwned);
                return nullptr;
            }
        }
        step.assign(name.substr(0, cut));
        const int hNext = CFileFind::OpenSubfolder(hBase, step.c_str(), bFollowLink);
        CFileFind::CloseFolder(hOwned);
        if (hNext < 0 || cut == name.size())
            return Wrap(hNext);
        hBase = hOwned = hNext;
        name.remove_prefix(cut + 1);
    }
}

std::optional<CVolume::FolderInfo> CMountedVolume::GetFolderInfo(const CFolder& folder) const
{
    FolderId id;
    if (!CFileFind::GetFolderId(HandleOf(folder), id))
        return std::nullopt;
    const std::optional<std::uint64_t>& rootDevice = Facts().nDevice;
    return FolderInfo{id, rootDevice && *rootDevice == id.nDevice};
}

std::unique_ptr<CVolume::CFolderReader> CMountedVolume::NewFolderReader() const
{
    return std::make_unique<CMountedReader>(
        CFileFind::Options{m_options.bAssumeUnknownType, &m_nStatCalls});
}

bool CMountedVolume::LinkLeadsBelow(const std::string& linkPath, const std::string& folder) const
{
    if (!Contains(linkPath) || !Contains(folder))
        return false;
    const std::optional<std::string> realFolder =
        folder == m_strRoot ? Facts().strRealPath : CFileFind::RealPath(folder);
    if (!realFolder)
        return false;
    const std::optional<std::string> target = CFileFind::RealPath(linkPath);
    return target && IsStrictlyBelow(*target, *realFolder);
}

std::optional<std::string> CMountedVolume::ResolveNoCase(const std::string& folder,
                                                         std::string_view relative) const
{
    if (!Contains(folder))
        return std::nullopt;
    return CFileFind::ResolveNoCase(folder, relative);
}

std::unique_ptr<CVolume::CFile> CMountedVolume::OpenFile(const std::string& path) const
{
    return Contains(path) ? OpenRegular(path, false) : nullptr;
}

std::unique_ptr<CVolume::CFile> CMountedVolume::OpenListedFile(const std::string& path) const
{
    return Contains(path) ? OpenRegular(path, true) : nullptr;
}

std::optional<CVolume::FileIdentity> CMountedVolume::IdentityOf(const std::string& path) const
{
    if (!Contains(path))
        return std::nullopt;
    return CRegularFile::IdentityOf(path);
}

CVolume::PathKind CMountedVolume::What(const std::string& path) const
{
    struct stat st {};
    if (!Contains(path))
        return PathKind::Missing;
    const CPathAt at(path);
    if (!at.IsValid() || ::fstatat(at.Folder(), at.Name(), &st, 0) != 0)
        return PathKind::Missing;
    if (S_ISREG(st.st_mode))
        return PathKind::File;
    return S_ISDIR(st.st_mode) ? PathKind::Folder : PathKind::Other;
}

std::optional<std::string> CMountedVolume::RealPathForDesktop(const std::string& path) const
{
    if (!Contains(path))
        return std::nullopt;
    // A link on the drive may lead to any program of the machine: nothing reached through one
    // that leaves the drive is handed over, as if it were missing.
    const std::optional<std::string>& root = Facts().strRealPath;
    const std::optional<std::string> real = CFileFind::RealPath(path);
    if (!root || !real || (*real != *root && !IsStrictlyBelow(*real, *root)))
        return std::nullopt;
    return path;
}
