// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/DriveSource.h"

CDriveSource::~CDriveSource() = default;

std::vector<CDrive> CMachineDriveSource::Drives()
{
    return ListMachineDrives();
}
