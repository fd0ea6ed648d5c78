#pragma once

#include "app/CatalogTreeModel.h"
#include "app/StatusBar.h"
#include "app/ToolBar.h"
#include "view/FileListModel.h"
#include "view/ImageList.h"

#include <QDialog>
#include <QHash>
#include <QIcon>
#include <QPlainTextEdit>
#include <QStringList>
#include <QTreeView>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class CCatalogue;
class CDriveSelectDlg;
class CDriveSource;
class CFileListJob;
struct CFileRow;
class CScanJob;
class CWorkerThread;

// The main window: it holds all state of the program while it runs.
class CCatalogDlg : public QDialog {
    Q_OBJECT

public:
    // Closing lets a worker stuck in the file system go after this long.
    static constexpr std::chrono::milliseconds kCloseGrace{50};
    // Starting a new walk waits this long for the one before it to stop.
    static constexpr std::chrono::milliseconds kStopGrace{250};

    explicit CCatalogDlg(QWidget* pParent = nullptr);
    ~CCatalogDlg() override;

    void setVisible(bool visible) override;

    // Makes the toolbar, the status bar and the columns and decides what to scan. Runs once,
    // before the window is first shown.
    bool OnInitDialog();

    void StartScan(std::string root);
    // Stops the latest walk and waits for it, at most grace; a walk that does not stop in
    // time is let go, its reports going nowhere.
    void StopLatestJob(std::chrono::milliseconds grace = kStopGrace);
    bool IsApplicationNode(HTREEITEM item) const { return m_model.Tree().IsApplicationNode(item); }
    void SetProfileFile(std::string path);

    // Lists the files of the application whose descriptor is the current profile file.
    void StartFileList(std::string folder);
    // The file list's image for a row; UI thread (the worker prepared the row's view data).
    int GetFileIcon(const CFileRow& row);
    void RemoveExeIcons();
    const QStringList& IconExtensions() const noexcept { return m_astrIconExtensions; }
    int ImageCount() const noexcept { return m_imageList.Count(); }
    const CFileListModel& FileListModel() const noexcept { return m_fileModel; }
    bool IsShowingAllFiles() const noexcept { return m_bShowAllFiles; }

    // For tests and the rest of the program.
    const CCatalogTreeModel& CatalogModel() const noexcept { return m_model; }
    QTreeView& CatalogTree() noexcept { return m_wndCatalogTree; }
    QTreeView& FileList() noexcept { return m_wndFileList; }
    QPlainTextEdit& DescriptionPane() noexcept { return m_wndDescription; }
    CStatusBar& StatusBar() noexcept { return m_wndStatusBar; }
    CToolBar& ToolBar() noexcept { return m_wndToolBar; }
    const std::string& CurrentFolder() const noexcept { return m_strCurrentFolder; }
    bool IsWorkerRunning() const;

    // The tooltip of a control or command id: the joined status texts for the status bar,
    // nothing for id 0, else the id's string when there is one.
    std::optional<QString> OnToolTipNotify(int id) const;
    // Window-menu commands; 16 (low four bits ignored) shows the About box.
    void OnSysCommand(int nID);
    void OnAbout();

    // A click shows the selected file's path; a double-click opens it with the desktop.
    void OnClickList();
    void OnDblclkList();
    void OnOpenFolder();
    void OpenCurrentFolder();
    // Shows the message for a failed hand-over, or nothing for the codes without one.
    void ReportOpenError(int code);

    // Runs the drive selection; on a chosen drive, scans it. At start-up Cancel asks to quit.
    void SelectDrive(bool atStartup);
    void OnSelectDrive() { SelectDrive(false); }
    // Where the drive selection finds the drives; the machine's own by default.
    void SetDriveSource(std::unique_ptr<CDriveSource> source);
    bool IsListing() const noexcept { return m_pFileListJob != nullptr; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void done(int result) override;
    void keyPressEvent(QKeyEvent* event) override;

private slots:
    void OnJobReports();

private:
    void LayoutControls();
    void ServeToolTips(QWidget* widget, int id);
    void ShowWindowMenu(const QPoint& globalPos);
    void CreateToolBar();
    void CreateStatusBar();
    void LookForAutorun();
    void EndScan(const CCatalogue& catalogue);
    void OnSelChangedTree(const QModelIndex& current, const QModelIndex& previous);
    void OnItemExpandedTree(const QModelIndex& index);
    void OnCommand(int commandId);
    void OnShowAllFiles();
    void OnShowAppFiles();
    void EndFileList();
    void InitFileIcons();
    void TakeFileListReports();
    void BuildDescription(const std::string& folder);
    const CFileListModel::Row* SelectedFileRow() const;
    void OnDestroy();

    CCatalogTreeModel m_model;
    CFileListModel m_fileModel;

    bool m_bShowAllFiles = false;
    std::string m_strCurrentFolder; // bytes: the folder the next walk starts from
    std::vector<std::string> m_astrFilePatterns;
    QStringList m_astrIconExtensions;
    bool m_bSearchSubdirs = false;
    QTreeView m_wndFileList;
    QTreeView m_wndCatalogTree;
    QPlainTextEdit m_wndDescription;
    QString m_strDescription;
    QIcon m_hIcon;
    CStatusBar m_wndStatusBar;
    CToolBar m_wndToolBar;
    std::unique_ptr<CWorkerThread> m_pWorkerThread; // runs the most recently started walk
    std::unique_ptr<CDriveSource> m_pDriveSource;

    CImageList m_imageList;
    QHash<QString, int> m_mapTypeImages; // type entries of m_astrIconExtensions, by extension

    std::shared_ptr<CScanJob> m_pScanJob;             // the scan whose reports are wanted, if any
    std::shared_ptr<CFileListJob> m_pFileListJob;     // likewise for the listing
    std::optional<std::string> m_strListingAfterScan; // a listing asked for while a scan ran
    bool m_bInitialised = false;
    bool m_bDestroyed = false;
};
