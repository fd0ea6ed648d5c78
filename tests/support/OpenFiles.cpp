// SPDX-License-Identifier: GPL-3.0-or-later
#include "OpenFiles.h"

#include <dirent.h>

int CountOpenFds()
{
    int count = 0;
    DIR* pDir = ::opendir("/proc/self/fd");
    if (!pDir)
        return -1;
    while (const dirent* pEntry = ::readdir(pDir)) {
        if (pEntry->d_name[0] != '.')
            ++count;
    }
    ::closedir(pDir);
    return count;
}
