// SPDX-License-Identifier: GPL-3.0-or-later
// Opening the listed files and the application's folder.
#include "app/CatalogDlg.h"

#include "catalogue/CopyOutJob.h"
#include "catalogue/Path.h"
#include "catalogue/Text.h"
#include "catalogue/Volume.h"
#include "catalogue/WorkerThread.h"
#include "platform/ExtractCache.h"
#include "desktop/Prompt.h"
#include "desktop/Shell.h"
#include "view/DisplayText.h"

#include <QLocale>
#include <QMetaObject>

#include <utility>

namespace {

const QString kEscapeHint = QStringLiteral(" (Esc cancels)");

} // namespace

void CCatalogDlg::OnClickList()
{
    if (const CFileListModel::Row* row = m_view.SelectedFileRow())
        m_wndStatusBar.SetText(0, DisplayText(row->strPath));
}

void CCatalogDlg::OnDblclkList()
{
    const CFileListModel::Row* row = m_view.SelectedFileRow();
    if (!row)
        return;
    // The path kept with the row, never one rebuilt from the shown (lower-cased) texts.
    if (m_view.Volume() && m_view.Volume()->MustCopyOut()) {
        CopyOut(row->strPath, m_view.CurrentFolder());
        return;
    }
    const std::optional<std::string> path = DesktopPath(row->strPath);
    ReportOpenError(path ? Shell::Execute(*path, nullptr, Path::FolderOf(*path))
                         : Shell::kErrFileNotFound);
}

std::optional<std::string> CCatalogDlg::DesktopPath(const std::string& path) const
{
    // The desktop opens real files only: a volume may have to give one first.
    const std::shared_ptr<const CVolume>& volume = m_view.Volume();
    return volume ? volume->RealPathForDesktop(path) : std::optional<std::string>(path);
}

void CCatalogDlg::OnOpenFolder()
{
    OpenCurrentFolder();
}

void CCatalogDlg::OpenCurrentFolder()
{
    const std::string& folder = m_view.CurrentFolder();
    if (folder.empty()) {
        CPrompt::MessageBox(this, QStringLiteral("No file selected."), QStringLiteral("Error"),
                            QMessageBox::Ok, QMessageBox::Warning);
        return;
    }
    if (m_view.Volume() && m_view.Volume()->MustCopyOut()) {
        CopyOut(std::string(), folder);
        return;
    }
    const std::optional<std::string> path = DesktopPath(folder);
    ReportOpenError(path ? Shell::Execute(*path, "open", std::string()) : Shell::kErrFileNotFound);
}

void CCatalogDlg::CopyOut(std::string file, std::string folder, bool bConfirmed)
{
    // The listing a pending copy waits for is of the same volume.
    const std::shared_ptr<const CVolume> volume = m_view.Volume();
    if (!volume)
        return;
    CopyRequest request{std::move(file), std::move(folder), bConfirmed};
    if (!m_pExtractCache) {
        std::string error;
        m_pExtractCache = CExtractCache::Create(error);
        if (!m_pExtractCache) {
            ShowError(QStringLiteral("Quarrow cannot make a folder for the files it copies out "
                                     "of disc images: %1.")
                          .arg(DisplayText(error)));
            return;
        }
    }
    m_copyRequest = request;
    CCopyOutJob::Settings settings;
    settings.strFile = std::move(request.strFile);
    settings.strFolder = std::move(request.strFolder);
    settings.nAskAbove = kAskAboveBytes;
    settings.bConfirmed = request.bConfirmed;
    m_pCopyJob = std::make_shared<CCopyOutJob>(
        volume, m_pExtractCache->Target(volume->Root(), volume->ContentKey()), std::move(settings));
    const std::string& shown =
        m_copyRequest.strFile.empty() ? m_copyRequest.strFolder : m_copyRequest.strFile;
    m_wndStatusBar.SetText(0, QStringLiteral("Copying: ") + DisplayText(shown) + kEscapeHint);
    // One walk at a time: the copy waits for the listing of the application's files.
    m_runner.Start(CJobRunner::EKind::Copy, m_pCopyJob, [this] { OnCopyReports(); });
}

bool CCatalogDlg::IsCopying() const
{
    return m_pCopyJob && m_runner.IsRunning(CJobRunner::EKind::Copy);
}

void CCatalogDlg::CancelCopy()
{
    if (m_pCopyJob)
        m_pCopyJob->RequestStop();
}

