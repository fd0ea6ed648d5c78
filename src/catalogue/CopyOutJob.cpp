// SPDX-License-Identifier: GPL-3.0-or-later
#include "catalogue/CopyOutJob.h"
#include "catalogue/Path.h"

#include "catalogue/Text.h"

#include <algorithm>
#include <array>
#include <set>
#include <unordered_set>
#include <utility>

struct CCopyOutJob::Item {
    std::string strPath;
    bool bFolder = false;
    std::uint64_t nSize = 0;
};

CCopyOutJob::CCopyOutJob(std::shared_ptr<const CVolume> volume, std::shared_ptr<CCopyTarget> target,
                         Settings settings)
    : m_pVolume(std::move(volume))
    , m_pTarget(std::move(target))
    , m_settings(std::move(settings))
{}

bool CCopyOutJob::IsProgram(const std::string& path, std::string_view head)
{
    if (head.starts_with("\x7f"
                         "ELF") ||
        head.starts_with("#!") || head.starts_with("MZ"))
        return true;
    static constexpr std::array<std::string_view, 6> kExtensions = {".exe", ".com", ".bat",
                                                                    ".cmd", ".pif", ".scr"};
    const std::size_t slash = path.rfind('/');
    const std::size_t dot = path.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return false;
    const std::string extension = Text::ToLowerAscii(path.substr(dot));
    return std::find(kExtensions.begin(), kExtensions.end(), extension) != kExtensions.end();
}

void CCopyOutJob::Run()
{
    std::string source = m_settings.strFolder;
    bool bProgram = false;
    if (!m_settings.strFile.empty()) {
        std::unique_ptr<CVolume::CFile> file = m_pVolume->OpenFile(m_settings.strFile);
        if (!file)
            return Finish(Outcome::ReadError, m_settings.strFile);
        std::string head(std::min<std::uint64_t>(file->Size(), 4), '\0');
        if (!file->ReadAt(0, head.data(), head.size()))
            return Finish(Outcome::ReadError, m_settings.strFile);
        bProgram = IsProgram(m_settings.strFile, head);
        const bool bInFolder =
            m_settings.strFile.size() > m_settings.strFolder.size() &&
            m_settings.strFile.starts_with(m_settings.strFolder) &&
            (m_settings.strFolder == "/" || m_settings.strFile[m_settings.strFolder.size()] == '/');
        if (!bProgram)
            source = m_settings.strFile;
        else if (!bInFolder)
            source = Path::FolderOf(m_settings.strFile);
    }
    Update([&](Reports& pending) { pending.bProgram = bProgram; });

    std::vector<Item> items;
    std::uint64_t total = 0;
    bool bTooLarge = false;
    if (!Measure(source, items, total, bTooLarge)) {
        if (IsStopRequested())
            return Finish(Outcome::Stopped, source);
        return Finish(bTooLarge ? Outcome::TooLarge : Outcome::ReadError, source);
    }
    Update([&](Reports& pending) { pending.nTotal = total; });
    if (m_settings.nAskAbove != 0 && total > m_settings.nAskAbove && !m_settings.bConfirmed)
        return Finish(Outcome::NeedsConfirmation);

    Outcome outcome = Outcome::Copied;
    std::string failed;
    if (m_pTarget->MakeFolder(Relative(Path::FolderOf(source))) != CCopyTarget::Result::Ok) {
        outcome = Outcome::WriteError;
        failed = source;
    }
    for (const Item& item : items) {
        if (outcome != Outcome::Copied)
            break;
        if (IsStopRequested()) {
            outcome = Outcome::Stopped;
            break;
        }
        if (item.bFolder) {
            const CCopyTarget::Result result = m_pTarget->MakeFolder(Relative(item.strPath));
            if (result != CCopyTarget::Result::Ok)
                outcome =
                    result == CCopyTarget::Result::NoSpace ? Outcome::NoSpace : Outcome::WriteError;
        } else {
            outcome = CopyFile(item);
        }
        if (outcome != Outcome::Copied)
            failed = item.strPath;
    }
    m_pTarget->Seal();
    const std::string& opened = m_settings.strFile.empty() ? source : m_settings.strFile;
    std::string result = m_pTarget->RealPath(Relative(opened));
    std::string error;
    if (outcome == Outcome::WriteError || outcome == Outcome::NoSpace)
        error = m_pTarget->LastError();
    Update([&](Reports& pending) {
        pending.strResult = std::move(result);
        pending.strError = std::move(error);
    });
    Finish(outcome, std::move(failed));
}

