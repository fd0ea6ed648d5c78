// Times the file list of the real main window (offscreen): from StartFileList to "Done." with
// every row in the model, the worker, the UI thread's batches and the painting included.
//
//   gui_filelist FOLDER [--rounds N] [--descriptor PATH] [--expect ROWS] [--select-cost]
//   gui_filelist --make-programs DIR [--files N] [--exe-every N]
//
// DESCRIPTOR defaults to FOLDER/Flat.brw (what gen_drive --flat writes). --expect makes a
// round with another row count fail. --select-cost also times what leaving the application
// costs: RemoveExeIcons() alone, then the selection change that empties the list.
// --make-programs writes a flat folder whose programs carry a real 16 x 16 icon, so that every
// program listed adds an image (gen_drive's programs are empty and all share the fallback).
//
// Each round prints one line; the last line holds the medians, which the script reads:
//   gui_filelist: rows 40073 images 8 rounds 5 median-ms 560.1 min-ms 501.2 max-ms 611.0 ...

#include "app/CatalogDlg.h"
#include "BenchSupport.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

namespace {

using namespace Bench;

struct COptions {
    std::string strFolder;
    std::string strDescriptor;
    int nRounds = 5;
    long long nExpect = -1;
    bool bSelectCost = false;
    std::string strMakePrograms;
    std::size_t nFiles = 100000;
    std::size_t nExeEvery = 10;
};

[[noreturn]] void Fail(const std::string& what)
{
    std::fprintf(stderr, "gui_filelist: %s\n", what.c_str());
    std::exit(1);
}

double CpuMs()
{
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}

// --- a program with one 16 x 16 icon, laid out as a resource compiler does --------------------

void Put16(std::string& s, std::size_t at, std::uint32_t value)
{
    s[at] = static_cast<char>(value & 0xFF);
    s[at + 1] = static_cast<char>((value >> 8) & 0xFF);
}

void Put32(std::string& s, std::size_t at, std::uint32_t value)
{
    Put16(s, at, value & 0xFFFF);
    Put16(s, at + 2, value >> 16);
}

std::string ProgramWithIcon()
{
    constexpr std::uint32_t kRsrcRva = 0x2000;
    constexpr std::size_t kRsrcOffset = 0x400;
    constexpr std::size_t kPeOffset = 0x80;

    // 32-bit image: header (height doubled for the mask), pixels, AND mask.
    std::string dib(40 + 16 * 16 * 4 + 4 * 16, '\0');
    Put32(dib, 0, 40);
    Put32(dib, 4, 16);
    Put32(dib, 8, 32);
    Put16(dib, 12, 1);
    Put16(dib, 14, 32);
    for (std::size_t p = 0; p < 16 * 16; ++p)
        Put32(dib, 40 + 4 * p, 0xFF2060C0u + static_cast<std::uint32_t>(p));
    std::string group(6 + 14, '\0');
    Put16(group, 2, 1);
    Put16(group, 4, 1);
    group[6] = 16;
    group[7] = 16;
    Put16(group, 10, 1);
    Put16(group, 12, 32);
    Put32(group, 14, static_cast<std::uint32_t>(dib.size()));
    Put16(group, 18, 1);

    // Root with RT_ICON (3) and RT_GROUP_ICON (14), each one name (1) in one language.
    constexpr std::size_t kTypeDirs[] = {32, 56};
    constexpr std::size_t kLangDirs[] = {80, 104};
    constexpr std::size_t kDataEntries[] = {128, 144};
    const std::size_t dataAt[] = {160, (160 + dib.size() + 7) / 8 * 8};
    const std::string* data[] = {&dib, &group};
    constexpr std::uint32_t kTypes[] = {3, 14};
    std::string rsrc(dataAt[1] + group.size(), '\0');
    Put16(rsrc, 14, 2);
    for (std::size_t t = 0; t < 2; ++t) {
        Put32(rsrc, 16 + 8 * t, kTypes[t]);
        Put32(rsrc, 20 + 8 * t, 0x80000000u | kTypeDirs[t]);
        Put16(rsrc, kTypeDirs[t] + 14, 1);
        Put32(rsrc, kTypeDirs[t] + 16, 1);
        Put32(rsrc, kTypeDirs[t] + 20, 0x80000000u | kLangDirs[t]);
        Put16(rsrc, kLangDirs[t] + 14, 1);
        Put32(rsrc, kLangDirs[t] + 16, 0x409);
        Put32(rsrc, kLangDirs[t] + 20, kDataEntries[t]);
        Put32(rsrc, kDataEntries[t], kRsrcRva + dataAt[t]);
        Put32(rsrc, kDataEntries[t] + 4, data[t]->size());
        rsrc.replace(dataAt[t], data[t]->size(), *data[t]);
    }

    const std::size_t rsrcRaw = (rsrc.size() + 0x1FF) / 0x200 * 0x200;
    std::string s(kRsrcOffset + rsrcRaw, '\0');
    s[0] = 'M';
    s[1] = 'Z';
    Put32(s, 0x3C, kPeOffset);
    s.replace(kPeOffset, 4, std::string("PE\0\0", 4));
    const std::size_t coff = kPeOffset + 4;
    Put16(s, coff, 0x14C);
    Put16(s, coff + 2, 1);
    Put16(s, coff + 16, 224);
    Put16(s, coff + 18, 0x0102);
    const std::size_t optional = coff + 20;
    Put16(s, optional, 0x10B);
    Put32(s, optional + 92, 16);
    Put32(s, optional + 96 + 2 * 8, kRsrcRva);
    Put32(s, optional + 96 + 2 * 8 + 4, rsrc.size());
    const std::size_t section = optional + 224;
    s.replace(section, 5, ".rsrc");
    Put32(s, section + 8, rsrc.size());
    Put32(s, section + 12, kRsrcRva);
    Put32(s, section + 16, rsrcRaw);
    Put32(s, section + 20, kRsrcOffset);
    s.replace(kRsrcOffset, rsrc.size(), rsrc);
    return s;
}

void WriteFile(const std::filesystem::path& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out)
        Fail("cannot write " + path.string());
}

