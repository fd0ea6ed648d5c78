// SPDX-License-Identifier: GPL-3.0-or-later
#include "HostileDrive.h"

#include "DescriptorText.h"
#include "DriveWriter.h"
#include "catalogue/Description.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <stdexcept>
#include <string_view>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#include <utility>

namespace {

constexpr std::size_t kDescriptionCap = Description::kMaxDescriptionBytes;
constexpr std::size_t kValueLimit = 4095; // a profile value is cut here
constexpr const char* kNoDescription = "No Description Available.";
constexpr const char* kNotFound = "Error: Description file not found.";
constexpr const char* kTooLarge = "Error: Description file too large.";

[[noreturn]] void Fail(const std::string& what, const std::string& path)
{
    throw std::runtime_error(what + " failed (errno " + std::to_string(errno) + "): " + path);
}

CDescriptorText Info(std::string_view category, std::string_view name)
{
    CDescriptorText text;
    text.Info(category, name);
    return text;
}

std::string Numbered(const char* format, int n)
{
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, format, n);
    return buffer;
}

// Writes through the file system only when asked to; otherwise it only records the apps.
class CBuilder {
public:
    CBuilder(const std::string& base, bool create)
        : m_bCreate(create)
        , m_writer(base)
    {
        m_drive.strBase = base;
        m_drive.strRoot = base + "/drive";
        m_drive.strOutside = base + "/outside";
    }

    HostileDrive Take() { return std::move(m_drive); }
    bool Creating() const noexcept { return m_bCreate; }
    std::string Path(const std::string& relative) const { return m_writer.Path(relative); }

    void Folder(const std::string& relative)
    {
        if (m_bCreate)
            m_writer.MakeFolder(relative);
    }

    void File(const std::string& relative, std::string_view content)
    {
        if (m_bCreate)
            m_writer.WriteFile(relative, content);
    }

    // A file of this size that takes no room: its bytes read as NULs.
    void Sparse(const std::string& relative, std::size_t size)
    {
        if (!m_bCreate)
            return;
        File(relative, {});
        if (::truncate(Path(relative).c_str(), static_cast<off_t>(size)) != 0)
            Fail("truncate", Path(relative));
    }

    void Link(const std::string& relative, const std::string& target)
    {
        if (m_bCreate)
            m_writer.MakeLink(relative, target);
    }

    void Fifo(const std::string& relative)
    {
        if (m_bCreate)
            m_writer.MakeFifo(relative);
    }

    // A bound Unix socket; a FIFO where the path is too long for one.
    void Socket(const std::string& relative)
    {
        if (!m_bCreate)
            return;
        if (!CDriveWriter::FitsSocket(Path(relative)))
            return Fifo(relative);
        m_writer.MakeSocket(relative);
    }

    // The null device's own numbers; a link to it where device nodes are refused.
    void Device(const std::string& relative)
    {
        if (m_bCreate && ::mknod(Path(relative).c_str(), S_IFCHR | 0644, makedev(1, 3)) != 0)
            Link(relative, "/dev/null");
    }

    // Applied last by the caller: a locked folder cannot be filled.
    void Mode(const std::string& relative, mode_t mode)
    {
        if (m_bCreate)
            m_writer.SetMode(relative, mode);
    }

    void App(HostileApp app) { m_drive.apps.push_back(std::move(app)); }

private:
    bool m_bCreate;
    CDriveWriter m_writer;
    HostileDrive m_drive;
};

void AddPlainAndLinks(CBuilder& b)
{
    b.Folder("drive/plain");
    b.File("drive/plain/plain.brw", Info("Plain", HostileNames::kPlain)
                                        .Section("description")
                                        .Key("line1", "Hello")
                                        .Key("line2", "World")
                                        .Text());
    b.File("drive/plain/readme.txt", "r");
    b.File("drive/plain/setup.exe", "not a program");
    b.App({"Plain", HostileNames::kPlain, "plain", "Hello\nWorld\n", 2});

    // Nothing here may be listed: the targets are outside the drive or already walked.
    b.Folder("outside");
    b.File("outside/escape.brw", Info("Outside", "Escaped").Text());
    b.Folder("drive/links/loop");
    b.Link("drive/links/up", "..");
    b.Link("drive/links/root", "/");
    b.Link("drive/links/base", b.Path(""));
    b.Link("drive/links/outside", "../../outside");
    b.Link("drive/links/self", ".");
    b.Link("drive/links/loop/again", "../loop");
    b.Link("drive/links/inside", "../plain");
    b.Link("drive/links/dangling.brw", "nowhere.brw");
    b.Link("drive/links/zero.brw", "/dev/zero");
    b.Link("drive/links/escape.brw", "../../outside/escape.brw");
}

