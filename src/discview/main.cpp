// SPDX-License-Identifier: GPL-3.0-or-later
// quarrow-disc-view IMAGE MOUNTPOINT [READY_FD]: serves a disc image read only through FUSE
// at MOUNTPOINT for this user, as DiscImage::Open reads it, until nothing uses it any more
// (see platform/DiscView.h). Writes "ok" or why not, one line, to READY_FD once it knows.
//
// Served by inode (libfuse's low-level interface) so that the kernel keeps folders open and
// listed by itself, and learns a folder's subfolders with its listing: a walk of the view
// costs about one request a folder.
#define FUSE_USE_VERSION 31

#include "NodeTable.h"
#include "catalogue/Volume.h"
#include "platform/DiscImage.h"
#include "platform/DiscView.h"

#include <fuse_lowlevel.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

// The image does not change under the view: the kernel may keep what it learnt.
constexpr double kForever = 3600;

struct Served {
    std::shared_ptr<const CVolume> pVolume;
    std::string strLabel;
    std::string strSerial;
    struct timespec imageTime {};
    std::unique_ptr<CNodeTable> pNodes;
    std::vector<char> readBuffer;
    std::vector<char> replyBuffer;
    bool bKernelOpensFolders = true;
};

Served& Of(fuse_req_t req)
{
    return *static_cast<Served*>(fuse_req_userdata(req));
}

std::string Full(const Served& served, const std::string& path)
{
    return served.pVolume->Root() + path;
}

const std::string* Special(const Served& served, const std::string& path)
{
    if (path == std::string("/") + DiscView::kLabelName)
        return &served.strLabel;
    if (path == std::string("/") + DiscView::kSerialName)
        return &served.strSerial;
    return nullptr;
}

struct stat BaseStatus(const Served& served, mode_t mode)
{
    struct stat status {};
    status.st_uid = ::getuid();
    status.st_gid = ::getgid();
    status.st_nlink = S_ISDIR(mode) ? 2 : 1;
    status.st_mode = mode;
    status.st_mtim = status.st_ctim = status.st_atim = served.imageTime;
    return status;
}

// The attributes the window shows for path; 0 or an errno.
int StatusOf(const Served& served, const std::string& path, struct stat& status)
{
    if (const std::string* text = Special(served, path)) {
        status = BaseStatus(served, S_IFREG | 0444);
        status.st_size = static_cast<off_t>(text->size());
        return 0;
    }
    const std::string full = Full(served, path);
    const CVolume& volume = *served.pVolume;
    switch (volume.What(full)) {
    case CVolume::PathKind::Missing:
        return ENOENT;
    case CVolume::PathKind::Folder:
        status = BaseStatus(served, S_IFDIR | 0555);
        return 0;
    case CVolume::PathKind::Other:
        status = BaseStatus(served, S_IFREG | 0444);
        return 0;
    case CVolume::PathKind::File:
        break;
    }
    const std::unique_ptr<CVolume::CFile> file = volume.OpenFile(full);
    if (!file)
        return EIO;
    status = BaseStatus(served, S_IFREG | (file->IsRecordedExecutable() ? 0555 : 0444));
    status.st_size = static_cast<off_t>(file->Size());
    if (const std::optional<CVolume::FileIdentity> identity = file->Identity())
        status.st_mtim = status.st_ctim =
            status.st_atim = {static_cast<time_t>(identity->modified.nSeconds),
                              static_cast<long>(identity->modified.nNanoseconds)};
    return 0;
}

fuse_entry_param EntryOf(fuse_ino_t ino, const struct stat& status)
{
    fuse_entry_param entry{};
    entry.ino = ino;
    entry.attr = status;
    entry.attr_timeout = entry.entry_timeout = kForever;
    return entry;
}

