// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <sys/types.h>

class CVolume;

// The view that lets programs start inside a disc image: quarrow-disc-view serves the image,
// read only, through FUSE at <discs>/<name>, for this user alone. Beside the mount point lie
// <name>.info (who serves what) and <name>.lease, on which every window showing the image
// holds a shared lock. The server leaves once no lease is held and no process of this user
// has its current folder, an open file or a mapping below the mount point. Everything here
// blocks on the file system or a child, so it runs on a worker, never on the UI thread.
namespace DiscView {

// Names the view's root shows beside the image's own files.
inline constexpr const char* kLabelName = ".windows-label";
inline constexpr const char* kSerialName = ".windows-serial";

// A window's hold on a mounted view; dropping it releases the lease and never waits.
class CLease {
public:
    CLease(int hLease, std::string mountPoint) noexcept;
    ~CLease();
    CLease(const CLease&) = delete;
    CLease& operator=(const CLease&) = delete;
    const std::string& MountPoint() const noexcept { return m_strMountPoint; }

private:
    int m_hLease;
    std::string m_strMountPoint;
};

struct Info {
    pid_t nPid = 0;
    std::string strIdentity;
    std::string strImage;
};

// $XDG_RUNTIME_DIR/quarrow/discs, else /tmp/quarrow-<uid>/discs, made 0700 as needed; empty
// with error set when it cannot be made or is not this user's alone.
std::string DiscsFolder(std::string& error);
// Tells one image's contents from every other's: the same for a second window on it.
std::string IdentityOf(const CVolume& volume);
// Eight hex digits derived from the image's contents.
std::string SerialOf(const CVolume& volume);
// The autorun label, else the image file's name without its extension. Reads the volume.
std::string LabelOf(const CVolume& volume);

std::optional<Info> ReadInfo(const std::string& infoPath);
// Written whole or not at all.
bool WriteInfo(const std::string& infoPath, const Info& info);
// True when mountPoint is a live mount (a dead server's gives ENOTCONN).
bool IsMounted(const std::string& mountPoint);
// True when a process of this user other than exceptPid has its current folder, an open
// file or a mapped file at or below mountPoint.
bool IsInUse(const std::string& mountPoint, pid_t exceptPid);
// True while the server pid runs (a zombie does not).
bool IsServing(pid_t pid);
// Unmounts and removes the views whose server has died or whose mount has gone stale.
void RemoveStale(const std::string& discs);

// The view of volume: an existing one for the same image, or one served by starting server.
// Waits at most about two seconds for the mount. nullptr with error (for a message) when
// there is none; error stays empty for a volume that is no image file, which has no view.
std::unique_ptr<CLease> Acquire(const CVolume& volume, const std::string& server,
                                std::string& error);

} // namespace DiscView
