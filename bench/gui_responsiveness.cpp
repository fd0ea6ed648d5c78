// SPDX-License-Identifier: GPL-3.0-or-later
// Measures how late the UI thread's event loop runs while the real main window (offscreen)
// scans a drive, lists a large folder and shows the largest description file allowed, and how
// long closing the window takes in the middle of each.
//
//   gui_responsiveness --drive DIR --flat DIR [--phases scan,list,description] [--rounds N]
//                      [--pattern '*'] [--close-at-ms MS] [--no-close] [--trace-ms MS]
//                      [--expect-apps N] [--expect-rows N]
//
// A 10 ms precise timer on the UI thread records when each tick fires (monotonic clock); a
// tick's lateness is its interval minus 10 ms, so any stall between two ticks counts, whether
// it is a slot of the window, a layout or a paint. Phases, each in a window of its own:
//   scan         StartScan(DRIVE) until the status bar says "Done." with the tree filled;
//   list         StartFileList(FLAT) through a descriptor whose one pattern (--pattern, by
//                default every file) lists the whole folder, until "Done." with every row in;
//   description  selecting an application whose description file is just under both caps
//                (kMaxDescriptionBytes, kMaxDescriptionLines) until the pane has painted it.
// Ticks go on for 30 ms after the end, so that the layout and painting it queued count too.
// Then, in a fresh window, each phase again, and at --close-at-ms (default: half the phase's
// measured duration) another thread asks the window to close, as a click on its close button
// would: close time runs from that request until close() has returned with the window hidden
// and the worker stopped (joined, or let go after the window's grace). The window's
// destruction afterwards is timed on its own.
// --trace-ms also prints every tick at least that late and every event whose delivery took at
// least that long (wall and UI-thread CPU, type and receiver): the slot, layout or paint
// behind a stall.
//
// Lines the script reads:
//   phase scan round 1 ticks 72 p50-ms 0.1 p99-ms 8.2 max-ms 11.0 own-p99-ms 2.1 own-max-ms 3.0
//     duration-ms 715.2 ui-cpu-ms 40.1 preempted 12 count 1920
// own-: the same figures from the UI thread's CPU time in each interval (its own work, without
// the time others' load kept it off a core).
//   close scan round 1 at-ms 357.6 close-ms 3.1 wait-ms 0.2 handler-ms 2.9 handler-cpu-ms 0.4
//     worker joined hidden 1 running-after 0 after-end 0 destroy-ms 1.2

#include "MainWindow.h"
#include "platform/MountedVolume.h"
#include "BenchSupport.h"
#include "Ticker.h"
#include "DescriptionText.h"
#include "catalogue/Description.h"

#include <QApplication>
#include <QDir>
#include <QEvent>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace Bench;

constexpr int kTailTicks = 3;
constexpr int kPhaseBoundMs = 300000;

struct COptions {
    std::string strDrive;
    std::string strFlat;
    std::vector<std::string> astrPhases{"scan", "list", "description"};
    int nRounds = 1;
    std::string strPattern = "*";
    double closeAtMs = -1; // below 0: half the phase's measured duration
    bool bClose = true;
    double traceMs = -1; // at or above 0: print every tick at least this late
    long long nExpectApps = -1;
    long long nExpectRows = -1;
};

[[noreturn]] void Fail(const std::string& what)
{
    std::fprintf(stderr, "gui_responsiveness: %s\n", what.c_str());
    std::exit(1);
}

void WriteFile(const std::filesystem::path& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out)
        Fail("cannot write " + path.string());
}

// Threads of this process: a worker that was let go still counts until it ends.
int ThreadCount()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("Threads:", 0) == 0)
            return std::atoi(line.c_str() + 8);
    return -1;
}

