// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/ImageReader.h"

#include <cdio/cdio.h>
#include <cdio/iso9660.h>
#include <cdio/logging.h>
#include <cdio/udf.h>

#include <algorithm>
#include <cstring>
#include <ctime>
#include <mutex>
#include <sys/stat.h>

namespace {

// libcdio reports bad images on stderr by default; Quarrow tells the user itself.
void SilenceLibrary()
{
    static std::once_flag once;
    std::call_once(once, [] { cdio_log_set_handler([](cdio_log_level_t, const char*) {}); });
}

std::uint32_t Le32(const std::uint8_t* p) noexcept
{
    return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 |
           std::uint32_t{p[3]} << 24;
}

std::uint64_t BlocksFor(std::uint64_t bytes)
{
    return (bytes + CImageReader::kBlockSize - 1) / CImageReader::kBlockSize;
}

// The part of a folder the library is about to load must lie inside the image and be of
// sane size: libcdio allocates and reads a folder's whole extent in one go.
bool FolderExtentIsSane(CImageReader& reader, std::uint64_t block, std::uint64_t bytes,
                        const CImageReader::Limits& limits)
{
    if (bytes > limits.nMaxFolderBytes)
        return false;
    const std::uint64_t last = block + BlocksFor(bytes) - (bytes ? 1 : 0);
    if (last > UINT32_MAX)
        return false;
    unsigned char probe[CImageReader::kBlockSize];
    return reader.ReadBlocks(static_cast<std::uint32_t>(last), 1, probe);
}

std::int64_t SecondsOf(const struct tm& when)
{
    struct tm copy = when;
    return static_cast<std::int64_t>(::timegm(&copy));
}

// ISO 9660 through libiso9660, over a plain image (iso9660_t) or a libcdio image driver
// (CdIo_t): the two handle kinds have twin functions.
class CIsoReader final : public CImageReader {
public:
    enum class Names : unsigned char { RockRidge, Joliet, Iso };

    // bBlockByBlock: the image has raw sectors that libiso9660 reads one at a time only.
    CIsoReader(iso9660_t* pIso, CdIo_t* pCdio, bool bBlockByBlock)
        : m_pIso(pIso)
        , m_pCdio(pCdio)
        , m_bBlockByBlock(bBlockByBlock)
    {}
    ~CIsoReader() override
    {
        if (m_pIso)
            iso9660_close(m_pIso);
        if (m_pCdio)
            cdio_destroy(m_pCdio);
    }
    CIsoReader(const CIsoReader&) = delete;
    CIsoReader& operator=(const CIsoReader&) = delete;

    // Reads the root entry; false when the image has no usable root folder.
    bool Init(Names names)
    {
        m_names = names;
        iso9660_stat_t* pRoot = Stat("/");
        if (!pRoot)
            return false;
        m_root.kind = Kind::Folder;
        m_root.nId = static_cast<std::uint32_t>(pRoot->lsn);
        m_root.nSize = pRoot->size;
        m_root.nModified = SecondsOf(pRoot->tm);
        iso9660_stat_free(pRoot);
        return true;
    }

    // True when the root folder's entries carry Rock Ridge names.
    bool RootHasRockRidge(const Limits& limits)
    {
        if (!FolderExtentIsSane(*this, m_root.nId, m_root.nSize, limits))
            return false;
        CdioList_t* pList = ReadDir("/");
        if (!pList)
            return false;
        bool bRock = false;
        CdioListNode_t* pNode;
        _CDIO_LIST_FOREACH(pNode, pList)
        {
            const auto* pStat = static_cast<const iso9660_stat_t*>(_cdio_list_node_data(pNode));
            if (pStat->rr.b3_rock == yep) {
                bRock = true;
                break;
            }
        }
        iso9660_filelist_free(pList);
        return bRock;
    }

    int JolietLevel() const
    {
        return m_pIso ? iso9660_ifs_get_joliet_level(m_pIso) : cdio_get_joliet_level(m_pCdio);
    }

    const Entry& RootEntry() const noexcept override { return m_root; }

