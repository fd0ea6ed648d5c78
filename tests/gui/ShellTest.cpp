// SPDX-License-Identifier: GPL-3.0-or-later
#include "desktop/Shell.h"
#include "GuiTestSupport.h"
#include "support/EnvOverride.h"
#include "support/TempTree.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include <unistd.h>

namespace fs = std::filesystem;

namespace {

std::string ReadText(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool Exists(const std::string& path)
{
    std::error_code ec;
    return fs::exists(fs::symlink_status(path, ec));
}

// Children of this process that ended and were never reaped.
int ZombieChildren()
{
    int count = 0;
    const pid_t self = ::getpid();
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator("/proc", ec)) {
        const std::string name = entry.path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos)
            continue;
        const std::string stat = ReadText(entry.path().string() + "/stat");
        const std::size_t paren = stat.rfind(')');
        if (paren == std::string::npos)
            continue;
        std::istringstream fields(stat.substr(paren + 1));
        char state = 0;
        long parent = 0;
        if (fields >> state >> parent && state == 'Z' && parent == self)
            ++count;
    }
    return count;
}

// A private desktop: no system application is seen, only a recorder application that writes
// what it was given, and the system MIME data. GLib reads the XDG variables once per process,
// so the desktop is made before the first GIO call and kept until the process ends; a
// repeated suite points the variables at the same folders again.
class ShellTest : public testing::Test {
protected:
    static void SetUpTestSuite()
    {
        if (!s_pTree) {
            s_pTree = std::make_unique<CTempTree>();
            MakeDesktop(*s_pTree);
        }
        std::error_code ec;
        fs::remove_all(s_pTree->Path("files"), ec);
        s_pTree->MakeFolder("files");

        const std::pair<const char*, std::string> settings[] = {
            {"XDG_DATA_HOME", s_pTree->Path("data")},
            {"XDG_CONFIG_HOME", s_pTree->Path("config")},
            {"XDG_DATA_DIRS", s_pTree->Path("system")},
            {"XDG_CONFIG_DIRS", s_pTree->Path("config-dirs")},
            // No real session bus or virtual file system takes part.
            {"DBUS_SESSION_BUS_ADDRESS", "unix:path=" + s_pTree->Path("no-bus")},
            {"GIO_USE_VFS", "local"},
        };
        for (const auto& [name, value] : settings)
            s_env.push_back(std::make_unique<CEnvOverride>(name, value.c_str()));
        // Desktop-specific default lists would otherwise take part.
        s_env.push_back(std::make_unique<CEnvOverride>("XDG_CURRENT_DESKTOP", nullptr));
    }

    static void TearDownTestSuite() { s_env.clear(); }

    static void MakeDesktop(CTempTree& tree)
    {
        ASSERT_EQ(tree.Root().find_first_of("'\"\\$` "), std::string::npos);
        tree.MakeLink("system/mime", "/usr/share/mime");
        tree.MakeFolder("config-dirs");

        // Written to a temporary name and renamed, so that a poll never sees half a record.
        std::string script = "#!/bin/sh\nout='" + tree.Path("record") + "'\n";
        script += "{\n"
                  "  for a in \"$@\"; do printf 'arg:%s\\n' \"$a\"; done\n"
                  "  printf 'cwd:%s\\n' \"$(pwd -P)\"\n"
                  "} > \"$out.$$\" && mv \"$out.$$\" \"$out\"\n";
        const std::string recorder = tree.WriteFile("recorder.sh", script);
        tree.SetMode("recorder.sh", 0755);

        std::string entry = "[Desktop Entry]\nType=Application\nName=Quarrow test recorder\n";
        entry += "Exec=\"" + recorder + "\" %f\n";
        entry += "MimeType=text/plain;application/x-shellscript;inode/directory;\n";
        tree.WriteFile("data/applications/quarrow-test-recorder.desktop", entry);

        // Its working folder is missing, so it is found but cannot be started.
        entry = "[Desktop Entry]\nType=Application\nName=Quarrow test broken\n";
        entry += "Exec=/bin/true %f\nPath=" + tree.Path("no-such-folder") + "\n";
        entry += "MimeType=text/csv;\n";
        tree.WriteFile("data/applications/quarrow-test-broken.desktop", entry);

        tree.WriteFile("config/mimeapps.list",
                       "[Default Applications]\n"
                       "text/plain=quarrow-test-recorder.desktop\n"
                       "application/x-shellscript=quarrow-test-recorder.desktop\n"
                       "inode/directory=quarrow-test-recorder.desktop\n"
                       "text/csv=quarrow-test-broken.desktop\n");
    }

    void SetUp() override { fs::remove(RecordPath()); }

