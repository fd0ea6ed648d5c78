// SPDX-License-Identifier: GPL-3.0-or-later
// quarrow-disc-view IMAGE MOUNTPOINT [READY_FD]: serves a disc image read only through FUSE
// at MOUNTPOINT for this user, as DiscImage::Open reads it, until nothing uses it any more
// (see platform/DiscView.h). Writes "ok" or why not, one line, to READY_FD once it knows.
#define FUSE_USE_VERSION 31

#include "catalogue/Volume.h"
#include "platform/DiscImage.h"
#include "platform/DiscView.h"

#include <fuse.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>

namespace {

struct Served {
    std::shared_ptr<const CVolume> pVolume;
    std::string strLabel;
    std::string strSerial;
    struct timespec imageTime {};
};

Served* g_pServed = nullptr;

std::string Full(const char* path)
{
    const std::string& root = g_pServed->pVolume->Root();
    return path[0] == '/' && path[1] == '\0' ? root : root + path;
}

const std::string* Special(const char* path)
{
    if (std::strcmp(path, "/.windows-label") == 0)
        return &g_pServed->strLabel;
    if (std::strcmp(path, "/.windows-serial") == 0)
        return &g_pServed->strSerial;
    return nullptr;
}

void SetTime(struct stat& status, const struct timespec& time)
{
    status.st_mtim = status.st_ctim = status.st_atim = time;
}

int GetAttr(const char* path, struct stat* status, fuse_file_info*)
{
    *status = {};
    status->st_uid = ::getuid();
    status->st_gid = ::getgid();
    status->st_nlink = 1;
    SetTime(*status, g_pServed->imageTime);
    if (const std::string* text = Special(path)) {
        status->st_mode = S_IFREG | 0444;
        status->st_size = static_cast<off_t>(text->size());
        return 0;
    }
    const std::string full = Full(path);
    const CVolume& volume = *g_pServed->pVolume;
    switch (volume.What(full)) {
    case CVolume::PathKind::Missing:
        return -ENOENT;
    case CVolume::PathKind::Folder:
        status->st_mode = S_IFDIR | 0555;
        status->st_nlink = 2;
        return 0;
    case CVolume::PathKind::Other:
        status->st_mode = S_IFREG | 0444;
        return 0;
    case CVolume::PathKind::File:
        break;
    }
    const std::unique_ptr<CVolume::CFile> file = volume.OpenFile(full);
    if (!file)
        return -EIO;
    const std::optional<CVolume::FileIdentity> identity = file->Identity();
    status->st_mode = S_IFREG | (file->IsRecordedExecutable() ? 0555 : 0444);
    status->st_size = static_cast<off_t>(file->Size());
    if (identity)
        SetTime(*status, {static_cast<time_t>(identity->modified.nSeconds),
                          static_cast<long>(identity->modified.nNanoseconds)});
    return 0;
}

// The image does not change: the kernel may keep each folder's listing once it has it.
int OpenDir(const char*, fuse_file_info* info)
{
    info->cache_readdir = 1;
    info->keep_cache = 1;
    return 0;
}

int ReadDir(const char* path, void* buffer, fuse_fill_dir_t fill, off_t, fuse_file_info*,
            fuse_readdir_flags)
{
    const CVolume& volume = *g_pServed->pVolume;
    const std::unique_ptr<CVolume::CFolder> folder = volume.OpenFolder(Full(path));
    const std::unique_ptr<CVolume::CFolderReader> reader = volume.NewFolderReader();
    if (!folder || !reader->Start(*folder))
        return folder ? -EIO : -ENOENT;
    fill(buffer, ".", nullptr, 0, fuse_fill_dir_flags{});
    fill(buffer, "..", nullptr, 0, fuse_fill_dir_flags{});
    if (path[1] == '\0') {
        fill(buffer, DiscView::kLabelName, nullptr, 0, fuse_fill_dir_flags{});
        fill(buffer, DiscView::kSerialName, nullptr, 0, fuse_fill_dir_flags{});
    }
    CVolume::Entry entry;
    struct stat type {};
    while (reader->Next(entry)) {
        if (entry.strName.empty() || entry.strName.find('/') != std::string::npos)
            continue;
        type.st_mode = entry.type == CVolume::EntryType::File ? S_IFREG : S_IFDIR;
        if (fill(buffer, entry.strName.c_str(), &type, 0, fuse_fill_dir_flags{}) != 0)
            break;
    }
    return 0;
}

int Open(const char* path, fuse_file_info* info)
{
    if ((info->flags & O_ACCMODE) != O_RDONLY)
        return -EROFS;
    info->keep_cache = 1;
    if (Special(path)) {
        info->fh = 0;
        return 0;
    }
    std::unique_ptr<CVolume::CFile> file = g_pServed->pVolume->OpenFile(Full(path));
    if (!file)
        return -EIO;
    info->fh = reinterpret_cast<std::uint64_t>(file.release());
    return 0;
}

int Read(const char* path, char* buffer, size_t size, off_t offset, fuse_file_info* info)
{
    if (offset < 0)
        return -EINVAL;
    if (info->fh == 0) {
        const std::string* text = Special(path);
        if (!text || static_cast<std::size_t>(offset) >= text->size())
            return 0;
        const std::size_t n = std::min(size, text->size() - static_cast<std::size_t>(offset));
        std::memcpy(buffer, text->data() + offset, n);
        return static_cast<int>(n);
    }
    const auto* file = reinterpret_cast<const CVolume::CFile*>(info->fh);
    const std::uint64_t at = static_cast<std::uint64_t>(offset);
    if (at >= file->Size())
        return 0;
    const std::size_t n =
        static_cast<std::size_t>(std::min<std::uint64_t>(size, file->Size() - at));
    return file->ReadAt(at, buffer, n) ? static_cast<int>(n) : -EIO;
}

int Release(const char*, fuse_file_info* info)
{
    delete reinterpret_cast<CVolume::CFile*>(info->fh);
    return 0;
}

void* Init(fuse_conn_info*, fuse_config* config)
{
    // The image does not change under the view: the kernel may keep what it learnt.
    config->entry_timeout = config->attr_timeout = config->negative_timeout = 3600;
    config->kernel_cache = 1;
    return nullptr;
}

void Say(int hReady, const std::string& text)
{
    if (hReady < 0)
        return;
    const std::string line = text + "\n";
    (void)!::write(hReady, line.data(), line.size());
    ::close(hReady);
}

// Ends the view once no window holds a lease and nothing of this user's is inside it.
void Watch(fuse* pFuse, const std::string& mountPoint, int hLease, std::atomic<bool>& bDone)
{
    while (!bDone.load()) {
        std::this_thread::sleep_for(std::chrono::seconds(1));
        if (::flock(hLease, LOCK_EX | LOCK_NB) != 0)
            continue;
        if (DiscView::IsInUse(mountPoint, ::getpid())) {
            ::flock(hLease, LOCK_UN);
            continue;
        }
        // Gone before the lock is let go: a window that takes the lease meanwhile sees it.
        ::unlink((mountPoint + ".lease").c_str());
        ::unlink((mountPoint + ".info").c_str());
        bDone.store(true);
        fuse_exit(pFuse);
        fuse_unmount(pFuse);
    }
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 3 || argc > 4) {
        std::fprintf(stderr, "usage: %s IMAGE MOUNTPOINT [READY_FD]\n", argv[0]);
        return 2;
    }
    const std::string image = argv[1];
    const std::string mountPoint = argv[2];
    const int hReady = argc == 4 ? std::atoi(argv[3]) : -1;

