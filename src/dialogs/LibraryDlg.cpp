// SPDX-License-Identifier: GPL-3.0-or-later
#include "dialogs/LibraryDlg.h"

#include "catalogue/Path.h"
#include "library/LibraryJobs.h"
#include "view/DisplayText.h"

#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QMenu>
#include <QRegularExpression>
#include <QVBoxLayout>

namespace {

enum EResultColumn { kName, kKind, kDisc, kLocation };
enum EDiscColumn { kLabel, kPath, kApplications, kFiles, kState };
// The hit's index into the window's requests.
constexpr int kRequestRole = Qt::UserRole;

std::vector<std::string> Words(const QString& text)
{
    std::vector<std::string> words;
    for (const QString& word :
         text.split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts))
        words.push_back(word.toStdString());
    return words;
}

std::string InVolume(const std::string& volume, const std::string& inside)
{
    return inside.empty() ? volume : Path::Join(volume, inside);
}

QTreeWidgetItem* Row(QTreeWidget& list, const QStringList& texts)
{
    auto* item = new QTreeWidgetItem(&list, texts);
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
    return item;
}

void SetUpList(QTreeWidget& list, QLabel& label, const QString& name, const QStringList& header)
{
    label.setText(name + QLatin1Char(':'));
    label.setBuddy(&list);
    list.setAccessibleName(name);
    list.setHeaderLabels(header);
    list.setRootIsDecorated(false);
    list.setUniformRowHeights(true);
    list.setAllColumnsShowFocus(true);
    list.header()->setStretchLastSection(true);
}

} // namespace

CLibraryDlg::CLibraryDlg(std::string storePath, QWidget* pParent)
    : QDialog(pParent)
    , m_strStorePath(std::move(storePath))
{
    setWindowTitle(QStringLiteral("Quarrow Library"));
    setWindowFlag(Qt::WindowMaximizeButtonHint);
    setObjectName(QStringLiteral("libraryWindow"));
    LayoutControls();
    connect(&m_wndSearch, &QLineEdit::textEdited, this, &CLibraryDlg::OnSearchEdited);
    connect(&m_wndResults, &QTreeWidget::itemActivated, this, &CLibraryDlg::OnHitActivated);
    connect(&m_wndForget, &QPushButton::clicked, this, &CLibraryDlg::OnForget);
    connect(&m_wndCancel, &QPushButton::clicked, this, &CLibraryDlg::OnCancelAdd);
    connect(&m_wndDiscs, &QTreeWidget::itemSelectionChanged, this,
            [this] { m_wndForget.setEnabled(!m_wndDiscs.selectedItems().isEmpty()); });
    ReloadShelf();
}

CLibraryDlg::~CLibraryDlg() = default;

