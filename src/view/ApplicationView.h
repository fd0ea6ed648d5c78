// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "catalogue/ProgramIconJob.h"
#include "catalogue/WorkerThread.h"
#include "view/JobRunner.h"
#include "view/FileListModel.h"
#include "view/FileTypeIcons.h"

#include <QElapsedTimer>
#include <QIcon>
#include <QObject>
#include <QString>
#include <QTimer>

#include <chrono>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

class CFileListJob;
class CVolume;
class QPlainTextEdit;
class QTreeView;
struct CApplicationEntry;
struct CFileRow;

// What the window shows of the selected application: its description and its files with
// their icons. It owns the listing job (which also reads the descriptor and builds the
// description on the worker) and the file list's rows; the UI thread turns the plain rows the
// worker found into shown ones, a time budget at a time, each with its type's icon at once.
//
// The walk worker is the window's: only one walk runs at a time, and a listing asked for
// while a scan runs waits for that scan's end. Program icons are read apart, by an icon job
// on a worker of the view's own, rows on screen first and the rest once the listing is over;
// a new listing, Clear() and StopIcons() let that job go.
class CApplicationView final : public QObject {
    Q_OBJECT

public:
    // A program-icon job replaced waits this long, as a listing does; one stuck in the file
    // system is then let go.
    static constexpr std::chrono::milliseconds kSupersedeGrace = CJobRunner::kListingGrace;
    // UI time spent placing rows per turn of the event loop.
    static constexpr std::chrono::milliseconds kInsertBudget{8};

    // Listings run on the window's runner, as its scans and copies do.
    CApplicationView(CJobRunner& runner, QTreeView& fileList, QPlainTextEdit& description,
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

    // Forgets the listing (stopped already by the caller) and empties the list.
    void Clear();

    // The folder that opening a folder and the next listing use.
    const std::string& CurrentFolder() const noexcept { return m_strCurrentFolder; }
    // The drive that listings read from; the current folder becomes its root.
    void SetVolume(std::shared_ptr<const CVolume> volume);
    // The drive of the catalogue shown; null before the first scan.
    const std::shared_ptr<const CVolume>& Volume() const noexcept { return m_pVolume; }

    // The icon a row shows when placed: its type's; a program's own follows once read.
    QIcon GetFileIcon(const CFileRow& row);
    // Forgets the program icons read so far; the rows shown keep theirs.
    void RemoveExeIcons();
    // Stops reading program icons and lets the icon job go; for closing the window.
    void StopIcons();
    // Program icons kept for later listings.
    std::size_t ProgramIconCount() const noexcept { return m_mapProgramIcons.size(); }
    // True while program rows of the list still wait for their icons.
    bool IsReadingIcons() const noexcept { return m_nIconsPlaced < m_arrPrograms.size(); }
    const CFileTypeIcons& FileTypeIcons() const noexcept { return m_typeIcons; }
    const CFileListModel& FileListModel() const noexcept { return m_fileModel; }
    CFileListModel& FileListModel() noexcept { return m_fileModel; }
    // A listing runs or waits for the scan.
    bool IsListing() const noexcept { return m_pFileListJob != nullptr; }
    const CFileListModel::Row* SelectedFileRow() const;

signals:
    // Progress for status part 0: "Scanning: " and a folder, then "Done.".
    void Progress(const QString& text);
    // The listing has ended: its mode buttons may be pressed again.
    void ListingEnded();

private slots:
    // Reached by name from the icon job's wake-up: the queued call is built inside Qt.
    void OnIconReports();

private:
    struct Listing;
    struct ProgramRow {
        CFileListModel::Handle handle = 0;
        bool bListedRegular = false;
        bool bRequested = false;
    };

    void Start(Listing listing);
    void OnJobReports();
    void InsertPendingRows();
    void EndFileList();
    void ShowDescription(const std::string& text);
    void ForgetListing();
    // Empties the list and lets go of the icon job reading for it.
    void ClearList();
    void RequestIcons();
    // Asks for the icons of the program rows on screen, ahead of any asked for before.
    void RequestVisibleIcons();
    // Asks for the icons of every program row not asked for yet, after the rest.
    void RequestRemainingIcons();
    void Request(std::vector<CProgramIconJob::Request> requests, bool bUrgent);
    void PlaceIcons();
    // The icon for bytes read from a program; null when they hold none.
    QIcon ProgramIcon(const CProgramIconCache::Icon& bytes);

    CJobRunner& m_runner;
    QTreeView& m_wndFileList;
    QPlainTextEdit& m_wndDescription;
    CFileListModel m_fileModel;
    CFileTypeIcons m_typeIcons;
    std::string m_strLastFolder; // rows come in runs of one folder
    QString m_strLastLocation;

    bool m_bShowAllFiles = false;
    std::shared_ptr<const CVolume> m_pVolume;
    std::string m_strCurrentFolder;                        // bytes
    std::string m_strCurrentDescriptor;                    // bytes
    std::shared_ptr<CFileListJob> m_pFileListJob;          // the listing whose reports are wanted
    std::deque<std::vector<CFileRow>> m_arrPendingBatches; // reported, not yet placed
    std::size_t m_nPendingAt = 0;                          // rows of the first batch placed already
    bool m_bJobFinished = false;
    qint64 m_nLastInsertNs = 0; // what placing the last batch cost the view
    QTimer m_insertTimer;

    const std::shared_ptr<CProgramIconCache> m_pIconCache;
    // Decoded once per version read; each entry holds its bytes, so no key is ever reused.
    std::unordered_map<const void*, std::pair<CProgramIconCache::Icon, QIcon>> m_mapProgramIcons;
    std::vector<ProgramRow> m_arrPrograms; // of this listing; a row's nProgram is index + 1
    std::size_t m_nIconsPlaced = 0;        // results placed, with an icon or without
    std::deque<CProgramIconJob::Result> m_arrPendingIcons; // read, not yet placed
    QTimer m_iconTimer;
    QTimer m_requestTimer;
    bool m_bListIdle = false; // the listing has ended: every program's icon may be asked for
    std::shared_ptr<CProgramIconJob> m_pIconJob; // of this listing; null until it asks
    CWorkerThread m_iconWorker; // last: let go before anything its job's wake-up reaches
};
