// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// How many file descriptors this process holds open, or -1 when /proc cannot tell: lets
// tests prove that walks and finders leak none.
int CountOpenFds();
