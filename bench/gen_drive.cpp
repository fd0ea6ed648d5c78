// SPDX-License-Identifier: GPL-3.0-or-later
// Builds a synthetic drive for the scan and file-list benchmarks. The same seed and options
// always give the same tree: every choice comes from one std::mt19937_64, and only its raw
// output is used (the std distributions differ between standard libraries).
//
//   gen_drive --out DIR [--seed N] [--files N] [--folders N] [--depth N]
//             [--descriptor-every N] [--categories N]
//   gen_drive --flat DIR [--seed N] [--files N] [--exe-every N]

#include "DescriptorText.h"
#include "DriveWriter.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct COptions {
    std::string strOut;
    bool bFlat = false;
    std::uint64_t nSeed = 1;
    std::size_t nFiles = 300000;
    std::size_t nFolders = 30000;
    std::size_t nDepth = 8;
    std::size_t nDescriptorEvery = 150;
    std::size_t nCategories = 40;
    std::size_t nExeEvery = 10;
};

[[noreturn]] void Fail(const std::string& what)
{
    std::fprintf(stderr, "gen_drive: %s\n", what.c_str());
    std::exit(1);
}

[[noreturn]] void FailErrno(const std::string& what)
{
    Fail(what + ": " + std::strerror(errno));
}

class CRandom {
public:
    explicit CRandom(std::uint64_t seed)
        : m_engine(seed)
    {}

    // Uniform in [0, n); the modulo bias is far below anything a benchmark could notice.
    std::size_t Below(std::size_t n) { return n == 0 ? 0 : m_engine() % n; }
    // True with probability 1/n.
    bool OneIn(std::size_t n) { return Below(n) == 0; }
    template <class T>
    const T& Pick(const std::vector<T>& items)
    {
        return items[Below(items.size())];
    }

private:
    std::mt19937_64 m_engine;
};

