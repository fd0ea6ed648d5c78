// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/ImageVolume.h"

#include "platform/ZisofsReader.h"

#include "catalogue/Path.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <deque>
#include <new>
#include <unistd.h>

namespace {

using Kind = CImageReader::Kind;
constexpr std::uint32_t kBlock = CImageReader::kBlockSize;
// Blocks read under the lock at a time, so that other threads get their turn.
constexpr std::uint32_t kChunkBlocks = 32;

bool EqualNoCase(std::string_view a, std::string_view b)
{
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        auto lower = [](char c) {
            return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c;
        };
        return lower(x) == lower(y);
    });
}

void Append(std::string& path, std::string_view name)
{
    if (!path.empty())
        path += '/';
    path += name;
}

class CImageFolder final : public CVolume::CFolder {
public:
    explicit CImageFolder(CImageVolume::Located located)
        : m_located(std::move(located))
    {}
    const CImageVolume::Located& Where() const noexcept { return m_located; }

private:
    CImageVolume::Located m_located;
};

const CImageVolume::Located& WhereOf(const CVolume::CFolder& folder)
{
    return static_cast<const CImageFolder&>(folder).Where();
}

class CImageFolderReader final : public CVolume::CFolderReader {
public:
    explicit CImageFolderReader(const CImageVolume& volume)
        : m_volume(volume)
    {}

    bool Start(const CVolume::CFolder& folder) override
    {
        m_strFolder = WhereOf(folder).strCanonical;
        m_pListing = m_volume.ListFolder(WhereOf(folder));
        m_nNext = 0;
        if (!m_pListing->bReadable) {
            m_pListing.reset();
            return false;
        }
        return true;
    }

    bool Next(CVolume::Entry& entry) override
    {
        if (!m_pListing || m_nNext >= m_pListing->entries.size()) {
            m_pListing.reset();
            return false;
        }
        const CImageReader::Entry& e = m_pListing->entries[m_nNext++];
        entry.strName = e.strName;
        entry.bLink = e.kind == Kind::Link;
        entry.bRegular = e.kind == Kind::File;
        entry.type = e.kind == Kind::Folder ? CVolume::EntryType::Folder : CVolume::EntryType::File;
        if (entry.bLink) {
            m_strLink = m_strFolder;
            Append(m_strLink, e.strName);
            const auto target = m_volume.Locate(m_strLink, true, false);
            if (target && target->entry.kind == Kind::Folder)
                entry.type = CVolume::EntryType::FolderLink;
        }
        return true;
    }

    std::optional<CVolume::FileIdentity> ListedIdentity() const override
    {
        if (!m_pListing || m_nNext == 0)
            return std::nullopt;
        const CImageReader::Entry& e = m_pListing->entries[m_nNext - 1];
        if (e.kind != Kind::File)
            return std::nullopt;
        return m_volume.IdentityOfEntry(e);
    }

private:
    const CImageVolume& m_volume;
    std::shared_ptr<const CImageVolume::Listing> m_pListing;
    std::size_t m_nNext = 0;
    std::string m_strFolder;
    std::string m_strLink;
};

class CImageFile final : public CVolume::CFile {
public:
    CImageFile(const CImageVolume& volume, CImageReader::Entry entry)
        : m_volume(volume)
        , m_entry(std::move(entry))
    {}

    std::uint64_t Size() const override { return m_entry.nSize; }

    bool ReadAt(std::uint64_t offset, void* buffer, std::size_t size) const override
    {
        if (offset > m_entry.nSize || size > m_entry.nSize - offset)
            return false;
        if (m_entry.bZisofs) {
            if (!m_pInflater) {
                std::uint64_t stored = 0;
                for (const CImageReader::Extent& extent : m_entry.extents)
                    stored += extent.nBytes;
                m_pInflater = std::make_unique<CZisofsReader>(
                    [this](std::uint64_t at, void* out, std::size_t bytes) {
                        return ReadStored(at, out, bytes);
                    },
                    stored, m_entry.nSize);
            }
            return m_pInflater->ReadAt(offset, buffer, size);
        }
        return ReadStored(offset, buffer, size);
    }

    CVolume::ReadStatus ReadAll(std::string& out, std::size_t maxBytes) const override
    {
        out.clear();
        if (m_entry.nSize > maxBytes)
            return CVolume::ReadStatus::TooLarge;
        try {
            out.resize(m_entry.nSize);
        } catch (const std::bad_alloc&) {
            return CVolume::ReadStatus::TooLarge;
        }
        if (!ReadAt(0, out.data(), out.size())) {
            out.clear();
            return CVolume::ReadStatus::ReadError;
        }
        return CVolume::ReadStatus::Ok;
    }