    bool List(const std::string& rawPath, const Entry& folder, const Limits& limits,
              std::vector<Entry>& out) override
    {
        out.clear();
        if (folder.nSize == 0)
            return true;
        if (!FolderExtentIsSane(*this, folder.nId, folder.nSize, limits))
            return false;
        // The library reads a folder of several raw sectors as if they were 2048 bytes each.
        if (m_bBlockByBlock && folder.nSize > kBlockSize)
            return false;
        CdioList_t* pList = ReadDir(rawPath.empty() ? std::string("/") : rawPath);
        if (!pList)
            return false;
        bool bOk = true;
        std::vector<bool> continued; // read only when two records share a name
        std::size_t index = 0;
        CdioListNode_t* pNode;
        _CDIO_LIST_FOREACH(pNode, pList)
        {
            const auto* pStat = static_cast<const iso9660_stat_t*>(_cdio_list_node_data(pNode));
            const std::size_t record = index++;
            const char* pszName = pStat->filename;
            if (std::strcmp(pszName, ".") == 0) {
                // The library found the folder by name: make sure it is the one we meant.
                if (static_cast<std::uint32_t>(pStat->lsn) != folder.nId) {
                    bOk = false;
                    break;
                }
                continue;
            }
            if (std::strcmp(pszName, "..") == 0 || !*pszName)
                continue;
            // The parts of a multi-extent file follow each other under one name, each but the
            // last flagged; records that merely repeat a name stay apart.
            if (!out.empty() && out.back().kind == Kind::File && out.back().strRaw == pszName &&
                pStat->type != iso9660_stat_s::_STAT_DIR &&
                ContinuesInNext(folder, pList, continued, record - 1)) {
                out.back().extents.push_back({static_cast<std::uint32_t>(pStat->lsn), pStat->size});
                out.back().nSize += pStat->size;
                continue;
            }
            if (out.size() >= limits.nMaxEntries) {
                bOk = false;
                break;
            }
            out.push_back(ToEntry(*pStat));
        }
        iso9660_filelist_free(pList);
        if (!bOk)
            out.clear();
        return bOk;
    }

    bool ReadBlocks(std::uint32_t block, std::uint32_t count, void* buffer) override
    {
        if (count == 0)
            return true;
        if (m_pIso && m_bBlockByBlock) {
            auto* out = static_cast<unsigned char*>(buffer);
            for (std::uint32_t i = 0; i < count; ++i, out += kBlockSize)
                if (iso9660_iso_seek_read(m_pIso, out, block + i, 1) != kBlockSize)
                    return false;
            return true;
        }
        if (m_pIso)
            return iso9660_iso_seek_read(m_pIso, buffer, block, count) ==
                   static_cast<long>(count) * kBlockSize;
        return cdio_read_data_sectors(m_pCdio, buffer, block, kBlockSize, count) ==
               DRIVER_OP_SUCCESS;
    }

private:
    static constexpr std::uint8_t kMultiExtent = 0x80;

    // Whether the folder's record before index carries the flag that its file goes on in
    // the next record. The library does not say, so the records are read here, stepped
    // through as the library steps, and trusted only when they match its list.
    bool ContinuesInNext(const Entry& folder, CdioList_t* pList, std::vector<bool>& continued,
                         std::size_t index)
    {
        if (continued.empty() && !ReadContinuations(folder, pList, continued))
            continued.assign(1, false);
        return index < continued.size() && continued[index];
    }

    bool ReadContinuations(const Entry& folder, CdioList_t* pList, std::vector<bool>& continued)
    {
        const std::uint64_t blocks = BlocksFor(folder.nSize);
        std::vector<std::uint8_t> data(blocks * kBlockSize);
        if (!ReadBlocks(static_cast<std::uint32_t>(folder.nId), static_cast<std::uint32_t>(blocks),
                        data.data()))
            return false;
        CdioListNode_t* pNode = _cdio_list_begin(pList);
        for (std::size_t at = 0; at < data.size();) {
            const std::uint8_t length = data[at];
            if (length == 0) {
                ++at;
                continue;
            }
            if (length < 33 || at + length > data.size() || !pNode)
                return false;
            const auto* pStat = static_cast<const iso9660_stat_t*>(_cdio_list_node_data(pNode));
            if (static_cast<std::uint32_t>(pStat->lsn) != Le32(&data[at + 2]))
                return false;
            continued.push_back((data[at + 25] & kMultiExtent) != 0);
            pNode = _cdio_list_node_next(pNode);
            at += length;
        }
        return true;
    }

