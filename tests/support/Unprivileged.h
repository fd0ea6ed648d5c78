// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>

// When running as root, becomes user "nobody" for the rest of the process, so that permission
// checks hold as they do for a user; otherwise changes nothing. Then makes folder the current
// folder: the one the process started in may lie in a checkout that "nobody" cannot enter.
// Returns false when root could not be dropped or folder not entered.
bool DropRoot(const std::string& folder = "/");

// Runs body in a forked child that has dropped root (see DropRoot), and returns true when the
// body returned true in the child. Only for Qt-free tests: the child runs no event loop.
bool RunUnprivileged(bool (*body)(void*), void* context);

template <class F>
bool RunUnprivileged(F&& body)
{
    return RunUnprivileged([](void* ctx) { return (*static_cast<F*>(ctx))(); },
                           static_cast<void*>(&body));
}
