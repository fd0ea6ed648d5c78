// SPDX-License-Identifier: GPL-3.0-or-later
#include "desktop/DescriptorType.h"

#include <QDir>
#include <QMimeDatabase>
#include <QProcess>
#include <QSaveFile>
#include <QStandardPaths>
#include <QString>
#include <QStringList>

namespace DescriptorType {
namespace {

// update-mime-database finishes in well under a second on a user folder; the bound only
// guards the start-up against a tool that hangs.
constexpr int kToolTimeoutMs = 10000;

bool IsBrwTypeKnown()
{
    return !QMimeDatabase()
                .mimeTypeForFile(QStringLiteral("x.brw"), QMimeDatabase::MatchExtension)
                .isDefault();
}

void UpdateMimeDatabase(const QString& mimeFolder)
{
    QProcess process;
    // Nothing reaches the terminal in normal use, not even the tool's warnings.
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    process.start(QStringLiteral("update-mime-database"), QStringList{mimeFolder});
    if (!process.waitForStarted(kToolTimeoutMs))
        return; // not installed: Qt programs read the bare package all the same
    if (!process.waitForFinished(kToolTimeoutMs)) {
        process.kill();
        process.waitForFinished(kToolTimeoutMs);
    }
}

} // namespace

QByteArray PackageXml()
{
    return QByteArrayLiteral(
               "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
               "<mime-info xmlns=\"http://www.freedesktop.org/standards/shared-mime-info\">\n"
               "  <mime-type type=\"") +
           kMimeTypeName +
           QByteArrayLiteral("\">\n"
                             "    <comment>Application descriptor</comment>\n"
                             "    <sub-class-of type=\"text/plain\"/>\n"
                             "    <generic-icon name=\"text-x-generic\"/>\n"
                             "    <glob pattern=\"*.brw\"/>\n"
                             "  </mime-type>\n"
                             "</mime-info>\n");
}

bool Register()
{
    if (IsBrwTypeKnown())
        return false;

    // The writable location is always the user's own folder ($XDG_DATA_HOME or
    // ~/.local/share), never one of $XDG_DATA_DIRS.
    const QString dataHome = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (dataHome.isEmpty() || QDir::isRelativePath(dataHome))
        return false;

    const QString mimeFolder = dataHome + QStringLiteral("/mime");
    const QString packagesFolder = mimeFolder + QStringLiteral("/packages");
    if (!QDir().mkpath(packagesFolder))
        return false;

    QSaveFile file(packagesFolder + QLatin1Char('/') + QLatin1String(kPackageFileName));
    if (!file.open(QIODevice::WriteOnly))
        return false;
    const QByteArray xml = PackageXml();
    if (file.write(xml) != xml.size() || !file.commit())
        return false;

    UpdateMimeDatabase(mimeFolder);
    return true;
}

} // namespace DescriptorType
