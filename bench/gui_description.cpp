// SPDX-License-Identifier: GPL-3.0-or-later
// Times how long the UI thread stalls to read a description file and show it in the real
// description pane (offscreen), up to the pane being laid out and painted.
//
//   gui_description [--sizes 0.5,1,2,4,8] [--rounds N] [--encoding utf8|cp1252]
//                   [--line-chars N] [--no-select]
//
// For each size (MiB) it writes a description file of text lines of about 80 characters, some
// of them non-ASCII (or of exactly --line-chars ASCII characters), with CR LF line ends, and
// times two paths, each round on its own:
//   direct  Description::Build (with a cap above the size), ForDisplay and setPlainText, as
//           the selection handler does them, then layout and painting;
//   select  selecting the application's node in the tree: the real OnSelChangedTree (which
//           also starts the file listing), then layout and painting. Only for sizes within
//           the program's cap, Description::kMaxDescriptionBytes.
// One line per size and path, which the script reads:
//   gui_description: mib 1 bytes 1048576 encoding utf8 line-chars 0 path direct rounds 7
//     median-ms 61.0 min-ms 58.2 max-ms 70.3 cpu-median-ms ... read-ms ... set-ms ... paint-ms ...
// The stage figures are medians: read = Build, convert = the QString and ForDisplay round trip,
// set = setPlainText, paint = the events that follow and a grab of the pane.

#include "app/CatalogApp.h"
#include "MainWindow.h"
#include "BenchSupport.h"
#include "DescriptionText.h"
#include "catalogue/Description.h"
#include "catalogue/Descriptor.h"
#include "catalogue/ProfileReader.h"
#include "platform/MountedVolume.h"

#include <QAbstractTextDocumentLayout>
#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QPixmap>
#include <QTemporaryDir>
#include <QTextDocument>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

namespace {

using namespace Bench;

struct COptions {
    std::vector<double> arrSizesMiB{0.5, 1, 2, 4, 8};
    int nRounds = 7;
    bool bCp1252 = false;
    bool bSelect = true;
    int nLineChars = 0; // 0: the mixed lines of about 80 characters
};

[[noreturn]] void Fail(const std::string& what)
{
    std::fprintf(stderr, "gui_description: %s\n", what.c_str());
    std::exit(1);
}

void WriteFile(const std::filesystem::path& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out)
        Fail("cannot write " + path.string());
}

COptions ParseOptions(int argc, char** argv)
{
    COptions options;
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        const bool hasValue = i + 1 < argc;
        if (option == "--sizes" && hasValue) {
            options.arrSizesMiB.clear();
            std::stringstream list(argv[++i]);
            std::string item;
            while (std::getline(list, item, ',')) {
                char* end = nullptr;
                const double size = std::strtod(item.c_str(), &end);
                if (item.empty() || *end != '\0' || !(size > 0) || size > 1024)
                    Fail("bad size: " + item);
                options.arrSizesMiB.push_back(size);
            }
        } else if (option == "--rounds" && hasValue) {
            options.nRounds = std::max(1, std::atoi(argv[++i]));
        } else if (option == "--encoding" && hasValue) {
            const std::string encoding = argv[++i];
            if (encoding != "utf8" && encoding != "cp1252")
                Fail("bad encoding: " + encoding);
            options.bCp1252 = encoding == "cp1252";
        } else if (option == "--line-chars" && hasValue) {
            options.nLineChars = std::max(0, std::atoi(argv[++i]));
        } else if (option == "--no-select") {
            options.bSelect = false;
        } else {
            Fail("usage: gui_description [--sizes 0.5,1,2,4,8] [--rounds N] "
                 "[--encoding utf8|cp1252] [--line-chars N] [--no-select]");
        }
    }
    return options;
}

// Lets the pane handle what setPlainText posted, lays it out, and paints it.
void LayOutAndPaint(QPlainTextEdit& pane)
{
    QCoreApplication::processEvents();
    (void)pane.document()->documentLayout()->documentSize();
    const QPixmap shot = pane.grab();
    if (shot.isNull())
        Fail("the pane did not paint");
    QCoreApplication::processEvents();
}

struct CRound {
    double wall = 0;
    double cpu = 0;
    double read = 0;
    double convert = 0;
    double set = 0;
    double paint = 0;
};