    iso9660_stat_t* Stat(const char* pszPath)
    {
        return m_pIso ? iso9660_ifs_stat(m_pIso, pszPath) : iso9660_fs_stat(m_pCdio, pszPath);
    }
    // The folder's entries, or null; every entry is there. The library lists a record it
    // could not read as a null entry: such a folder counts as unreadable.
    CdioList_t* ReadDir(const std::string& path)
    {
        CdioList_t* pList = m_pIso ? iso9660_ifs_readdir(m_pIso, path.c_str())
                                   : iso9660_fs_readdir(m_pCdio, path.c_str());
        if (!pList)
            return nullptr;
        CdioListNode_t* pNode;
        _CDIO_LIST_FOREACH(pNode, pList)
        {
            if (!_cdio_list_node_data(pNode)) {
                iso9660_filelist_free(pList);
                return nullptr;
            }
        }
        return pList;
    }

    Entry ToEntry(const iso9660_stat_t& stat) const
    {
        Entry e;
        e.strRaw = stat.filename;
        e.nId = static_cast<std::uint32_t>(stat.lsn);
        e.nSize = stat.size;
        e.nModified = SecondsOf(stat.tm);
        e.kind = stat.type == iso9660_stat_s::_STAT_DIR ? Kind::Folder : Kind::File;
        if (stat.rr.b3_rock == yep) {
            e.strName = e.strRaw;
            const posix_mode_t mode = stat.rr.st_mode;
            e.bExecutable = (mode & 0111) != 0;
            if (S_ISLNK(mode)) {
                e.kind = Kind::Link;
                if (stat.rr.psz_symlink && stat.rr.i_symlink > 0)
                    e.strTarget.assign(
                        stat.rr.psz_symlink,
                        strnlen(stat.rr.psz_symlink, static_cast<std::size_t>(stat.rr.i_symlink)));
            } else if (e.kind == Kind::File && !S_ISREG(mode)) {
                e.kind = Kind::Other;
            }
        } else if (m_names == Names::RockRidge) {
            // An entry without Rock Ridge fields in a Rock Ridge tree: as a mount shows it.
            e.strName = Translate(e.strRaw, 0);
        } else {
            e.strName = Translate(e.strRaw, m_names == Names::Joliet ? 1 : 0);
        }
        if (e.kind == Kind::File)
            e.extents.push_back({static_cast<std::uint32_t>(stat.lsn), stat.size});
        return e;
    }

    // Drops the ";1" version and trailing dots; ISO 9660 names also lose their capitals.
    static std::string Translate(const std::string& raw, int jolietLevel)
    {
        std::string out(raw.size() + 1, '\0');
        const int n = iso9660_name_translate_ext(raw.c_str(), out.data(),
                                                 static_cast<std::uint8_t>(jolietLevel));
        out.resize(n > 0 ? static_cast<std::size_t>(n) : std::strlen(out.c_str()));
        return out.empty() ? raw : out;
    }

