// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "view/JobRunner.h"

#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTreeWidget>

#include <functional>
#include <memory>
#include <string>
#include <vector>

class CLibraryAddJob;
class CLibrarySearchJob;
class CLibraryShelfJob;

// The library of discs: a search over every volume catalogued, the volumes themselves, and
// cataloguing more. Every look at the store or a volume runs on a worker; typing never waits.
class CLibraryDlg final : public QDialog {
    Q_OBJECT

public:
    // What a double-click on a hit opens: the volume at strVolume, the application named
    // strApplication in strFolder selected, and strFile (a full path; empty for none) in its
    // list.
    struct OpenRequest {
        std::string strVolume, strApplication, strFolder, strFile;
    };
    using Opener = std::function<void(const OpenRequest&)>;

    explicit CLibraryDlg(std::string storePath, QWidget* pParent = nullptr);
    ~CLibraryDlg() override;

    void SetOpener(Opener opener) { m_fnOpen = std::move(opener); }
    // Catalogues paths (absolute) as Add... does.
    void AddPaths(std::vector<std::string> paths);

protected:
    void done(int result) override;

private:
    void LayoutControls();
    void OnSearchEdited();
    void OnSearchReports();
    void OnHitActivated(QTreeWidgetItem* item);
    // Forgets the volumes at forget first, on the worker.
    void ReloadShelf(std::vector<std::string> forget = {});
    void OnShelfReports();
    void OnAdd();
    void OnForget();
    void OnAddReports();
    void OnCancelAdd();

    const std::string m_strStorePath;
    QLineEdit m_wndSearch;
    QLabel m_wndResultsLabel;
    QTreeWidget m_wndResults;
    QLabel m_wndDiscsLabel;
    QTreeWidget m_wndDiscs;
    QPushButton m_wndAdd;
    QPushButton m_wndForget;
    QProgressBar m_wndProgress;
    QPushButton m_wndCancel;
    QLabel m_wndMessage;
    CJobRunner m_searchRunner; // searches, the latest replacing the one before
    CJobRunner m_shelfRunner;  // reading the volumes
    CJobRunner m_addRunner;    // cataloguing
    std::shared_ptr<CLibrarySearchJob> m_pSearchJob;
    std::shared_ptr<CLibraryShelfJob> m_pShelfJob;
    std::shared_ptr<CLibraryAddJob> m_pAddJob;
    std::vector<OpenRequest> m_hits; // by the hit's row data
    Opener m_fnOpen;
};