int MakePrograms(const COptions& options)
{
    namespace fs = std::filesystem;
    const fs::path dir = options.strMakePrograms;
    std::error_code error;
    if (fs::exists(dir, error) && !fs::is_empty(dir, error))
        Fail(dir.string() + " is not empty");
    fs::create_directories(dir, error);
    if (error)
        Fail("cannot create " + dir.string());
    static const char* const kOthers[] = {".txt", ".zip", ".me", ".hlp", ".dat", ".bin", ".ini"};
    const std::string program = ProgramWithIcon();
    const std::size_t every = std::max<std::size_t>(options.nExeEvery, 1);
    std::size_t programs = 0;
    std::size_t listed = 0;
    char name[64];
    for (std::size_t i = 0; i < options.nFiles; ++i) {
        if (i % every == 0) {
            std::snprintf(name, sizeof name, "Prog_%06zu.exe", i);
            WriteFile(dir / name, program);
            ++programs;
            ++listed;
            continue;
        }
        const char* extension = kOthers[i % std::size(kOthers)];
        std::snprintf(name, sizeof name, "Note_%06zu%s", i, extension);
        WriteFile(dir / name, {});
        const std::string_view shown = extension;
        listed += shown == ".txt" || shown == ".zip" || shown == ".me" || shown == ".hlp";
    }
    WriteFile(dir / "Flat.brw", "[info]\r\ncategory=Benchmarks\r\nname=Programs\r\n");
    std::printf("gui_filelist: programs files %zu exe %zu default-pattern %zu\n", options.nFiles,
                programs, listed);
    return 0;
}

// -----------------------------------------------------------------------------------------------

