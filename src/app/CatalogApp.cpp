// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/CatalogApp.h"

#include "app/CatalogDlg.h"
#include "platform/ExtractCache.h"
#include "desktop/DescriptorType.h"
#include "dialogs/LibraryDlg.h"
#include "library/LibraryCommand.h"
#include "library/LibraryStore.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QEventLoop>
#include <QPointer>

#include <cstdio>
#include <string_view>
#include <utility>
#include <vector>

namespace {

void Print(std::FILE* stream, const QString& text)
{
    std::fputs(text.toLocal8Bit().constData(), stream);
}

constexpr std::string_view kLibraryOptions[] = {"--add", "--volumes", "--search", "--forget"};

// The raw bytes of the arguments that are not options: paths and words need not be UTF-8.
std::vector<std::string> Operands(int argc, char** argv)
{
    std::vector<std::string> operands;
    bool bOptionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument(argv[i]);
        if (!bOptionsEnded && argument == "--")
            bOptionsEnded = true;
        else if (bOptionsEnded || !argument.starts_with('-'))
            operands.emplace_back(argument);
    }
    return operands;
}

bool NamesLibraryOption(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument(argv[i]);
        if (argument == "--")
            return false;
        for (const std::string_view option : kLibraryOptions)
            if (argument == option || argument == option.substr(1))
                return true;
    }
    return false;
}

} // namespace

std::optional<int> CCatalogApp::ParseCommandLine(bool bFinal, int argc, char** argv)
{
    QCommandLineParser parser;
    // "-style" is one unknown option, as Qt reads its own, not five letters.
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.setApplicationDescription(
        QStringLiteral("Browse the applications stored on a disc or drive."));
    // Not addHelpOption(): its --help-all lists Qt's GUI options, unknown to the first reading.
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Displays this help."));
    parser.addOption(help);
    const QCommandLineOption version = parser.addVersionOption();
    const QCommandLineOption add(
        QStringLiteral("add"),
        QStringLiteral("Catalogue into the library the disc images and drive folders at each "
                       "PATH (a folder is searched for them), then end."));
    const QCommandLineOption volumes(QStringLiteral("volumes"),
                                     QStringLiteral("List the library's volumes, then end."));
    const QCommandLineOption search(
        QStringLiteral("search"),
        QStringLiteral("List the library's applications and files that hold every one of the "
                       "WORDS given, then end."));
    const QCommandLineOption forget(QStringLiteral("forget"),
                                    QStringLiteral("Remove the volume at PATH from the library, "
                                                   "then end."));
    const QCommandLineOption library(
        QStringLiteral("library"),
        QStringLiteral("Open the library window, to search the catalogued discs and images."));
    parser.addOptions({add, volumes, search, forget, library});
    parser.addPositionalArgument(
        QStringLiteral("PATH"),
        QStringLiteral("A folder to scan as a drive, or a disc image to open (ISO 9660, UDF, "
                       "BIN/CUE, NRG). Without it, Quarrow scans the current folder when it "
                       "holds an autorun.inf, and otherwise asks for a drive."),
        QStringLiteral("[PATH]"));

    const bool bParsed = parser.parse(QCoreApplication::arguments());
    if (bParsed && parser.isSet(help)) {
        Print(stdout, parser.helpText());
        return 0;
    }
    if (bParsed && parser.isSet(version)) {
        Print(stdout, QStringLiteral("quarrow " QUARROW_VERSION "\n"));
        return 0;
    }
    // The library's commands need no window, display or not: this reading is the last.
    if (argv && NamesLibraryOption(argc, argv))
        return RunLibraryCommand(parser, bParsed, Operands(argc, argv));
    if (!bFinal)
        return std::nullopt;
    QString strError;
    if (!bParsed)
        strError = parser.errorText();
    else if (parser.positionalArguments().size() > 1)
        strError =
            QStringLiteral("Unexpected argument '%1'.").arg(parser.positionalArguments().at(1));
    if (strError.isEmpty())
        return std::nullopt;
    Print(stderr, strError + QLatin1String("\n\n") + parser.helpText());
    return 2;
}

int CCatalogApp::RunLibraryCommand(const QCommandLineParser& parser, bool bParsed,
                                   const std::vector<std::string>& operands)
{
    const QString add = QStringLiteral("add"), volumes = QStringLiteral("volumes"),
                  search = QStringLiteral("search"), forget = QStringLiteral("forget");
    int nCommands = 0;
    for (const QString& name : {add, volumes, search, forget})
        nCommands += parser.isSet(name) ? 1 : 0;
    QString strError;
    if (!bParsed)
        strError = parser.errorText();
    else if (nCommands > 1)
        strError = QStringLiteral("Give only one of --add, --volumes, --search and --forget.");
    else if (parser.isSet(volumes) && !operands.empty())
        strError = QStringLiteral("--volumes takes no arguments.");
    else if (operands.empty() && !parser.isSet(volumes))
        strError = parser.isSet(search) ? QStringLiteral("--search needs at least one word.")
                                        : QStringLiteral("--add and --forget need a PATH.");
    if (!strError.isEmpty()) {
        Print(stderr, strError + QLatin1String("\n\n") + parser.helpText());
        return 2;
    }
    if (parser.isSet(add))
        return LibraryCommand::Add(operands, stdout, stderr);
    if (parser.isSet(search))
        return LibraryCommand::Search(operands, stdout, stderr);
    if (parser.isSet(forget))
        return LibraryCommand::Forget(operands, stdout, stderr);
    return LibraryCommand::ListVolumes(stdout, stderr);
}

std::string CCatalogApp::StartPath(int argc, char** argv)
{
    // The raw bytes, not the parser's text: a file name need not be valid UTF-8.
    std::vector<std::string> operands = Operands(argc, argv);
    return operands.empty() ? std::string() : std::move(operands.front());
}

bool CCatalogApp::InitInstance(std::string startPath, bool bLibrary)
{
    RegisterDescriptorType();
    CExtractCache::RemoveStale();
    if (bLibrary)
        return RunLibrary();
    CCatalogDlg dlg;
    dlg.SetStartPath(std::move(startPath));
    dlg.exec();
    return false;
}

bool CCatalogApp::RunLibrary()
{
    CLibraryDlg library(CLibraryStore::DefaultPath());
    QPointer<CCatalogDlg> window;
    library.SetOpener([&window](const CLibraryDlg::OpenRequest& request) {
        const CCatalogDlg::Selection selection{request.strApplication, request.strFolder,
                                               request.strFile};
        if (window) {
            window->OpenAndSelect(request.strVolume, selection);
        } else {
            window = new CCatalogDlg;
            window->setAttribute(Qt::WA_DeleteOnClose);
            window->SetStartPath(request.strVolume);
            window->SetStartSelection(selection);
            window->show();
        }
        window->raise();
        window->activateWindow();
    });
    library.exec();
    // A window opened from the library stays until it is closed too.
    if (window) {
        QEventLoop loop;
        QObject::connect(window, &QObject::destroyed, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return false;
}

bool CCatalogApp::WantsLibrary(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument(argv[i]);
        if (argument == "--")
            break;
        if (argument == "--library" || argument == "-library")
            return true;
    }
    return false;
}

void CCatalogApp::RegisterDescriptorType()
{
    // A failure leaves the type unknown to the desktop; the program runs on.
    DescriptorType::Register();
}