bool CCopyOutJob::Measure(const std::string& source, std::vector<Item>& items, std::uint64_t& total,
                          bool& bTooLarge)
{
    if (m_pVolume->What(source) != CVolume::PathKind::Folder) {
        const std::optional<CVolume::FileIdentity> identity = m_pVolume->IdentityOf(source);
        if (!identity)
            return false;
        if (identity->nSize > kMaxBytes) {
            bTooLarge = true;
            return false;
        }
        items.push_back({source, false, identity->nSize});
        total = identity->nSize;
        return true;
    }
    // An explicit stack: a folder may be deeper than any thread's stack.
    std::vector<std::string> folders{source};
    std::set<std::pair<std::uint64_t, std::uint64_t>> entered;
    std::unordered_set<std::string> names; // of the folder being read
    std::unique_ptr<CVolume::CFolderReader> reader = m_pVolume->NewFolderReader();
    CVolume::Entry entry;
    while (!folders.empty()) {
        std::string folder = std::move(folders.back());
        folders.pop_back();
        SetCurrent(folder);
        std::unique_ptr<CVolume::CFolder> open = m_pVolume->OpenFolder(folder);
        const std::optional<CVolume::FolderInfo> info =
            open ? m_pVolume->GetFolderInfo(*open) : std::nullopt;
        if (!info)
            return false;
        if (!entered.emplace(info->id.nDevice, info->id.nNode).second)
            continue;
        if (!reader->Start(*open))
            return false;
        items.push_back({folder, true, 0});
        names.clear();
        const std::size_t firstSubfolder = folders.size();
        while (reader->Next(entry)) {
            if (IsStopRequested())
                return false;
            // A file and a folder of one name cannot both be copied; the volume shows the first.
            if (!names.insert(entry.strName).second)
                continue;
            if (items.size() >= kMaxItems) {
                bTooLarge = true;
                return false;
            }
            std::string path = Path::Join(folder, entry.strName);
            if (entry.type == CVolume::EntryType::Folder && !entry.bLink) {
                folders.push_back(std::move(path));
            } else if (entry.type == CVolume::EntryType::File) {
                // FIFOs, devices and dangling links have no identity: they are left out.
                if (const auto identity = m_pVolume->IdentityOf(path)) {
                    if (identity->nSize > kMaxBytes - total) {
                        bTooLarge = true;
                        return false;
                    }
                    total += identity->nSize;
                    items.push_back({std::move(path), false, identity->nSize});
                }
            }
        }
        // Entered in record order: of two records of one folder, the first is copied.
        std::reverse(folders.begin() + static_cast<std::ptrdiff_t>(firstSubfolder), folders.end());
    }
    return true;
}

CCopyOutJob::Outcome CCopyOutJob::CopyFile(const Item& item)
{
    const std::string relative = Relative(item.strPath);
    if (m_pTarget->HasFile(relative, item.nSize))
        return Outcome::Copied;
    SetCurrent(item.strPath);
    std::unique_ptr<CVolume::CFile> file = m_pVolume->OpenFile(item.strPath);
    if (!file)
        return Outcome::ReadError;
    CCopyTarget::Result result = CCopyTarget::Result::Ok;
    std::unique_ptr<CCopyTarget::CSink> sink = m_pTarget->CreateFile(relative, result);
    if (!sink)
        return result == CCopyTarget::Result::NoSpace ? Outcome::NoSpace : Outcome::WriteError;
    const auto written = [](CCopyTarget::Result r) {
        return r == CCopyTarget::Result::NoSpace ? Outcome::NoSpace : Outcome::WriteError;
    };
    std::string buffer(std::min<std::uint64_t>(kChunk, file->Size()), '\0');
    for (std::uint64_t offset = 0; offset < file->Size();) {
        if (IsStopRequested())
            return Outcome::Stopped;
        const std::size_t size = std::min<std::uint64_t>(buffer.size(), file->Size() - offset);
        if (!file->ReadAt(offset, buffer.data(), size))
            return Outcome::ReadError;
        if ((result = sink->Write(buffer.data(), size)) != CCopyTarget::Result::Ok)
            return written(result);
        offset += size;
    }
    if ((result = sink->Commit(file->IsRecordedExecutable())) != CCopyTarget::Result::Ok)
        return written(result);
    return Outcome::Copied;
}

std::string CCopyOutJob::Relative(const std::string& path) const
{
    const std::string& root = m_pVolume->Root();
    if (path.size() <= root.size())
        return {};
    return path.substr(root == "/" ? 1 : root.size() + 1);
}

void CCopyOutJob::SetCurrent(const std::string& path)
{
    Report([&](Reports& pending) {
        pending.bCurrentChanged = true;
        pending.strCurrent = path;
    });
}

void CCopyOutJob::Finish(Outcome outcome, std::string failedPath)
{
    Report(
        [&](Reports& pending) {
            pending.outcome = outcome;
            pending.strFailedPath = std::move(failedPath);
        },
        true);
}

void CCopyOutJob::KeepAfterTaking(const Reports& taken, Reports& pending) const
{
    // All but the current path's change stays: the outcome is read until it is final.
    pending = taken;
    pending.bCurrentChanged = false;
}
