// SPDX-License-Identifier: GPL-3.0-or-later
#include "desktop/DescriptorType.h"
#include "support/EnvOverride.h"
#include "support/TempTree.h"

#include <QByteArray>
#include <QDateTime>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMimeDatabase>
#include <QMimeType>
#include <QProcess>
#include <QStandardPaths>
#include <QString>
#include <QStringList>
#include <QThread>

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <optional>
#include <string>

namespace {

// QMimeDatabase looks at its folders again only every few seconds (five in Qt 6), so a
// change made by a test shows up only after a bounded poll.
constexpr int kMimeReloadBoundMs = 15000;

QMimeType BrwType()
{
    return QMimeDatabase().mimeTypeForFile(QStringLiteral("x.brw"), QMimeDatabase::MatchExtension);
}

bool WaitFor(const std::function<bool()>& condition)
{
    QDeadlineTimer deadline(kMimeReloadBoundMs);
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        QThread::msleep(50);
    }
    return true;
}

QByteArray ReadAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool HasUpdateTool()
{
    return !QStandardPaths::findExecutable(QStringLiteral("update-mime-database")).isEmpty();
}

// Every file below a folder with its size and modification time, to prove nothing moved.
std::map<QString, std::pair<qint64, QDateTime>> Snapshot(const QString& folder)
{
    std::map<QString, std::pair<qint64, QDateTime>> result;
    QDir dir(folder);
    for (const QFileInfo& info : dir.entryInfoList(QDir::AllEntries | QDir::NoDotAndDotDot)) {
        result[info.absoluteFilePath()] = {info.size(), info.lastModified()};
        if (info.isDir() && !info.isSymLink())
            result.merge(Snapshot(info.absoluteFilePath()));
    }
    return result;
}

class DescriptorTypeTest : public testing::Test {
protected:
    // The data folder does not exist yet: registering has to create it.
    void PointDataHomeAt(const std::string& path)
    {
        m_strDataHome = QString::fromStdString(path);
        m_env.reset();
        m_env.emplace("XDG_DATA_HOME", path);
    }
    void SetUp() override { PointDataHomeAt(m_tree.Path("data")); }
    void TearDown() override { m_env.reset(); }

    QString PackagePath() const
    {
        return m_strDataHome + QStringLiteral("/mime/packages/") +
               QLatin1String(DescriptorType::kPackageFileName);
    }

    // False when something outside this test's data folder already types *.brw. Waits
    // out types cached from a data folder that an earlier test pointed at.
    static bool TypeIsUnknownOutsideTest()
    {
        return WaitFor([] { return BrwType().isDefault(); });
    }

    CTempTree m_tree;
    QString m_strDataHome;
    std::optional<CEnvOverride> m_env;
};

TEST_F(DescriptorTypeTest, AbsentTypeIsWrittenThenKnownAndLeftAlone)
{
    if (!TypeIsUnknownOutsideTest())
        GTEST_SKIP() << "the system MIME database already types *.brw";

    ASSERT_TRUE(DescriptorType::Register());
    const QByteArray package = ReadAll(PackagePath());
    EXPECT_EQ(package, DescriptorType::PackageXml());
    EXPECT_TRUE(package.contains("<glob pattern=\"*.brw\"/>"));
    EXPECT_TRUE(package.contains("<sub-class-of type=\"text/plain\"/>"));
    // QSaveFile leaves no temporary file beside the package.
    EXPECT_EQ(QDir(m_strDataHome + QStringLiteral("/mime/packages")).entryList(QDir::Files),
              QStringList{QLatin1String(DescriptorType::kPackageFileName)});

    if (!HasUpdateTool())
        GTEST_SKIP() << "update-mime-database is not installed";
    // Qt would read the bare package too, but other desktop programs need the rebuilt cache.
    EXPECT_TRUE(QFileInfo::exists(m_strDataHome + QStringLiteral("/mime/mime.cache")));
    ASSERT_TRUE(WaitFor([] { return BrwType().name() == DescriptorType::kMimeTypeName; }))
        << "x.brw is typed " << BrwType().name().toStdString();
    const QMimeType type = BrwType();
    EXPECT_TRUE(type.inherits(QStringLiteral("text/plain")));
    EXPECT_EQ(type.comment(), QStringLiteral("Application descriptor"));

    // Backdate the package, so that a rewrite would show even on coarse timestamps.
    const QDateTime past = QDateTime::currentDateTime().addDays(-2);
    {
        QFile file(PackagePath());
        ASSERT_TRUE(file.open(QIODevice::ReadWrite));
        ASSERT_TRUE(file.setFileTime(past, QFileDevice::FileModificationTime));
    }
    const auto before = Snapshot(m_strDataHome);

    EXPECT_FALSE(DescriptorType::Register());
    EXPECT_EQ(ReadAll(PackagePath()), package);
    EXPECT_EQ(QFileInfo(PackagePath()).lastModified(), past);
    EXPECT_EQ(Snapshot(m_strDataHome), before);
}

