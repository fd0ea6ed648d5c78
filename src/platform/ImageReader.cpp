// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/ImageReader.h"

#include <cdio/cdio.h>
#include <cdio/logging.h>
#include <cdio/udf.h>

#include <algorithm>
#include <cstring>
#include <mutex>

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
