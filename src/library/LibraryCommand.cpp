// SPDX-License-Identifier: GPL-3.0-or-later
#include "library/LibraryCommand.h"

#include "catalogue/OpenedVolume.h"
#include "catalogue/Path.h"
#include "catalogue/Text.h"
#include "catalogue/Volume.h"
#include "library/LibraryCatalogue.h"
#include "library/LibraryStore.h"
#include "library/VolumeFinder.h"
#include "platform/OpenVolume.h"
#include "platform/PathFacts.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <ctime>
#include <limits>
#include <optional>
#include <unistd.h>

namespace LibraryCommand {

namespace {

using Clock = std::chrono::steady_clock;

// One field of a line: shown as the window shows it, with nothing that would split the line.
std::string Field(std::string_view bytes)
{
    std::string out;
    for (const char c : Text::DecodeForDisplay(bytes)) {
        if (c == '\t')
            out += "\\t";
        else if (c == '\n')
            out += "\\n";
        else if (c == '\r')
            out += "\\r";
        else
            out += c;
    }
    return out;
}

void PrintLine(std::FILE* out, std::initializer_list<std::string> fields)
{
    std::string line;
    for (const std::string& field : fields) {
        if (&field != fields.begin())
            line += '\t';
        line += field;
    }
    line += '\n';
    std::fputs(line.c_str(), out);
}

std::int64_t Nanoseconds(const CVolume::Timestamp& time)
{
    constexpr std::int64_t kPerSecond = 1'000'000'000;
    constexpr std::int64_t kLimit = std::numeric_limits<std::int64_t>::max() / kPerSecond - 1;
    return std::clamp(time.nSeconds, -kLimit, kLimit) * kPerSecond + time.nNanoseconds;
}

std::optional<CLibraryStore::EOpen> OpenStore(CLibraryStore& store, std::FILE* err)
{
    std::string error, notice;
    const CLibraryStore::EOpen result = store.Open(CLibraryStore::DefaultPath(), error, notice);
    if (!notice.empty())
        std::fprintf(err, "quarrow: %s\n", notice.c_str());
    if (result != CLibraryStore::EOpen::Ok) {
        std::fprintf(err, "quarrow: %s\n", error.c_str());
        return std::nullopt;
    }
    return result;
}

bool SameFacts(const CLibraryVolume& volume, const CPathFacts& facts)
{
    const bool bKind = volume.eKind == EVolumeKind::Image
                           ? facts.eKind == CPathFacts::EKind::File
                           : facts.eKind == CPathFacts::EKind::Folder;
    return bKind && volume.nDevice == facts.nDevice && volume.nInode == facts.nInode &&
           volume.nSize == facts.nSize && volume.nModified == Nanoseconds(facts.modified) &&
           volume.nChanged == Nanoseconds(facts.changed);
}

void TakeFacts(CLibraryVolume& volume, const CPathFacts& facts)
{
    volume.nDevice = facts.nDevice;
    volume.nInode = facts.nInode;
    volume.nSize = facts.nSize;
    volume.nModified = Nanoseconds(facts.modified);
    volume.nChanged = Nanoseconds(facts.changed);
}

std::string FailureText(const COpenedVolume& opened)
{
    using EFailure = COpenedVolume::EFailure;
    switch (opened.m_eFailure) {
    case EFailure::CannotOpen:
        return opened.m_strReason;
    case EFailure::FolderUnreadable:
        return "folder cannot be read";
    case EFailure::NotFolderOrImage:
        return "neither a folder nor a disc image";
    case EFailure::Unreadable:
        return "file cannot be read";
    case EFailure::NotAnImage:
        return "not a disc image Quarrow can read";
    case EFailure::None:
        break;
    }
    return {};
}

// A path inside a volume ("" for its root) as the window shows it.
std::string InVolume(const std::string& root, const std::string& inside)
{
    return inside.empty() ? root : Path::Join(root, inside);
}

std::string NameOf(const std::string& path)
{
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos || path == "/" ? path : path.substr(slash + 1);
}

class CAdder {
public:
    CAdder(CLibraryStore& store, std::FILE* out, std::FILE* err)
        : m_store(store)
        , m_out(out)
        , m_err(err)
        , m_bProgress(::isatty(::fileno(err)) == 1)
    {}

