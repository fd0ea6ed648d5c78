// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "DriveWriter.h"
#include "Unprivileged.h"

#include <string>

// A temporary folder tree for tests, removed (permissions restored first) on destruction.
// The root is world-traversable so that tests run as an unprivileged user can use it.
class CTempTree : public CDriveWriter {
public:
    CTempTree();
    ~CTempTree();
    CTempTree(const CTempTree&) = delete;
    CTempTree& operator=(const CTempTree&) = delete;
};