    static std::string RecordPath() { return s_pTree->Path("record"); }
    static std::string File(const std::string& name) { return s_pTree->Path("files/" + name); }
    static std::string Write(const std::string& name, const std::string& content,
                             unsigned mode = 0644)
    {
        const std::string path = s_pTree->WriteFile("files/" + name, content);
        s_pTree->SetMode("files/" + name, mode);
        return path;
    }

    // The recorder's lines, once it has run; empty when it did not within the bound.
    static std::vector<std::string> TakeRecord()
    {
        std::vector<std::string> lines;
        if (!WaitUntil([] { return Exists(RecordPath()); }))
            return lines;
        std::istringstream in(ReadText(RecordPath()));
        for (std::string line; std::getline(in, line);)
            lines.push_back(line);
        fs::remove(RecordPath());
        return lines;
    }

    static std::vector<std::string> Handed(const std::string& path) { return {"arg:" + path}; }
    static std::vector<std::string> ArgumentsOf(std::vector<std::string> record)
    {
        if (!record.empty() && record.back().rfind("cwd:", 0) == 0)
            record.pop_back();
        return record;
    }

    static std::unique_ptr<CTempTree> s_pTree;
    static std::vector<std::unique_ptr<CEnvOverride>> s_env;
};

std::unique_ptr<CTempTree> ShellTest::s_pTree;
std::vector<std::unique_ptr<CEnvOverride>> ShellTest::s_env;

TEST_F(ShellTest, DocumentIsHandedToTheDefaultApplicationAsItsPath)
{
    const std::string notes = Write("notes.txt", "hello\n");
    EXPECT_GT(Shell::Execute(notes, nullptr, File("")), 32);
    EXPECT_EQ(ArgumentsOf(TakeRecord()), Handed(notes));

    // "open" is the default action too; a relative name is found in the working folder.
    EXPECT_EQ(Shell::Execute("notes.txt", "Open", File("")), Shell::kAccepted);
    EXPECT_EQ(ArgumentsOf(TakeRecord()), Handed(notes));
}

TEST_F(ShellTest, AwkwardNamesArriveIntact)
{
    // A name is bytes: shell characters, a leading dash, a backslash, Latin-1.
    for (const std::string name : {"-a \"b\" 'c' $HOME; `x` & y.txt", "caf\xe9 \\ back.txt"}) {
        const std::string path = Write(name, "text\n");
        EXPECT_EQ(Shell::Execute(path, nullptr, ""), Shell::kAccepted) << name;
        EXPECT_EQ(ArgumentsOf(TakeRecord()), Handed(path)) << name;
    }
}

TEST_F(ShellTest, TypesWithoutDefaultApplicationAreNotAssociated)
{
    const std::string blob = Write("blob.quarrowunknown", std::string("\0\x01\x02\xff\xfe", 5));
    EXPECT_EQ(Shell::Execute(blob, nullptr, ""), Shell::kErrNoAssoc);
    // A FIFO is never opened, so nothing blocks.
    EXPECT_EQ(Shell::Execute(s_pTree->MakeFifo("files/pipe.txt"), nullptr, ""), Shell::kErrNoAssoc);
    // There is no other verb than opening.
    EXPECT_EQ(Shell::Execute(Write("verb.txt", "x"), "print", ""), Shell::kErrNoAssoc);
}

TEST_F(ShellTest, BrokenDefaultApplicationIsAnIncompleteAssociation)
{
    EXPECT_EQ(Shell::Execute(Write("table.csv", "a,b\n1,2\n"), nullptr, ""),
              Shell::kErrAssocIncomplete);
}

TEST_F(ShellTest, MissingFilesAndFoldersAreReportedQuietly)
{
    const std::string gone = Write("gone.txt", "soon gone\n");
    fs::remove(gone);
    EXPECT_EQ(Shell::Execute(gone, nullptr, ""), Shell::kErrFileNotFound);
    EXPECT_EQ(Shell::Execute("", nullptr, ""), Shell::kErrFileNotFound);
    EXPECT_EQ(Shell::Execute(File("nul") + std::string(1, '\0') + ".txt", nullptr, ""),
              Shell::kErrFileNotFound);
    EXPECT_EQ(Shell::Execute(Write("plain.txt", "x") + "/inside.txt", nullptr, ""),
              Shell::kErrPathNotFound);
    EXPECT_EQ(Shell::Execute(Write("here.txt", "x"), nullptr, File("no-such-folder")),
              Shell::kErrPathNotFound);
}

TEST_F(ShellTest, FolderOpensWithTheDefaultApplicationForFolders)
{
    const std::string folder = s_pTree->MakeFolder("files/a folder; $x");
    EXPECT_EQ(Shell::Execute(folder, "open", ""), Shell::kAccepted);
    EXPECT_EQ(ArgumentsOf(TakeRecord()), Handed(folder));
    EXPECT_EQ(Shell::Execute(folder, nullptr, ""), Shell::kAccepted);
    EXPECT_EQ(ArgumentsOf(TakeRecord()), Handed(folder));
}