    std::optional<CVolume::FileIdentity> Identity() const override
    {
        return m_volume.IdentityOfEntry(m_entry);
    }
    bool IsRecordedExecutable() const override { return m_entry.bExecutable; }

private:
    // The bytes as the image stores them, through the extents in order; bounds checked.
    bool ReadStored(std::uint64_t offset, void* buffer, std::size_t size) const
    {
        if (!m_entry.strEmbedded.empty()) {
            if (offset > m_entry.strEmbedded.size() || size > m_entry.strEmbedded.size() - offset)
                return false;
            std::memcpy(buffer, m_entry.strEmbedded.data() + offset, size);
            return true;
        }
        auto* out = static_cast<unsigned char*>(buffer);
        std::vector<unsigned char> chunk;
        std::uint64_t extentStart = 0; // the extent's offset in the file
        for (const CImageReader::Extent& extent : m_entry.extents) {
            if (size == 0)
                break;
            const std::uint64_t extentEnd = extentStart + extent.nBytes;
            if (offset < extentEnd) {
                const std::uint64_t inExtent = offset - extentStart;
                const std::uint64_t want = std::min<std::uint64_t>(size, extentEnd - offset);
                if (!ReadExtent(extent, inExtent, out, want, chunk))
                    return false;
                out += want;
                offset += want;
                size -= want;
            }
            extentStart = extentEnd;
        }
        return size == 0;
    }

    // Whole blocks go straight to the caller; a partial block at either end through chunk.
    bool ReadExtent(const CImageReader::Extent& extent, std::uint64_t offset, unsigned char* out,
                    std::uint64_t size, std::vector<unsigned char>& chunk) const
    {
        while (size > 0) {
            const std::uint64_t block = extent.nBlock + offset / kBlock;
            const std::uint64_t skip = offset % kBlock;
            const std::uint64_t blocks =
                std::min<std::uint64_t>(kChunkBlocks, (skip + size + kBlock - 1) / kBlock);
            if (block + blocks > UINT32_MAX + std::uint64_t{1})
                return false;
            const std::uint64_t take = std::min<std::uint64_t>(size, blocks * kBlock - skip);
            const auto nBlock = static_cast<std::uint32_t>(block);
            const auto nBlocks = static_cast<std::uint32_t>(blocks);
            if (skip == 0 && take == blocks * kBlock) {
                if (!m_volume.ReadBlocks(nBlock, nBlocks, out))
                    return false;
            } else {
                chunk.resize(blocks * kBlock);
                if (!m_volume.ReadBlocks(nBlock, nBlocks, chunk.data()))
                    return false;
                std::copy_n(chunk.data() + skip, take, out);
            }
            out += take;
            offset += take;
            size -= take;
        }
        return true;
    }

    const CImageVolume& m_volume;
    CImageReader::Entry m_entry;
    mutable std::unique_ptr<CZisofsReader> m_pInflater; // made on the first read
};

} // namespace

CImageVolume::CImageVolume(std::string root, std::unique_ptr<CImageReader> reader,
                           std::uint64_t imageDevice, Timestamp imageChanged, int hImage)
    : m_strRoot(std::move(root))
    , m_nDevice(imageDevice)
    , m_changed(imageChanged)
    , m_pReader(std::move(reader))
    , m_hImage(hImage)
{}

CImageVolume::~CImageVolume()
{
    m_pReader.reset();
    if (m_hImage >= 0)
        ::close(m_hImage);
}

std::optional<std::string_view> CImageVolume::Inside(const std::string& path) const
{
    if (!Contains(path))
        return std::nullopt;
    std::string_view inside(path);
    inside.remove_prefix(m_strRoot.size());
    while (!inside.empty() && inside.front() == '/')
        inside.remove_prefix(1);
    return inside;
}

std::shared_ptr<const CImageVolume::Listing> CImageVolume::ListFolder(const Located& folder) const
{
    const std::lock_guard lock(m_mutex);
    return ListLocked(folder);
}

std::shared_ptr<const CImageVolume::Listing> CImageVolume::ListLocked(const Located& folder) const
{
    if (const auto found = m_listings.find(folder.entry.nId); found != m_listings.end())
        return found->second;
    auto listing = std::make_shared<Listing>();
    const CImageReader::Limits limits{kMaxFolderBytes, kMaxEntriesPerFolder};
    listing->bReadable = m_pReader->List(folder.strRaw, folder.entry, limits, listing->entries);
    for (std::size_t i = 0; i < listing->entries.size(); ++i)
        listing->byName.try_emplace(listing->entries[i].strName, i);
    if (m_nCachedEntries + listing->entries.size() > kMaxCachedEntries) {
        m_listings.clear();
        m_nCachedEntries = 0;
    }
    m_nCachedEntries += listing->entries.size();
    m_listings.emplace(folder.entry.nId, listing);
    return listing;
}

