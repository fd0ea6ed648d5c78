// SPDX-License-Identifier: GPL-3.0-or-later
// What every volume promises (catalogue/Volume.h), checked on a mounted folder, on a disc
// image of the same tree, and on what the library recorded of it, alike.
#include "support/ImageTools.h"
#include "support/TempTree.h"

#include "library/LibraryCatalogue.h"
#include "library/StoredVolume.h"
#include "platform/DiscImage.h"
#include "platform/MountedVolume.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

namespace {

using Type = CVolume::EntryType;
using Kind = CVolume::PathKind;

// The tree both kinds hold.
void WriteTree(CTempTree& tree)
{
    tree.WriteFile("Docs/Read Me.TXT", "0123456789");
    tree.WriteFile("Docs/deep/more.txt", "m");
    tree.MakeFolder("Empty");
    tree.MakeLink("to-docs", "Docs");
    for (int i = 0; i < 8; ++i)
        tree.WriteFile("d" + std::to_string(i) + "/f.txt", std::to_string(i));
}

struct CMounted {
    static constexpr bool kHoldsFilesAndLinks = true;
    static std::shared_ptr<const CVolume> Make(CTempTree& tree, CTempTree&)
    {
        return CMountedVolume::Create(tree.Root());
    }
};

struct CImage {
    static constexpr bool kHoldsFilesAndLinks = true;
    static std::shared_ptr<const CVolume> Make(CTempTree& tree, CTempTree& out)
    {
        const std::string image = out.Path("tree.iso");
        if (!ImageTools::HaveTool("xorriso") ||
            !ImageTools::RunQuietly("xorriso -as mkisofs -J -R -o " + ImageTools::Quote(image) +
                                    " " + ImageTools::Quote(tree.Root())))
            return nullptr;
        return DiscImage::Open(image);
    }
};

// Names, sizes and the folders that hold files: no contents, no links, no empty folders.
struct CStored {
    static constexpr bool kHoldsFilesAndLinks = false;
    static std::shared_ptr<const CVolume> Make(CTempTree& tree, CTempTree&)
    {
        CLibraryVolume volume;
        volume.strPath = tree.Root();
        return std::make_shared<const CStoredVolume>(
            volume, LibraryCatalogue::Read(*CMountedVolume::Create(tree.Root())));
    }
};

template <class Maker>
class VolumeContract : public testing::Test {
protected:
    void SetUp() override
    {
        WriteTree(m_tree);
        m_pVolume = Maker::Make(m_tree, m_out);
        if (!m_pVolume)
            GTEST_SKIP() << "no image tool";
    }
    std::string Path(const std::string& inside) const { return m_pVolume->Root() + "/" + inside; }
    std::map<std::string, std::tuple<Type, bool>> List(const std::string& folder) const
    {
        std::map<std::string, std::tuple<Type, bool>> listing;
        const auto opened = m_pVolume->OpenFolder(folder);
        const auto reader = m_pVolume->NewFolderReader();
        CVolume::Entry entry;
        if (opened && reader->Start(*opened)) {
            while (reader->Next(entry))
                listing[entry.strName] = {entry.type, entry.bLink};
        }
        return listing;
    }