void CLibraryDlg::LayoutControls()
{
    m_wndSearch.setAccessibleName(QStringLiteral("Search"));
    m_wndSearch.setPlaceholderText(QStringLiteral("Search the library"));
    m_wndSearch.setClearButtonEnabled(true);
    m_wndSearch.setObjectName(QStringLiteral("search"));
    SetUpList(m_wndResults, m_wndResultsLabel, QStringLiteral("Results"),
              {QStringLiteral("Name"), QStringLiteral("Kind or Category"), QStringLiteral("Disc"),
               QStringLiteral("Location")});
    m_wndResults.setObjectName(QStringLiteral("results"));
    SetUpList(m_wndDiscs, m_wndDiscsLabel, QStringLiteral("Discs"),
              {QStringLiteral("Label"), QStringLiteral("Path"), QStringLiteral("Applications"),
               QStringLiteral("Files"), QStringLiteral("State")});
    m_wndDiscs.setObjectName(QStringLiteral("discs"));
    m_wndDiscs.setSelectionMode(QAbstractItemView::ExtendedSelection);

    m_wndAdd.setText(QStringLiteral("&Add..."));
    auto* addMenu = new QMenu(&m_wndAdd);
    addMenu->addAction(QStringLiteral("&Folder..."), this, &CLibraryDlg::OnAdd);
    addMenu->addAction(QStringLiteral("Disc &Image..."), this, [this] {
        const QStringList files = QFileDialog::getOpenFileNames(
            this, QStringLiteral("Add Disc Images"), QString(),
            QStringLiteral(
                "Disc images (*.iso *.img *.bin *.cue *.ccd *.mds *.nrg *.mdf *.udf *.ima "
                "*.vfd *.ISO *.IMG *.BIN *.CUE *.CCD *.MDS *.NRG *.MDF *.UDF);;"
                "All files (*)"));
        std::vector<std::string> paths;
        for (const QString& file : files)
            paths.push_back(QFile::encodeName(file).toStdString());
        AddPaths(std::move(paths));
    });
    m_wndAdd.setMenu(addMenu);
    m_wndForget.setText(QStringLiteral("&Forget"));
    m_wndForget.setObjectName(QStringLiteral("forget"));
    m_wndForget.setEnabled(false);
    m_wndCancel.setText(QStringLiteral("Cancel"));
    m_wndProgress.setAccessibleName(QStringLiteral("Cataloguing"));
    m_wndProgress.hide();
    m_wndCancel.hide();
    m_wndMessage.setWordWrap(true);

    auto* searchLabel = new QLabel(QStringLiteral("&Search:"), this);
    searchLabel->setBuddy(&m_wndSearch);
    auto* searchRow = new QHBoxLayout;
    searchRow->addWidget(searchLabel);
    searchRow->addWidget(&m_wndSearch);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(&m_wndAdd);
    buttons->addWidget(&m_wndForget);
    buttons->addWidget(&m_wndProgress, 1);
    buttons->addWidget(&m_wndCancel);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(searchRow);
    layout->addWidget(&m_wndResultsLabel);
    layout->addWidget(&m_wndResults, 3);
    layout->addWidget(&m_wndDiscsLabel);
    layout->addWidget(&m_wndDiscs, 2);
    layout->addLayout(buttons);
    layout->addWidget(&m_wndMessage);
    resize(760, 560);
}

void CLibraryDlg::OnSearchEdited()
{
    std::vector<std::string> words = Words(m_wndSearch.text());
    if (words.empty()) {
        m_searchRunner.Stop(CJobRunner::kListingGrace);
        m_pSearchJob.reset();
        m_wndResults.clear();
        m_hits.clear();
        return;
    }
    m_pSearchJob = std::make_shared<CLibrarySearchJob>(m_strStorePath, std::move(words));
    m_searchRunner.Start(CJobRunner::EKind::Listing, m_pSearchJob, [this] { OnSearchReports(); });
}

void CLibraryDlg::OnSearchReports()
{
    std::optional<CLibraryHits> hits = m_pSearchJob ? m_pSearchJob->TakeReports() : std::nullopt;
    if (!hits)
        return;
    m_wndResults.setUpdatesEnabled(false);
    m_wndResults.clear();
    m_hits.clear();
    const auto add = [this](const QStringList& texts, OpenRequest request) {
        Row(m_wndResults, texts)->setData(kName, kRequestRole, static_cast<int>(m_hits.size()));
        m_hits.push_back(std::move(request));
    };
    for (const CLibraryStore::ApplicationHit& hit : hits->arrApplications) {
        const std::string folder = InVolume(hit.strVolumePath, hit.strFolder);
        add({DisplayText(hit.strName), DisplayText(hit.strCategory), DisplayText(hit.strLabel),
             DisplayText(folder)},
            {hit.strVolumePath, hit.strName, folder, {}});
    }
    for (const CLibraryStore::FileHit& hit : hits->arrFiles) {
        const std::string folder = InVolume(hit.strVolumePath, hit.strFolder);
        add({DisplayText(hit.strName), QStringLiteral("File"), DisplayText(hit.strLabel),
             DisplayText(folder)},
            {hit.strVolumePath, {}, folder, Path::Join(folder, hit.strName)});
    }
    m_wndResults.setUpdatesEnabled(true);
    if (!hits->strError.empty())
        m_wndMessage.setText(QStringLiteral("The library cannot be searched: %1")
                                 .arg(QString::fromStdString(hits->strError)));
    else if (hits->bMore)
        m_wndMessage.setText(QStringLiteral("Only the first %1 applications and files are "
                                            "shown; add words to find fewer.")
                                 .arg(CLibrarySearchJob::kMaxHits));
    else
        m_wndMessage.clear();
}