std::optional<CImageVolume::Located> CImageVolume::Locate(std::string_view inside, bool bFollowLast,
                                                          bool bIgnoreCase) const
{
    const std::lock_guard lock(m_mutex);
    return LocateLocked(inside, bFollowLast, bIgnoreCase);
}

std::optional<CImageVolume::Located>
CImageVolume::LocateLocked(std::string_view inside, bool bFollowLast, bool bIgnoreCase) const
{
    struct Step {
        std::string_view name;
        bool bGiven; // named by the caller, not by a link's target
    };
    // Link targets are kept alive here while their components wait in todo.
    std::deque<std::string> targets;
    std::deque<Step> todo;
    auto split = [](std::string_view path, bool bGiven, auto push) {
        std::vector<Step> steps;
        Path::ForEachComponent(path, "/", [&](std::string_view component) {
            steps.push_back({component, bGiven});
            return true;
        });
        push(steps);
    };
    split(inside, true, [&](std::vector<Step>& steps) { todo.assign(steps.begin(), steps.end()); });

    std::vector<Located> chain;
    chain.push_back({m_pReader->RootEntry(), {}, {}, {}});
    std::string shown;
    int hops = 0;
    while (!todo.empty()) {
        const Step step = todo.front();
        todo.pop_front();
        if (step.name.empty() || step.name == ".")
            continue;
        if (step.name == "..") {
            if (step.bGiven || chain.size() == 1)
                return std::nullopt;
            chain.pop_back();
            continue;
        }
        const Located& here = chain.back();
        if (here.entry.kind != Kind::Folder)
            return std::nullopt;
        const std::shared_ptr<const Listing> listing = ListLocked(here);
        if (!listing->bReadable)
            return std::nullopt;
        const Entry* found = nullptr;
        if (const auto it = listing->byName.find(step.name); it != listing->byName.end())
            found = &listing->entries[it->second];
        else if (bIgnoreCase)
            for (const Entry& e : listing->entries)
                if (EqualNoCase(e.strName, step.name)) {
                    found = &e;
                    break;
                }
        if (!found)
            return std::nullopt;
        if (step.bGiven)
            Append(shown, found->strName);
        if (found->kind == Kind::Link && (bFollowLast || !todo.empty())) {
            if (++hops > kMaxLinkHops || found->strTarget.empty() ||
                found->strTarget.front() == '/')
                return std::nullopt;
            targets.push_back(found->strTarget);
            split(targets.back(), false, [&](std::vector<Step>& steps) {
                todo.insert(todo.begin(), steps.begin(), steps.end());
            });
            continue;
        }
        if (chain.size() > kMaxDepth)
            return std::nullopt;
        Located next{*found, here.strRaw, here.strCanonical, {}};
        Append(next.strRaw, found->strRaw);
        Append(next.strCanonical, found->strName);
        chain.push_back(std::move(next));
    }
    Located result = std::move(chain.back());
    result.strShown = std::move(shown);
    return result;
}

bool CImageVolume::ReadBlocks(std::uint32_t block, std::uint32_t count, void* buffer) const
{
    const std::lock_guard lock(m_mutex);
    return m_pReader->ReadBlocks(block, count, buffer);
}

CVolume::FileIdentity CImageVolume::IdentityOfEntry(const Entry& entry) const
{
    // Where the data lies tells the content: records that point at the same extents are one
    // file, whatever time stamps they carry, and the bytes change only with the image.
    std::uint64_t node = entry.extents.empty() ? entry.nId : entry.extents.front().nBlock;
    for (std::size_t i = 1; i < entry.extents.size(); ++i)
        node = (node * 1099511628211ULL) ^ entry.extents[i].nBlock;
    return {m_nDevice, node, entry.nSize, m_changed, m_changed};
}

std::unique_ptr<CVolume::CFolder> CImageVolume::OpenFolder(const std::string& path) const
{
    const auto inside = Inside(path);
    if (!inside)
        return nullptr;
    auto located = Locate(*inside, true, false);
    if (!located || located->entry.kind != Kind::Folder)
        return nullptr;
    return std::make_unique<CImageFolder>(std::move(*located));
}

