// SPDX-License-Identifier: GPL-3.0-or-later
#include "library/LibraryCatalogue.h"

#include "catalogue/Catalogue.h"
#include "catalogue/Path.h"
#include "catalogue/Description.h"
#include "catalogue/Descriptor.h"
#include "catalogue/FolderWalker.h"
#include "catalogue/PeIconReader.h"
#include "catalogue/ProfileReader.h"
#include "catalogue/ScanJob.h"
#include "catalogue/Text.h"
#include "catalogue/Volume.h"
#include "catalogue/Wildcard.h"
#include "platform/RegularFile.h"

#include <algorithm>
#include <cstdio>
#include <unordered_map>

namespace LibraryCatalogue {

namespace {

// Volume descriptors start at sector 16 and UDF's anchor follows at 256; 16 KiB from 32 KiB
// covers ISO 9660's, Joliet's and UDF's recognition sequence, and a whole cue sheet.
constexpr std::uint64_t kHeaderAt = 32768;
constexpr std::size_t kHeaderBytes = 16384;
constexpr std::size_t kMaxAutorunBytes = 65536;
// A program's icon as the file list draws it is kept when it is this small: the 16 x 16
// images of old programs take a few hundred bytes, and a store must stay small.
constexpr std::size_t kMaxKeptIconBytes = 4096;

class CHash {
public:
    void Add(std::string_view bytes)
    {
        for (const char c : bytes) {
            m_a = (m_a ^ static_cast<unsigned char>(c)) * 1099511628211ULL;
            m_b = (m_b ^ static_cast<unsigned char>(c)) * 0x100000001b3ULL + 0x9e3779b97f4a7c15ULL;
        }
    }
    void Add(std::uint64_t value)
    {
        Add(std::string_view(reinterpret_cast<const char*>(&value), 8));
    }
    std::string Hex() const
    {
        char text[33];
        std::snprintf(text, sizeof text, "%016llx%016llx", static_cast<unsigned long long>(m_a),
                      static_cast<unsigned long long>(m_b));
        return text;
    }

private:
    std::uint64_t m_a = 14695981039346656037ULL;
    std::uint64_t m_b = 0x84222325cbf29ce4ULL;
};

std::int64_t Seconds(const CVolume::Timestamp& time)
{
    return time.nSeconds;
}

// One walk finds descriptors as the scan does, and lists every file on the way.
class CVolumeReader final : public CWalkVisitor {
public:
    explicit CVolumeReader(const CVolume& volume)
        : m_volume(volume)
        , m_descriptor(Descriptor::kPattern)
    {}

    CLibraryContents Run()
    {
        WalkFolder(m_volume, m_volume.Root(), EWalkMode::Tree, true, "*", *this);
        for (const CCategoryEntry& category : m_catalogue.Categories()) {
            for (const CApplicationEntry& entry : category.arrApplications)
                Describe(category.strText, entry);
        }
        return std::move(m_contents);
    }

private:
    void AddApplication(const CFoundFile& found) override
    {
        const std::string path = found.GetFilePath();
        std::optional<CVolume::FileIdentity> identity = found.ListedIdentity();
        if (!identity)
            identity = m_volume.IdentityOf(path);
        if (!identity)
            return;
        if (!found.IsLink())
            AddFile(found, *identity);
        if (m_descriptor.Matches(found.GetFileName()))
            AddDescriptor(found, path, *identity);
    }

    void AddFile(const CFoundFile& found, const CVolume::FileIdentity& identity)
    {
        if (m_contents.astrFolders.empty() || m_strLastFolder != found.GetRoot()) {
            m_strLastFolder = found.GetRoot();
            const auto [it, bNew] =
                m_mapFolders.try_emplace(m_strLastFolder, m_contents.astrFolders.size());
            if (bNew)
                m_contents.astrFolders.push_back(Inside(m_volume, m_strLastFolder));
            m_nLastFolder = static_cast<std::uint32_t>(it->second);
        }
        m_contents.arrFiles.push_back({m_nLastFolder, found.GetFileName(), identity.nSize,
                                       Seconds(identity.modified), IconOf(found)});
    }

    // As the window reads a program's icon for its row, so that a disc away shows it too.
    std::string IconOf(const CFoundFile& found) const
    {
        const std::string& name = found.GetFileName();
        if (!found.IsRegular() || name.size() < 4 ||
            !Text::EqualsNoCase(std::string_view(name).substr(name.size() - 4), ".exe"))
            return {};
        const std::unique_ptr<CVolume::CFile> file = m_volume.OpenListedFile(found.GetFilePath());
        if (!file)
            return {};
        const std::vector<unsigned char> icon =
            CPeIconReader::ExtractIconFromFile(*file, 0, CPeIconReader::Images::ClosestTo16);
        if (icon.size() > kMaxKeptIconBytes)
            return {};
        return std::string(icon.begin(), icon.end());
    }

