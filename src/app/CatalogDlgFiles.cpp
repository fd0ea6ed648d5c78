// The file list of the main window and its file-type icons.
#include "app/CatalogDlg.h"

#include "app/CatalogApp.h"
#include "app/Commands.h"
#include "catalogue/Description.h"
#include "catalogue/Descriptor.h"
#include "catalogue/FileListJob.h"
#include "catalogue/Text.h"
#include "catalogue/WorkerThread.h"
#include "view/DesktopIcons.h"
#include "view/DisplayText.h"
#include "view/FileRowView.h"

#include <QPixmap>

namespace {

const QString kExeEntry = QStringLiteral(".exe");

Descriptor::ReadKey CurrentProfile()
{
    return [](std::string_view section, std::string_view key, std::string_view defaultValue) {
        return theApp.GetProfileString(section, key, defaultValue);
    };
}

} // namespace

void CCatalogDlg::InitFileIcons()
{
    DesktopIcons::Setup();
    static const char* const kFixed[][2] = {
        {"unknown", ":/filetypes/unknown.svg"},
        {".com", ":/filetypes/program.svg"},
        {".dll", ":/filetypes/library.svg"},
        {".scr", ":/filetypes/screensaver.svg"},
    };
    for (const auto& [entry, picture] : kFixed) {
        m_imageList.Add(QIcon(QString::fromLatin1(picture)));
        m_astrIconExtensions.append(QString::fromLatin1(entry));
    }
    for (int i = 1; i < m_astrIconExtensions.size(); ++i)
        m_mapTypeImages.insert(m_astrIconExtensions[i], i);
    m_fileModel.SetImageLookup([this](int image) { return m_imageList.Icon(image); });
}

int CCatalogDlg::GetFileIcon(const CFileRow& row)
{
    const auto* view = dynamic_cast<const CFileRowView*>(row.pExtra.get());
    if (row.strExtension == ".exe") {
        // One image per program listed: each may carry its own icon.
        if (!view || view->imageExe.isNull())
            return 1;
        const int image = m_imageList.Add(QIcon(QPixmap::fromImage(view->imageExe)));
        m_astrIconExtensions.append(kExeEntry);
        return image;
    }
    const QString extension = view ? view->strType : QString::fromStdString(row.strExtension);
    // Extensions are lower case already; the table holds each type once.
    if (const auto it = m_mapTypeImages.constFind(extension); it != m_mapTypeImages.constEnd())
        return it.value();
    if (!view || view->strIconName.isEmpty())
        return 0; // an unknown type leaves no trace and is looked up again next time
    QIcon icon = QIcon::fromTheme(view->strIconName);
    if (icon.isNull())
        icon = QIcon::fromTheme(view->strGenericIconName);
    if (icon.isNull())
        return 0;
    const int image = m_imageList.Add(icon);
    m_astrIconExtensions.append(extension);
    m_mapTypeImages.insert(extension, image);
    return image;
}

void CCatalogDlg::RemoveExeIcons()
{
    // One pass over both lists: a listing may have left thousands of program icons.
    const auto isProgram = [this](int i) {
        return i >= 2 && m_astrIconExtensions[i].compare(kExeEntry, Qt::CaseInsensitive) == 0;
    };
    QStringList kept;
    kept.reserve(m_astrIconExtensions.size());
    for (int i = 0; i < m_astrIconExtensions.size(); ++i)
        if (!isProgram(i))
            kept.append(m_astrIconExtensions[i]);
    if (kept.size() == m_astrIconExtensions.size())
        return;
    m_imageList.RemoveWhere(isProgram);
    m_astrIconExtensions = std::move(kept);
    // Type entries behind removed programs moved down with their images.
    m_mapTypeImages.clear();
    for (int i = 1; i < m_astrIconExtensions.size(); ++i)
        m_mapTypeImages.insert(m_astrIconExtensions[i], i);
}

