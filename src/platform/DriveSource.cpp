#include "platform/DriveSource.h"

CDriveSource::~CDriveSource() = default;

std::vector<CDrive> CMachineDriveSource::Drives()
{
    return ListMachineDrives();
}
