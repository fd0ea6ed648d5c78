// SPDX-License-Identifier: GPL-3.0-or-later
// Writes the hostile drive: gen_hostile [--small] DIR. An earlier drive in DIR is removed first.
#include "HostileDrive.h"

#include <cstdio>
#include <cstring>
#include <exception>
#include <spawn.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>

extern char** environ;

namespace {

// Locked folders are opened up first so that removal works without root too; rm copes with
// a tree deeper than any path.
bool Remove(const std::string& base)
{
    struct stat st {};
    if (::lstat(base.c_str(), &st) != 0)
        return true;
    for (const char* locked : {"/drive/locked/folder", "/drive/locked/xonly"})
        ::chmod((base + locked).c_str(), 0755);
    const char* argv[] = {"rm", "-rf", "--", base.c_str(), nullptr};
    pid_t pid = 0;
    if (::posix_spawnp(&pid, "rm", nullptr, nullptr, const_cast<char**>(argv), environ) != 0)
        return false;
    int status = 0;
    return ::waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

} // namespace

int main(int argc, char* argv[])
{
    bool small = false;
    bool clean = false;
    const char* out = nullptr;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--small") == 0)
            small = true;
        else if (std::strcmp(argv[i], "--remove") == 0)
            clean = true;
        else
            out = argv[i];
    }
    if (!out) {
        std::fprintf(stderr, "usage: gen_hostile [--small] [--remove] DIR\n");
        return 2;
    }
    if (!Remove(out)) {
        std::fprintf(stderr, "gen_hostile: cannot remove %s\n", out);
        return 1;
    }
    if (clean)
        return 0;
    try {
        const HostileDrive drive =
            BuildHostileDrive(out, small ? HostileSizes::Small() : HostileSizes{});
        std::printf("gen_hostile: %zu applications in %s\n", drive.apps.size(),
                    drive.strRoot.c_str());
    } catch (const std::exception& e) {
        std::fprintf(stderr, "gen_hostile: %s\n", e.what());
        return 1;
    }
    return 0;
}