void CLibraryDlg::OnHitActivated(QTreeWidgetItem* item)
{
    const int index = item->data(kName, kRequestRole).toInt();
    if (m_fnOpen && index >= 0 && static_cast<std::size_t>(index) < m_hits.size())
        m_fnOpen(m_hits[static_cast<std::size_t>(index)]);
}

void CLibraryDlg::ReloadShelf(std::vector<std::string> forget)
{
    m_pShelfJob = std::make_shared<CLibraryShelfJob>(m_strStorePath, std::move(forget));
    m_shelfRunner.Start(CJobRunner::EKind::Listing, m_pShelfJob, [this] { OnShelfReports(); });
}

void CLibraryDlg::OnShelfReports()
{
    std::optional<CLibraryShelf> shelf = m_pShelfJob ? m_pShelfJob->TakeReports() : std::nullopt;
    if (!shelf)
        return;
    m_wndDiscs.clear();
    for (const CLibraryShelf::Row& row : shelf->rows) {
        const CLibraryVolume& volume = row.volume;
        QTreeWidgetItem* item =
            Row(m_wndDiscs, {DisplayText(volume.strLabel), DisplayText(volume.strPath),
                             QString::number(volume.nApplications), QString::number(volume.nFiles),
                             QString::fromLatin1(row.pszState)});
        item->setData(kPath, kRequestRole, QByteArray::fromStdString(volume.strPath));
        if (!volume.strError.empty())
            item->setToolTip(kState, QString::fromStdString(volume.strError));
    }
    if (!shelf->strError.empty())
        m_wndMessage.setText(QString::fromStdString(shelf->strError));
}

void CLibraryDlg::OnAdd()
{
    const QString folder =
        QFileDialog::getExistingDirectory(this, QStringLiteral("Add a Folder of Discs"));
    if (!folder.isEmpty())
        AddPaths({QFile::encodeName(folder).toStdString()});
}

void CLibraryDlg::AddPaths(std::vector<std::string> paths)
{
    if (paths.empty() || m_pAddJob)
        return;
    m_pAddJob = std::make_shared<CLibraryAddJob>(m_strStorePath, std::move(paths));
    m_wndProgress.setRange(0, 0);
    m_wndProgress.show();
    m_wndCancel.show();
    m_wndAdd.setEnabled(false);
    m_wndMessage.setText(QStringLiteral("Looking for discs..."));
    m_addRunner.Start(CJobRunner::EKind::Scan, m_pAddJob, [this] { OnAddReports(); });
}

void CLibraryDlg::OnAddReports()
{
    if (!m_pAddJob)
        return;
    const CLibraryAddReports reports = m_pAddJob->TakeReports();
    if (reports.nFound > 0) {
        m_wndProgress.setRange(0, static_cast<int>(reports.nFound));
        m_wndProgress.setValue(static_cast<int>(reports.nDone));
        m_wndMessage.setText(QStringLiteral("Cataloguing %1 of %2: %3")
                                 .arg(reports.nDone + 1)
                                 .arg(reports.nFound)
                                 .arg(DisplayText(reports.strCurrent)));
    }
    if (!reports.outcomes.empty())
        ReloadShelf();
    if (!reports.bEnded)
        return;
    m_pAddJob.reset();
    m_wndProgress.hide();
    m_wndCancel.hide();
    m_wndAdd.setEnabled(true);
    m_wndMessage.setText(
        reports.strError.empty()
            ? QStringLiteral("Catalogued %1 of %2 volumes.").arg(reports.nDone).arg(reports.nFound)
            : QStringLiteral("The library cannot be written: %1")
                  .arg(QString::fromStdString(reports.strError)));
    ReloadShelf();
}

void CLibraryDlg::OnCancelAdd()
{
    if (m_pAddJob)
        m_pAddJob->RequestStop();
}

void CLibraryDlg::OnForget()
{
    std::vector<std::string> paths;
    for (const QTreeWidgetItem* item : m_wndDiscs.selectedItems())
        paths.push_back(item->data(kPath, kRequestRole).toByteArray().toStdString());
    ReloadShelf(std::move(paths));
}

void CLibraryDlg::done(int result)
{
    m_searchRunner.Stop(CJobRunner::kCloseGrace);
    m_shelfRunner.Stop(CJobRunner::kCloseGrace);
    m_addRunner.Stop(CJobRunner::kCloseGrace);
    QDialog::done(result);
}