    CTempTree m_tree;
    CTempTree m_out;
    std::shared_ptr<const CVolume> m_pVolume;
};

using Kinds = testing::Types<CMounted, CImage, CStored>;
TYPED_TEST_SUITE(VolumeContract, Kinds);

TYPED_TEST(VolumeContract, ListsEachFolderOnceWithTypesAndFindsNamesWithoutCase)
{
    const CVolume& volume = *this->m_pVolume;
    const auto root = this->List(volume.Root());
    EXPECT_EQ(root.at("Docs"), std::make_tuple(Type::Folder, false));
    EXPECT_EQ(root.count("."), 0u);
    EXPECT_EQ(this->List(this->Path("Docs")).at("Read Me.TXT"), std::make_tuple(Type::File, false));
    EXPECT_EQ(volume.ResolveNoCase(volume.Root(), "docs\\read me.txt"),
              this->Path("Docs/Read Me.TXT"));
    EXPECT_EQ(volume.ResolveNoCase(this->Path("Docs"), "..\\Docs"), std::nullopt);
    EXPECT_EQ(volume.ResolveNoCase(volume.Root(), "docs/missing"), std::nullopt);
    if constexpr (!TypeParam::kHoldsFilesAndLinks) {
        EXPECT_EQ(root.count("Empty") + root.count("to-docs"), 0u);
        const auto top = volume.OpenFolder(volume.Root());
        EXPECT_TRUE(top && volume.OpenSubfolder(*top, "Docs/deep", true));
        EXPECT_FALSE(top && volume.OpenSubfolder(*top, "Docs/../Docs", true));
        return;
    }
    EXPECT_EQ(root.at("Empty"), std::make_tuple(Type::Folder, false));
    EXPECT_EQ(root.at("to-docs"), std::make_tuple(Type::FolderLink, true));
    EXPECT_TRUE(this->List(this->Path("Empty")).empty());

    // A folder reached through a link is the folder itself; links are followed when asked.
    const auto top = volume.OpenFolder(volume.Root());
    ASSERT_TRUE(top);
    EXPECT_FALSE(volume.OpenSubfolder(*top, "to-docs", false));
    const auto viaLink = volume.OpenSubfolder(*top, "to-docs", true);
    const auto direct = volume.OpenSubfolder(*top, "Docs", false);
    ASSERT_TRUE(viaLink && direct);
    EXPECT_EQ(volume.GetFolderInfo(*viaLink)->id, volume.GetFolderInfo(*direct)->id);
    EXPECT_TRUE(volume.OpenSubfolder(*top, "to-docs/deep", true));
    EXPECT_FALSE(volume.OpenSubfolder(*top, "Docs/../Empty", true));
    EXPECT_TRUE(volume.LinkLeadsBelow(this->Path("to-docs"), volume.Root()));
}

TYPED_TEST(VolumeContract, ReadsRangesAndWholeFilesUpToACapAndTellsWhatPathsAre)
{
    const CVolume& volume = *this->m_pVolume;
    const std::string path = this->Path("Docs/Read Me.TXT");
    EXPECT_EQ(volume.What(path), Kind::File);
    EXPECT_EQ(volume.What(this->Path("Docs/deep")), Kind::Folder);
    EXPECT_EQ(volume.What(this->Path("missing")), Kind::Missing);
    EXPECT_FALSE(volume.OpenFile(this->Path("Docs")));
    EXPECT_EQ(volume.RealPathForDesktop(path).has_value(), !volume.MustCopyOut());
    EXPECT_EQ(volume.IdentityOf(path)->nSize, 10u);
    const auto file = volume.OpenFile(path);
    if constexpr (!TypeParam::kHoldsFilesAndLinks) {
        EXPECT_FALSE(file);
        return;
    }
    ASSERT_TRUE(file);
    EXPECT_EQ(file->Size(), 10u);
    char buffer[4] = {};
    ASSERT_TRUE(file->ReadAt(6, buffer, 4));
    EXPECT_EQ(std::string(buffer, 4), "6789");
    EXPECT_FALSE(file->ReadAt(7, buffer, 4)) << "past the end";
    std::string all;
    EXPECT_EQ(file->ReadAll(all, 10), CVolume::ReadStatus::Ok);
    EXPECT_EQ(all, "0123456789");
    EXPECT_EQ(file->ReadAll(all, 9), CVolume::ReadStatus::TooLarge);
    EXPECT_TRUE(all.empty());
    EXPECT_EQ(file->Identity(), volume.IdentityOf(path));
}

TYPED_TEST(VolumeContract, RefusesPathsOutsideItsRootOrWithDotDot)
{
    const CVolume& volume = *this->m_pVolume;
    for (const std::string& path :
         {this->Path("Docs/../Docs/Read Me.TXT"), volume.Root() + "x/f.txt",
          std::string("/etc/passwd"), std::string(),
          this->Path("Docs/Read Me.TXT") + std::string(1, '\0')}) {
        EXPECT_FALSE(volume.OpenFile(path)) << path;
        EXPECT_FALSE(volume.IdentityOf(path)) << path;
        EXPECT_EQ(volume.What(path), Kind::Missing) << path;
        EXPECT_EQ(volume.RealPathForDesktop(path), std::nullopt) << path;
    }
    EXPECT_FALSE(volume.OpenFolder(this->Path("Docs/..")));
}

TYPED_TEST(VolumeContract, ServesSeveralThreadsAtOnce)
{
    const CVolume& volume = *this->m_pVolume;
    std::vector<std::thread> threads;
    std::vector<int> good(4, 0);
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 8; ++i) {
                const std::string folder = this->Path("d" + std::to_string(i));
                const auto path = volume.ResolveNoCase(folder, "F.TXT");
                std::string text = std::to_string(i);
                const auto file = path ? volume.OpenFile(*path) : nullptr;
                const bool bRead = TypeParam::kHoldsFilesAndLinks
                                       ? file && file->ReadAll(text, 16) == CVolume::ReadStatus::Ok
                                       : path && volume.IdentityOf(*path)->nSize == 1;
                if (bRead && text == std::to_string(i) && this->List(folder).size() == 1)
                    ++good[t];
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(good, std::vector<int>(4, 8));
}

} // namespace