void Init(void* userdata, fuse_conn_info* conn)
{
    auto& served = *static_cast<Served*>(userdata);
    served.bKernelOpensFolders = !(conn->capable & FUSE_CAP_NO_OPENDIR_SUPPORT);
    // Every listing with its subfolders' attributes: files go without, so it costs little.
    if (conn->capable & FUSE_CAP_READDIRPLUS)
        conn->want |= FUSE_CAP_READDIRPLUS;
    conn->want &= ~FUSE_CAP_READDIRPLUS_AUTO;
}

void Lookup(fuse_req_t req, fuse_ino_t parentIno, const char* name)
{
    Served& served = Of(req);
    const CNodeTable::Node* parent = served.pNodes->Find(parentIno);
    if (!parent)
        return (void)fuse_reply_err(req, ENOENT);
    const std::string path = parent->strPath + "/" + name;
    struct stat status {};
    if (const int error = StatusOf(served, path, status)) {
        if (error != ENOENT)
            return (void)fuse_reply_err(req, error);
        const fuse_entry_param none = EntryOf(0, status); // the kernel remembers it is missing
        return (void)fuse_reply_entry(req, &none);
    }
    const fuse_ino_t ino = served.pNodes->Look(path, status);
    const fuse_entry_param entry = EntryOf(ino, status);
    if (fuse_reply_entry(req, &entry) != 0)
        served.pNodes->Forget(ino, 1);
}

void Forget(fuse_req_t req, fuse_ino_t ino, std::uint64_t nLookups)
{
    Of(req).pNodes->Forget(ino, nLookups);
    fuse_reply_none(req);
}

void ForgetMany(fuse_req_t req, std::size_t count, fuse_forget_data* forgets)
{
    for (std::size_t i = 0; i < count; ++i)
        Of(req).pNodes->Forget(forgets[i].ino, forgets[i].nlookup);
    fuse_reply_none(req);
}

void GetAttr(fuse_req_t req, fuse_ino_t ino, fuse_file_info*)
{
    const CNodeTable::Node* node = Of(req).pNodes->Find(ino);
    if (!node)
        return (void)fuse_reply_err(req, ENOENT);
    fuse_reply_attr(req, &node->status, kForever);
}

// Where the kernel can, it opens and caches folders itself and no request comes.
void OpenDir(fuse_req_t req, fuse_ino_t, fuse_file_info* info)
{
    if (!Of(req).bKernelOpensFolders)
        return (void)fuse_reply_err(req, ENOSYS);
    info->cache_readdir = 1;
    info->keep_cache = 1;
    fuse_reply_open(req, info);
}

// ".", "..", the view's own names at the root, then the folder's entries in the volume's order.
bool ListFolder(const Served& served, const std::string& path,
                std::vector<CNodeTable::Listed>& listing)
{
    const CVolume& volume = *served.pVolume;
    const std::unique_ptr<CVolume::CFolder> folder = volume.OpenFolder(Full(served, path));
    const std::unique_ptr<CVolume::CFolderReader> reader = volume.NewFolderReader();
    if (!folder || !reader->Start(*folder))
        return false;
    listing.push_back({".", S_IFDIR});
    listing.push_back({"..", S_IFDIR});
    if (path.empty()) {
        listing.push_back({DiscView::kLabelName, S_IFREG});
        listing.push_back({DiscView::kSerialName, S_IFREG});
    }
    CVolume::Entry entry;
    while (reader->Next(entry)) {
        if (entry.strName.empty() || entry.strName.find('/') != std::string::npos)
            continue;
        const bool bFile = entry.type == CVolume::EntryType::File;
        listing.push_back({entry.strName, static_cast<mode_t>(bFile ? S_IFREG : S_IFDIR),
                           entry.type == CVolume::EntryType::FolderLink});
    }
    return true;
}