TEST_F(DescriptorTypeTest, TypeKnownFromElsewhereLeavesEverythingUntouched)
{
    if (!HasUpdateTool())
        GTEST_SKIP() << "update-mime-database is not installed";

    // Another program's package that claims *.brw first.
    const QByteArray foreign =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<mime-info xmlns=\"http://www.freedesktop.org/standards/shared-mime-info\">\n"
        "  <mime-type type=\"text/x-someone-else\">\n"
        "    <glob pattern=\"*.brw\"/>\n"
        "  </mime-type>\n"
        "</mime-info>\n";
    const QString foreignPath = QString::fromStdString(
        m_tree.WriteFile("data/mime/packages/someone-else.xml", foreign.toStdString()));
    ASSERT_EQ(QProcess::execute(QStringLiteral("update-mime-database"),
                                {m_strDataHome + QStringLiteral("/mime")}),
              0);
    // Our own type could still be cached from an earlier test's folder.
    ASSERT_TRUE(WaitFor([] {
        const QMimeType type = BrwType();
        return !type.isDefault() && type.name() != DescriptorType::kMimeTypeName;
    }));
    const auto before = Snapshot(m_strDataHome);

    EXPECT_FALSE(DescriptorType::Register());
    EXPECT_FALSE(QFileInfo::exists(PackagePath()));
    EXPECT_EQ(ReadAll(foreignPath), foreign);
    // The database was not rebuilt either.
    EXPECT_EQ(Snapshot(m_strDataHome), before);
}

TEST_F(DescriptorTypeTest, UnwritableDataFolderWritesNothing)
{
    if (!TypeIsUnknownOutsideTest())
        GTEST_SKIP() << "the system MIME database already types *.brw";

    // Root ignores permission bits, so make the folders impossible rather than read-only.
    const std::string blocker = m_tree.WriteFile("blocker", "not a folder");
    {
        SCOPED_TRACE("data folder below a regular file");
        PointDataHomeAt(blocker + "/data");
        EXPECT_FALSE(DescriptorType::Register());
        EXPECT_FALSE(QFileInfo::exists(m_strDataHome));
        EXPECT_EQ(ReadAll(QString::fromStdString(blocker)), QByteArray("not a folder"));
    }
    {
        SCOPED_TRACE("packages folder is a regular file");
        PointDataHomeAt(m_tree.Path("data2"));
        m_tree.WriteFile("data2/mime/packages", "not a folder");
        EXPECT_FALSE(DescriptorType::Register());
        EXPECT_EQ(ReadAll(m_strDataHome + QStringLiteral("/mime/packages")),
                  QByteArray("not a folder"));
    }
    {
        SCOPED_TRACE("package name taken by a folder");
        PointDataHomeAt(m_tree.Path("data3"));
        m_tree.MakeFolder(std::string("data3/mime/packages/") + DescriptorType::kPackageFileName);
        const auto before = Snapshot(m_strDataHome);
        EXPECT_FALSE(DescriptorType::Register());
        EXPECT_EQ(Snapshot(m_strDataHome), before);
    }
}

TEST_F(DescriptorTypeTest, MissingUpdateToolStillWritesThePackage)
{
    if (!TypeIsUnknownOutsideTest())
        GTEST_SKIP() << "the system MIME database already types *.brw";

    const CEnvOverride path("PATH", m_tree.MakeFolder("bin"));
    EXPECT_TRUE(DescriptorType::Register());
    EXPECT_EQ(ReadAll(PackagePath()), DescriptorType::PackageXml());
    EXPECT_FALSE(QFileInfo::exists(m_strDataHome + QStringLiteral("/mime/mime.cache")));
}

} // namespace