void CCatalogDlg::OnCopyReports()
{
    if (!m_pCopyJob)
        return;
    const CCopyOutJob::Reports reports = m_pCopyJob->TakeReports();
    if (reports.bCurrentChanged)
        m_wndStatusBar.SetText(0, QStringLiteral("Copying: ") + DisplayText(reports.strCurrent) +
                                      kEscapeHint);
    if (reports.outcome == CCopyOutJob::Outcome::Running)
        return;
    m_pCopyJob.reset();
    m_wndStatusBar.SetText(0, QStringLiteral("Done."));
    const QString failed = DisplayText(reports.strFailedPath);
    switch (reports.outcome) {
    case CCopyOutJob::Outcome::Copied:
        if (m_copyRequest.strFile.empty())
            ReportOpenError(Shell::Execute(reports.strResult, "open", std::string()));
        else
            ReportOpenError(
                Shell::Execute(reports.strResult, nullptr, Path::FolderOf(reports.strResult)));
        break;
    case CCopyOutJob::Outcome::NeedsConfirmation: {
        const std::string& opened =
            m_copyRequest.strFile.empty() ? m_copyRequest.strFolder : m_copyRequest.strFile;
        const QString size = QLocale().formattedDataSize(static_cast<qint64>(reports.nTotal), 1,
                                                         QLocale::DataSizeSIFormat);
        const QString text =
            reports.bProgram
                ? QStringLiteral("To start %1, Quarrow copies its folder, %2, out of the disc "
                                 "image. Copy it?")
                : QStringLiteral("To open %1, Quarrow copies %2 out of the disc image. Copy it?");
        const QMessageBox::StandardButton answer = CPrompt::MessageBox(
            this, text.arg(DisplayText(opened), size), QStringLiteral("Quarrow"),
            QMessageBox::Yes | QMessageBox::No, QMessageBox::Question, QMessageBox::Yes);
        if (answer == QMessageBox::Yes)
            CopyOut(m_copyRequest.strFile, m_copyRequest.strFolder, true);
        break;
    }
    case CCopyOutJob::Outcome::Stopped:
        m_wndStatusBar.SetText(0, QStringLiteral("Copying cancelled."));
        break;
    case CCopyOutJob::Outcome::NoSpace:
        ShowError(QStringLiteral("Quarrow cannot copy %1 out of the disc image: the disk that "
                                 "holds %2 is full.")
                      .arg(failed, DisplayText(m_pExtractCache ? m_pExtractCache->RunFolder()
                                                               : std::string())));
        break;
    case CCopyOutJob::Outcome::ReadError:
        ShowError(QStringLiteral("Quarrow cannot read %1 in the disc image.").arg(failed));
        break;
    case CCopyOutJob::Outcome::TooLarge:
        ShowError(QStringLiteral("Quarrow cannot copy %1 out of the disc image: it holds more "
                                 "than %2 files or %3.")
                      .arg(failed, QLocale().toString(static_cast<qint64>(CCopyOutJob::kMaxItems)),
                           QLocale().formattedDataSize(static_cast<qint64>(CCopyOutJob::kMaxBytes),
                                                       0, QLocale::DataSizeSIFormat)));
        break;
    case CCopyOutJob::Outcome::WriteError:
        ShowError(QStringLiteral("Quarrow cannot copy %1 out of the disc image: %2.")
                      .arg(failed, DisplayText(reports.strError)));
        break;
    case CCopyOutJob::Outcome::Running:
        break;
    }
}

void CCatalogDlg::ReportOpenError(int code)
{
    struct Message {
        int code;
        const char* text;
        QMessageBox::Icon icon;
    };
    static constexpr Message kMessages[] = {
        {Shell::kErrOutOfResources, "Out of Memory", QMessageBox::Critical},
        {Shell::kErrNoMemory, "Not enough memory to complete operation.", QMessageBox::Critical},
        {Shell::kErrBadFormat, "Invalid exe format", QMessageBox::Critical},
        {Shell::kErrShare, "File sharing violation", QMessageBox::Critical},
        {Shell::kErrAssocIncomplete, "Invalid file association", QMessageBox::Critical},
        {Shell::kErrNoAssoc, "This file is not associated with any application",
         QMessageBox::Warning},
    };
    // Every other code passes in silence, a file that vanished since it was listed included.
    for (const Message& message : kMessages) {
        if (message.code == code) {
            CPrompt::MessageBox(this, QString::fromLatin1(message.text),
                                QStringLiteral("Error Opening File"), QMessageBox::Ok,
                                message.icon);
            return;
        }
    }
}