// Adds one entry at buffer; its size, larger than room when it did not fit. With plus, a
// subfolder comes with its attributes, counted as a look-up, so that a walk needs none.
std::size_t AddEntry(fuse_req_t req, Served& served, const std::string& folderPath,
                     const CNodeTable::Listed& listed, bool bPlus, char* buffer, std::size_t room,
                     off_t next)
{
    const bool bDots = listed.strName == "." || listed.strName == "..";
    const std::string path = folderPath + "/" + listed.strName;
    fuse_entry_param entry{};
    entry.attr.st_mode = listed.type;
    entry.attr.st_ino = bDots ? CNodeTable::kRoot : CNodeTable::InoOf(path);
    const char* name = listed.strName.c_str();
    if (!bPlus)
        return fuse_add_direntry(req, buffer, room, name, &entry.attr, next);
    if (bDots || listed.type != S_IFDIR || Special(served, path))
        return fuse_add_direntry_plus(req, buffer, room, name, &entry, next);
    const std::size_t size = fuse_add_direntry_plus(req, nullptr, 0, name, &entry, next);
    if (size > room)
        return size;
    struct stat status = BaseStatus(served, S_IFDIR | 0555);
    if (listed.bLink && StatusOf(served, path, status) != 0)
        return fuse_add_direntry_plus(req, buffer, room, name, &entry, next);
    entry = EntryOf(served.pNodes->Look(path, status), status);
    return fuse_add_direntry_plus(req, buffer, room, name, &entry, next);
}

void ReadFolder(fuse_req_t req, fuse_ino_t ino, std::size_t size, off_t offset, bool bPlus)
{
    Served& served = Of(req);
    CNodeTable::Node* node = served.pNodes->Find(ino);
    if (!node || !S_ISDIR(node->status.st_mode))
        return (void)fuse_reply_err(req, node ? ENOTDIR : ENOENT);
    if (offset == 0 || !node->pListing) {
        auto listing = std::make_unique<std::vector<CNodeTable::Listed>>();
        if (!ListFolder(served, node->strPath, *listing))
            return (void)fuse_reply_err(req, EIO);
        node->pListing = std::move(listing);
    }
    const std::vector<CNodeTable::Listed>& listing = *node->pListing;
    std::vector<char>& buffer = served.replyBuffer;
    buffer.resize(std::max(buffer.size(), size));
    std::size_t used = 0;
    for (std::size_t i = static_cast<std::size_t>(std::max<off_t>(offset, 0)); i < listing.size();
         ++i) {
        const std::size_t added =
            AddEntry(req, served, node->strPath, listing[i], bPlus, buffer.data() + used,
                     size - used, static_cast<off_t>(i + 1));
        if (added > size - used)
            break;
        used += added;
    }
    if (used == 0)
        node->pListing.reset();
    fuse_reply_buf(req, buffer.data(), used);
}

void ReadDir(fuse_req_t req, fuse_ino_t ino, std::size_t size, off_t offset, fuse_file_info*)
{
    ReadFolder(req, ino, size, offset, false);
}

void ReadDirPlus(fuse_req_t req, fuse_ino_t ino, std::size_t size, off_t offset, fuse_file_info*)
{
    ReadFolder(req, ino, size, offset, true);
}

void Open(fuse_req_t req, fuse_ino_t ino, fuse_file_info* info)
{
    Served& served = Of(req);
    const CNodeTable::Node* node = served.pNodes->Find(ino);
    if (!node)
        return (void)fuse_reply_err(req, ENOENT);
    if ((info->flags & O_ACCMODE) != O_RDONLY)
        return (void)fuse_reply_err(req, EROFS);
    if (S_ISDIR(node->status.st_mode))
        return (void)fuse_reply_err(req, EISDIR);
    info->keep_cache = 1;
    info->fh = 0;
    if (!Special(served, node->strPath)) {
        std::unique_ptr<CVolume::CFile> file =
            served.pVolume->OpenFile(Full(served, node->strPath));
        if (!file)
            return (void)fuse_reply_err(req, EIO);
        info->fh = reinterpret_cast<std::uint64_t>(file.release());
    }
    if (fuse_reply_open(req, info) != 0)
        delete reinterpret_cast<CVolume::CFile*>(info->fh);
}

