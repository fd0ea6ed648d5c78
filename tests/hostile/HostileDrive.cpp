#include "HostileDrive.h"

#include "catalogue/Description.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <fcntl.h>
#include <stdexcept>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <unistd.h>

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

class CFd {
public:
    explicit CFd(int fd)
        : m_fd(fd)
    {}
    ~CFd()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    CFd(const CFd&) = delete;
    CFd& operator=(const CFd&) = delete;
    int Get() const noexcept { return m_fd; }

private:
    int m_fd;
};

void WriteAll(int fd, std::string_view content, const std::string& path)
{
    while (!content.empty()) {
        const ssize_t n = ::write(fd, content.data(), content.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            Fail("write", path);
        content.remove_prefix(static_cast<std::size_t>(n));
    }
}

void WriteAt(int folder, const std::string& name, std::string_view content)
{
    CFd fd(::openat(folder, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644));
    if (fd.Get() < 0)
        Fail("create", name);
    WriteAll(fd.Get(), content, name);
}

std::string Info(std::string_view category, std::string_view name)
{
    return "[info]\r\ncategory=" + std::string(category) + "\r\nname=" + std::string(name) + "\r\n";
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
    {
        m_drive.strBase = base;
        m_drive.strRoot = base + "/drive";
        m_drive.strOutside = base + "/outside";
    }

    HostileDrive Take() { return std::move(m_drive); }
    bool Creating() const noexcept { return m_bCreate; }
    std::string Path(const std::string& relative) const { return m_drive.strBase + "/" + relative; }

    void Folder(const std::string& relative)
    {
        if (!m_bCreate)
            return;
        std::string path;
        for (std::size_t start = 0; start <= relative.size();) {
            std::size_t end = relative.find('/', start);
            if (end == std::string::npos)
                end = relative.size();
            path = Path(relative.substr(0, end));
            if (::mkdir(path.c_str(), 0755) != 0 && errno != EEXIST)
                Fail("mkdir", path);
            start = end + 1;
        }
    }

    void File(const std::string& relative, std::string_view content)
    {
        if (!m_bCreate)
            return;
        CFd fd(::open(Path(relative).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
        if (fd.Get() < 0)
            Fail("create", Path(relative));
        WriteAll(fd.Get(), content, relative);
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
        if (m_bCreate && ::symlink(target.c_str(), Path(relative).c_str()) != 0)
            Fail("symlink", Path(relative));
    }

    void Fifo(const std::string& relative)
    {
        if (m_bCreate && ::mkfifo(Path(relative).c_str(), 0644) != 0)
            Fail("mkfifo", Path(relative));
    }

    // A bound Unix socket; a FIFO where the path is too long for one.
    void Socket(const std::string& relative)
    {
        if (!m_bCreate)
            return;
        const std::string path = Path(relative);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        if (path.size() >= sizeof address.sun_path)
            return Fifo(relative);
        path.copy(address.sun_path, path.size());
        CFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
        if (fd.Get() < 0 ||
            ::bind(fd.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
            Fail("bind", path);
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
        if (m_bCreate && ::chmod(Path(relative).c_str(), mode) != 0)
            Fail("chmod", Path(relative));
    }

    void App(HostileApp app) { m_drive.apps.push_back(std::move(app)); }

private:
    bool m_bCreate;
    HostileDrive m_drive;
};

void AddPlainAndLinks(CBuilder& b)
{
    b.Folder("drive/plain");
    b.File("drive/plain/plain.brw",
           Info("Plain", HostileNames::kPlain) + "[description]\r\nline1=Hello\r\nline2=World\r\n");
    b.File("drive/plain/readme.txt", "r");
    b.File("drive/plain/setup.exe", "not a program");
    b.App({"Plain", HostileNames::kPlain, "plain", "Hello\nWorld\n", 2});

    // Nothing here may be listed: the targets are outside the drive or already walked.
    b.Folder("outside");
    b.File("outside/escape.brw", Info("Outside", "Escaped"));
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
        b.File(folder + "/app.brw", Info("Special", kind.name) + "[description]\r\nfile=d.txt\r\n");
        (b.*kind.make)(folder + "/d.txt");
        b.App({"Special", kind.name, folder.substr(6), kNotFound, -1});
    }
}

void AddLocked(CBuilder& b)
{
    b.Folder("drive/locked/folder");
    b.File("drive/locked/folder/hidden.brw", Info("Locked", "In Locked Folder"));
    b.App({"Locked", "In Locked Folder", "locked/folder", kNoDescription, 0, true});
    b.Folder("drive/locked/xonly");
    b.File("drive/locked/xonly/hidden.brw", Info("Locked", "In Unlistable Folder"));
    b.App({"Locked", "In Unlistable Folder", "locked/xonly", kNoDescription, 0, true});
    b.Folder("drive/locked/descriptor");
    b.File("drive/locked/descriptor/locked.brw", Info("Locked", "Locked Descriptor"));
    b.App({"Locked", "Locked Descriptor", "locked/descriptor", kNoDescription, 0, true});
    b.Folder("drive/locked/description");
    b.File("drive/locked/description/app.brw", Info("Locked", HostileNames::kLockedDescription) +
                                                   "[description]\r\nfile=secret.txt\r\n");
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
    b.File("drive/names/caf\xe9/caf\xe9.brw",
           Info("Caf\xe9s", "Caf\xe9 Folder") + "[description]\r\nfile=r\xe9sum\xe9.txt\r\n");
    b.File("drive/names/caf\xe9/r\xe9sum\xe9.txt", "Caf\xe9 au lait");
    // The tree shows them as their code page reads them.
    b.App({"Caf\xc3\xa9s", HostileNames::kLatin1, "names/caf\xe9", "Caf\xc3\xa9 au lait", 1});

    b.Folder("drive/names/new\nline");
    b.File("drive/names/new\nline/new\nline.brw", Info("Names", HostileNames::kNewline));
    b.File("drive/names/new\nline/a\nb.txt", "x");
    b.App({"Names", HostileNames::kNewline, "names/new\nline", kNoDescription, 1});

    // A backslash in a value always separates folders, so this names a missing folder.
    b.Folder("drive/names/back\\slash");
    b.File("drive/names/back\\slash/app.brw",
           Info("Names", HostileNames::kBackslash) + "[description]\r\nfile=a\\b.txt\r\n");
    b.File("drive/names/back\\slash/a\\b.txt", "literal");
    b.App({"Names", HostileNames::kBackslash, "names/back\\slash", kNotFound, 1});

    b.Folder("drive/names/-rf");
    b.File("drive/names/-rf/-rf.brw",
           Info("Names", HostileNames::kDash) + "[description]\r\nfile=-n.txt\r\n");
    b.File("drive/names/-rf/-n.txt", "dash");
    b.File("drive/names/-rf/--help.exe", "");
    b.App({"Names", HostileNames::kDash, "names/-rf", "dash", 2});

    const std::string folder = "drive/names/" + std::string(255, 'L');
    b.Folder(folder);
    b.File(folder + "/" + std::string(251, 'l') + ".brw", Info("Names", HostileNames::kLongName));
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
    int folder = ::open(b.Path("drive/deep").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    for (int level = 0; folder >= 0 && level < depth; ++level) {
        if (::mkdirat(folder, "d", 0755) != 0)
            Fail("mkdirat", "deep level " + std::to_string(level));
        const int child = ::openat(folder, "d", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        ::close(folder);
        folder = child;
    }
    if (folder < 0)
        Fail("openat", "deep");
    CFd bottom(folder);
    WriteAt(bottom.Get(), "deep.brw",
            Info("Deep", HostileNames::kDeep) + "[description]\r\nline1=Down here\r\n");
    WriteAt(bottom.Get(), "bottom.txt", "b");
}

// Many descriptors in one folder, and many categories.
void AddCrowds(CBuilder& b, int crowd, int categories)
{
    b.Folder("drive/crowd");
    CFd folder(b.Creating() ? ::open(b.Path("drive/crowd").c_str(), O_RDONLY | O_DIRECTORY) : -1);
    for (int i = 0; i < crowd; ++i) {
        const std::string name = Numbered("Crowd %05d", i);
        if (b.Creating())
            WriteAt(folder.Get(), Numbered("app%05d.brw", i), Info("Crowd", name));
        b.App({"Crowd", name, "crowd", kNoDescription, 0});
    }
    constexpr int kPerFolder = 100;
    for (int i = 0; i < categories; ++i) {
        const std::string group = Numbered("drive/categories/g%03d", i / kPerFolder);
        if (i % kPerFolder == 0)
            b.Folder(group);
        const std::string category = Numbered("Category %04d", i);
        b.File(group + Numbered("/m%04d.brw", i), Info(category, Numbered("Member %04d", i)));
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
        std::string content = Info("Big", HostileNames::kBigDescriptor) + "[description]\r\n";
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
        b.File(path + "/app.brw", Info("Descriptions", name) + "[description]\r\nfile=d.txt\r\n");
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
    b.File("drive/flat/flat.brw", Info("Flat", HostileNames::kFlat));
    b.App({"Flat", HostileNames::kFlat, "flat", kNoDescription, files});
    if (!b.Creating())
        return;
    CFd folder(::open(b.Path("drive/flat").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    for (int i = 0; i < files; ++i)
        WriteAt(folder.Get(), Numbered(i % 20 == 0 ? "F%06d.EXE" : "f%06d.txt", i), {});
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
