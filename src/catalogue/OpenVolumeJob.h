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
class COpenVolumeJob final : public CJob {
public:
    using Opener = std::function<COpenedVolume(const std::string&)>;

    COpenVolumeJob(std::string path, Opener opener);

    void Run() override;

    // UI side: the result once the opener has returned, handed over once; nullopt before.
    std::optional<COpenedVolume> TakeResult();

    const std::string& Path() const noexcept { return m_strPath; }

private:
    const std::string m_strPath;
    const Opener m_fnOpen;
    std::optional<COpenedVolume> m_result; // guarded by m_mutex
};
