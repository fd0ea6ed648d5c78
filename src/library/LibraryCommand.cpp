// SPDX-License-Identifier: GPL-3.0-or-later
#include "library/LibraryCommand.h"

#include "catalogue/Path.h"
#include "catalogue/Text.h"
#include "catalogue/Volume.h"
#include "library/LibraryAdder.h"
#include "library/LibraryStore.h"
#include "library/VolumeFinder.h"

#include <cerrno>
#include <chrono>
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

// A path inside a volume ("" for its root) as the window shows it.
std::string InVolume(const std::string& root, const std::string& inside)
{
    return inside.empty() ? root : Path::Join(root, inside);
}

// Prints each volume's outcome, and progress on a terminal.
class CAddPrinter {
public:
    CAddPrinter(std::FILE* out, std::FILE* err)
        : m_out(out)
        , m_err(err)
        , m_bProgress(::isatty(::fileno(err)) == 1)
    {}

    // False when the volume could not be read.
    bool Print(const CLibraryAdder::Outcome& outcome)
    {
        const CLibraryVolume& volume = outcome.volume;
        if (outcome.eState == CLibraryAdder::EState::Failed) {
            Line({"failed", Field(volume.strPath), Field(volume.strError)});
            return false;
        }
        Line({outcome.eState == CLibraryAdder::EState::Added ? "added" : "unchanged",
              Field(volume.strLabel), Field(volume.strPath), std::to_string(volume.nApplications),
              std::to_string(volume.nFiles)});
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
    void Line(std::initializer_list<std::string> fields)
    {
        if (m_bProgress)
            std::fputs("\r\033[K", m_err);
        PrintLine(m_out, fields);
        std::fflush(m_out);
    }

    std::FILE* m_out;
    std::FILE* m_err;
    const bool m_bProgress;
    const Clock::time_point m_start = Clock::now();
};

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
    CLibraryAdder adder(store);
    CAddPrinter printer(out, err);
    bool bAllRead = true;
    try {
        adder.AddAll(volumes,
                     {[] { return false; },
                      [&](std::size_t i) { printer.Progress(i, volumes.size(), volumes[i]); },
                      [&](CLibraryAdder::Outcome&& outcome) {
                          bAllRead = printer.Print(outcome) && bAllRead;
                      }});
    } catch (const CLibraryStore::CError& error) {
        printer.EndProgress();
        return Failed(store, error, err);
    }
    printer.EndProgress();
    return bAllRead ? 0 : 1;
}

int ListVolumes(std::FILE* out, std::FILE* err)
{
    CLibraryStore store;
    if (!OpenStore(store, err))
        return 1;
    try {
        for (const CLibraryVolume& volume : store.Volumes()) {
            PrintLine(out, {Field(volume.strLabel), Field(volume.strPath), KindName(volume.eKind),
                            std::to_string(volume.nApplications), std::to_string(volume.nFiles),
                            VolumeState(volume)});
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