TEST_F(ShellTest, ProgramStartsInItsOwnFolderOrTheGivenOne)
{
    const std::string ran = s_pTree->Path("ran");
    const std::string body =
        "#!/bin/sh\npwd -P > '" + ran + ".tmp' && mv '" + ran + ".tmp' '" + ran + "'\n";
    const std::string program = Write("prog dir/run me.sh", body, 0755);
    const std::string other = s_pTree->MakeFolder("files/other");
    for (const std::string& workingFolder : {std::string(), other}) {
        fs::remove(ran);
        EXPECT_EQ(Shell::Execute(program, nullptr, workingFolder), Shell::kAccepted);
        ASSERT_TRUE(WaitUntil([&] { return Exists(ran); }));
        const fs::path expected =
            workingFolder.empty() ? fs::path(program).parent_path() : fs::path(workingFolder);
        EXPECT_EQ(ReadText(ran), fs::canonical(expected).string() + "\n");
    }
    // Nothing of ours is left waiting to be reaped.
    EXPECT_TRUE(WaitUntil([] { return ZombieChildren() == 0; }));
}

TEST_F(ShellTest, ScriptWithoutExecuteBitIsADocument)
{
    const std::string marker = s_pTree->Path("script-ran");
    const std::string script = Write("tool.sh", "#!/bin/sh\ntouch '" + marker + "'\n", 0644);
    EXPECT_EQ(Shell::Execute(script, nullptr, ""), Shell::kAccepted);
    EXPECT_EQ(ArgumentsOf(TakeRecord()), Handed(script));
    EXPECT_FALSE(Exists(marker));
}

TEST_F(ShellTest, ExecuteBitAloneDoesNotMakeAProgram)
{
    // Without "#!" or an ELF header neither we nor a shell fallback may run it.
    const std::string marker = s_pTree->Path("text-ran");
    const std::string text = Write("readme.txt", "touch '" + marker + "'\n", 0755);
    EXPECT_EQ(Shell::Execute(text, nullptr, ""), Shell::kAccepted);
    EXPECT_EQ(ArgumentsOf(TakeRecord()), Handed(text));
    EXPECT_FALSE(Exists(marker));

    const std::string junk = Write("junk.quarrowunknown", std::string("\0\x13\x37junk", 7), 0755);
    EXPECT_EQ(Shell::Execute(junk, nullptr, ""), Shell::kErrNoAssoc);

    // A name that gives a document's type wins over a program's bytes and mode.
    const std::string notes = Write("notes.txt", "#!/bin/sh\ntouch '" + marker + "'\n", 0755);
    EXPECT_EQ(Shell::Execute(notes, nullptr, ""), Shell::kAccepted);
    EXPECT_EQ(ArgumentsOf(TakeRecord()), Handed(notes));
    const std::string manual = Write("manual.pdf", ReadText("/bin/true"), 0755);
    EXPECT_EQ(Shell::Execute(manual, nullptr, ""), Shell::kErrNoAssoc) << "not started";
    EXPECT_FALSE(Exists(marker));
}

TEST_F(ShellTest, ProgramsTheSystemRefusesReportWindowsCodes)
{
    // Even root may not run a file without any execute bit, here as the script's interpreter.
    const std::string interpreter = Write("interpreter", "#!/bin/sh\n", 0644);
    EXPECT_EQ(Shell::Execute(Write("refused.sh", "#!" + interpreter + "\n", 0755), nullptr, ""),
              Shell::kErrAccessDenied);
    const std::string badElf = Write("broken.bin", "\177ELF\011\011\011junk", 0755);
    EXPECT_EQ(Shell::Execute(badElf, nullptr, ""), Shell::kErrBadFormat);
    const std::string orphan = Write("orphan.sh", "#!/nonexistent/quarrow-shell\n", 0755);
    EXPECT_EQ(Shell::Execute(orphan, nullptr, ""), Shell::kErrFileNotFound);
}

TEST(ShellExecErrorTest, MapsErrnoToWindowsCodes)
{
    const std::pair<int, int> cases[] = {
        {EACCES, Shell::kErrAccessDenied},   {EPERM, Shell::kErrAccessDenied},
        {ENOEXEC, Shell::kErrBadFormat},     {ELIBBAD, Shell::kErrBadFormat},
        {ENOENT, Shell::kErrFileNotFound},   {ENOTDIR, Shell::kErrPathNotFound},
        {ETXTBSY, Shell::kErrShare},         {ENOMEM, Shell::kErrOutOfResources},
        {EAGAIN, Shell::kErrOutOfResources},
    };
    for (const auto& [errnum, code] : cases)
        EXPECT_EQ(Shell::ResultForExecError(errnum), code) << "errno " << errnum;
}

} // namespace