    iso9660_t* m_pIso;
    CdIo_t* m_pCdio;
    bool m_bBlockByBlock;
    Names m_names = Names::Iso;
    Entry m_root;
};

constexpr CImageReader::Limits kProbeLimits{16u << 20, 0};

// Rock Ridge where the tree has it (Joliet names would be converted one by one for nothing),
// else Joliet, else plain ISO 9660 names.
template <class OpenFn>
std::unique_ptr<CImageReader> OpenIsoWith(OpenFn open)
{
    SilenceLibrary();
    auto rock = open(ISO_EXTENSION_ROCK_RIDGE);
    if (!rock || !rock->Init(CIsoReader::Names::RockRidge))
        return nullptr;
    if (rock->RootHasRockRidge(kProbeLimits))
        return rock;
    rock.reset();
    auto joliet = open(ISO_EXTENSION_ALL);
    if (joliet && joliet->JolietLevel() > 0 && joliet->Init(CIsoReader::Names::Joliet))
        return joliet;
    joliet.reset();
    auto plain = open(ISO_EXTENSION_NONE);
    if (plain && plain->Init(CIsoReader::Names::Iso))
        return plain;
    return nullptr;
}

std::unique_ptr<CIsoReader> OpenIsoFile(const std::string& path, iso_extension_mask_t mask,
                                        bool bFuzzy)
{
    iso9660_t* pIso = bFuzzy ? iso9660_open_fuzzy_ext(path.c_str(), mask, 64)
                             : iso9660_open_ext(path.c_str(), mask);
    if (!pIso)
        return nullptr;
    return std::make_unique<CIsoReader>(pIso, nullptr, bFuzzy);
}

std::unique_ptr<CIsoReader> OpenNrgDriver(const std::string& path, iso_extension_mask_t mask)
{
    CdIo_t* pCdio = cdio_open_nrg(path.c_str());
    if (!pCdio)
        return nullptr;
    auto reader = std::make_unique<CIsoReader>(nullptr, pCdio, false);
    if (!iso9660_fs_read_superblock(pCdio, mask))
        return nullptr;
    return reader;
}

// UDF through libudf: folders are found by path from the root, file data by the one
// allocation extent that CD and DVD authoring tools write for each file.
class CUdfReader final : public CImageReader {
public:
    static constexpr std::size_t kMaxUdfPath = 2000;

    explicit CUdfReader(udf_t* pUdf)
        : m_pUdf(pUdf)
    {}
    ~CUdfReader() override
    {
        if (m_pRoot)
            udf_dirent_free(m_pRoot);
        udf_close(m_pUdf);
    }
    CUdfReader(const CUdfReader&) = delete;
    CUdfReader& operator=(const CUdfReader&) = delete;

    bool Init()
    {
        m_pRoot = udf_get_root(m_pUdf, true, 0);
        if (!m_pRoot)
            return false;
        m_root.kind = Kind::Folder;
        m_root.nSize = udf_get_file_length(m_pRoot);
        m_root.nId = FolderId(*m_pRoot);
        return true;
    }

    const Entry& RootEntry() const noexcept override { return m_root; }

    bool List(const std::string& rawPath, const Entry& folder, const Limits& limits,
              std::vector<Entry>& out) override
    {
        out.clear();
        // libudf copies a path into a buffer of its own without checking its length.
        if (rawPath.size() >= kMaxUdfPath)
            return false;
        udf_dirent_t* pFolder = rawPath.empty() ? m_pRoot : udf_fopen(m_pRoot, rawPath.c_str());
        if (!pFolder)
            return false;
        bool bOk =
            udf_is_dir(pFolder) && FolderId(*pFolder) == folder.nId && DataIsSane(*pFolder, limits);
        // The root has no identifier to open it by: a fresh root entry is read directly.
        udf_dirent_t* pEntry = !bOk                 ? nullptr
                               : pFolder == m_pRoot ? udf_get_root(m_pUdf, true, 0)
                                                    : udf_opendir(pFolder);
        if (pFolder != m_pRoot)
            udf_dirent_free(pFolder);
        if (!bOk || !pEntry)
            return false;
        while ((pEntry = udf_readdir(pEntry)) != nullptr) {
            const char* pszName = udf_get_filename(pEntry);
            if (!pszName || !*pszName || std::strcmp(pszName, ".") == 0 ||
                std::strcmp(pszName, "..") == 0)
                continue;
            if (out.size() >= limits.nMaxEntries) {
                udf_dirent_free(pEntry);
                bOk = false;
                break;
            }
            out.push_back(ToEntry(*pEntry));
        }
        if (!bOk)
            out.clear();
        return bOk;
    }

