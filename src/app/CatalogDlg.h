// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "view/CatalogModel.h"
#include "widgets/StatusBar.h"
#include "widgets/ToolBar.h"
#include "app/FileOpener.h"
#include "view/ApplicationView.h"
#include "view/JobRunner.h"

#include <QAction>
#include <QDialog>
#include <QIcon>
#include <QPlainTextEdit>
#include <QTreeView>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class CCatalogue;
class CExtractCache;
class CDriveSelectDlg;
class CLibraryDlg;
class COpenVolumeJob;
class CDriveSource;
class CScanJob;
class CVolume;
struct COpenedVolume;

// The main window: its controls, its commands and the scan. What it shows of the selected
// application is the application view's.
class CCatalogDlg : public QDialog {
    Q_OBJECT

public:
    // Closing lets a worker stuck in the file system go after this long.
    static constexpr std::chrono::milliseconds kCloseGrace = CJobRunner::kCloseGrace;
    // Starting a new walk waits this long for the one before it to stop.
    static constexpr std::chrono::milliseconds kStopGrace = CJobRunner::kStopGrace;

    // Copying more than this out of a disc image asks first.
    static constexpr std::uint64_t kAskAboveBytes = CFileOpener::kAskAboveBytes;

    // Opens a disc image as a volume; nullptr when it is not one Quarrow can read.
    using ImageOpener = std::function<std::shared_ptr<const CVolume>(const std::string&)>;

    explicit CCatalogDlg(QWidget* pParent = nullptr);
    ~CCatalogDlg() override;

    // What start-up opens instead of looking at the current folder: a folder, scanned as a
    // drive, or a disc image (bytes, as given on the command line). Set before showing; the
    // window shows at once and the path is opened on its worker.
    void SetStartPath(std::string path) { m_strStartPath = std::move(path); }
    // What to select once a scan has ended: the application named strApplication in the
    // folder strFolder (display paths), then strFile in its list; empty parts select nothing.
    struct Selection {
        std::string strApplication, strFolder, strFile;
    };
    void SetStartSelection(Selection selection) { m_pendingSelection = std::move(selection); }
    // Opens path as a named start path does and selects selection in it.
    void OpenAndSelect(std::string path, Selection selection);
    // Shows the library window, made on first use.
    void ShowLibrary();
    // DiscImage::Open unless a test gives another; called on workers.
    void SetImageOpener(ImageOpener opener) { m_fnOpenImage = std::move(opener); }

    void setVisible(bool visible) override;

    // Scans root as a mounted folder, or volume.
    void StartScan(std::string root);
    void StartScan(std::shared_ptr<const CVolume> volume);

    bool IsWorkerRunning() const;

    void OnAbout();
    // A double-click opens the selected file with the desktop.
    void OnDblclkList();

    // Shows the message for a failed hand-over, or nothing for the codes without one.
    void ReportOpenError(int code) { m_opener.ReportOpenError(code); }

    bool IsCopying() const { return m_opener.IsCopying(); }
    // The cache of this window's copies; null until the first copy, and after closing.
    const CExtractCache* ExtractCache() const noexcept { return m_opener.ExtractCache(); }

    // Where the drive selection finds the drives; the machine's own by default.
    void SetDriveSource(std::unique_ptr<CDriveSource> source);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void done(int result) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    // Makes the toolbar, the status bar and the columns and decides what to scan. Runs once,
    // before the window is first shown.
    bool OnInitDialog();

    // Scans an opened volume, titled by its autorun.inf label (read on the worker that
    // opened it) or else its path.
    void StartLabelledScan(std::shared_ptr<const CVolume> volume,
                           const std::optional<std::string>& label);
    // Stops the latest walk and waits for it, at most grace; a walk that does not stop in
    // time is let go, its reports going nowhere.
    void StopLatestJob(std::chrono::milliseconds grace = kStopGrace);
    // A click shows the selected file's path.
    void OnClickList();
    void OnOpenFolder();
    // Runs the drive selection; on a chosen drive, scans it. At start-up Cancel asks to quit.
    void SelectDrive(bool atStartup);
    void OnSelectDrive() { SelectDrive(false); }
    void OnJobReports();
    void OnOpenReports();
    void LayoutControls();
    // One action per command, shown by the toolbar and the window menu.
    void CreateActions();
    void CreateToolBar();
    void CreateStatusBar();
    // How long start-up waits for the current folder's autorun.inf before the window shows.
    static constexpr std::chrono::milliseconds kStartupLookGrace{1000};
    // Opens the start path, or else the current folder when it has an autorun.inf.
    void LookForAutorun();
    // bNamed: the user named path, and failing to open it is reported.
    void OpenOnWorker(std::string path, bool bNamed);
    void ShowError(const QString& text);
    void EndScan(std::shared_ptr<const CCatalogue> catalogue);
    void OnSelChangedTree(const QModelIndex& current);
    void OnItemExpandedTree(const QModelIndex& index);
    void OnShowAllFiles();
    void OnShowAppFiles();
    void OnListingEnded();
    void OnDestroy();
    void SelectPendingApplication();
    void SelectPendingFile();

    CCatalogModel m_model;
    QTreeView m_wndFileList;
    QTreeView m_wndCatalogTree;
    QPlainTextEdit m_wndDescription;
    QIcon m_hIcon;
    CStatusBar m_wndStatusBar;
    CToolBar m_wndToolBar;
    QAction m_actSelectDrive;
    QAction m_actOpenFolder;
    QAction m_actShowAppFiles;
    QAction m_actShowAllFiles;
    QAction m_actAbout;
    QAction m_actWindowMenuAbout;
    CJobRunner m_runner; // every walk of the window and its view
    std::unique_ptr<CDriveSource> m_pDriveSource;
    CApplicationView m_view;

    std::shared_ptr<CScanJob> m_pScanJob;       // the scan whose reports are wanted, if any
    std::shared_ptr<COpenVolumeJob> m_pOpenJob; // the start path being opened, if any
    bool m_bOpeningNamedPath = false;           // it was named rather than the current folder

    std::string m_strStartPath;
    ImageOpener m_fnOpenImage;
    CFileOpener m_opener;
    Selection m_pendingSelection;
    CLibraryDlg* m_pLibrary = nullptr; // a child window of this one
    bool m_bInitialised = false;
    bool m_bDestroyed = false;
};
