#include "app/CatalogApp.h"

#include "app/CatalogDlg.h"
#include "platform/desktop/DescriptorType.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <cstdio>

CCatalogApp theApp;

namespace {

void Print(std::FILE* stream, const QString& text)
{
    std::fputs(text.toLocal8Bit().constData(), stream);
}

} // namespace

std::optional<int> CCatalogApp::ParseCommandLine(bool bFinal)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Browse the applications stored on a disc or drive."));
    // Not addHelpOption(): its --help-all lists Qt's GUI options, unknown to the first reading.
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Displays this help."));
    parser.addOption(help);
    const QCommandLineOption version = parser.addVersionOption();

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
    else if (!parser.positionalArguments().isEmpty())
        strError = QStringLiteral("Unexpected argument '%1'.")
                       .arg(parser.positionalArguments().constFirst());
    if (strError.isEmpty())
        return std::nullopt;
    Print(stderr, strError + QLatin1String("\n\n") + parser.helpText());
    return 2;
}

bool CCatalogApp::InitInstance()
{
    RegisterDescriptorType();
    CCatalogDlg dlg;
    dlg.exec();
    return false;
}

void CCatalogApp::RegisterDescriptorType()
{
    // A failure leaves the type unknown to the desktop; the program runs on.
    DescriptorType::Register();
}
