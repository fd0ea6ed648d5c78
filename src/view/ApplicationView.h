// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "view/FileListModel.h"
#include "view/ImageList.h"

#include <QElapsedTimer>
#include <QHash>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <chrono>
#include <deque>
#include <memory>
#include <optional>
#include <string>

class CFileListJob;
class CVolume;
class CWorkerThread;
class QPlainTextEdit;
class QTreeView;
struct CApplicationEntry;
struct CFileRow;

// What the window shows of the selected application: its description and its files with
// their icons. It owns the listing job (which also reads the descriptor and builds the
// description on the worker), the file list's rows and the image list; the UI thread only
// places what the worker prepared, a time budget at a time.
//
// The worker thread is the window's: only one walk runs at a time, and a listing asked for
// while a scan runs waits for that scan's end.
class CApplicationView final : public QObject {
    Q_OBJECT

public:
    // A new listing waits this long for the one before it to stop; a listing stuck in the
    // file system is then let go, so a selection never holds up the window for longer.
    static constexpr std::chrono::milliseconds kSupersedeGrace{20};
    // UI time spent placing rows per turn of the event loop.
    static constexpr std::chrono::milliseconds kInsertBudget{8};

    CApplicationView(CWorkerThread& worker, QTreeView& fileList, QPlainTextEdit& description,
                     QObject* parent = nullptr);
    ~CApplicationView() override;

    void InitFileIcons();

    // Shows application, or nothing (nullptr): empties the list and the pane, drops the
    // program icons, then describes and lists the application on the worker.
    void Select(const CApplicationEntry* application);
    // Lists the files of the application whose descriptor is given, in the current mode;
    // with bDescribe, the pane shows its description too.
    void StartFileList(std::string descriptor, std::string folder, bool bDescribe = false);
    // Switches between the application's files and all files, and lists again.
    void SetShowAllFiles(bool bShowAll);
    bool IsShowingAllFiles() const noexcept { return m_bShowAllFiles; }

    // While a scan runs, listings wait; the last one asked for starts when it ends.
    void SetScanRunning(bool bRunning);
    // Forgets the listing (stopped already by the caller) and empties the list.
    void Clear();

    // The folder that opening a folder and the next listing use.
    const std::string& CurrentFolder() const noexcept { return m_strCurrentFolder; }
    // The drive that listings read from; the current folder becomes its root.
    void SetVolume(std::shared_ptr<const CVolume> volume);
    // The drive of the catalogue shown; null before the first scan.
    const std::shared_ptr<const CVolume>& Volume() const noexcept { return m_pVolume; }

    // The file list's image for a row; the worker prepared the row's view data.
    int GetFileIcon(const CFileRow& row);
    void RemoveExeIcons();
    const QStringList& IconExtensions() const noexcept { return m_astrIconExtensions; }
    int ImageCount() const noexcept { return m_imageList.Count(); }
    const CFileListModel& FileListModel() const noexcept { return m_fileModel; }
    CFileListModel& FileListModel() noexcept { return m_fileModel; }
    bool IsListing() const noexcept { return m_pFileListJob != nullptr || m_pDeferred; }
    const CFileListModel::Row* SelectedFileRow() const;

signals:
    // Progress for status part 0: "Scanning: " and a folder, then "Done.".
    void Progress(const QString& text);
    // The listing has ended: its mode buttons may be pressed again.
    void ListingEnded();

private slots:
    // Reached by name from the job's wake-up, as in the window.
    void OnJobReports();

private:
    struct Listing;

    void Start(Listing listing);
    void InsertPendingRows();
    void EndFileList();
    void ShowDescription(const std::string& text);
    void ForgetListing();

    CWorkerThread& m_worker;
    QTreeView& m_wndFileList;
    QPlainTextEdit& m_wndDescription;
    CFileListModel m_fileModel;
    CImageList m_imageList;
    QStringList m_astrIconExtensions;
    QHash<QString, int> m_mapTypeImages; // type entries of m_astrIconExtensions, by extension

    bool m_bShowAllFiles = false;
    bool m_bScanRunning = false;
    std::shared_ptr<const CVolume> m_pVolume;
    std::string m_strCurrentFolder;               // bytes
    std::string m_strCurrentDescriptor;           // bytes
    std::shared_ptr<CFileListJob> m_pFileListJob; // the listing whose reports are wanted
    std::unique_ptr<Listing> m_pDeferred;         // asked for while a scan ran
    std::deque<CFileRow> m_arrPendingRows;        // reported, not yet placed
    bool m_bJobFinished = false;
    QTimer m_insertTimer;
};