std::unique_ptr<CVolume::CFolder>
CImageVolume::OpenSubfolder(const CFolder& parent, std::string_view name, bool bFollowLink) const
{
    if (name.empty() || name.front() == '/' || name.find('\0') != std::string_view::npos)
        return nullptr;
    const Located& where = WhereOf(parent);
    if (!bFollowLink) {
        if (name.find('/') != std::string_view::npos || name == "." || name == "..")
            return nullptr;
        const std::shared_ptr<const Listing> listing = ListFolder(where);
        const auto it = listing->byName.find(name);
        if (it == listing->byName.end())
            return nullptr;
        const Entry& entry = listing->entries[it->second];
        if (entry.kind != Kind::Folder)
            return nullptr;
        Located next{entry, where.strRaw, where.strCanonical, {}};
        Append(next.strRaw, entry.strRaw);
        Append(next.strCanonical, entry.strName);
        return std::make_unique<CImageFolder>(std::move(next));
    }
    std::string path = where.strCanonical;
    Append(path, name);
    // Contains() refuses ".." in callers' paths; check the relative name the same way.
    if (!Contains(m_strRoot + '/' + path))
        return nullptr;
    auto located = Locate(path, true, false);
    if (!located || located->entry.kind != Kind::Folder)
        return nullptr;
    return std::make_unique<CImageFolder>(std::move(*located));
}

std::optional<CVolume::FolderInfo> CImageVolume::GetFolderInfo(const CFolder& folder) const
{
    return FolderInfo{{m_nDevice, WhereOf(folder).entry.nId}, true};
}

std::unique_ptr<CVolume::CFolderReader> CImageVolume::NewFolderReader() const
{
    return std::make_unique<CImageFolderReader>(*this);
}

bool CImageVolume::LinkLeadsBelow(const std::string& linkPath, const std::string& folder) const
{
    const auto link = Inside(linkPath);
    const auto base = Inside(folder);
    if (!link || !base)
        return false;
    const auto target = Locate(*link, true, false);
    const auto below = Locate(*base, true, false);
    if (!target || !below || below->entry.kind != Kind::Folder)
        return false;
    const std::string& t = target->strCanonical;
    const std::string& b = below->strCanonical;
    if (b.empty())
        return !t.empty();
    return t.size() > b.size() && t.compare(0, b.size(), b) == 0 && t[b.size()] == '/';
}

std::optional<std::string> CImageVolume::ResolveNoCase(const std::string& folder,
                                                       std::string_view relative) const
{
    const auto base = Inside(folder);
    if (!base)
        return std::nullopt;
    // The folder itself is taken as written; only the relative part is matched blind.
    const auto start = Locate(*base, true, false);
    if (!start || start->entry.kind != Kind::Folder)
        return std::nullopt;
    std::string inside(*base);
    for (std::size_t start = 0; start <= relative.size();) {
        std::size_t end = relative.find_first_of("\\/", start);
        if (end == std::string_view::npos)
            end = relative.size();
        const std::string_view name = relative.substr(start, end - start);
        if (name == ".." || name.find('\0') != std::string_view::npos)
            return std::nullopt;
        if (!name.empty() && name != ".")
            Append(inside, name);
        start = end + 1;
    }
    const auto located = Locate(inside, false, true);
    if (!located)
        return std::nullopt;
    std::string path = m_strRoot;
    if (!located->strShown.empty())
        path += '/' + located->strShown;
    return path;
}

std::unique_ptr<CVolume::CFile> CImageVolume::OpenFile(const std::string& path) const
{
    const auto inside = Inside(path);
    if (!inside)
        return nullptr;
    auto located = Locate(*inside, true, false);
    const CImageReader::Entry* entry = located ? &located->entry : nullptr;
    if (!entry || entry->kind != Kind::File ||
        (entry->extents.empty() && entry->strEmbedded.size() != entry->nSize))
        return nullptr;
    return std::make_unique<CImageFile>(*this, std::move(located->entry));
}

std::optional<CVolume::FileIdentity> CImageVolume::IdentityOf(const std::string& path) const
{
    const auto inside = Inside(path);
    if (!inside)
        return std::nullopt;
    const auto located = Locate(*inside, true, false);
    if (!located || located->entry.kind != Kind::File)
        return std::nullopt;
    return IdentityOfEntry(located->entry);
}

CVolume::PathKind CImageVolume::What(const std::string& path) const
{
    const auto inside = Inside(path);
    if (!inside)
        return PathKind::Missing;
    const auto located = Locate(*inside, true, false);
    if (!located)
        return PathKind::Missing;
    switch (located->entry.kind) {
    case Kind::Folder:
        return PathKind::Folder;
    case Kind::File:
        return PathKind::File;
    case Kind::Other:
        return PathKind::Other;
    case Kind::Link:
        break;
    }
    return PathKind::Missing;
}

std::optional<std::string> CImageVolume::RealPathForDesktop(const std::string&) const
{
    return std::nullopt;
}

std::string CImageVolume::ContentKey() const
{
    // The image's device and inode, and its change time, which any rewrite moves.
    char key[64];
    std::snprintf(key, sizeof key, "%016llx-%llx.%09lld",
                  static_cast<unsigned long long>(m_nDevice),
                  static_cast<unsigned long long>(m_changed.nSeconds),
                  static_cast<long long>(m_changed.nNanoseconds));
    return key;
}
