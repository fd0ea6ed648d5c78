// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "view/JobRunner.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

class CCopyOutJob;
class CExtractCache;
class CStatusBar;
class CVolume;
class QWidget;

// What opening a listed file or an application's folder does: hands it to the desktop where
// it lies, or, from a volume whose files must be copied out (a disc image), copies it out
// first on the window's runner, asking above a size, and starts the copy. Every failure is
// a message box of the window's; progress is status part 0.
class CFileOpener final {
public:
    // Copying more than this out of a disc image asks first.
    static constexpr std::uint64_t kAskAboveBytes = 100'000'000;

    CFileOpener(QWidget& window, CJobRunner& runner, CStatusBar& status);
    ~CFileOpener();
    CFileOpener(const CFileOpener&) = delete;
    CFileOpener& operator=(const CFileOpener&) = delete;

    // A program starts in folder, its application's; a document opens in its application.
    void OpenFile(const std::shared_ptr<const CVolume>& volume, const std::string& path,
                  const std::string& folder);
    void OpenFolder(const std::shared_ptr<const CVolume>& volume, const std::string& folder);
    // Shows the message for a failed hand-over, or nothing for the codes without one.
    void ReportOpenError(int code);

    bool IsCopying() const;
    // Escape while copying calls it.
    void CancelCopy();
    // The cache of this window's copies; null until the first copy, and after Close.
    const CExtractCache* ExtractCache() const noexcept { return m_pExtractCache.get(); }
    // The window closes: its copies go.
    void Close();

private:
    struct CopyRequest {
        std::shared_ptr<const CVolume> pVolume;
        std::string strFile; // empty to open strFolder
        std::string strFolder;
        bool bConfirmed = false;
    };
    static std::optional<std::string> DesktopPath(const std::shared_ptr<const CVolume>& volume,
                                                  const std::string& path);
    // A document alone, a program with its application's folder, a folder whole.
    void CopyOut(std::shared_ptr<const CVolume> volume, std::string file, std::string folder,
                 bool bConfirmed = false);
    void OnCopyReports();

    QWidget& m_window;
    CJobRunner& m_runner;
    CStatusBar& m_status;
    std::unique_ptr<CExtractCache> m_pExtractCache;
    CopyRequest m_copyRequest;               // of the latest copy
    std::shared_ptr<CCopyOutJob> m_pCopyJob; // the copy whose reports are wanted, if any
};