    bool ReadBlocks(std::uint32_t block, std::uint32_t count, void* buffer) override
    {
        return count == 0 || udf_read_sectors(m_pUdf, buffer, block, count) == DRIVER_OP_SUCCESS;
    }

private:
    // libudf's udf_get_lba reads the first allocation descriptor without checking that the
    // entry holds one: ask only when it does.
    static bool FirstExtent(const udf_dirent_t& entry, std::uint32_t& start, std::uint32_t& end,
                            bool& bOnly)
    {
        const udf_file_entry_t& fe = entry.fe;
        const unsigned adType = fe.icb_tag.flags & ICBTAG_FLAG_AD_MASK;
        std::size_t adSize = 0;
        if (adType == ICBTAG_FLAG_AD_SHORT)
            adSize = sizeof(udf_short_ad_t);
        else if (adType == ICBTAG_FLAG_AD_LONG)
            adSize = sizeof(udf_long_ad_t);
        // A file entry fills at most one block; larger sums wrap around inside libudf.
        if (adSize == 0 || fe.i_alloc_descs < adSize || !DescriptorsFit(fe))
            return false;
        bOnly = fe.i_alloc_descs == adSize;
        return udf_get_lba(&fe, &start, &end);
    }

    // The extended attributes and allocation descriptors end within the entry's block.
    static bool DescriptorsFit(const udf_file_entry_t& fe)
    {
        return std::uint64_t{fe.i_extended_attr} + fe.i_alloc_descs <= sizeof fe.u;
    }

    // Where a file's data lies: inside its entry, or in the recorded extents its short or
    // long allocation descriptors list (Windows and packet writers split and embed files).
    // Left unreadable for anything else: unrecorded extents, descriptors continued
    // elsewhere, or extents shorter than the file.
    static void PlaceData(const udf_dirent_t& entry, Entry& e)
    {
        const udf_file_entry_t& fe = entry.fe;
        if (!DescriptorsFit(fe))
            return;
        const std::uint8_t* p = fe.u.ext_attr + fe.i_extended_attr;
        const std::size_t length = fe.i_alloc_descs;
        std::size_t adSize = 0;
        switch (fe.icb_tag.flags & ICBTAG_FLAG_AD_MASK) {
        case ICBTAG_FLAG_AD_IN_ICB:
            if (length == e.nSize)
                e.strEmbedded.assign(reinterpret_cast<const char*>(p), length);
            return;
        case ICBTAG_FLAG_AD_SHORT:
            adSize = sizeof(udf_short_ad_t);
            break;
        case ICBTAG_FLAG_AD_LONG:
            adSize = sizeof(udf_long_ad_t);
            break;
        default:
            return;
        }
        std::uint64_t left = e.nSize;
        for (std::size_t at = 0; left > 0 && at + adSize <= length; at += adSize) {
            const std::uint32_t recorded = Le32(p + at);
            const std::uint32_t bytes = recorded & 0x3FFFFFFFu; // the top bits give the kind
            const std::uint64_t block = std::uint64_t{entry.i_part_start} + Le32(p + at + 4);
            if ((recorded >> 30) != 0 || bytes == 0 || block > UINT32_MAX)
                break;
            const std::uint64_t take = std::min<std::uint64_t>(bytes, left);
            e.extents.push_back({static_cast<std::uint32_t>(block), take});
            left -= take;
        }
        if (left > 0)
            e.extents.clear();
    }

    // Where the folder's file entry is recorded: every path to one folder leads to the same
    // entry, however its data is laid out, so a folder that holds itself is entered once.
    static std::uint64_t FolderId(const udf_dirent_t& entry)
    {
        return std::uint64_t{entry.i_part_start} + entry.fe.tag.loc;
    }

    bool DataIsSane(const udf_dirent_t& folder, const Limits& limits)
    {
        std::uint32_t start = 0;
        std::uint32_t end = 0;
        bool bOnly = false;
        if (!FirstExtent(folder, start, end, bOnly))
            return (folder.fe.icb_tag.flags & ICBTAG_FLAG_AD_MASK) == ICBTAG_FLAG_AD_IN_ICB;
        if (end < start)
            return false;
        const std::uint64_t bytes = (std::uint64_t{end} - start + 1) * kBlockSize;
        return FolderExtentIsSane(*this, std::uint64_t{folder.i_part_start} + start, bytes,
                                  limits) &&
               udf_get_file_length(&folder) <= limits.nMaxFolderBytes;
    }