void Print(double mib, std::size_t bytes, const COptions& options, const char* path,
           const std::vector<CRound>& rounds)
{
    auto column = [&rounds](double CRound::*member) {
        std::vector<double> values;
        for (const CRound& round : rounds)
            values.push_back(round.*member);
        return Summarise(values);
    };
    const CStats wall = column(&CRound::wall);
    const CStats cpu = column(&CRound::cpu);
    std::printf("gui_description: mib %g bytes %zu encoding %s line-chars %d path %s rounds %zu "
                "median-ms %.1f min-ms %.1f max-ms %.1f cpu-median-ms %.1f cpu-min-ms %.1f "
                "cpu-max-ms %.1f",
                mib, bytes, options.bCp1252 ? "cp1252" : "utf8", options.nLineChars, path,
                rounds.size(), wall.median, wall.min, wall.max, cpu.median, cpu.min, cpu.max);
    if (std::string_view(path) == "direct")
        std::printf(" read-ms %.1f convert-ms %.1f set-ms %.1f paint-ms %.1f",
                    column(&CRound::read).median, column(&CRound::convert).median,
                    column(&CRound::set).median, column(&CRound::paint).median);
    std::printf("\n");
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    const COptions options = ParseOptions(argc, argv);

    QTemporaryDir drive(QDir::tempPath() + QStringLiteral("/quarrow-gui_description-XXXXXX"));
    if (!drive.isValid())
        Fail("cannot make a temporary folder");
    const std::filesystem::path root = drive.path().toStdString();
    const std::filesystem::path app = root / "app";
    std::filesystem::create_directories(app);
    WriteFile(root / "autorun.inf", "[autorun]\r\nlabel=Description bench\r\n");
    WriteFile(app / "app.brw", "[info]\r\ncategory=Bench\r\nname=Big\r\n"
                               "[description]\r\nfile=big.txt\r\n");
    WriteFile(app / "big.txt", "x");

    const std::filesystem::path previous = std::filesystem::current_path();
    std::filesystem::current_path(root);
    CMainWindow dlg;
    dlg.show();
    const auto done = [&dlg] {
        return dlg.StatusBar().GetText(0) == QLatin1String("Done.");
    };
    if (!WaitUntil(done, kWaitBoundMs, kWaitHeartbeatMs))
        Fail("the start-up scan did not end");
    std::filesystem::current_path(previous);

    QTreeView& tree = dlg.CatalogTree();
    const QAbstractItemModel& model = *tree.model();
    const QModelIndex category = model.index(0, 0, model.index(0, 0));
    const QModelIndex appNode = model.index(0, 0, category);
    if (appNode.data().toString() != QLatin1String("Big"))
        Fail("the scan did not find the application");
    QPlainTextEdit& pane = dlg.DescriptionPane();
    const std::string folder = app.string();
    const std::string descriptor = (app / "app.brw").string();
    const CMountedVolume volume(folder);
    CProfileReader reader;
    const Descriptor::ReadKey read = Descriptor::ReaderFor(reader, volume, descriptor);

    for (const double mib : options.arrSizesMiB) {
        const auto bytes = static_cast<std::size_t>(mib * 1024 * 1024);
        WriteFile(app / "big.txt", DescriptionText(bytes, options.bCp1252, options.nLineChars));
        const std::size_t cap = std::max(bytes, Description::kMaxDescriptionBytes);

        std::vector<CRound> direct;
        for (int round = 0; round < options.nRounds; ++round) {
            pane.setPlainText(QString());
            LayOutAndPaint(pane);

            CRound r;
            const double wall0 = WallMs();
            const double cpu0 = ThreadCpuMs();
            const Description::Result result = Description::Build(read, volume, folder, cap);
            const double t1 = WallMs();
            // The same round trip as the selection handler, which keeps the CR CR LF ends.
            const QString kept = QString::fromStdString(result.strText);
            const QString shown =
                QString::fromStdString(Description::ForDisplay(kept.toStdString()));
            const double t2 = WallMs();
            pane.setPlainText(shown);
            const double t3 = WallMs();
            LayOutAndPaint(pane);
            r.wall = WallMs() - wall0;
            r.cpu = ThreadCpuMs() - cpu0;
            r.read = t1 - wall0;
            r.convert = t2 - t1;
            r.set = t3 - t2;
            r.paint = wall0 + r.wall - t3;
            if (result.source != Description::Source::File)
                Fail("the description file was not read");
            direct.push_back(r);
        }
        Print(mib, bytes, options, "direct", direct);
        const int blocks = pane.document()->blockCount();

        if (!options.bSelect || bytes > Description::kMaxDescriptionBytes)
            continue;
        std::vector<CRound> select;
        for (int round = 0; round < options.nRounds; ++round) {
            // Off the application first, so that selecting it is a change.
            tree.setCurrentIndex(category);
            LayOutAndPaint(pane);
            if (!WaitUntil([&dlg] { return !dlg.ApplicationView().IsListing(); }, kWaitBoundMs,
                           kWaitHeartbeatMs))
                Fail("a listing did not end");

            CRound r;
            const double wall0 = WallMs();
            const double cpu0 = ThreadCpuMs();
            tree.setCurrentIndex(appNode);
            LayOutAndPaint(pane);
            r.wall = WallMs() - wall0;
            r.cpu = ThreadCpuMs() - cpu0;
            if (pane.document()->blockCount() != blocks)
                Fail("the pane does not show the description file");
            select.push_back(r);
            if (!WaitUntil([&dlg] { return !dlg.ApplicationView().IsListing(); }, kWaitBoundMs,
                           kWaitHeartbeatMs))
                Fail("a listing did not end");
        }
        Print(mib, bytes, options, "select", select);
    }
    return 0;
}