// Times the kernel took the UI thread off a core it still wanted: on a shared machine this
// tells lateness from others' load apart from lateness from the window's own work.
long long Preemptions()
{
    std::ifstream status("/proc/thread-self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("nonvoluntary_ctxt_switches:", 0) == 0)
            return std::atoll(line.c_str() + 27);
    return -1;
}

// With --trace-ms, names every event whose delivery (outermost only) takes at least that
// long: which slot, layout or paint the lateness comes from.
class CTracingApplication final : public QApplication {
public:
    using QApplication::QApplication;

    double traceMs = -1;
    double phaseStart = 0;

    bool notify(QObject* receiver, QEvent* event) override
    {
        if (traceMs < 0 || m_nDepth > 0)
            return QApplication::notify(receiver, event);
        ++m_nDepth;
        const QEvent::Type type = event->type();
        const double t0 = WallMs();
        const double cpu0 = ThreadCpuMs();
        const bool result = QApplication::notify(receiver, event);
        const double ms = WallMs() - t0;
        const double cpuMs = ThreadCpuMs() - cpu0;
        --m_nDepth;
        if (ms >= traceMs)
            std::printf("  event at-ms %.1f took-ms %.1f cpu-ms %.1f type %d to %s %s\n",
                        t0 - phaseStart, ms, cpuMs, static_cast<int>(type),
                        receiver->metaObject()->className(), qPrintable(receiver->objectName()));
        return result;
    }

private:
    int m_nDepth = 0;
};

// Notes the pane's paints.
class CPaintWatch final : public QObject {
public:
    bool bPainted = false;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Paint)
            bPainted = true;
        return QObject::eventFilter(watched, event);
    }
};

// The temporary drive each window starts on: an autorun.inf, so that the window scans it at
// once and asks for no drive, and one application with the big description file.
struct CStartDrive {
    QTemporaryDir dir{QDir::tempPath() + QStringLiteral("/quarrow-gui_responsiveness-XXXXXX")};
    std::filesystem::path root;
    std::string strAllFiles; // a descriptor listing every file through the one pattern
    int nDescriptionLines = 0;

    explicit CStartDrive(const COptions& options)
    {
        if (!dir.isValid())
            Fail("cannot make a temporary folder");
        root = dir.path().toStdString();
        const std::filesystem::path app = root / "app";
        std::filesystem::create_directories(app);
        WriteFile(root / "autorun.inf", "[autorun]\r\nlabel=Responsiveness bench\r\n");
        WriteFile(app / "app.brw", "[info]\r\ncategory=Bench\r\nname=Big\r\n"
                                   "[description]\r\nfile=big.txt\r\n");
        const std::string text = DescriptionText(Description::kMaxDescriptionBytes - 1);
        nDescriptionLines = static_cast<int>(std::count(text.begin(), text.end(), '\n'));
        if (static_cast<std::size_t>(nDescriptionLines) >= Description::kMaxDescriptionLines)
            Fail("the description file has too many lines");
        WriteFile(app / "big.txt", text);
        // Outside the start drive, so that no scan finds it.
        strAllFiles = (std::filesystem::path(dir.path().toStdString() + "-all.brw")).string();
        WriteFile(strAllFiles, "[info]\r\ncategory=Bench\r\nname=All\r\n[showfiles]\r\nfile1=" +
                                   options.strPattern + "\r\n");
    }
    ~CStartDrive() { std::filesystem::remove(strAllFiles); }
};

bool StatusDone(CMainWindow& dlg)
{
    return dlg.StatusBar().GetText(0) == QLatin1String("Done.");
}

// A window shown as the program shows it (modal), with its start-up scan of the start
// drive ended.
std::unique_ptr<CMainWindow> OpenWindow(const CStartDrive& drive)
{
    const std::filesystem::path previous = std::filesystem::current_path();
    std::filesystem::current_path(drive.root);
    auto dlg = std::make_unique<CMainWindow>();
    dlg->setWindowModality(Qt::ApplicationModal);
    dlg->show();
    std::filesystem::current_path(previous);
    CMainWindow& window = *dlg;
    if (!WaitUntil(
            [&window] { return StatusDone(window) && !window.ApplicationView().IsListing(); },
            20000, kWaitHeartbeatMs))
        Fail("the start-up scan did not end");
    // Let the first layout and paint go by.
    QCoreApplication::processEvents();
    return dlg;
}

QModelIndex TopIndex(CMainWindow& dlg)
{
    return dlg.CatalogTree().model()->index(0, 0);
}

struct CPhase {
    std::string strName;
    std::function<void(CMainWindow&)> prepare; // untimed, before the ticks start
    std::function<void(CMainWindow&)> start;
    std::function<bool(CMainWindow&)> done;
    std::function<long long(CMainWindow&)> count; // what the phase produced, for checks
};