    // As CScanJob reads them: each file once, and no more than its budget in all.
    void AddDescriptor(const CFoundFile& found, const std::string& path,
                       const CVolume::FileIdentity& identity)
    {
        auto it = m_mapRead.find(identity);
        if (it == m_mapRead.end()) {
            if (identity.nSize > CScanJob::kMaxDescriptorBytes - m_nBytesRead)
                return;
            m_nBytesRead += identity.nSize;
            it = m_mapRead
                     .emplace(identity, Descriptor::ReadListing(
                                            Descriptor::ReaderFor(m_reader, m_volume, path)))
                     .first;
        }
        if (it->second.bListed)
            m_catalogue.AddApplication(it->second.strCategory,
                                       {it->second.strName, path, found.GetRoot()});
    }

    void Describe(const std::string& category, const CApplicationEntry& entry)
    {
        const Descriptor::ReadKey read =
            Descriptor::ReaderFor(m_reader, m_volume, entry.strDescriptorPath);
        CLibraryApplication& application = m_contents.arrApplications.emplace_back();
        application.strCategory = category;
        application.strName = entry.strName;
        application.strDescriptor = Inside(m_volume, entry.strDescriptorPath);
        application.strFolder = Inside(m_volume, entry.strFolder);
        application.strDescription =
            Description::ForDisplay(Description::Build(read, m_volume, entry.strFolder).strText);
        Descriptor::ShowFiles show = Descriptor::ReadShowFiles(read);
        application.astrPatterns = std::move(show.astrPatterns);
        application.bSearchSubdirs = show.bSearchSubdirs;
    }

    struct IdentityHash {
        std::size_t operator()(const CVolume::FileIdentity& id) const noexcept
        {
            return std::hash<std::uint64_t>{}(id.nInode * 31 + id.nDevice) ^ id.nSize;
        }
    };

    const CVolume& m_volume;
    const CWildcard m_descriptor;
    CProfileReader m_reader;
    CCatalogue m_catalogue;
    std::unordered_map<CVolume::FileIdentity, Descriptor::Listing, IdentityHash> m_mapRead;
    std::uint64_t m_nBytesRead = 0;
    CLibraryContents m_contents;
    std::unordered_map<std::string, std::size_t> m_mapFolders;
    std::string m_strLastFolder;
    std::uint32_t m_nLastFolder = 0;
};

} // namespace

std::string Inside(const CVolume& volume, const std::string& path)
{
    const std::string& root = volume.Root();
    if (path.size() <= root.size())
        return {};
    return path.substr(root == "/" ? 1 : root.size() + 1);
}

std::string Identity(const CVolume& volume, const std::string& imagePath)
{
    CHash hash;
    if (!imagePath.empty()) {
        CRegularFile image;
        if (image.Open(imagePath)) {
            const std::uint64_t size = image.Size();
            const std::uint64_t at = size > kHeaderAt ? kHeaderAt : 0;
            std::string bytes(
                static_cast<std::size_t>(std::min<std::uint64_t>(kHeaderBytes, size - at)), '\0');
            if (image.ReadAt(at, bytes.data(), bytes.size()))
                hash.Add(bytes);
            hash.Add(size);
        }
    }
    if (const auto autorun = volume.ResolveNoCase(volume.Root(), "autorun.inf")) {
        std::string text;
        if (const auto file = volume.OpenFile(*autorun);
            file && file->ReadAll(text, kMaxAutorunBytes) == CVolume::ReadStatus::Ok)
            hash.Add(text);
    }
    // Sorted: a copy of a folder may list in another order.
    std::vector<std::string> entries;
    if (const auto root = volume.OpenFolder(volume.Root())) {
        const auto reader = volume.NewFolderReader();
        CVolume::Entry entry;
        if (reader->Start(*root)) {
            while (reader->Next(entry) && entries.size() < 4096) {
                std::string line = entry.strName;
                line += entry.type == CVolume::EntryType::File ? '\1' : '\2';
                if (entry.bRegular)
                    if (const auto id = volume.IdentityOf(Path::Join(volume.Root(), entry.strName)))
                        line += std::to_string(id->nSize);
                entries.push_back(std::move(line));
            }
        }
    }
    std::sort(entries.begin(), entries.end());
    for (const std::string& line : entries) {
        hash.Add(line);
        hash.Add(std::string_view("\0", 1));
    }
    return hash.Hex();
}

CLibraryContents Read(const CVolume& volume)
{
    return CVolumeReader(volume).Run();
}

} // namespace LibraryCatalogue
