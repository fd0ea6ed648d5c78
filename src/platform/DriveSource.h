// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/Drives.h"

#include <vector>

// Where the drive dialog gets the machine's drives from; widget tests substitute a fake.
class CDriveSource {
public:
    CDriveSource() = default;
    virtual ~CDriveSource();
    CDriveSource(const CDriveSource&) = delete;
    CDriveSource& operator=(const CDriveSource&) = delete;

    // Asked each time the list opens, so a disc inserted meanwhile shows up.
    virtual std::vector<CDrive> Drives() = 0;
};

// The mounts of this machine, read afresh on every call.
class CMachineDriveSource : public CDriveSource {
public:
    std::vector<CDrive> Drives() override;
};
