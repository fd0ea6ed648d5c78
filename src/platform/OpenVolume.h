// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "catalogue/OpenedVolume.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>

class COpenVolumeJob;
class CVolume;

// Opens a regular file as a disc image; nullptr when it is not one Quarrow can read.
using ImageOpenFn = std::function<std::shared_ptr<const CVolume>(const std::string&)>;

// Opens what the user named: a folder as a mounted volume once its root lists, a regular
// file as a disc image through openImage (DiscImage::Open when empty), and reads the
// volume's autorun.inf label. path is absolute, without a trailing '/'. Reads the drive, so
// it runs on a worker; FIFOs, sockets and devices are never opened.
COpenedVolume OpenVolume(const std::string& path, const ImageOpenFn& openImage = {});

// A job that opens path by OpenVolume on a worker.
std::shared_ptr<COpenVolumeJob> NewOpenVolumeJob(std::string path, ImageOpenFn openImage = {});

// A drive's folder as a volume, for a walk to read; nothing is read here. Every drive the
// user picks from the list is scanned so, readable or not.
std::shared_ptr<const CVolume> OpenDriveFolder(std::string root);

// The label of the autorun.inf at the volume's root, found without regard to case; "Unknown"
// when the file has none, nullopt when there is no such file. Reads the volume.
std::optional<std::string> AutorunLabel(const CVolume& volume);
