// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Makes the desktop's icon themes reachable outside a full desktop session, where Qt may
// know no theme at all: the XDG icon folders are searched, hicolor stands in when no theme
// is set, and Adwaita or breeze fills the gaps. Safe to call more than once; UI thread.
namespace DesktopIcons {
void Setup();
}
