// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "catalogue/Job.h"
#include "catalogue/Volume.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

// Where a copy-out writes: a folder that mirrors the volume below its root. Paths given are
// relative to the volume's root ("" for the root, "apps/x/a.txt"), as bytes. One job uses a
// target at a time, from its worker thread.
class CCopyTarget {
public:
    enum class Result : unsigned char { Ok, NoSpace, Failed };

    // A file being written under a temporary name: it appears under its real name, read only,
    // only on Commit. Dropping it uncommitted removes what was written.
    class CSink {
    public:
        virtual ~CSink() = default;
        virtual Result Write(const void* data, std::size_t size) = 0;
        // bExecutable keeps the execute bits, so that a program can be started from the copy.
        virtual Result Commit(bool bExecutable) = 0;
    };

    virtual ~CCopyTarget() = default;
    // Creates the folder and any missing folders above it.
    virtual Result MakeFolder(const std::string& relative) = 0;
    // True when an earlier copy left the file complete, with this size.
    virtual bool HasFile(const std::string& relative, std::uint64_t size) const = 0;
    // nullptr on failure, with result saying why; the parent folder must have been made.
    virtual std::unique_ptr<CSink> CreateFile(const std::string& relative, Result& result) = 0;
    // Makes every folder the target created or opened for writing read only again.
    virtual void Seal() = 0;
    // The real path of relative in the target.
    virtual std::string RealPath(const std::string& relative) const = 0;
    // Why the last operation failed, for a message; empty when unknown.
    virtual std::string LastError() const = 0;
};

enum class ECopyOutcome : unsigned char {
    Running,
    Copied,
    NeedsConfirmation,
    Stopped,
    NoSpace,
    ReadError,
    WriteError,
    TooLarge, // more than CCopyOutJob::kMaxItems or kMaxBytes
};

// What a copy-out reports; the outcome is final once it is no longer Running.
struct CCopyReports {
    bool bCurrentChanged = false;
    std::string strCurrent; // the volume path being copied, when changed
    ECopyOutcome outcome = ECopyOutcome::Running;
    std::uint64_t nTotal = 0;  // bytes to copy, once measured
    bool bProgram = false;     // strFile is a program: run it from its folder
    std::string strResult;     // the real path to hand to the desktop
    std::string strFailedPath; // volume path of a failure
    std::string strError;      // the target's reason for a write failure
};

// Copies a file, or a folder with its subfolders, out of a volume into a target, so that the
// desktop can open it. It first totals the sizes; a copy larger than the limit ends asking
// for confirmation before writing anything. A program brings its neighbours along: when the
// file is one, its folder (Settings::strFolder) is copied instead. Folder links are not
// followed, only regular files are copied, and a copy is executable only when the volume
// records its file so. An image may reach one folder through many records: each folder is
// entered once, the first entry of a name in a folder wins, and a copy holds at most
// kMaxItems entries and kMaxBytes.
class CCopyOutJob final : public CReportingJob<CCopyReports> {
public:
    struct Settings {
        // The file to open, or empty to copy strFolder alone (opening a folder).
        std::string strFile;
        // The application's folder; for a program it is copied whole. Volume paths.
        std::string strFolder;
        std::uint64_t nAskAbove = 0; // 0: never ask
        bool bConfirmed = false;
    };

    using Outcome = ECopyOutcome;

    static constexpr std::size_t kChunk = 256 * 1024;
    static constexpr std::size_t kMaxItems = 250'000;
    static constexpr std::uint64_t kMaxBytes = std::uint64_t{256} << 30;

    CCopyOutJob(std::shared_ptr<const CVolume> volume, std::shared_ptr<CCopyTarget> target,
                Settings settings);

    void Run() override;

    // A program by its first bytes (ELF, "#!", "MZ") or its extension (.exe, .com, .bat...).
    static bool IsProgram(const std::string& path, std::string_view head);

private:
    struct Item;
    // False when reading failed or the copy grew past the limits (bTooLarge set).
    bool Measure(const std::string& source, std::vector<Item>& items, std::uint64_t& total,
                 bool& bTooLarge);
    Outcome CopyFile(const Item& item);
    std::string Relative(const std::string& path) const;
    void SetCurrent(const std::string& path);
    void Finish(Outcome outcome, std::string failedPath = {});

    const std::shared_ptr<const CVolume> m_pVolume;
    const std::shared_ptr<CCopyTarget> m_pTarget;
    const Settings m_settings;
    std::string m_strHead; // worker-only: first bytes of strFile

    void KeepAfterTaking(const Reports& taken, Reports& pending) const override;
};