void CCatalogDlg::StartFileList(std::string folder)
{
    if (m_pScanJob) {
        // A scan is never stopped for a listing: this one waits for the scan's end.
        m_strListingAfterScan = std::move(folder);
        return;
    }
    StopLatestJob();
    m_pFileListJob.reset();

    const Descriptor::ShowFiles showFiles = Descriptor::ReadShowFiles(CurrentProfile());
    m_astrFilePatterns = showFiles.astrPatterns;
    m_fileModel.Clear();
    // A new mode lists the same programs again: without this their images pile up.
    RemoveExeIcons();
    m_strCurrentFolder = folder;
    m_bSearchSubdirs = showFiles.bSearchSubdirs;

    CFileListJob::Settings settings{std::move(folder), m_astrFilePatterns, m_bSearchSubdirs,
                                    m_bShowAllFiles};
    m_pFileListJob = std::make_shared<CFileListJob>(std::move(settings),
                                                    std::make_shared<CFileRowViewDecorator>());
    m_pFileListJob->SetWakeUp(
        [this] { QMetaObject::invokeMethod(this, "OnJobReports", Qt::QueuedConnection); });
    m_pWorkerThread->Start(m_pFileListJob);
}

void CCatalogDlg::TakeFileListReports()
{
    CFileListJob::Reports reports = m_pFileListJob->TakeReports();
    if (reports.bFolderChanged)
        m_wndStatusBar.SetText(0, QStringLiteral("Scanning: ") + DisplayText(reports.strFolder));
    if (!reports.arrRows.empty()) {
        std::vector<CFileListModel::Row> rows;
        rows.reserve(reports.arrRows.size());
        for (const CFileRow& row : reports.arrRows) {
            const auto* view = dynamic_cast<const CFileRowView*>(row.pExtra.get());
            CFileListModel::Row shown;
            if (view) {
                shown.strName = view->strName;
                shown.strType = view->strType;
                shown.strLocation = view->strLocation;
            }
            shown.strPath = row.strPath;
            shown.nImage = GetFileIcon(row);
            rows.push_back(std::move(shown));
        }
        // Each row goes in at the first visible row, so an unscrolled list shows the file
        // found last at the top.
        const QModelIndex top = m_wndFileList.indexAt(QPoint(1, 1));
        m_fileModel.InsertRowsAt(top.isValid() ? top.row() : 0, std::move(rows));
    }
    if (reports.bFinished)
        EndFileList();
}

void CCatalogDlg::EndFileList()
{
    m_pFileListJob.reset();
    m_wndStatusBar.SetText(0, QStringLiteral("Done."));
    m_astrFilePatterns.clear();
    m_astrFilePatterns.shrink_to_fit();
    m_wndToolBar.EnableButton(Command::kShowAppFiles, true);
    m_wndToolBar.EnableButton(Command::kShowAllFiles, true);
}

void CCatalogDlg::OnShowAllFiles()
{
    // Pressing the button that is already pressed switches to the other mode.
    m_bShowAllFiles = !m_wndToolBar.IsButtonChecked(Command::kShowAllFiles);
    m_wndToolBar.CheckButton(Command::kShowAllFiles, m_bShowAllFiles);
    m_wndToolBar.CheckButton(Command::kShowAppFiles, !m_bShowAllFiles);
    StartFileList(m_strCurrentFolder);
}

void CCatalogDlg::OnShowAppFiles()
{
    m_bShowAllFiles = m_wndToolBar.IsButtonChecked(Command::kShowAppFiles);
    m_wndToolBar.CheckButton(Command::kShowAllFiles, m_bShowAllFiles);
    m_wndToolBar.CheckButton(Command::kShowAppFiles, !m_bShowAllFiles);
    StartFileList(m_strCurrentFolder);
}

void CCatalogDlg::BuildDescription(const std::string& folder)
{
    m_strDescription = QString::fromStdString(Description::Build(CurrentProfile(), folder).strText);
}