class CBench {
public:
    CBench(const COptions& options, CStartDrive& drive)
        : m_options(options)
        , m_drive(drive)
    {}

    CPhase Phase(const std::string& name)
    {
        if (name == "scan")
            return ScanPhase();
        if (name == "list")
            return ListPhase();
        if (name == "description")
            return DescriptionPhase();
        Fail("unknown phase " + name);
    }

    double RunTicks(const CPhase& phase, int round)
    {
        auto dlg = OpenWindow(m_drive);
        phase.prepare(*dlg);
        CTicker ticker;
        ticker.Start();
        if (!WaitUntil([&ticker] { return ticker.Count() >= 2; }, 5000, kWaitHeartbeatMs))
            Fail("the timer does not tick");
        const std::size_t first = ticker.Count() - 1;
        const long long preempted0 = Preemptions();
        const double cpu0 = ThreadCpuMs();
        const double t0 = WallMs();
        static_cast<CTracingApplication*>(QCoreApplication::instance())->phaseStart = t0;
        phase.start(*dlg);
        if (!WaitUntil([&] { return phase.done(*dlg); }, kPhaseBoundMs, kWaitHeartbeatMs))
            Fail("phase " + phase.strName + " did not end");
        const double duration = WallMs() - t0;
        const double cpuMs = ThreadCpuMs() - cpu0;
        const long long preempted = Preemptions() - preempted0;
        const std::size_t atEnd = ticker.Count();
        WaitUntil([&] { return ticker.Count() >= atEnd + kTailTicks; }, 5000, kWaitHeartbeatMs);
        ticker.Stop();
        const long long produced = phase.count(*dlg);
        const std::vector<double> late = ticker.Lateness(first);
        const std::vector<double> own = ticker.OwnLateness(first);
        for (std::size_t i = 0; m_options.traceMs >= 0 && i < late.size(); ++i)
            if (late[i] >= m_options.traceMs)
                std::printf("  tick at-ms %.1f late-ms %.1f\n", ticker.At(first + 1 + i) - t0,
                            late[i]);
        std::printf("phase %s round %d ticks %zu p50-ms %.1f p99-ms %.1f max-ms %.1f "
                    "own-p99-ms %.1f own-max-ms %.1f duration-ms %.1f ui-cpu-ms %.1f "
                    "preempted %lld count %lld\n",
                    phase.strName.c_str(), round, late.size(), Percentile(late, 0.5),
                    Percentile(late, 0.99), Percentile(late, 1.0), Percentile(own, 0.99),
                    Percentile(own, 1.0), duration, cpuMs, preempted, produced);
        std::fflush(stdout);
        return duration;
    }