void AddSpecialFiles(CBuilder& b)
{
    b.Folder("drive/special");
    b.Fifo("drive/special/fifo.brw");
    b.Socket("drive/special/socket.brw");
    b.Device("drive/special/device.brw");
    b.Fifo("drive/special/description.txt");

    const struct {
        const char* folder;
        const char* name;
        void (CBuilder::*make)(const std::string&);
    } kinds[] = {
        {"fifo", HostileNames::kFifoDescription, &CBuilder::Fifo},
        {"socket", HostileNames::kSocketDescription, &CBuilder::Socket},
        {"device", HostileNames::kDeviceDescription, &CBuilder::Device},
    };
    for (const auto& kind : kinds) {
        const std::string folder = std::string("drive/special/") + kind.folder;
        b.Folder(folder);
        b.File(folder + "/app.brw",
               Info("Special", kind.name).Section("description").Key("file", "d.txt").Text());
        (b.*kind.make)(folder + "/d.txt");
        b.App({"Special", kind.name, folder.substr(6), kNotFound, -1});
    }
}

void AddLocked(CBuilder& b)
{
    b.Folder("drive/locked/folder");
    b.File("drive/locked/folder/hidden.brw", Info("Locked", "In Locked Folder").Text());
    b.App({"Locked", "In Locked Folder", "locked/folder", kNoDescription, 0, true});
    b.Folder("drive/locked/xonly");
    b.File("drive/locked/xonly/hidden.brw", Info("Locked", "In Unlistable Folder").Text());
    b.App({"Locked", "In Unlistable Folder", "locked/xonly", kNoDescription, 0, true});
    b.Folder("drive/locked/descriptor");
    b.File("drive/locked/descriptor/locked.brw", Info("Locked", "Locked Descriptor").Text());
    b.App({"Locked", "Locked Descriptor", "locked/descriptor", kNoDescription, 0, true});
    b.Folder("drive/locked/description");
    b.File("drive/locked/description/app.brw", Info("Locked", HostileNames::kLockedDescription)
                                                   .Section("description")
                                                   .Key("file", "secret.txt")
                                                   .Text());
    b.File("drive/locked/description/secret.txt", "secret");
    HostileApp locked{"Locked", HostileNames::kLockedDescription, "locked/description", "secret",
                      1};
    locked.bDescriptionLocked = true;
    b.App(locked);

    b.Mode("drive/locked/folder", 0);
    b.Mode("drive/locked/xonly", 0111);
    b.Mode("drive/locked/descriptor/locked.brw", 0);
    b.Mode("drive/locked/description/secret.txt", 0);
}

void AddAwkwardNames(CBuilder& b)
{
    b.Folder("drive/names/caf\xe9");
    b.File("drive/names/caf\xe9/caf\xe9.brw", Info("Caf\xe9s", "Caf\xe9 Folder")
                                                  .Section("description")
                                                  .Key("file", "r\xe9sum\xe9.txt")
                                                  .Text());
    b.File("drive/names/caf\xe9/r\xe9sum\xe9.txt", "Caf\xe9 au lait");
    // The tree shows them as their code page reads them.
    b.App({"Caf\xc3\xa9s", HostileNames::kLatin1, "names/caf\xe9", "Caf\xc3\xa9 au lait", 1});

    b.Folder("drive/names/new\nline");
    b.File("drive/names/new\nline/new\nline.brw", Info("Names", HostileNames::kNewline).Text());
    b.File("drive/names/new\nline/a\nb.txt", "x");
    b.App({"Names", HostileNames::kNewline, "names/new\nline", kNoDescription, 1});

    // A backslash in a value always separates folders, so this names a missing folder.
    b.Folder("drive/names/back\\slash");
    b.File("drive/names/back\\slash/app.brw", Info("Names", HostileNames::kBackslash)
                                                  .Section("description")
                                                  .Key("file", "a\\b.txt")
                                                  .Text());
    b.File("drive/names/back\\slash/a\\b.txt", "literal");
    b.App({"Names", HostileNames::kBackslash, "names/back\\slash", kNotFound, 1});

    b.Folder("drive/names/-rf");
    b.File("drive/names/-rf/-rf.brw",
           Info("Names", HostileNames::kDash).Section("description").Key("file", "-n.txt").Text());
    b.File("drive/names/-rf/-n.txt", "dash");
    b.File("drive/names/-rf/--help.exe", "");
    b.App({"Names", HostileNames::kDash, "names/-rf", "dash", 2});

    const std::string folder = "drive/names/" + std::string(255, 'L');
    b.Folder(folder);
    b.File(folder + "/" + std::string(251, 'l') + ".brw",
           Info("Names", HostileNames::kLongName).Text());
    b.File(folder + "/" + std::string(251, 't') + ".txt", "");
    b.App({"Names", HostileNames::kLongName, folder.substr(6), kNoDescription, 1});
}

