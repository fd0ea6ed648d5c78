// SPDX-License-Identifier: GPL-3.0-or-later
#include "catalogue/FolderWalker.h"

#include "catalogue/ProfileReader.h"
#include "catalogue/Wildcard.h"
#include "platform/FileFind.h"
#include "platform/MountedVolume.h"
#include "platform/RegularFile.h"
#include "support/OpenFiles.h"
#include "support/TempTree.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

struct Event {
    char kind = 0; // 'F' OnFolder, 'A' AddApplication, 'R' AddFileRow
    std::string strPath;
    std::string strRoot;
    std::string strName;
    bool operator==(const Event&) const = default;
};

void PrintTo(const Event& event, std::ostream* os)
{
    *os << event.kind << ' ' << event.strPath;
}

class CRecorder : public CWalkVisitor {
public:
    void OnFolder(const std::string& folder) override
    {
        m_events.push_back({'F', folder, {}, {}});
        if (m_onFolder)
            m_onFolder(folder);
    }
    void AddApplication(const CFoundFile& found) override { Record('A', found); }
    void AddFileRow(const CFoundFile& found) override { Record('R', found); }
    bool IsStopRequested() const override { return m_bStop; }

    std::vector<std::string> Folders() const
    {
        return Paths([](char k) { return k == 'F'; });
    }
    std::vector<std::string> Handled() const
    {
        return Paths([](char k) { return k != 'F'; });
    }
    std::vector<std::string> SortedHandled() const
    {
        std::vector<std::string> paths = Handled();
        std::sort(paths.begin(), paths.end());
        return paths;
    }

    std::vector<Event> m_events;
    std::function<void(const std::string&)> m_onFolder;
    std::function<void(const CFoundFile&)> m_onFile;
    bool m_bStop = false;

private:
    void Record(char kind, const CFoundFile& found)
    {
        m_events.push_back({kind, found.GetFilePath(), found.GetRoot(), found.GetFileName()});
        if (m_onFile)
            m_onFile(found);
    }
    template <class Pred>
    std::vector<std::string> Paths(Pred pred) const
    {
        std::vector<std::string> paths;
        for (const Event& event : m_events) {
            if (pred(event.kind))
                paths.push_back(event.strPath);
        }
        return paths;
    }
};

CRecorder WalkRecorded(const std::string& folder, std::string_view pattern,
                       EWalkMode mode = EWalkMode::Tree, bool recurse = true,
                       const std::string& root = {})
{
    CRecorder recorder;
    WalkFolder(CMountedVolume(root.empty() ? folder : root), folder, mode, recurse, pattern,
               recorder);
    return recorder;
}

