// SPDX-License-Identifier: GPL-3.0-or-later
#include "catalogue/Path.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

using namespace std::string_literals;

namespace {

std::optional<std::string> Resolve(std::string_view folder, std::string_view relative)
{
    return ResolveBelowRoot("/media/cd", folder, relative);
}

TEST(RelativePath, DotDotGoesUpByName)
{
    EXPECT_EQ(Resolve("/media/cd/apps/tool", "..\\common\\about.txt"),
              "/media/cd/apps/common/about.txt");
    EXPECT_EQ(Resolve("/media/cd/apps/tool", "docs\\..\\readme.txt"),
              "/media/cd/apps/tool/readme.txt");
    EXPECT_EQ(Resolve("/media/cd/apps/tool", "a/b\\../c"), "/media/cd/apps/tool/a/c");
    EXPECT_EQ(Resolve("/media/cd/apps/tool", "..\\.."), "/media/cd");
    // Empty and "." components mean nothing; names keep their bytes and case.
    EXPECT_EQ(Resolve("/media/cd/x", "\\\\.\\Docs//./Read Me.TXT\\"),
              "/media/cd/x/Docs/Read Me.TXT");
    EXPECT_EQ(Resolve("/media/cd/x", "...\\\xE9t\xE9"), "/media/cd/x/.../\xE9t\xE9");
    EXPECT_EQ(Resolve("/media/cd/x", ""), "/media/cd/x");
}

TEST(RelativePath, NeverClimbsAboveTheRoot)
{
    EXPECT_EQ(Resolve("/media/cd/apps", "..\\..\\..\\etc\\passwd"), "/media/cd/etc/passwd");
    EXPECT_EQ(Resolve("/media/cd", ".."), "/media/cd");
    EXPECT_EQ(Resolve("/media/cd/", "../a"), "/media/cd/a");
    EXPECT_EQ(ResolveBelowRoot("/media/cd/", "/media/cd//apps//x", "..\\..\\..\\y"), "/media/cd/y");
    EXPECT_EQ(ResolveBelowRoot("/", "/home/me", "../../../etc"), "/etc");
    EXPECT_EQ(ResolveBelowRoot("/", "/", ".."), "/");
}

TEST(RelativePath, RefusesNulAndFoldersOutsideTheRoot)
{
    EXPECT_EQ(Resolve("/media/cd/x", "a\0b"s), std::nullopt);
    EXPECT_EQ(Resolve("/media/cdrom", "a"), std::nullopt);
    EXPECT_EQ(Resolve("/media", "a"), std::nullopt);
    EXPECT_EQ(ResolveBelowRoot("", "/media", "a"), std::nullopt);
}

TEST(RelativePath, ParsedOnceForEveryFolder)
{
    // A pattern's folder part, applied below each folder a walk visits.
    const std::optional<CRelativePath> path = CRelativePath::Parse("x\\..\\..\\..\\lib\\.\\bin");
    ASSERT_TRUE(path);
    EXPECT_EQ(path->Ups(), 2u);
    EXPECT_EQ(path->Names(), (std::vector<std::string>{"lib", "bin"}));
    EXPECT_EQ(path->ClimbFrom("/media/cd", "/media/cd/a/b/c"), "/media/cd/a");
    EXPECT_EQ(path->ClimbFrom("/media/cd", "/media/cd/a"), "/media/cd");
    EXPECT_EQ(path->ResolveFrom("/media/cd", "/media/cd/a"), "/media/cd/lib/bin");
    EXPECT_EQ(CRelativePath::Parse("bin\\..")->Names().size(), 0u);
}

} // namespace