// Too deep for any path the kernel takes, so each level is made from its parent's handle.
void AddDeep(CBuilder& b, int depth)
{
    std::string relative = "deep";
    for (int level = 0; level < depth; ++level)
        relative += "/d";
    b.App({"Deep", HostileNames::kDeep, relative, "Down here\n", 1});
    if (!b.Creating())
        return;
    b.Folder("drive/deep");
    CDriveWriter::CFd folder = CDriveWriter::OpenFolder(b.Path("drive/deep"));
    for (int level = 0; level < depth; ++level)
        folder = CDriveWriter::MakeFolderAt(folder.Get(), "d");
    CDriveWriter::WriteFileAt(
        folder.Get(), "deep.brw",
        Info("Deep", HostileNames::kDeep).Section("description").Key("line1", "Down here").Text());
    CDriveWriter::WriteFileAt(folder.Get(), "bottom.txt", "b");
}

// Many descriptors in one folder, and many categories.
void AddCrowds(CBuilder& b, int crowd, int categories)
{
    b.Folder("drive/crowd");
    const CDriveWriter::CFd folder =
        b.Creating() ? CDriveWriter::OpenFolder(b.Path("drive/crowd")) : CDriveWriter::CFd();
    for (int i = 0; i < crowd; ++i) {
        const std::string name = Numbered("Crowd %05d", i);
        if (b.Creating())
            CDriveWriter::WriteFileAt(folder.Get(), Numbered("app%05d.brw", i),
                                      Info("Crowd", name).Text());
        b.App({"Crowd", name, "crowd", kNoDescription, 0});
    }
    constexpr int kPerFolder = 100;
    for (int i = 0; i < categories; ++i) {
        const std::string group = Numbered("drive/categories/g%03d", i / kPerFolder);
        if (i % kPerFolder == 0)
            b.Folder(group);
        const std::string category = Numbered("Category %04d", i);
        b.File(group + Numbered("/m%04d.brw", i),
               Info(category, Numbered("Member %04d", i)).Text());
        b.App({category, Numbered("Member %04d", i), group.substr(6), kNoDescription, 0});
    }
}

// Descriptors far larger than any real one: the reader must still answer, the pane must not
// take a description of tens of megabytes.
void AddBigDescriptors(CBuilder& b, const HostileSizes& sizes)
{
    b.Folder("drive/big/lines");
    b.App({"Big", HostileNames::kBigDescriptor, "big/lines", kTooLarge, 0});
    if (b.Creating()) {
        std::string content =
            Info("Big", HostileNames::kBigDescriptor).Section("description").Text();
        content.reserve(sizes.nBigDescriptor + 2048);
        const std::string text(1000, 'w');
        for (int n = 1; content.size() < sizes.nBigDescriptor; ++n)
            content += "line" + std::to_string(n) + "=" + text + "\r\n";
        b.File("drive/big/lines/big.brw", content);
    }

    b.Folder("drive/big/long");
    const std::string name(kValueLimit, 'x');
    b.App({"Long", name, "big/long", "Short\n", 0});
    if (b.Creating()) {
        std::string content = "[info]\r\ncategory=Long\r\nname=";
        content.append(sizes.nLongLine, 'x');
        content += "\r\n[description]\r\nline1=Short\r\n";
        b.File("drive/big/long/long.brw", content);
    }

    // Binary junk: a seeded generator keeps it the same on every run.
    b.Folder("drive/junk");
    std::string junk(1u << 20, '\0');
    std::uint32_t state = 20240601;
    for (char& c : junk) {
        state = state * 1664525u + 1013904223u;
        c = static_cast<char>(state >> 24);
    }
    b.File("drive/junk/junk.brw", junk);
    b.File("drive/junk/empty.brw", "");
    constexpr char kNulJunk[] = "\0\0[info]\0category=Junk\0";
    b.File("drive/junk/nul.brw", std::string(kNulJunk, sizeof kNulJunk - 1));
}