COptions ParseOptions(int argc, char** argv)
{
    COptions options;
    auto value = [&](int& i) -> std::string {
        if (i + 1 >= argc)
            Fail(std::string(argv[i]) + " needs a value");
        return argv[++i];
    };
    auto count = [&](int& i) -> long long {
        const std::string text = value(i);
        char* end = nullptr;
        const long long n = std::strtoll(text.c_str(), &end, 10);
        if (text.empty() || *end != '\0' || n < 0)
            Fail("bad number: " + text);
        return n;
    };
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        if (option == "--rounds")
            options.nRounds = static_cast<int>(std::max(1LL, count(i)));
        else if (option == "--descriptor")
            options.strDescriptor = value(i);
        else if (option == "--expect")
            options.nExpect = count(i);
        else if (option == "--select-cost")
            options.bSelectCost = true;
        else if (option == "--make-programs")
            options.strMakePrograms = value(i);
        else if (option == "--files")
            options.nFiles = static_cast<std::size_t>(count(i));
        else if (option == "--exe-every")
            options.nExeEvery = static_cast<std::size_t>(count(i));
        else if (!option.empty() && option[0] != '-' && options.strFolder.empty())
            options.strFolder = option;
        else
            Fail("unknown argument " + option);
    }
    if (options.strMakePrograms.empty() && options.strFolder.empty())
        Fail("usage: gui_filelist FOLDER [--rounds N] [--descriptor PATH] [--expect ROWS] "
             "[--select-cost]\n       gui_filelist --make-programs DIR [--files N] "
             "[--exe-every N]");
    if (options.strDescriptor.empty())
        options.strDescriptor = options.strFolder + "/Flat.brw";
    return options;
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    const COptions options = ParseOptions(argc, argv);
    if (!options.strMakePrograms.empty())
        return MakePrograms(options);
    if (access(options.strDescriptor.c_str(), R_OK) != 0)
        Fail("no descriptor " + options.strDescriptor);

    // A drive of nothing but autorun.inf: the window scans it at once and asks for no drive.
    QTemporaryDir drive(QDir::tempPath() + QStringLiteral("/quarrow-gui_filelist-XXXXXX"));
    if (!drive.isValid())
        Fail("cannot make a temporary folder");
    const std::filesystem::path root = drive.path().toStdString();
    WriteFile(root / "autorun.inf", "[autorun]\r\nlabel=File list bench\r\n");
    const std::filesystem::path previous = std::filesystem::current_path();
    std::filesystem::current_path(root);
    CCatalogDlg dlg;
    dlg.show();
    const auto done = [&dlg] {
        return dlg.StatusBar().GetText(0) == QLatin1String("Done.");
    };
    if (!WaitUntil(done, 20000))
        Fail("the start-up scan did not end");
    std::filesystem::current_path(previous);

    // Two nodes that are not applications: selecting either empties the list as leaving an
    // application does.
    QTreeView& tree = dlg.CatalogTree();
    const QModelIndex top = tree.model()->index(0, 0);
    const QModelIndex other = tree.model()->index(0, 0, top);
    if (!top.isValid() || !other.isValid())
        Fail("the empty catalogue lacks its nodes");
    bool atTop = tree.currentIndex() == top;

    std::vector<double> wall, cpu, uiCpu, removeIcons, empty;
    int rows = 0;
    int images = 0;
    for (int round = 0; round < options.nRounds; ++round) {
        dlg.SetProfileFile(options.strDescriptor);
        const double wall0 = WallMs();
        const double cpu0 = CpuMs();
        const double uiCpu0 = ThreadCpuMs();
        dlg.StartFileList(options.strFolder);
        const bool finished = WaitUntil([&] { return !dlg.IsListing() && done(); });
        const double wallMs = WallMs() - wall0;
        const double cpuMs = CpuMs() - cpu0;
        const double uiCpuMs = ThreadCpuMs() - uiCpu0;
        if (!finished)
            Fail("the listing did not end");
        rows = dlg.FileListModel().rowCount();
        images = dlg.ImageCount();
        if (options.nExpect >= 0 && rows != options.nExpect)
            Fail("listed " + std::to_string(rows) + " rows, expected " +
                 std::to_string(options.nExpect));
        wall.push_back(wallMs);
        cpu.push_back(cpuMs);
        uiCpu.push_back(uiCpuMs);
        std::printf("round %d rows %d images %d wall-ms %.1f cpu-ms %.1f ui-cpu-ms %.1f", round + 1,
                    rows, images, wallMs, cpuMs, uiCpuMs);

        // Leaving the application: the program icons go, then the list empties.
        double t0 = WallMs();
        if (options.bSelectCost)
            dlg.RemoveExeIcons();
        const double removeMs = WallMs() - t0;
        t0 = WallMs();
        atTop = !atTop;
        tree.setCurrentIndex(atTop ? top : other);
        QCoreApplication::processEvents();
        const double emptyMs = WallMs() - t0;
        if (dlg.FileListModel().rowCount() != 0)
            Fail("the selection change left rows behind");
        if (options.bSelectCost) {
            removeIcons.push_back(removeMs);
            empty.push_back(emptyMs);
            std::printf(" remove-exe-icons-ms %.1f empty-ms %.1f", removeMs, emptyMs);
        }
        std::printf("\n");
        std::fflush(stdout);
    }

    const CStats w = Summarise(wall);
    const CStats c = Summarise(cpu);
    const CStats u = Summarise(uiCpu);
    std::printf("gui_filelist: rows %d images %d rounds %d median-ms %.1f min-ms %.1f max-ms %.1f "
                "cpu-median-ms %.1f cpu-min-ms %.1f cpu-max-ms %.1f ui-cpu-median-ms %.1f "
                "ui-cpu-min-ms %.1f ui-cpu-max-ms %.1f",
                rows, images, options.nRounds, w.median, w.min, w.max, c.median, c.min, c.max,
                u.median, u.min, u.max);
    if (options.bSelectCost) {
        const CStats r = Summarise(removeIcons);
        const CStats e = Summarise(empty);
        std::printf(" remove-median-ms %.1f remove-min-ms %.1f remove-max-ms %.1f"
                    " empty-median-ms %.1f empty-min-ms %.1f empty-max-ms %.1f",
                    r.median, r.min, r.max, e.median, e.min, e.max);
    }
    std::printf("\n");
    return 0;
}
