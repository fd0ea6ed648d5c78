// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "catalogue/Job.h"
#include "catalogue/OpenedVolume.h"

#include <functional>
#include <optional>
#include <string>

// Opens one folder or disc image on a worker: an image may be slow, hostile or stuck in a
// read, and the window must answer meanwhile. The opener is given, so the core needs no
// platform code and tests can give one that blocks.
class COpenVolumeJob final : public CReportingJob<std::optional<COpenedVolume>> {
public:
    using Opener = std::function<COpenedVolume(const std::string&)>;

    COpenVolumeJob(std::string path, Opener opener);

    void Run() override;

    // TakeReports gives the result once the opener has returned, once; nullopt before.
    const std::string& Path() const noexcept { return m_strPath; }

private:
    const std::string m_strPath;
    const Opener m_fnOpen;
};