// The order a walk must follow, taken from readdir itself: the folder, its matching
// files in listing order, then each subfolder in listing order, depth first.
void ExpectedWalk(const std::string& folder, const CWildcard& pattern, std::vector<Event>& out)
{
    out.push_back({'F', folder, {}, {}});
    std::vector<std::string> subfolders;
    DIR* pDir = ::opendir(folder.c_str());
    if (!pDir)
        return;
    while (const dirent* pEntry = ::readdir(pDir)) {
        const std::string name = pEntry->d_name;
        if (name == "." || name == "..")
            continue;
        const std::string path = folder + "/" + name;
        struct stat st;
        if (::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
            subfolders.push_back(path);
        else if (pattern.Matches(name))
            out.push_back({'A', path, folder, name});
    }
    ::closedir(pDir);
    for (const std::string& sub : subfolders)
        ExpectedWalk(sub, pattern, out);
}

bool Contains(const std::vector<std::string>& items, const std::string& item)
{
    return std::find(items.begin(), items.end(), item) != items.end();
}

bool AnyStartsWith(const std::vector<std::string>& items, const std::string& prefix)
{
    return std::any_of(items.begin(), items.end(),
                       [&](const std::string& s) { return s.rfind(prefix, 0) == 0; });
}

// Builds depth nested folders named name below parent through openat, so that no path
// length limit gets in the way; perLevel runs with each new folder's handle.
void MakeChain(const std::string& parent, const std::string& name, int depth,
               const std::function<void(int, int)>& perLevel)
{
    int hCurrent = ::open(parent.c_str(), O_RDONLY | O_DIRECTORY);
    ASSERT_GE(hCurrent, 0);
    for (int level = 0; level < depth; ++level) {
        ASSERT_EQ(::mkdirat(hCurrent, name.c_str(), 0755), 0) << "level " << level;
        const int hNext = ::openat(hCurrent, name.c_str(), O_RDONLY | O_DIRECTORY);
        ::close(hCurrent);
        ASSERT_GE(hNext, 0);
        hCurrent = hNext;
        perLevel(hCurrent, level);
    }
    ::close(hCurrent);
}

void WriteFileAt(int hFolder, const char* name)
{
    const int hFile = ::openat(hFolder, name, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(hFile, 0);
    ::close(hFile);
}

TEST(WalkOrder, FilesComeBeforeSubfoldersInListingOrder)
{
    CTempTree tree;
    for (const char* file :
         {"a.brw", "b.brw", "notes.txt", "one/x.brw", "one/deep/y.brw", "one/deep/deeper/z.brw",
          "two/w.brw", "two/skip.txt", "three/v.brw", "empty/.keep"})
        tree.WriteFile(file, "[info]\n");
    tree.MakeFolder("bare");

    std::vector<Event> expected;
    ExpectedWalk(tree.Root(), CWildcard("*.brw"), expected);
    EXPECT_EQ(WalkRecorded(tree.Root(), "*.brw").m_events, expected);
}

TEST(WalkOrder, StartFolderIsNormalisedAndPathsNeverDoubleTheSeparator)
{
    CTempTree tree;
    tree.WriteFile("sub/a.brw", "");
    const CRecorder recorder = WalkRecorded(tree.Root() + "//", "*.brw");
    EXPECT_EQ(recorder.Folders(), (std::vector<std::string>{tree.Root(), tree.Path("sub")}));
    ASSERT_EQ(recorder.Handled(), std::vector<std::string>{tree.Path("sub/a.brw")});
    EXPECT_EQ(recorder.m_events.back().strRoot, tree.Path("sub"));
    EXPECT_EQ(recorder.m_events.back().strName, "a.brw");

    // From the root folder: "/" + "tmp", never "//tmp".
    const CRecorder fromRoot = WalkRecorded("//", "*", EWalkMode::List, false);
    EXPECT_EQ(fromRoot.Folders(), std::vector<std::string>{"/"});
    EXPECT_FALSE(AnyStartsWith(fromRoot.Handled(), "//"));
    if (tree.Root().rfind("/tmp/", 0) == 0) {
        const std::string pattern = "TMP\\" + tree.Root().substr(5) + "\\SUB\\*.brw";
        const CRecorder found = WalkRecorded("/", pattern, EWalkMode::List, false);
        ASSERT_EQ(found.Handled(), std::vector<std::string>{tree.Path("sub/a.brw")});
        EXPECT_EQ(found.m_events.back().strRoot, tree.Path("sub"));
    }
}

TEST(WalkEntries, FolderNamedLikeThePatternIsVisitedNotHanded)
{
    CTempTree tree;
    tree.WriteFile("app.brw/inner.brw", "");
    const CRecorder recorder = WalkRecorded(tree.Root(), "*.brw");
    EXPECT_EQ(recorder.Handled(), std::vector<std::string>{tree.Path("app.brw/inner.brw")});
    EXPECT_TRUE(Contains(recorder.Folders(), tree.Path("app.brw")));

    // Without recursion the folder is neither handed nor entered.
    const CRecorder flat = WalkRecorded(tree.Root(), "*.brw", EWalkMode::Tree, false);
    EXPECT_TRUE(flat.Handled().empty());
    EXPECT_EQ(flat.Folders(), std::vector<std::string>{tree.Root()});
}

TEST(WalkEntries, HiddenEntriesAreLikeAnyOther)
{
    CTempTree tree;
    tree.WriteFile(".hidden.brw", "");
    tree.WriteFile(".config/app.brw", "");
    EXPECT_EQ(WalkRecorded(tree.Root(), "*.brw").SortedHandled(),
              (std::vector<std::string>{tree.Path(".config/app.brw"), tree.Path(".hidden.brw")}));
}

TEST(WalkEntries, SpecialFilesAreHandedWithoutBeingOpened)
{
    CTempTree tree;
    tree.MakeFifo("fifo.brw");
    tree.MakeSocket("sock.brw");
    tree.MakeLink("dangling.brw", tree.Path("nowhere"));
    tree.WriteFile("real/target.txt", "");
    tree.MakeLink("file-link.brw", tree.Path("real/target.txt"));
    tree.MakeLink("folder-link.brw", tree.Path("real"));

    const CRecorder recorder = WalkRecorded(tree.Root(), "*.brw", EWalkMode::List);
    EXPECT_EQ(recorder.SortedHandled(),
              (std::vector<std::string>{tree.Path("dangling.brw"), tree.Path("fifo.brw"),
                                        tree.Path("file-link.brw"), tree.Path("sock.brw")}));
    // A scan takes a link only when it can tell where it leads.
    EXPECT_EQ(WalkRecorded(tree.Root(), "*.brw").SortedHandled(),
              (std::vector<std::string>{tree.Path("fifo.brw"), tree.Path("file-link.brw"),
                                        tree.Path("sock.brw")}));
}

TEST(WalkEntries, NamesKeepTheirBytes)
{
    CTempTree tree;
    const std::string odd[] = {"caf\xE9.brw", "line\nbreak.brw", "back\\slash.brw",
                               "\xFF\xFE/inner.brw", "tab\tand space/x.brw"};
    for (const std::string& name : odd)
        tree.WriteFile(name, "");
    std::vector<std::string> expected;
    for (const std::string& name : odd)
        expected.push_back(tree.Path(name));
    std::sort(expected.begin(), expected.end());

    const CRecorder recorder = WalkRecorded(tree.Root(), "*.brw");
    EXPECT_EQ(recorder.SortedHandled(), expected);
    EXPECT_TRUE(Contains(recorder.Folders(), tree.Path("\xFF\xFE")));
}

TEST(WalkEntries, SubfolderThatVanishesCountsAsEmpty)
{
    CTempTree tree;
    for (const char* name : {"s1", "s2", "s3", "s4"})
        tree.WriteFile(std::string(name) + "/a.brw", "");

    // Whichever subfolder comes first removes the others before they are entered.
    CRecorder recorder;
    bool bRemoved = false;
    recorder.m_onFolder = [&](const std::string& folder) {
        if (folder == tree.Root() || bRemoved)
            return;
        bRemoved = true;
        for (const char* name : {"s1", "s2", "s3", "s4"}) {
            if (tree.Path(name) != folder)
                std::filesystem::remove_all(tree.Path(name));
        }
    };
    WalkFolder(CMountedVolume(tree.Root()), tree.Root(), EWalkMode::Tree, true, "*.brw", recorder);
    EXPECT_EQ(recorder.Folders().size(), 5u);
    EXPECT_EQ(recorder.Handled().size(), 1u);
}

TEST(WalkEntries, NonexistentStartFolder)
{
    CTempTree tree;
    const CRecorder recorder = WalkRecorded(tree.Path("missing"), "*.*", EWalkMode::List);
    EXPECT_EQ(recorder.Folders(), std::vector<std::string>{tree.Path("missing")});
    EXPECT_TRUE(recorder.Handled().empty());

    tree.WriteFile("file", "");
    const CRecorder onFile = WalkRecorded(tree.Path("file"), "*.*", EWalkMode::List);
    EXPECT_EQ(onFile.m_events.size(), 1u);
}

TEST(WalkEntries, RecurseFalseListsOnlyTheStartFolder)
{
    CTempTree tree;
    tree.WriteFile("top.txt", "");
    tree.WriteFile("sub/below.txt", "");
    const CRecorder recorder = WalkRecorded(tree.Root(), "*.*", EWalkMode::List, false);
    EXPECT_EQ(recorder.Folders(), std::vector<std::string>{tree.Root()});
    EXPECT_EQ(recorder.Handled(), std::vector<std::string>{tree.Path("top.txt")});
}

TEST(WalkEntries, UnreadableFolderCountsAsEmptyAndTheWalkGoesOn)
{
    CTempTree tree;
    tree.WriteFile("locked/secret.brw", "");
    tree.WriteFile("locked/below/deeper.brw", "");
    tree.WriteFile("noread/hidden.brw", "");
    tree.WriteFile("open/visible.brw", "");
    tree.WriteFile("top.brw", "");
    tree.SetMode("locked", 0000);
    tree.SetMode("noread", 0311); // enter but not list

    const bool bOk = RunUnprivileged([&]() {
        const CRecorder recorder = WalkRecorded(tree.Root(), "*.brw");
        const std::vector<std::string> folders = recorder.Folders();
        return recorder.SortedHandled() ==
                   std::vector<std::string>{tree.Path("open/visible.brw"), tree.Path("top.brw")} &&
               Contains(folders, tree.Path("locked")) && Contains(folders, tree.Path("noread")) &&
               !Contains(folders, tree.Path("locked/below")) && folders.size() == 4;
    });
    EXPECT_TRUE(bOk);
}

TEST(WalkLinks, CyclesEndAndEachFolderIsEnteredOnce)
{
    CTempTree tree;
    tree.WriteFile("a/b/file.brw", "");
    tree.MakeLink("a/b/up", tree.Path("a"));      // an ancestor inside the start
    tree.MakeLink("a/b/self", ".");               // itself
    tree.MakeLink("a/b/start", tree.Root());      // the start folder
    tree.MakeLink("a/b/parent", tree.Path("..")); // above the start
    tree.MakeLink("a/b/relative-up", "../../.."); // above the start, relatively
    const int fds = CountOpenFds();

    const CRecorder recorder = WalkRecorded(tree.Root(), "*.brw");
    EXPECT_EQ(recorder.Handled(), std::vector<std::string>{tree.Path("a/b/file.brw")});
    EXPECT_EQ(recorder.Folders(),
              (std::vector<std::string>{tree.Root(), tree.Path("a"), tree.Path("a/b")}));
    EXPECT_EQ(CountOpenFds(), fds);
}

TEST(WalkLinks, LinksLeavingTheVolumeRootAreNotFollowed)
{
    CTempTree tree;
    CTempTree outside;
    outside.WriteFile("elsewhere.brw", "");
    tree.WriteFile("app/own.brw", "");
    tree.WriteFile("shared/data/in-drive.brw", "");
    tree.MakeLink("app/data", "../shared/data");
    tree.MakeLink("app/to-root", "/");
    tree.MakeLink("app/to-outside", outside.Root());
    tree.MakeLink("app/to-outside-file", outside.Path("elsewhere.brw"));
    tree.MakeLink("app/outside.brw", outside.Path("elsewhere.brw"));
    tree.MakeLink("app/relative-outside.brw",
                  "../../" + std::filesystem::path(outside.Root()).filename().string() +
                      "/elsewhere.brw");
    tree.MakeLink("app/alias.brw", "own.brw");

    const CRecorder recorder = WalkRecorded(tree.Path("app"), "*.brw");
    EXPECT_EQ(recorder.Folders(), std::vector<std::string>{tree.Path("app")});
    EXPECT_EQ(recorder.SortedHandled(),
              (std::vector<std::string>{tree.Path("app/alias.brw"), tree.Path("app/own.brw")}))
        << "a descriptor linked from outside the drive is not the drive's";
    // Rows are only shown, so a listing keeps every link.
    EXPECT_EQ(WalkRecorded(tree.Path("app"), "*.brw", EWalkMode::List).Handled().size(), 4u);
    // A listing below the volume's root follows links as far as the scan does.
    EXPECT_EQ(WalkRecorded(tree.Path("app"), "*.brw", EWalkMode::List, true, tree.Root())
                  .Folders()
                  .back(),
              tree.Path("app/data"));
}

TEST(WalkLinks, LinkInsideTheStartFolderIsFollowedOnce)
{
    CTempTree tree;
    tree.WriteFile("real/app.brw", "");
    tree.MakeLink("alias", "real");
    tree.MakeLink("nested/alias2", tree.Path("real"));

    const CRecorder recorder = WalkRecorded(tree.Root(), "*.brw");
    const std::vector<std::string> handled = recorder.Handled();
    ASSERT_EQ(handled.size(), 1u);
    EXPECT_TRUE(handled[0] == tree.Path("real/app.brw") ||
                handled[0] == tree.Path("alias/app.brw") ||
                handled[0] == tree.Path("nested/alias2/app.brw"))
        << handled[0];

    // A walk that starts through a link resolves its inside against the link's target.
    tree.MakeLink("entry", tree.Root());
    EXPECT_EQ(WalkRecorded(tree.Path("entry"), "*.brw").Handled().size(), 1u);
}

TEST(WalkLinks, EveryFolderIsEnteredOnceHoweverManyThereAre)
{
    // Enough folders that the record of entered folders grows several times while links
    // lead back into folders entered long before (or reach them first).
    CTempTree tree;
    constexpr int kFolders = 300;
    for (int i = 0; i < kFolders; ++i) {
        // Appended, not "f" + ...: g++ 12 warns wrongly (-Wrestrict) on that form.
        std::string name = "f";
        name += std::to_string(i);
        tree.WriteFile(name + "/x.brw", "");
        tree.MakeLink("links/" + name, tree.Path(name));
    }

    const CRecorder recorder = WalkRecorded(tree.Root(), "*.brw");
    EXPECT_EQ(recorder.Folders().size(), kFolders + 2u);
    std::set<std::string> owners;
    for (const std::string& path : recorder.Handled()) {
        const std::string folder = path.substr(0, path.rfind('/'));
        owners.insert(folder.substr(folder.rfind('/') + 1));
    }
    EXPECT_EQ(recorder.Handled().size(), static_cast<std::size_t>(kFolders));
    EXPECT_EQ(owners.size(), static_cast<std::size_t>(kFolders));
}

TEST(WalkLinks, OtherFileSystemsAreNotEntered)
{
    // Needs a mount below a small folder: /dev usually holds pts and shm.
    struct stat parent;
    if (::stat("/dev", &parent) != 0)
        GTEST_SKIP() << "no /dev";
    std::string mount;
    for (const char* candidate : {"/dev/pts", "/dev/shm", "/dev/mqueue", "/dev/hugepages"}) {
        struct stat st;
        if (::stat(candidate, &st) == 0 && S_ISDIR(st.st_mode) && st.st_dev != parent.st_dev) {
            mount = candidate;
            break;
        }
    }
    if (mount.empty())
        GTEST_SKIP() << "no file system mounted inside /dev";

    const CRecorder recorder = WalkRecorded("/dev", "*", EWalkMode::List);
    const std::vector<std::string> folders = recorder.Folders();
    EXPECT_FALSE(Contains(folders, mount));
    EXPECT_FALSE(AnyStartsWith(folders, mount + "/"));
    EXPECT_FALSE(AnyStartsWith(recorder.Handled(), mount + "/"));
    EXPECT_EQ(folders.front(), "/dev");
}

TEST(WalkPattern, FolderPartIsFoundWithoutRegardToCase)
{
    CTempTree tree;
    tree.WriteFile("app1/BIN/Tool.EXE", "");
    tree.WriteFile("app1/BIN/readme.txt", "");
    tree.WriteFile("app1/top.exe", "");
    tree.WriteFile("app2/bin/other.exe", "");
    tree.WriteFile("app2/bin/sub/deep.dat", "");

    for (const char* pattern : {"bin\\*.exe", "bin/*.exe", "Bin\\\\*.EXE", ".\\bin\\.\\*.exe"}) {
        const CRecorder recorder = WalkRecorded(tree.Root(), pattern, EWalkMode::List);
        EXPECT_EQ(recorder.SortedHandled(),
                  (std::vector<std::string>{tree.Path("app1/BIN/Tool.EXE"),
                                            tree.Path("app2/bin/other.exe")}))
            << pattern;
        for (const Event& event : recorder.m_events) {
            if (event.kind == 'R') {
                EXPECT_EQ(event.strRoot + "/" + event.strName, event.strPath);
            }
        }
    }

    const CRecorder deep = WalkRecorded(tree.Path("app2"), "BIN/SUB/*.dat", EWalkMode::List, false);
    ASSERT_EQ(deep.Handled(), std::vector<std::string>{tree.Path("app2/bin/sub/deep.dat")});
    EXPECT_EQ(deep.m_events.back().strRoot, tree.Path("app2/bin/sub"));

    // Without recursion, only the start folder's own folder part is searched.
    EXPECT_TRUE(WalkRecorded(tree.Root(), "bin\\*.exe", EWalkMode::List, false).Handled().empty());
    EXPECT_EQ(WalkRecorded(tree.Path("app1"), "bin\\*.exe", EWalkMode::List, false).Handled(),
              std::vector<std::string>{tree.Path("app1/BIN/Tool.EXE")});
}

TEST(WalkPattern, FolderPartPrefersTheExactNameAndClimbsByNameToTheRootOnly)
{
    CTempTree tree;
    tree.WriteFile("app/bin/lower.exe", "");
    tree.WriteFile("app/BIN/upper.exe", "");
    tree.WriteFile("app/Data", "a file, not a folder");
    tree.WriteFile("outside.exe", "");
    const std::string app = tree.Path("app");

    EXPECT_EQ(WalkRecorded(app, "bin\\*.exe", EWalkMode::List, false).Handled(),
              std::vector<std::string>{tree.Path("app/bin/lower.exe")});
    EXPECT_EQ(WalkRecorded(app, "BIN\\*.exe", EWalkMode::List, false).Handled(),
              std::vector<std::string>{tree.Path("app/BIN/upper.exe")});
    // The volume's root is app: ".." stops there.
    EXPECT_TRUE(WalkRecorded(app, "..\\*.exe", EWalkMode::List).Handled().empty());
    EXPECT_TRUE(WalkRecorded(app, "bin\\..\\..\\*.exe", EWalkMode::List).Handled().empty());
    for (const char* pattern : {"..\\*.exe", "bin\\..\\..\\..\\*.exe"}) {
        EXPECT_EQ(WalkRecorded(app, pattern, EWalkMode::List, false, tree.Root()).Handled(),
                  std::vector<std::string>{tree.Path("outside.exe")});
    }
    EXPECT_EQ(
        WalkRecorded(app, "..\\APP\\BIN\\*.exe", EWalkMode::List, false, tree.Root()).Handled(),
        std::vector<std::string>{tree.Path("app/BIN/upper.exe")});
    EXPECT_TRUE(WalkRecorded(app, "data\\*", EWalkMode::List).Handled().empty());
    EXPECT_TRUE(WalkRecorded(app, "bin\\", EWalkMode::List).Handled().empty());
    EXPECT_TRUE(WalkRecorded(app, "missing\\*", EWalkMode::List).Handled().empty());
    // The name part may name a file exactly; the visited folder's own files never match.
    EXPECT_EQ(WalkRecorded(tree.Root(), "app\\Data", EWalkMode::List, false).Handled(),
              std::vector<std::string>{tree.Path("app/Data")});
    EXPECT_TRUE(
        WalkRecorded(tree.Root(), "app\\outside.exe", EWalkMode::List, false).Handled().empty());
}

TEST(WalkDepth, FiveThousandLevelsDeeperThanPathMax)
{
    CTempTree tree;
    constexpr int kDepth = 5000;
    MakeChain(tree.Root(), "d", kDepth, [](int hFolder, int level) {
        if (level == kDepth - 1)
            WriteFileAt(hFolder, "bottom.brw");
    });

    const CRecorder recorder = WalkRecorded(tree.Root(), "*.brw");
    EXPECT_EQ(recorder.Folders().size(), static_cast<std::size_t>(kDepth + 1));
    std::string expected = tree.Root();
    for (int level = 0; level < kDepth; ++level)
        expected += "/d";
    EXPECT_GT(expected.size(), 4096u);
    EXPECT_EQ(recorder.Handled(), std::vector<std::string>{expected + "/bottom.brw"});
}

TEST(WalkDepth, WhatLiesBelowPathMaxCanStillBeReadAndListed)
{
    CTempTree tree;
    constexpr int kDepth = 2100;
    const std::string descriptor = "[info]\ncategory=Deep\nname=Bottom\n";
    MakeChain(tree.Root(), "dd", kDepth, [&](int hFolder, int level) {
        if (level != kDepth - 1)
            return;
        const int hFile = ::openat(hFolder, "bottom.brw", O_WRONLY | O_CREAT, 0644);
        ASSERT_EQ(::write(hFile, descriptor.data(), descriptor.size()),
                  static_cast<ssize_t>(descriptor.size()));
        ::close(hFile);
        WriteFileAt(hFolder, "Readme.TXT");
    });
    const std::vector<std::string> found = WalkRecorded(tree.Root(), "*.brw").Handled();
    ASSERT_EQ(found.size(), 1u);
    ASSERT_GT(found[0].size(), CFileFind::MaxPathLength());
    const std::string folder = found[0].substr(0, found[0].rfind('/'));

    CProfileReader reader;
    EXPECT_EQ(reader.GetString(CMountedVolume(tree.Root()), found[0], "info", "name", "nil"),
              "Bottom");
    EXPECT_EQ(WalkRecorded(folder, "*.txt", EWalkMode::List, false).Handled(),
              std::vector<std::string>{folder + "/Readme.TXT"});
    EXPECT_EQ(CFileFind::ResolveNoCase(folder, "readme.txt"), folder + "/Readme.TXT");
    const int fds = CountOpenFds();
    CRegularFile file;
    EXPECT_FALSE(file.Open(folder + "/missing.txt"));
    EXPECT_FALSE(file.Open(folder.substr(0, folder.size() - 1) + "x/bottom.brw"));
    EXPECT_EQ(CountOpenFds(), fds) << "the steps towards a long path are closed";
}

TEST(WalkDepth, ManyPendingFoldersStayWithinTheHandleCap)
{
    // Each level holds leaf folders created before and after the one that goes on, with
    // names that differ per level, so in any listing order most levels still have
    // subfolders to visit while the walk is below them. The long names make the path
    // longer than PATH_MAX, so folders whose handle was given up are reopened in steps.
    CTempTree tree;
    constexpr int kDepth = 600;
    const std::string chain(60, 'c');
    auto makeLeaf = [](int hFolder, const std::string& name) {
        ASSERT_EQ(::mkdirat(hFolder, name.c_str(), 0755), 0);
        const int hLeaf = ::openat(hFolder, name.c_str(), O_RDONLY | O_DIRECTORY);
        ASSERT_GE(hLeaf, 0);
        WriteFileAt(hLeaf, "leaf.brw");
        ::close(hLeaf);
    };
    int hCurrent = ::open(tree.Root().c_str(), O_RDONLY | O_DIRECTORY);
    for (int level = 0; level < kDepth && hCurrent >= 0; ++level) {
        makeLeaf(hCurrent, "a" + std::to_string(level));
        ASSERT_EQ(::mkdirat(hCurrent, chain.c_str(), 0755), 0);
        makeLeaf(hCurrent, "y" + std::to_string(level));
        makeLeaf(hCurrent, "z" + std::to_string(level));
        const int hNext = ::openat(hCurrent, chain.c_str(), O_RDONLY | O_DIRECTORY);
        ::close(hCurrent);
        hCurrent = hNext;
    }
    ASSERT_GE(hCurrent, 0);
    ::close(hCurrent);

    const int fdsBefore = CountOpenFds();
    int maxFds = 0;
    CRecorder recorder;
    recorder.m_onFolder = [&](const std::string&) {
        maxFds = std::max(maxFds, CountOpenFds());
    };
    WalkFolder(CMountedVolume(tree.Root()), tree.Root(), EWalkMode::Tree, true, "*.brw", recorder);

    EXPECT_EQ(recorder.Handled().size(), 3u * kDepth);
    std::vector<std::string> handled = recorder.SortedHandled();
    EXPECT_EQ(std::unique(handled.begin(), handled.end()), handled.end());
    EXPECT_EQ(recorder.Folders().size(), 4u * kDepth + 1);
    EXPECT_LE(maxFds - fdsBefore, 260);
    EXPECT_EQ(CountOpenFds(), fdsBefore);
}

TEST(WalkStatCalls, UnknownEntryTypesGiveTheSameWalk)
{
    CTempTree tree;
    tree.WriteFile("a.brw", "");
    tree.WriteFile("notes.txt", "");
    tree.WriteFile("sub/b.brw", "");
    tree.WriteFile("sub/deep/c.brw", "");
    tree.MakeFolder("sub/empty");
    tree.MakeFifo("sub/fifo.brw");
    tree.MakeLink("to-file.brw", tree.Path("a.brw"));

    const auto walk = [&](const CMountedVolume& volume) {
        CRecorder recorder;
        WalkFolder(volume, tree.Root(), EWalkMode::Tree, true, "*.brw", recorder);
        return recorder.m_events;
    };
    const CMountedVolume typed(tree.Root());
    const std::vector<Event> known = walk(typed);
    EXPECT_EQ(typed.StatCallCount(), 1u) << "only the link needs fstatat";

    const CMountedVolume untyped(tree.Root(), {true});
    EXPECT_EQ(walk(untyped), known);
    // Nine entries in all, and the link is asked about twice.
    EXPECT_EQ(untyped.StatCallCount(), 10u);
}

TEST(WalkStop, StopRequestEndsTheWalkPromptly)
{
    CTempTree tree;
    for (int i = 0; i < 20; ++i)
        tree.WriteFile(std::to_string(i).append(".brw"), "");
    for (int i = 0; i < 5; ++i)
        tree.WriteFile("sub" + std::to_string(i) + "/x.brw", "");
    const int fds = CountOpenFds();

    CRecorder recorder;
    recorder.m_onFile = [&](const CFoundFile&) {
        recorder.m_bStop = true;
    };
    WalkFolder(CMountedVolume(tree.Root()), tree.Root(), EWalkMode::Tree, true, "*.brw", recorder);
    EXPECT_EQ(recorder.Handled().size(), 1u);
    EXPECT_EQ(recorder.Folders().size(), 1u);
    EXPECT_EQ(CountOpenFds(), fds);

    // Stopped between folders: the next folder is never entered.
    CRecorder between;
    between.m_onFolder = [&](const std::string& folder) {
        if (folder != tree.Root())
            between.m_bStop = true;
    };
    WalkFolder(CMountedVolume(tree.Root()), tree.Root(), EWalkMode::Tree, true, "*.brw", between);
    EXPECT_EQ(between.Folders().size(), 2u);
    EXPECT_EQ(between.Handled().size(), 20u);
    EXPECT_EQ(CountOpenFds(), fds);
}

} // namespace