    // False when the volume could not be read.
    bool Add(const std::string& path)
    {
        const CPathFacts facts = CPathFacts::Of(path);
        std::optional<CLibraryVolume> stored = m_store.VolumeAt(path);
        if (stored && stored->strError.empty() && SameFacts(*stored, facts)) {
            Report("unchanged", *stored);
            return true;
        }
        const COpenedVolume opened = OpenVolume(path);
        CLibraryVolume volume = stored.value_or(CLibraryVolume{});
        volume.strPath = path;
        TakeFacts(volume, facts);
        volume.nCatalogued = std::time(nullptr);
        if (!opened.m_pVolume) {
            volume.strError = FailureText(opened);
            volume.strLabel = NameOf(path);
            volume.eKind =
                facts.eKind == CPathFacts::EKind::Folder ? EVolumeKind::Folder : EVolumeKind::Image;
            const CLibraryContents nothing;
            m_store.Save(volume, &nothing);
            Line({"failed", Field(path), Field(volume.strError)});
            return false;
        }
        const CVolume& contents = *opened.m_pVolume;
        volume.strIdentity = LibraryCatalogue::Identity(contents, opened.m_bImage ? path : "");
        volume.strLabel = opened.m_strLabel.value_or(NameOf(path));
        volume.eKind = opened.m_bImage ? EVolumeKind::Image
                       : facts.bDisc   ? EVolumeKind::Disc
                                       : EVolumeKind::Folder;
        volume.strError.clear();
        if (!stored) {
            if (std::optional<CLibraryVolume> moved = MovedHere(volume.strIdentity, path)) {
                const bool bSame = moved->nSize == volume.nSize &&
                                   moved->nModified == volume.nModified && moved->strError.empty();
                volume.nId = moved->nId;
                if (bSame) {
                    volume.nApplications = moved->nApplications;
                    volume.nFiles = moved->nFiles;
                    volume.nCatalogued = moved->nCatalogued;
                    m_store.Save(volume, nullptr);
                    Report("unchanged", volume);
                    return true;
                }
            }
        }
        const CLibraryContents read = LibraryCatalogue::Read(contents);
        m_store.Save(volume, &read);
        Report("added", volume);
        return true;
    }

    void Progress(std::size_t done, std::size_t found, const std::string& current)
    {
        if (!m_bProgress)
            return;
        const double seconds = std::chrono::duration<double>(Clock::now() - m_start).count();
        // The name alone: a line too long for the terminal would wrap, and \r not undo it.
        std::fprintf(m_err, "\r\033[K%zu of %zu volumes, %.1f a second: %s", done, found,
                     seconds > 0 ? static_cast<double>(done) / seconds : 0.0,
                     Field(NameOf(current)).c_str());
        std::fflush(m_err);
    }
    void EndProgress()
    {
        if (m_bProgress)
            std::fputs("\r\033[K", m_err);
    }

private:
    // A volume of the same identity whose path no longer holds it was moved or renamed; a
    // copy beside the original is a volume of its own.
    std::optional<CLibraryVolume> MovedHere(const std::string& identity, const std::string& path)
    {
        for (CLibraryVolume& candidate : m_store.VolumesWithIdentity(identity)) {
            if (candidate.strPath == path)
                continue;
            const CPathFacts there = CPathFacts::Of(candidate.strPath);
            if (there.eKind == CPathFacts::EKind::Missing || there.nDevice != candidate.nDevice ||
                there.nInode != candidate.nInode)
                return std::move(candidate);
        }
        return std::nullopt;
    }

    void Report(const char* state, const CLibraryVolume& volume)
    {
        Line({state, Field(volume.strLabel), Field(volume.strPath),
              std::to_string(volume.nApplications), std::to_string(volume.nFiles)});
    }
    void Line(std::initializer_list<std::string> fields)
    {
        if (m_bProgress)
            std::fputs("\r\033[K", m_err);
        PrintLine(m_out, fields);
        std::fflush(m_out);
    }