    Served served;
    served.pVolume = DiscImage::Open(image);
    if (!served.pVolume) {
        Say(hReady, "the image cannot be read");
        return 1;
    }
    served.strLabel = DiscView::LabelOf(*served.pVolume) + "\n";
    served.strSerial = DiscView::SerialOf(*served.pVolume) + "\n";
    struct stat imageStatus {};
    if (::stat(image.c_str(), &imageStatus) == 0)
        served.imageTime = imageStatus.st_mtim;
    g_pServed = &served;
    const int hLease = ::open((mountPoint + ".lease").c_str(), O_RDWR | O_CLOEXEC);
    if (hLease < 0) {
        Say(hReady, "its lease is missing");
        return 1;
    }

    fuse_operations operations{};
    operations.getattr = GetAttr;
    operations.opendir = OpenDir;
    operations.readdir = ReadDir;
    operations.open = Open;
    operations.read = Read;
    operations.release = Release;
    operations.init = Init;
    char name[] = "quarrow-disc-view";
    char option[] = "-o";
    char options[] = "ro,default_permissions,fsname=quarrow,subtype=quarrow";
    char* fuseArgv[] = {name, option, options, nullptr};
    fuse_args args = FUSE_ARGS_INIT(3, fuseArgv);
    fuse* pFuse = fuse_new(&args, &operations, sizeof operations, nullptr);
    if (!pFuse || fuse_mount(pFuse, mountPoint.c_str()) != 0) {
        Say(hReady, "the mount was refused");
        return 1;
    }
    if (!DiscView::WriteInfo(mountPoint + ".info",
                             {::getpid(), DiscView::IdentityOf(*served.pVolume), image})) {
        fuse_unmount(pFuse);
        Say(hReady, "its folder cannot be written");
        return 1;
    }
    fuse_set_signal_handlers(fuse_get_session(pFuse));
    Say(hReady, "ok");

    std::atomic<bool> bDone{false};
    std::thread watcher(Watch, pFuse, mountPoint, hLease, std::ref(bDone));
    fuse_loop(pFuse);
    if (!bDone.exchange(true))
        fuse_unmount(pFuse);
    watcher.join();
    fuse_remove_signal_handlers(fuse_get_session(pFuse));
    ::unlink((mountPoint + ".lease").c_str());
    ::unlink((mountPoint + ".info").c_str());
    ::rmdir(mountPoint.c_str());
    // Unmounted already: fuse_destroy, after a session ended from the watcher thread, unlocks
    // a mutex it does not hold. The process ends here, and with it the session.
    std::_Exit(0);
}