void ReadText(fuse_req_t req, const std::string* text, std::size_t size, off_t offset)
{
    if (!text || static_cast<std::size_t>(offset) >= text->size())
        return (void)fuse_reply_buf(req, nullptr, 0);
    const std::size_t n = std::min(size, text->size() - static_cast<std::size_t>(offset));
    fuse_reply_buf(req, text->data() + offset, n);
}

void Read(fuse_req_t req, fuse_ino_t ino, std::size_t size, off_t offset, fuse_file_info* info)
{
    Served& served = Of(req);
    if (offset < 0)
        return (void)fuse_reply_err(req, EINVAL);
    if (info->fh == 0) {
        const CNodeTable::Node* node = served.pNodes->Find(ino);
        return ReadText(req, node ? Special(served, node->strPath) : nullptr, size, offset);
    }
    const auto* file = reinterpret_cast<const CVolume::CFile*>(info->fh);
    const auto at = static_cast<std::uint64_t>(offset);
    if (at >= file->Size())
        return (void)fuse_reply_buf(req, nullptr, 0);
    const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(size, file->Size() - at));
    if (served.readBuffer.size() < n)
        served.readBuffer.resize(n);
    if (!file->ReadAt(at, served.readBuffer.data(), n))
        return (void)fuse_reply_err(req, EIO);
    fuse_reply_buf(req, served.readBuffer.data(), n);
}

void Release(fuse_req_t req, fuse_ino_t, fuse_file_info* info)
{
    delete reinterpret_cast<CVolume::CFile*>(info->fh);
    fuse_reply_err(req, 0);
}

fuse_lowlevel_ops Operations()
{
    fuse_lowlevel_ops operations{};
    operations.init = Init;
    operations.lookup = Lookup;
    operations.forget = Forget;
    operations.forget_multi = ForgetMany;
    operations.getattr = GetAttr;
    operations.opendir = OpenDir;
    operations.readdir = ReadDir;
    operations.readdirplus = ReadDirPlus;
    operations.open = Open;
    operations.read = Read;
    operations.release = Release;
    return operations;
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
void Watch(fuse_session* pSession, const std::string& mountPoint, int hLease,
           std::atomic<bool>& bDone)
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
        fuse_session_exit(pSession);
        fuse_session_unmount(pSession);
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
    served.pNodes = std::make_unique<CNodeTable>(BaseStatus(served, S_IFDIR | 0555));
    const int hLease = ::open((mountPoint + ".lease").c_str(), O_RDWR | O_CLOEXEC);
    if (hLease < 0) {
        Say(hReady, "its lease is missing");
        return 1;
    }

    const fuse_lowlevel_ops operations = Operations();
    char name[] = "quarrow-disc-view";
    char option[] = "-o";
    char options[] = "ro,default_permissions,fsname=quarrow,subtype=quarrow";
    char* fuseArgv[] = {name, option, options, nullptr};
    fuse_args args = FUSE_ARGS_INIT(3, fuseArgv);
    fuse_session* pSession = fuse_session_new(&args, &operations, sizeof operations, &served);
    if (!pSession || fuse_session_mount(pSession, mountPoint.c_str()) != 0) {
        Say(hReady, "the mount was refused");
        return 1;
    }
    if (!DiscView::WriteInfo(mountPoint + ".info",
                             {::getpid(), DiscView::IdentityOf(*served.pVolume), image})) {
        fuse_session_unmount(pSession);
        Say(hReady, "its folder cannot be written");
        return 1;
    }
    fuse_set_signal_handlers(pSession);
    Say(hReady, "ok");

    std::atomic<bool> bDone{false};
    std::thread watcher(Watch, pSession, mountPoint, hLease, std::ref(bDone));
    fuse_session_loop(pSession);
    if (!bDone.exchange(true))
        fuse_session_unmount(pSession);
    watcher.join();
    fuse_remove_signal_handlers(pSession);
    ::unlink((mountPoint + ".lease").c_str());
    ::unlink((mountPoint + ".info").c_str());
    ::rmdir(mountPoint.c_str());
    // Unmounted already: the session ended from the watcher thread, and the process ends
    // here, and with it the session.
    std::_Exit(0);
}
