// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/OpenVolume.h"

#include "catalogue/OpenVolumeJob.h"
#include "catalogue/ProfileReader.h"
#include "catalogue/Volume.h"
#include "platform/DiscImage.h"
#include "platform/MountedVolume.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>
#include <utility>

namespace {

using EFailure = COpenedVolume::EFailure;

COpenedVolume Failure(EFailure failure, std::string reason = {})
{
    COpenedVolume result;
    result.m_eFailure = failure;
    result.m_strReason = std::move(reason);
    return result;
}

// Opened without blocking and checked again once open: the name may have been replaced by
// a FIFO since the stat.
bool OpensForReading(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return false;
    struct stat status {};
    const bool bRegular = ::fstat(fd, &status) == 0 && S_ISREG(status.st_mode);
    ::close(fd);
    return bRegular;
}

} // namespace

COpenedVolume OpenVolume(const std::string& path, const ImageOpenFn& openImage)
{
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0)
        return Failure(EFailure::CannotOpen, std::generic_category().message(errno));

    COpenedVolume result;
    if (S_ISDIR(status.st_mode)) {
        result.m_pVolume = CMountedVolume::Create(path);
        if (!result.m_pVolume->OpenFolder(result.m_pVolume->Root()))
            return Failure(EFailure::FolderUnreadable);
    } else if (!S_ISREG(status.st_mode)) {
        return Failure(EFailure::NotFolderOrImage);
    } else if (!OpensForReading(path)) {
        return Failure(EFailure::Unreadable);
    } else {
        result.m_pVolume = openImage ? openImage(path) : DiscImage::Open(path);
        if (!result.m_pVolume)
            return Failure(EFailure::NotAnImage);
        result.m_bImage = true;
    }
    result.m_strLabel = AutorunLabel(*result.m_pVolume);
    return result;
}

std::shared_ptr<COpenVolumeJob> NewOpenVolumeJob(std::string path, ImageOpenFn openImage)
{
    return std::make_shared<COpenVolumeJob>(
        std::move(path), [openImage = std::move(openImage)](const std::string& opened) {
            return OpenVolume(opened, openImage);
        });
}

std::shared_ptr<const CVolume> OpenDriveFolder(std::string root)
{
    return CMountedVolume::Create(std::move(root));
}

std::optional<std::string> AutorunLabel(const CVolume& volume)
{
    const std::optional<std::string> autorun = volume.ResolveNoCase(volume.Root(), "autorun.inf");
    if (!autorun)
        return std::nullopt;
    CProfileReader reader;
    return reader.GetString(volume, *autorun, "autorun", "label", "Unknown");
}
