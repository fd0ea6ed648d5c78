// SPDX-License-Identifier: GPL-3.0-or-later
#include "Unprivileged.h"

#include <cerrno>
#include <grp.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

bool DropRoot(const std::string& folder)
{
    if (::geteuid() != 0)
        return true;
    constexpr uid_t kNobody = 65534;
    if (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0)
        return false;
    // Changing the user makes the process undumpable, which the leak checker needs.
    ::prctl(PR_SET_DUMPABLE, 1);
    return ::chdir(folder.c_str()) == 0;
}

bool RunUnprivileged(bool (*body)(void*), void* context)
{
    const pid_t pid = ::fork();
    if (pid < 0)
        return false;
    if (pid == 0) {
        if (!DropRoot())
            ::_exit(3);
        ::_exit(body(context) ? 0 : 1);
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}
