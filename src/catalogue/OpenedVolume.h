// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <memory>
#include <optional>
#include <string>

class CVolume;

// What opening a folder or a disc image that the user named gave: the volume and its
// autorun.inf label, both found on a worker, or why there is none. The texts shown for a
// failure are the window's; this says only which one applies.
struct COpenedVolume {
    enum class EFailure : unsigned char {
        None,
        CannotOpen,       // the path could not be looked at; m_strReason says why
        FolderUnreadable, // a folder whose root cannot be listed
        NotFolderOrImage, // a FIFO, socket or device: never opened
        Unreadable,       // a regular file that cannot be opened for reading
        NotAnImage,       // readable, but no disc image Quarrow can read
    };

    std::shared_ptr<const CVolume> m_pVolume; // null exactly when m_eFailure is not None
    bool m_bImage = false;                    // a disc image rather than a folder
    std::optional<std::string> m_strLabel;    // the label of autorun.inf at the root
    EFailure m_eFailure = EFailure::None;
    std::string m_strReason; // the system's words, for CannotOpen
};