    CLibraryStore& m_store;
    std::FILE* m_out;
    std::FILE* m_err;
    const bool m_bProgress;
    const Clock::time_point m_start = Clock::now();
};

const char* KindName(EVolumeKind kind)
{
    switch (kind) {
    case EVolumeKind::Image:
        return "image";
    case EVolumeKind::Disc:
        return "disc";
    case EVolumeKind::Folder:
        break;
    }
    return "folder";
}

int Failed(CLibraryStore& store, const CLibraryStore::CError& error, std::FILE* err)
{
    std::fprintf(err, "quarrow: library: %s\n", error.what());
    std::string message;
    if (error.IsDamage()) {
        store.SetAside(CLibraryStore::DefaultPath(), message);
        std::fprintf(err, "quarrow: %s\n", message.c_str());
    }
    return 1;
}

} // namespace

std::string Absolute(const std::string& path)
{
    std::string full = path;
    if (full.empty() || full.front() != '/') {
        std::string cwd(4096, '\0');
        while (!::getcwd(cwd.data(), cwd.size()) && errno == ERANGE)
            cwd.resize(cwd.size() * 2);
        cwd.resize(cwd.find('\0'));
        full = cwd + '/' + path;
    }
    std::vector<std::string_view> parts;
    std::string_view rest = full;
    while (!rest.empty()) {
        const std::size_t slash = rest.find('/');
        const std::string_view part = rest.substr(0, slash);
        rest = slash == std::string_view::npos ? std::string_view() : rest.substr(slash + 1);
        if (part.empty() || part == ".")
            continue;
        if (part == "..") {
            if (!parts.empty())
                parts.pop_back();
            continue;
        }
        parts.push_back(part);
    }
    std::string normal;
    for (const std::string_view part : parts)
        normal.append("/").append(part);
    return normal.empty() ? "/" : normal;
}

int Add(const std::vector<std::string>& paths, std::FILE* out, std::FILE* err)
{
    CLibraryStore store;
    if (!OpenStore(store, err))
        return 1;
    std::vector<std::string> volumes;
    for (const std::string& path : paths)
        for (std::string& volume : VolumeFinder::Find(Absolute(path)))
            volumes.push_back(std::move(volume));
    CAdder adder(store, out, err);
    bool bAllRead = true;
    for (std::size_t i = 0; i < volumes.size(); ++i) {
        adder.Progress(i, volumes.size(), volumes[i]);
        try {
            bAllRead = adder.Add(volumes[i]) && bAllRead;
        } catch (const CLibraryStore::CError& error) {
            adder.EndProgress();
            return Failed(store, error, err);
        }
    }
    adder.EndProgress();
    return bAllRead ? 0 : 1;
}

int ListVolumes(std::FILE* out, std::FILE* err)
{
    CLibraryStore store;
    if (!OpenStore(store, err))
        return 1;
    try {
        for (const CLibraryVolume& volume : store.Volumes()) {
            const CPathFacts facts = CPathFacts::Of(volume.strPath);
            const bool bThere = volume.eKind == EVolumeKind::Image
                                    ? facts.eKind == CPathFacts::EKind::File
                                    : facts.eKind == CPathFacts::EKind::Folder;
            const char* state = !volume.strError.empty() ? "failed"
                                : bThere                 ? "present"
                                                         : "missing";
            PrintLine(out,
                      {Field(volume.strLabel), Field(volume.strPath), KindName(volume.eKind),
                       std::to_string(volume.nApplications), std::to_string(volume.nFiles), state});
        }
    } catch (const CLibraryStore::CError& error) {
        return Failed(store, error, err);
    }
    return 0;
}

int Search(const std::vector<std::string>& words, std::FILE* out, std::FILE* err)
{
    CLibraryStore store;
    if (!OpenStore(store, err))
        return 1;
    try {
        store.Search(
            words,
            [&](const CLibraryStore::ApplicationHit& hit) {
                PrintLine(out, {"application", Field(hit.strName), Field(hit.strCategory),
                                Field(hit.strLabel), Field(hit.strVolumePath),
                                Field(InVolume(hit.strVolumePath, hit.strFolder))});
            },
            [&](const CLibraryStore::FileHit& hit) {
                const std::string folder = InVolume(hit.strVolumePath, hit.strFolder);
                PrintLine(out, {"file", Field(hit.strName), Field(hit.strLabel),
                                Field(hit.strVolumePath), Field(Path::Join(folder, hit.strName))});
            });
    } catch (const CLibraryStore::CError& error) {
        return Failed(store, error, err);
    }
    return 0;
}

int Forget(const std::vector<std::string>& paths, std::FILE* out, std::FILE* err)
{
    (void)out;
    CLibraryStore store;
    if (!OpenStore(store, err))
        return 1;
    int status = 0;
    try {
        for (const std::string& given : paths) {
            const std::string path = Absolute(given);
            if (!store.Forget(path)) {
                std::fprintf(err, "quarrow: no volume in the library at %s\n", Field(path).c_str());
                status = 1;
            }
        }
    } catch (const CLibraryStore::CError& error) {
        return Failed(store, error, err);
    }
    return status;
}

} // namespace LibraryCommand