    void RunClose(const CPhase& phase, int round, double atMs)
    {
        auto dlg = OpenWindow(m_drive);
        phase.prepare(*dlg);
        const int baseline = ThreadCount();

        struct CClose {
            double request = 0, handlerStart = 0, handlerEnd = 0, handlerCpu = 0;
            bool bHandled = false, bHidden = false, bRunningBefore = false, bRunningAfter = false;
            int nThreadsBefore = 0, nThreadsAfter = 0;
        } close;
        std::atomic<double> requestAt{0};
        CMainWindow* window = dlg.get();
        const double t0 = WallMs();
        const auto deadline = std::chrono::steady_clock::now() +
                              std::chrono::microseconds(static_cast<long long>(atMs * 1000));
        // Another thread, so that the request is on time even while the UI thread is busy.
        std::thread requester([&, window] {
            std::this_thread::sleep_until(deadline);
            requestAt = WallMs();
            QMetaObject::invokeMethod(
                window,
                [&close, window] {
                    close.bRunningBefore = window->IsWorkerRunning();
                    close.nThreadsBefore = ThreadCount();
                    const double cpu0 = ThreadCpuMs();
                    close.handlerStart = WallMs();
                    window->close();
                    close.handlerEnd = WallMs();
                    close.handlerCpu = ThreadCpuMs() - cpu0;
                    close.bHidden = !window->isVisible();
                    close.bRunningAfter = window->IsWorkerRunning();
                    close.nThreadsAfter = ThreadCount();
                    close.bHandled = true;
                },
                Qt::QueuedConnection);
        });
        phase.start(*dlg);
        bool afterEnd = false;
        const bool handled = WaitUntil(
            [&] {
                // Whether the phase was over before the request came.
                if (requestAt.load() == 0 && phase.done(*dlg))
                    afterEnd = true;
                return close.bHandled;
            },
            kPhaseBoundMs, kWaitHeartbeatMs);
        requester.join();
        if (!handled)
            Fail("closing during " + phase.strName + " did not end");
        close.request = requestAt.load();

        // A worker is joined when its thread is gone as close() returns.
        const char* worker = "none";
        if (close.bRunningBefore)
            worker = close.nThreadsAfter < close.nThreadsBefore ? "joined" : "let-go";
        const double t1 = WallMs();
        dlg.reset();
        const double destroyMs = WallMs() - t1;
        std::printf("close %s round %d at-ms %.1f close-ms %.1f wait-ms %.1f handler-ms %.1f "
                    "handler-cpu-ms %.1f worker %s hidden %d running-after %d after-end %d "
                    "destroy-ms %.1f\n",
                    phase.strName.c_str(), round, close.request - t0,
                    close.handlerEnd - close.request, close.handlerStart - close.request,
                    close.handlerEnd - close.handlerStart, close.handlerCpu, worker,
                    close.bHidden ? 1 : 0, close.bRunningAfter ? 1 : 0, afterEnd ? 1 : 0,
                    destroyMs);
        std::fflush(stdout);
        // A worker that was let go finishes on its own; the next measurement waits for it.
        for (int i = 0; i < 1000 && ThreadCount() > baseline; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        QCoreApplication::processEvents();
    }

private:
    CPhase ScanPhase()
    {
        CPhase phase;
        phase.strName = "scan";
        phase.prepare = [](CMainWindow&) {
        };
        phase.start = [this](CMainWindow& dlg) {
            dlg.StartScan(m_options.strDrive);
        };
        // StartScan empties the tree at once; EndScan fills it, then says "Done.".
        phase.done = [](CMainWindow& dlg) {
            return StatusDone(dlg) && dlg.CatalogTree().model()->rowCount(TopIndex(dlg)) > 0;
        };
        phase.count = [this](CMainWindow& dlg) {
            const QAbstractItemModel& model = *dlg.CatalogTree().model();
            const QModelIndex top = TopIndex(dlg);
            long long apps = 0;
            for (int c = 0; c < model.rowCount(top); ++c)
                apps += model.rowCount(model.index(c, 0, top));
            if (m_options.nExpectApps >= 0 && apps != m_options.nExpectApps)
                Fail("the scan listed " + std::to_string(apps) + " applications, expected " +
                     std::to_string(m_options.nExpectApps));
            return apps;
        };
        return phase;
    }

    CPhase ListPhase()
    {
        CPhase phase;
        phase.strName = "list";
        phase.prepare = [](CMainWindow&) {
        };
        phase.start = [this](CMainWindow& dlg) {
            dlg.ApplicationView().SetVolume(
                CMountedVolume::Create(CommonFolder(m_drive.strAllFiles, m_options.strFlat)));
            dlg.ApplicationView().StartFileList(m_drive.strAllFiles, m_options.strFlat);
        };
        phase.done = [](CMainWindow& dlg) {
            return !dlg.ApplicationView().IsListing() && StatusDone(dlg);
        };
        phase.count = [this](CMainWindow& dlg) {
            const long long rows = dlg.ApplicationView().FileListModel().rowCount();
            if (m_options.nExpectRows >= 0 && rows != m_options.nExpectRows)
                Fail("listed " + std::to_string(rows) + " rows, expected " +
                     std::to_string(m_options.nExpectRows));
            return rows;
        };
        return phase;
    }

    CPhase DescriptionPhase()
    {
        CPhase phase;
        phase.strName = "description";
        // Onto the category first, as a user does, so that selecting the application is a
        // change; the pane's paints are watched from then on.
        phase.prepare = [this](CMainWindow& dlg) {
            QTreeView& tree = dlg.CatalogTree();
            const QModelIndex category = tree.model()->index(0, 0, TopIndex(dlg));
            tree.setCurrentIndex(category);
            if (!WaitUntil([&dlg] { return !dlg.ApplicationView().IsListing(); }, 20000,
                           kWaitHeartbeatMs))
                Fail("a listing did not end");
            m_appNode = tree.model()->index(0, 0, category);
            if (m_appNode.data().toString() != QLatin1String("Big"))
                Fail("the start-up scan did not find the application");
            QCoreApplication::processEvents();
            m_pWatch = std::make_unique<CPaintWatch>();
            dlg.DescriptionPane().viewport()->installEventFilter(m_pWatch.get());
        };
        phase.start = [this](CMainWindow& dlg) {
            m_pWatch->bPainted = false;
            dlg.CatalogTree().setCurrentIndex(m_appNode);
        };
        phase.done = [this](CMainWindow& dlg) {
            return m_pWatch->bPainted &&
                   dlg.DescriptionPane().document()->blockCount() > m_drive.nDescriptionLines;
        };
        phase.count = [this](CMainWindow& dlg) {
            const long long blocks = dlg.DescriptionPane().document()->blockCount();
            if (blocks <= m_drive.nDescriptionLines)
                Fail("the pane does not show the description file");
            return blocks;
        };
        return phase;
    }

    const COptions& m_options;
    CStartDrive& m_drive;
    QPersistentModelIndex m_appNode;
    std::unique_ptr<CPaintWatch> m_pWatch;
};

COptions ParseOptions(int argc, char** argv)
{
    COptions options;
    auto value = [&](int& i) -> std::string {
        if (i + 1 >= argc)
            Fail(std::string(argv[i]) + " needs a value");
        return argv[++i];
    };
    auto number = [&](int& i) -> double {
        const std::string text = value(i);
        char* end = nullptr;
        const double n = std::strtod(text.c_str(), &end);
        if (text.empty() || *end != '\0' || !(n >= 0))
            Fail("bad number: " + text);
        return n;
    };
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        if (option == "--drive") {
            options.strDrive = value(i);
        } else if (option == "--flat") {
            options.strFlat = value(i);
        } else if (option == "--phases") {
            options.astrPhases.clear();
            std::stringstream list(value(i));
            std::string item;
            while (std::getline(list, item, ','))
                options.astrPhases.push_back(item);
        } else if (option == "--rounds") {
            options.nRounds = std::max(1, static_cast<int>(number(i)));
        } else if (option == "--pattern") {
            options.strPattern = value(i);
        } else if (option == "--close-at-ms") {
            options.closeAtMs = number(i);
        } else if (option == "--no-close") {
            options.bClose = false;
        } else if (option == "--trace-ms") {
            options.traceMs = number(i);
        } else if (option == "--expect-apps") {
            options.nExpectApps = static_cast<long long>(number(i));
        } else if (option == "--expect-rows") {
            options.nExpectRows = static_cast<long long>(number(i));
        } else {
            Fail("usage: gui_responsiveness --drive DIR --flat DIR "
                 "[--phases scan,list,description] [--rounds N] [--pattern '*'] "
                 "[--close-at-ms MS] [--no-close] [--trace-ms MS] [--expect-apps N] "
                 "[--expect-rows N]");
        }
    }
    for (const std::string& phase : options.astrPhases) {
        if ((phase == "scan" && options.strDrive.empty()) ||
            (phase == "list" && options.strFlat.empty()))
            Fail("phase " + phase + " needs " + (phase == "scan" ? "--drive" : "--flat"));
    }
    return options;
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    CTracingApplication application(argc, argv);
    const COptions options = ParseOptions(argc, argv);
    application.traceMs = options.traceMs;
    CStartDrive drive(options);
    CBench bench(options, drive);

    for (const std::string& name : options.astrPhases) {
        const CPhase phase = bench.Phase(name);
        std::vector<double> durations;
        for (int round = 1; round <= options.nRounds; ++round)
            durations.push_back(bench.RunTicks(phase, round));
        if (!options.bClose)
            continue;
        const double atMs =
            options.closeAtMs >= 0 ? options.closeAtMs : Summarise(durations).median / 2;
        for (int round = 1; round <= options.nRounds; ++round)
            bench.RunClose(phase, round, atMs);
    }
    return 0;
}