void AddDescriptionFiles(CBuilder& b, const HostileSizes& sizes)
{
    const auto add = [&](const char* folder, const char* name, const std::string& pane) {
        const std::string path = std::string("drive/desc/") + folder;
        b.Folder(path);
        b.File(path + "/app.brw",
               Info("Descriptions", name).Section("description").Key("file", "d.txt").Text());
        b.App({"Descriptions", name, path.substr(6), pane, 1});
        return path + "/d.txt";
    };
    b.Sparse(add("huge", HostileNames::kHugeDescription, kTooLarge), sizes.nHugeDescription);

    // Ordinary lines of text, few enough that only the byte count decides.
    std::string text;
    text.reserve(kDescriptionCap + 1);
    const std::string line = std::string(99, 'a') + "\n";
    while (text.size() + line.size() <= kDescriptionCap)
        text += line;
    text.append(kDescriptionCap - text.size(), 'z');
    b.File(add("at", HostileNames::kAtCap, text), text);
    text += "!";
    b.File(add("over", HostileNames::kOverCap, kTooLarge), text);
}

void AddFlat(CBuilder& b, int files)
{
    b.Folder("drive/flat");
    b.File("drive/flat/flat.brw", Info("Flat", HostileNames::kFlat).Text());
    b.App({"Flat", HostileNames::kFlat, "flat", kNoDescription, files});
    if (!b.Creating())
        return;
    const CDriveWriter::CFd folder = CDriveWriter::OpenFolder(b.Path("drive/flat"));
    for (int i = 0; i < files; ++i)
        CDriveWriter::WriteFileAt(folder.Get(),
                                  Numbered(i % 20 == 0 ? "F%06d.EXE" : "f%06d.txt", i), {});
}

HostileDrive Build(const std::string& base, const HostileSizes& sizes, bool create)
{
    CBuilder b(base, create);
    b.Folder("drive");
    b.File("drive/autorun.inf", "[autorun]\r\nlabel=Hostile\r\n");
    AddPlainAndLinks(b);
    AddSpecialFiles(b);
    AddAwkwardNames(b);
    AddDeep(b, sizes.nDepth);
    AddCrowds(b, sizes.nCrowd, sizes.nCategories);
    AddBigDescriptors(b, sizes);
    AddDescriptionFiles(b, sizes);
    AddFlat(b, sizes.nFlatFiles);
    AddLocked(b);
    return b.Take();
}

} // namespace

HostileSizes HostileSizes::Small()
{
    HostileSizes sizes;
    sizes.nDepth = 300;
    sizes.nCrowd = 500;
    sizes.nCategories = 200;
    sizes.nBigDescriptor = 4u << 20;
    sizes.nLongLine = 1u << 20;
    sizes.nHugeDescription = 8u << 20;
    sizes.nFlatFiles = 2000;
    return sizes;
}

const HostileApp* HostileDrive::Find(const std::string& name) const
{
    for (const HostileApp& app : apps)
        if (app.strName == name)
            return &app;
    return nullptr;
}

HostileDrive DescribeHostileDrive(const std::string& base, const HostileSizes& sizes)
{
    return Build(base, sizes, false);
}

HostileDrive BuildHostileDrive(const std::string& base, const HostileSizes& sizes)
{
    if (::mkdir(base.c_str(), 0755) != 0 && errno != EEXIST)
        Fail("mkdir", base);
    return Build(base, sizes, true);
}
