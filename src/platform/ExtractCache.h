// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <memory>
#include <string>

class CCopyTarget;

// The private folder into which files are copied out of disc images so that the desktop can
// open them: $XDG_CACHE_HOME/quarrow (else ~/.cache/quarrow), mode 0700.
//
// Each running Quarrow has a run folder there, "run-<pid>-<random>", beside which it keeps
// "run-<pid>-<random>.lock" locked (flock) for its whole life. The lock file is made and
// locked before the folder, so a run folder whose lock can be taken, or that has no lock
// file, belongs to no running Quarrow: RemoveStale removes those, and never a locked one.
// Below the run folder each image has a folder of its own, mirroring the image.
class CExtractCache {
public:
    // The cache folder, made (0700) when missing. Empty, with error set, when it cannot be
    // made or is not a private folder of this user.
    static std::string BaseFolder(std::string& error);

    // Removes what runs that no longer hold their lock left in the cache folder.
    static void RemoveStale();

    // Makes and locks a run folder. nullptr, with error set, when that fails.
    static std::unique_ptr<CExtractCache> Create(std::string& error);
    // Removes the run folder (write permission given back first) and releases the lock.
    ~CExtractCache();
    CExtractCache(const CExtractCache&) = delete;
    CExtractCache& operator=(const CExtractCache&) = delete;

    const std::string& RunFolder() const noexcept { return m_strRunFolder; }
    // The folder that mirrors the image at imagePath with this content key (see
    // CVolume::ContentKey): "<name>-<hash of both>", so that an image replaced under its name
    // never finds the copies of the one before.
    std::string ImageFolder(const std::string& imagePath, const std::string& contentKey) const;
    // A target writing below ImageFolder; it may outlive the cache object, but writes
    // nothing once the run folder is gone.
    std::shared_ptr<CCopyTarget> Target(const std::string& imagePath,
                                        const std::string& contentKey) const;

    // Removes a tree that may hold read-only folders; false when something stayed.
    static bool RemoveTree(const std::string& path);

private:
    CExtractCache(std::string runFolder, std::string lockFile, int lockFd);

    std::string m_strRunFolder;
    std::string m_strLockFile;
    int m_hLock = -1;
};
