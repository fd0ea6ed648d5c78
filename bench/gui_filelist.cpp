// SPDX-License-Identifier: GPL-3.0-or-later
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
// Program icons are read apart from the listing; each round also reports how long after its
// row the icon of each program row on screen showed (icon-max-ms, icon-missing: program rows
// still on screen without their icon once every icon asked for was placed).
//
// Each round prints one line; the last line holds the medians, which the script reads:
//   gui_filelist: rows 40073 images 8 rounds 5 median-ms 560.1 min-ms 501.2 max-ms 611.0 ...

#include "MainWindow.h"
#include "catalogue/FileListJob.h"
#include "platform/MountedVolume.h"
#include "BenchSupport.h"
#include "IconProgram.h"

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
    const std::string program = IconProgram::WithIcon();
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
    CMainWindow dlg;
    dlg.show();
    const auto done = [&dlg] {
        return dlg.StatusBar().GetText(0) == QLatin1String("Done.");
    };
    if (!WaitUntil(done, 20000, kWaitHeartbeatMs))
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
    dlg.ApplicationView().SetVolume(
        CMountedVolume::Create(CommonFolder(options.strFolder, options.strDescriptor)));

    // When each program row went in, by the view's number for it; and the longest wait of a
    // program row on screen for its own icon.
    CApplicationView& view = dlg.ApplicationView();
    const CFileListModel& model = view.FileListModel();
    const QIcon fallback = view.GetFileIcon([] {
        CFileRow row;
        row.strExtension = ".exe";
        return row;
    }());
    std::vector<double> inserted;
    std::vector<bool> shown;
    double iconMaxMs = 0;
    QObject::connect(&model, &QAbstractItemModel::rowsInserted, &dlg,
                     [&](const QModelIndex&, int first, int last) {
                         const double now = WallMs();
                         for (int r = first; r <= last; ++r) {
                             const std::uint32_t program = model.RowAt(r)->nProgram;
                             if (program == 0)
                                 continue;
                             if (inserted.size() < program) {
                                 inserted.resize(program, 0);
                                 shown.resize(program, false);
                             }
                             inserted[program - 1] = now;
                         }
                     });
    QTreeView& list = dlg.FileList();
    // Calls seen(row) for each row on screen.
    const auto onScreen = [&](const auto& seen) {
        const QModelIndex top = list.indexAt(QPoint(1, 1));
        if (!top.isValid())
            return;
        const QModelIndex bottom = list.indexAt(QPoint(1, list.viewport()->height() - 1));
        const int last = bottom.isValid() ? bottom.row() : model.rowCount() - 1;
        for (int r = top.row(); r <= last; ++r)
            seen(*model.RowAt(r));
    };
    QObject::connect(&model, &QAbstractItemModel::dataChanged, &dlg, [&] {
        const double now = WallMs();
        onScreen([&](const CFileListModel::Row& row) {
            if (row.nProgram == 0 || row.nProgram > shown.size() || shown[row.nProgram - 1] ||
                row.icon.cacheKey() == fallback.cacheKey())
                return;
            shown[row.nProgram - 1] = true;
            iconMaxMs = std::max(iconMaxMs, now - inserted[row.nProgram - 1]);
        });
    });

    std::vector<double> wall, cpu, uiCpu, removeIcons, empty, iconMax;
    int rows = 0;
    std::size_t images = 0;
    int iconMissing = 0;
    for (int round = 0; round < options.nRounds; ++round) {
        inserted.clear();
        shown.clear();
        iconMaxMs = 0;
        const double wall0 = WallMs();
        const double cpu0 = CpuMs();
        const double uiCpu0 = ThreadCpuMs();
        dlg.ApplicationView().StartFileList(options.strDescriptor, options.strFolder);
        const bool finished =
            WaitUntil([&] { return !dlg.ApplicationView().IsListing() && done(); }, kWaitBoundMs,
                      kWaitHeartbeatMs);
        const double wallMs = WallMs() - wall0;
        const double cpuMs = CpuMs() - cpu0;
        const double uiCpuMs = ThreadCpuMs() - uiCpu0;
        if (!finished)
            Fail("the listing did not end");
        rows = dlg.ApplicationView().FileListModel().rowCount();
        // Not timed: the icons of the rows still on screen, which then all show theirs.
        WaitUntil([&] { return !view.IsReadingIcons(); }, kWaitBoundMs, 1);
        images = view.ProgramIconCount();
        int missing = 0;
        onScreen([&](const CFileListModel::Row& row) {
            if (row.nProgram != 0 && row.nProgram <= shown.size() &&
                row.icon.cacheKey() == fallback.cacheKey() && !shown[row.nProgram - 1])
                ++missing;
        });
        iconMissing = std::max(iconMissing, missing);
        iconMax.push_back(iconMaxMs);
        if (options.nExpect >= 0 && rows != options.nExpect)
            Fail("listed " + std::to_string(rows) + " rows, expected " +
                 std::to_string(options.nExpect));
        wall.push_back(wallMs);
        cpu.push_back(cpuMs);
        uiCpu.push_back(uiCpuMs);
        std::printf("round %d rows %d images %zu wall-ms %.1f cpu-ms %.1f ui-cpu-ms %.1f "
                    "icon-max-ms %.1f icon-missing %d",
                    round + 1, rows, images, wallMs, cpuMs, uiCpuMs, iconMaxMs, missing);

        // Leaving the application: the program icons go, then the list empties.
        double t0 = WallMs();
        if (options.bSelectCost)
            dlg.ApplicationView().RemoveExeIcons();
        const double removeMs = WallMs() - t0;
        t0 = WallMs();
        atTop = !atTop;
        tree.setCurrentIndex(atTop ? top : other);
        QCoreApplication::processEvents();
        const double emptyMs = WallMs() - t0;
        if (dlg.ApplicationView().FileListModel().rowCount() != 0)
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
    const CStats i = Summarise(iconMax);
    std::printf("gui_filelist: rows %d images %zu rounds %d median-ms %.1f min-ms %.1f max-ms %.1f "
                "cpu-median-ms %.1f cpu-min-ms %.1f cpu-max-ms %.1f ui-cpu-median-ms %.1f "
                "ui-cpu-min-ms %.1f ui-cpu-max-ms %.1f icon-max-ms %.1f icon-missing %d",
                rows, images, options.nRounds, w.median, w.min, w.max, c.median, c.min, c.max,
                u.median, u.min, u.max, i.max, iconMissing);
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
