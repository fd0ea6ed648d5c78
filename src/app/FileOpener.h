// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "catalogue/Volume.h"
#include "view/JobRunner.h"

#include <QString>

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>

class CCopyOutJob;
class CDiscViewJob;
class CExtractCache;
class CStatusBar;
class QWidget;
namespace DiscView {
class CLease;
}

// What opening a listed file or an application's folder does: hands it to the desktop where
// it lies, or, from a volume whose files must be copied out (a disc image), hands over its
// path in the image's FUSE view (DiscView), got on the window's runner and leased for the
// window's life; without a view it copies the file out first, asking above a size, and
// starts the copy. Every failure is
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
    // The window closes: its copies go, and its views once nothing else uses them.
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
    static std::string ViewKey(const CVolume& volume);
    // What to do to open a file of a volume shown from the library while it is away.
    void ReportAway(const CVolume::Whereabouts& where);
    // The view where there is one, else a copy.
    void OpenFromImage(std::shared_ptr<const CVolume> volume, std::string file, std::string folder);
    void OpenInView(const DiscView::CLease& lease, const CVolume& volume, const std::string& file,
                    const std::string& folder);
    void OnViewReports();
    // A document alone, a program with its application's folder, a folder whole.
    void CopyOut(std::shared_ptr<const CVolume> volume, std::string file, std::string folder,
                 bool bConfirmed = false);
    void OnCopyReports();

    QWidget& m_window;
    CJobRunner& m_runner;
    CStatusBar& m_status;
    std::unique_ptr<CExtractCache> m_pExtractCache;
    CopyRequest m_copyRequest;                // of the latest copy
    std::shared_ptr<CCopyOutJob> m_pCopyJob;  // the copy whose reports are wanted, if any
    CopyRequest m_viewRequest;                // waiting for its view
    std::shared_ptr<CDiscViewJob> m_pViewJob; // getting the view, if any
    std::map<std::string, std::shared_ptr<DiscView::CLease>> m_leases; // by ViewKey
    std::set<std::string> m_noView; // images whose view was refused: copied out
    bool m_bToldNoView = false;
    QString m_strNoViewNote; // shown once the copy that stands in for the view has ended
};