    Entry ToEntry(const udf_dirent_t& entry) const
    {
        Entry e;
        e.strRaw = udf_get_filename(&entry);
        e.strName = e.strRaw;
        e.nSize = udf_get_file_length(&entry);
        e.nModified = static_cast<std::int64_t>(udf_get_modification_time(&entry));
        const unsigned fileType = entry.fe.icb_tag.file_type;
        e.bExecutable =
            (entry.fe.permissions & (FE_PERM_U_EXEC | FE_PERM_G_EXEC | FE_PERM_O_EXEC)) != 0;
        if (udf_is_dir(&entry)) {
            e.kind = Kind::Folder;
            e.nId = FolderId(entry);
        } else if (fileType == ICBTAG_FILE_TYPE_SYMLINK) {
            e.kind = Kind::Link; // its target's path components are not decoded: dangling
        } else if (fileType == ICBTAG_FILE_TYPE_REGULAR) {
            PlaceData(entry, e);
            // Apart from any block number, for a file without extents of its own.
            e.nId = std::uint64_t{1} << 62 | entry.fe.unique_ID;
        } else {
            e.kind = Kind::Other;
        }
        return e;
    }

    udf_t* m_pUdf;
    udf_dirent_t* m_pRoot = nullptr;
    Entry m_root;
};

} // namespace

std::unique_ptr<CImageReader> CImageReader::OpenUdf(const std::string& path)
{
    SilenceLibrary();
    udf_t* pUdf = udf_open(path.c_str());
    if (!pUdf)
        return nullptr;
    auto reader = std::make_unique<CUdfReader>(pUdf);
    if (!reader->Init())
        return nullptr;
    return reader;
}

namespace {

// A UDF descriptor tag of this kind whose checksum holds, as libudf checks it.
bool IsUdfTag(const std::uint8_t* block, std::uint16_t id)
{
    if ((block[0] | block[1] << 8) != id)
        return false;
    std::uint8_t sum = 0;
    for (int i = 0; i < 16; ++i)
        sum = static_cast<std::uint8_t>(sum + (i == 4 ? 0 : block[i]));
    return sum == block[4];
}

// What udf_open checks before it succeeds: an anchor at block 256 and a primary volume
// descriptor in the main sequence it points at (read the same way, up to the same block).
bool UdfWouldOpen(CdIo_t* pCdio)
{
    std::uint8_t block[UDF_BLOCKSIZE];
    if (cdio_read_data_sectors(pCdio, block, 256, UDF_BLOCKSIZE, 1) != DRIVER_OP_SUCCESS ||
        !IsUdfTag(block, TAGID_ANCHOR))
        return false;
    // The main sequence's extent follows the tag: length, then location.
    const std::uint32_t start = Le32(block + 20);
    const std::uint32_t end = start + (Le32(block + 16) - 1) / UDF_BLOCKSIZE;
    for (std::uint32_t lba = start; lba < end; ++lba) {
        if (cdio_read_data_sectors(pCdio, block, static_cast<lsn_t>(lba), UDF_BLOCKSIZE, 1) !=
            DRIVER_OP_SUCCESS)
            return false;
        if (IsUdfTag(block, TAGID_PRI_VOL))
            return true;
    }
    return false;
}

} // namespace

std::unique_ptr<CImageReader> CImageReader::OpenNrgUdf(const std::string& path)
{
    SilenceLibrary();
    CdIo_t* pCdio = cdio_open_nrg(path.c_str());
    if (!pCdio)
        return nullptr;
    const bool bUdf = UdfWouldOpen(pCdio);
    cdio_destroy(pCdio);
    return bUdf ? OpenUdf(path) : nullptr;
}

std::unique_ptr<CImageReader> CImageReader::OpenIso(const std::string& path)
{
    return OpenIsoWith([&](iso_extension_mask_t mask) { return OpenIsoFile(path, mask, false); });
}

std::unique_ptr<CImageReader> CImageReader::OpenRawIso(const std::string& path)
{
    return OpenIsoWith([&](iso_extension_mask_t mask) { return OpenIsoFile(path, mask, true); });
}

std::unique_ptr<CImageReader> CImageReader::OpenNrg(const std::string& path)
{
    return OpenIsoWith([&](iso_extension_mask_t mask) { return OpenNrgDriver(path, mask); });
}
