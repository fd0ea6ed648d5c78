// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/CatalogApp.h"

#include "app/CatalogDlg.h"
#include "platform/ExtractCache.h"
#include "desktop/DescriptorType.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <cstdio>
#include <string_view>
#include <utility>

namespace {

void Print(std::FILE* stream, const QString& text)
{
    std::fputs(text.toLocal8Bit().constData(), stream);
}

} // namespace

std::optional<int> CCatalogApp::ParseCommandLine(bool bFinal)
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

std::string CCatalogApp::StartPath(int argc, char** argv)
{
    // The raw bytes, not the parser's text: a file name need not be valid UTF-8.
    bool bOptionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument(argv[i]);
        if (!bOptionsEnded && argument == "--")
            bOptionsEnded = true;
        else if (bOptionsEnded || !argument.starts_with('-'))
            return std::string(argument);
    }
    return {};
}

bool CCatalogApp::InitInstance(std::string startPath)
{
    RegisterDescriptorType();
    CExtractCache::RemoveStale();
    CCatalogDlg dlg;
    dlg.SetStartPath(std::move(startPath));
    dlg.exec();
    return false;
}

void CCatalogApp::RegisterDescriptorType()
{
    // A failure leaves the type unknown to the desktop; the program runs on.
    DescriptorType::Register();
}