char Upper(char c)
{
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}
char Lower(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// Discs authored on Windows mix every spelling: "SETUP", "setup", "Setup".
std::string CaseVariant(CRandom& rnd, std::string_view text, std::size_t asIsOneIn = 2)
{
    std::string out(text);
    if (rnd.OneIn(asIsOneIn))
        return out;
    switch (rnd.Below(3)) {
    case 0:
        std::transform(out.begin(), out.end(), out.begin(), Upper);
        break;
    case 1:
        std::transform(out.begin(), out.end(), out.begin(), Lower);
        break;
    default:
        std::transform(out.begin(), out.end(), out.begin(), Lower);
        if (!out.empty())
            out[0] = Upper(out[0]);
        break;
    }
    return out;
}

std::string Number(std::size_t n, int width = 4)
{
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%0*zu", width, n);
    return buffer;
}

const std::vector<std::string> kFolderStems = {
    "Setup",  "DATA",   "bin",     "Games",   "Utils",  "Docs",  "Drivers", "Sound",
    "Video",  "Extras", "Program", "TOOLS",   "Demo",   "Patch", "Fonts",   "Images",
    "Levels", "Music",  "Manual",  "Install", "System", "Win32", "Disk",    "Shareware",
};
const std::vector<std::string> kFileStems = {
    "Setup", "readme",  "Data",   "install", "Game",   "Manual", "Intro", "Level", "Sound",
    "Patch", "License", "Config", "Help",    "Update", "Demo",   "Font",  "Map",   "Music",
};
const std::vector<std::string> kExtensions = {
    ".exe", ".txt", ".bin", ".dat", ".dll", ".ini", ".hlp", ".doc", ".zip", ".me",
    ".ico", ".bmp", ".wav", ".cfg", ".pcx", ".mid", ".bat", ".com", "",
};
const std::vector<std::string> kFlatExtensions = {
    ".txt", ".zip", ".me", ".hlp", ".dat", ".doc", ".ini", ".bin", ".dll", ".ico", ".wav", "",
};
const std::vector<std::string> kCategoryWords = {
    "Games",      "Utilities",    "Education", "Graphics", "Sound",       "Business",
    "Internet",   "Demos",        "Drivers",   "Fonts",    "Programming", "Science",
    "Multimedia", "Office",       "Puzzles",   "Arcade",   "Strategy",    "Simulation",
    "Sports",     "Screensavers", "Desktop",   "Security", "Disk Tools",  "Archivers",
    "Music",      "Video",        "Reference", "Home",     "Finance",     "Health",
    "Languages",  "Maths",        "Kids",      "Hobbies",  "Travel",      "Communication",
    "Network",    "Printing",     "Backup",    "System",
};
const std::vector<std::string> kDescriptorStems = {"Setup", "app", "Program", "Install", "info"};
const std::vector<std::string> kDescriptionLines = {
    "Runs straight from the CD.",         "Needs 4 MB of memory.",
    "Shareware: register after 30 days.", "Checks and repairs disks.",
    "Sound Blaster or compatible.",       "Copy to the hard disk before use.",
};
const std::vector<std::string> kPatterns = {"*.exe",      "*.txt", "readme.*",  "*.hlp",
                                            "bin\\*.exe", "*.doc", "setup.?xe", "*.*"};

std::vector<std::string> CategoryPool(std::size_t count)
{
    std::vector<std::string> pool;
    for (std::size_t i = 0; i < count; ++i) {
        std::string name = kCategoryWords[i % kCategoryWords.size()];
        if (i >= kCategoryWords.size()) {
            name += ' ';
            name += std::to_string(i / kCategoryWords.size() + 1);
        }
        pool.push_back(std::move(name));
    }
    return pool;
}

struct CDescriptorTally {
    std::size_t nDescriptors = 0;
    std::size_t nUnlisted = 0;
    std::unordered_set<std::string> setCategories; // lower-cased, listed ones only
};

std::string LowerAscii(std::string s)
{
    std::transform(s.begin(), s.end(), s.begin(), Lower);
    return s;
}

// A few lines of INI, in the shapes that discs carry: some without a category (so not
// listed), some hidden with "nil", Windows and Unix line ends, optional sections.
std::string DescriptorText(CRandom& rnd, const std::vector<std::string>& categories,
                           std::size_t index, bool showFiles, CDescriptorTally& tally)
{
    CDescriptorText text(rnd.OneIn(2) ? "\r\n" : "\n");
    text.Section("info");
    ++tally.nDescriptors;
    if (rnd.OneIn(50)) {
        ++tally.nUnlisted; // no category key: the default "nil" hides it
    } else if (rnd.OneIn(50)) {
        ++tally.nUnlisted;
        text.Key("category", "nil");
    } else {
        // Only the lower-case "nil" hides; "NIL" is a category like any other.
        const std::string category =
            rnd.OneIn(500) ? std::string("NIL") : CaseVariant(rnd, rnd.Pick(categories), 4);
        tally.setCategories.insert(LowerAscii(category));
        text.Key("category", category);
    }
    if (!rnd.OneIn(20))
        text.Key("name", CaseVariant(rnd, "Application", 3) + " " + Number(index));
    if (rnd.OneIn(2)) {
        text.Section("description");
        const std::size_t lines = 1 + rnd.Below(4);
        for (std::size_t i = 1; i <= lines; ++i)
            text.Key("line" + std::to_string(i), rnd.Pick(kDescriptionLines));
    }
    if (showFiles) {
        text.Section("showfiles");
        if (rnd.OneIn(2))
            text.Key("searchsubdirs", rnd.OneIn(2) ? "true" : "FALSE");
        const std::size_t patterns = 1 + rnd.Below(3);
        for (std::size_t i = 1; i <= patterns; ++i)
            text.Key("file" + std::to_string(i), rnd.Pick(kPatterns));
    }
    return text.Text();
}

std::string DescriptorName(CRandom& rnd, std::size_t index)
{
    std::string name = CaseVariant(rnd, rnd.Pick(kDescriptorStems)) + "_" + Number(index);
    const std::size_t kind = rnd.Below(20);
    name += kind < 16 ? ".brw" : kind < 19 ? ".BRW" : ".Brw";
    return name;
}

std::string FileName(CRandom& rnd, std::size_t index, const std::vector<std::string>& extensions)
{
    std::string name = CaseVariant(rnd, rnd.Pick(kFileStems));
    name += rnd.OneIn(3) ? "-" : "_";
    name += Number(index, 5);
    if (rnd.OneIn(1000))
        name += "\xe9"; // Latin-1 byte: names are bytes, not always UTF-8
    name += CaseVariant(rnd, rnd.Pick(extensions));
    return name;
}

// Opens the output folder, creating it when missing; refuses one that holds anything, so a
// tree is never a mix of two runs.
CDriveWriter::CFd OpenEmptyFolder(const std::string& path)
{
    if (mkdir(path.c_str(), 0755) != 0 && errno != EEXIST)
        FailErrno("cannot create " + path);
    CDriveWriter::CFd fd = CDriveWriter::OpenFolder(path);
    DIR* dir = fdopendir(dup(fd.Get()));
    if (dir == nullptr)
        FailErrno("cannot list " + path);
    while (const dirent* entry = readdir(dir)) {
        if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
            Fail(path + " is not empty");
    }
    closedir(dir);
    return fd;
}

struct CFolder {
    std::size_t nParent = 0;
    std::size_t nDepth = 0;
    std::string strName;
};

struct CPlannedFile {
    std::string strName;
    std::string strContent;
};

// Offsets of each group in an array sorted by group, from a key per item.
std::vector<std::size_t> GroupOffsets(const std::vector<std::size_t>& keys, std::size_t groups)
{
    std::vector<std::size_t> offsets(groups + 1, 0);
    for (std::size_t key : keys)
        ++offsets[key + 1];
    for (std::size_t i = 0; i < groups; ++i)
        offsets[i + 1] += offsets[i];
    return offsets;
}

void GenerateTree(const COptions& options)
{
    CRandom rnd(options.nSeed);
    const std::size_t folderCount = std::max<std::size_t>(options.nFolders, 1);
    const std::vector<std::string> categories = CategoryPool(options.nCategories);

    // Folder 0 is the root. Parents always come before children, so creation in index
    // order would work too; the walk below goes depth first to keep one open fd per level.
    if (options.nDepth == 0 && folderCount > 1)
        Fail("--depth must be at least 1 when --folders is above 1");
    std::vector<CFolder> folders(folderCount);
    std::vector<std::size_t> openParents = {0}; // folders that may still get children
    for (std::size_t i = 1; i < folderCount; ++i) {
        CFolder& folder = folders[i];
        // The shallower of two picks: a plain random tree piles most folders at the
        // depth limit, while discs are bushier near the top.
        const std::size_t first = rnd.Pick(openParents);
        const std::size_t second = rnd.Pick(openParents);
        folder.nParent = folders[second].nDepth < folders[first].nDepth ? second : first;
        folder.nDepth = folders[folder.nParent].nDepth + 1;
        std::string name = CaseVariant(rnd, rnd.Pick(kFolderStems));
        name += rnd.OneIn(8) ? " " : "_";
        name += Number(i, 5);
        folder.strName = std::move(name);
        if (folder.nDepth < options.nDepth)
            openParents.push_back(i);
    }

    // Skewed folder sizes: most folders hold a few files, some hold hundreds.
    std::vector<std::uint64_t> cumulative(folderCount);
    std::uint64_t total = 0;
    for (std::size_t i = 0; i < folderCount; ++i) {
        const std::uint64_t weight = rnd.OneIn(100) ? 100 + rnd.Below(400) : 1 + rnd.Below(16);
        total += weight;
        cumulative[i] = total;
    }

    CDescriptorTally tally;
    std::vector<CPlannedFile> files(options.nFiles);
    std::vector<std::size_t> fileFolder(options.nFiles);
    const std::size_t every = std::max<std::size_t>(options.nDescriptorEvery, 1);
    for (std::size_t i = 0; i < options.nFiles; ++i) {
        const std::uint64_t point = rnd.Below(total);
        fileFolder[i] = static_cast<std::size_t>(
            std::upper_bound(cumulative.begin(), cumulative.end(), point) - cumulative.begin());
        if (i % every == every - 1) {
            files[i].strName = DescriptorName(rnd, i);
            files[i].strContent = DescriptorText(rnd, categories, i, rnd.OneIn(3), tally);
        } else {
            files[i].strName = FileName(rnd, i, kExtensions);
        }
    }

    // Children and files grouped by folder, in index order.
    std::vector<std::size_t> parentKeys(folderCount - 1);
    for (std::size_t i = 1; i < folderCount; ++i)
        parentKeys[i - 1] = folders[i].nParent;
    const std::vector<std::size_t> childOffsets = GroupOffsets(parentKeys, folderCount);
    std::vector<std::size_t> children(folderCount - 1);
    {
        std::vector<std::size_t> next(childOffsets.begin(), childOffsets.end() - 1);
        for (std::size_t i = 1; i < folderCount; ++i)
            children[next[folders[i].nParent]++] = i;
    }
    const std::vector<std::size_t> fileOffsets = GroupOffsets(fileFolder, folderCount);
    std::vector<std::size_t> filesByFolder(options.nFiles);
    {
        std::vector<std::size_t> next(fileOffsets.begin(), fileOffsets.end() - 1);
        for (std::size_t i = 0; i < options.nFiles; ++i)
            filesByFolder[next[fileFolder[i]]++] = i;
    }

    struct Level {
        std::size_t nFolder;
        CDriveWriter::CFd fd;
        std::size_t nNextChild;
    };
    std::vector<Level> stack;
    auto enter = [&](std::size_t folder, CDriveWriter::CFd fd) {
        for (std::size_t k = fileOffsets[folder]; k < fileOffsets[folder + 1]; ++k) {
            const CPlannedFile& file = files[filesByFolder[k]];
            CDriveWriter::WriteFileAt(fd.Get(), file.strName, file.strContent);
        }
        stack.push_back({folder, std::move(fd), childOffsets[folder]});
    };
    enter(0, OpenEmptyFolder(options.strOut));
    while (!stack.empty()) {
        Level& top = stack.back();
        if (top.nNextChild == childOffsets[top.nFolder + 1]) {
            stack.pop_back();
            continue;
        }
        const std::size_t child = children[top.nNextChild++];
        // May move the stack: top is not used after this.
        enter(child, CDriveWriter::MakeFolderAt(top.fd.Get(), folders[child].strName));
    }

    std::printf("gen_drive: files %zu folders %zu descriptors %zu listed %zu unlisted %zu "
                "categories %zu seed %llu\n",
                options.nFiles, folderCount, tally.nDescriptors,
                tally.nDescriptors - tally.nUnlisted, tally.nUnlisted, tally.setCategories.size(),
                static_cast<unsigned long long>(options.nSeed));
}

bool MatchesDefaultPattern(const std::string& name)
{
    const std::string lower = LowerAscii(name);
    for (std::string_view ext : {".exe", ".txt", ".zip", ".me", ".hlp"}) {
        if (lower.size() >= ext.size() &&
            lower.compare(lower.size() - ext.size(), ext.size(), ext) == 0)
            return true;
    }
    return false;
}

void GenerateFlat(const COptions& options)
{
    CRandom rnd(options.nSeed);
    const CDriveWriter::CFd fd = OpenEmptyFolder(options.strOut);
    const std::size_t every = std::max<std::size_t>(options.nExeEvery, 1);
    std::size_t exe = 0;
    std::size_t listed = 0;
    for (std::size_t i = 0; i < options.nFiles; ++i) {
        std::string name;
        if (i % every == 0) {
            name = CaseVariant(rnd, rnd.Pick(kFileStems)) + "_" + Number(i, 6) +
                   CaseVariant(rnd, ".exe");
            ++exe;
        } else {
            name = FileName(rnd, i, kFlatExtensions);
        }
        if (MatchesDefaultPattern(name))
            ++listed;
        CDriveWriter::WriteFileAt(fd.Get(), name, {});
    }
    // No [showfiles]: the file list falls back to the five default patterns.
    CDriveWriter::WriteFileAt(fd.Get(), "Flat.brw",
                              CDescriptorText()
                                  .Info("Benchmarks", "Flat folder")
                                  .Section("description")
                                  .Key("line1", "One folder with many files.")
                                  .Text());
    std::printf("gen_drive: flat files %zu exe %zu default-pattern %zu descriptors 1 seed %llu\n",
                options.nFiles, exe, listed, static_cast<unsigned long long>(options.nSeed));
}

std::size_t ParseCount(const char* option, const char* text)
{
    char* end = nullptr;
    errno = 0;
    const unsigned long long value = std::strtoull(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || text[0] == '-')
        Fail(std::string("bad value for ") + option + ": " + text);
    return static_cast<std::size_t>(value);
}

[[noreturn]] void Usage()
{
    std::fprintf(stderr,
                 "usage: gen_drive --out DIR [--seed N] [--files N] [--folders N] [--depth N]\n"
                 "                 [--descriptor-every N] [--categories N]\n"
                 "       gen_drive --flat DIR [--seed N] [--files N] [--exe-every N]\n");
    std::exit(2);
}

COptions ParseOptions(int argc, char** argv)
{
    COptions options;
    bool filesGiven = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view option = argv[i];
        if (option == "--help" || option == "-h")
            Usage();
        if (i + 1 >= argc)
            Usage();
        const char* value = argv[++i];
        if (option == "--out") {
            options.strOut = value;
        } else if (option == "--flat") {
            options.strOut = value;
            options.bFlat = true;
        } else if (option == "--seed") {
            options.nSeed = ParseCount(argv[i - 1], value);
        } else if (option == "--files") {
            options.nFiles = ParseCount(argv[i - 1], value);
            filesGiven = true;
        } else if (option == "--folders") {
            options.nFolders = ParseCount(argv[i - 1], value);
        } else if (option == "--depth") {
            options.nDepth = ParseCount(argv[i - 1], value);
        } else if (option == "--descriptor-every") {
            options.nDescriptorEvery = ParseCount(argv[i - 1], value);
        } else if (option == "--categories") {
            options.nCategories = ParseCount(argv[i - 1], value);
        } else if (option == "--exe-every") {
            options.nExeEvery = ParseCount(argv[i - 1], value);
        } else {
            Usage();
        }
    }
    if (options.strOut.empty())
        Usage();
    if (options.bFlat && !filesGiven)
        options.nFiles = 100000;
    if (options.nCategories == 0)
        options.nCategories = 1;
    return options;
}

} // namespace

int main(int argc, char** argv)
{
    const COptions options = ParseOptions(argc, argv);
    try {
        if (options.bFlat)
            GenerateFlat(options);
        else
            GenerateTree(options);
    } catch (const std::runtime_error& e) {
        Fail(e.what());
    }
    return 0;
}
