// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/FileOpener.h"

#include "catalogue/CopyOutJob.h"
#include "catalogue/Job.h"
#include "catalogue/Path.h"
#include "catalogue/Volume.h"
#include "desktop/Prompt.h"
#include "desktop/Shell.h"
#include "platform/DiscView.h"
#include "platform/ExtractCache.h"
#include "view/DisplayText.h"
#include "widgets/StatusBar.h"

#include <QLocale>
#include <QWidget>

#include <unistd.h>

#include <cstdlib>
#include <utility>

namespace {

const QString kEscapeHint = QStringLiteral(" (Esc cancels)");

void ShowError(QWidget& window, const QString& text)
{
    CPrompt::MessageBox(&window, text, QStringLiteral("Quarrow"), QMessageBox::Ok,
                        QMessageBox::Warning);
}

// Next to our own executable first, as built, then where it is installed; QUARROW_DISC_VIEW names
// another (tests).
std::string DiscViewServer()
{
    if (const char* named = std::getenv("QUARROW_DISC_VIEW"))
        return named;
    char self[4096];
    const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
    const std::string beside =
        n > 0 ? Path::Join(Path::FolderOf(std::string(self, static_cast<std::size_t>(n))),
                           "quarrow-disc-view")
              : std::string();
    if (!beside.empty() && ::access(beside.c_str(), X_OK) == 0)
        return beside;
    return QUARROW_HELPER_DIR "/quarrow-disc-view";
}

} // namespace

struct CDiscViewReports {
    bool bEnded = false;
    std::shared_ptr<DiscView::CLease> pLease;
    std::string strError;
};

// Gets an image's view on the worker: starting the server waits on it and on the mount.
class CDiscViewJob final : public CReportingJob<CDiscViewReports> {
public:
    CDiscViewJob(std::shared_ptr<const CVolume> volume, std::string server)
        : m_pVolume(std::move(volume))
        , m_strServer(std::move(server))
    {}
    void Run() override
    {
        std::string error;
        std::shared_ptr<DiscView::CLease> lease = DiscView::Acquire(*m_pVolume, m_strServer, error);
        Report(
            [&](CDiscViewReports& reports) {
                reports = {true, std::move(lease), std::move(error)};
            },
            true);
    }

private:
    std::shared_ptr<const CVolume> m_pVolume;
    std::string m_strServer;
};

CFileOpener::CFileOpener(QWidget& window, CJobRunner& runner, CStatusBar& status)
    : m_window(window)
    , m_runner(runner)
    , m_status(status)
{}

CFileOpener::~CFileOpener() = default;

void CFileOpener::OpenFile(const std::shared_ptr<const CVolume>& volume, const std::string& path,
                           const std::string& folder)
{
    if (volume && volume->Away()) {
        ReportAway(*volume->Away());
        return;
    }
    if (volume && volume->MustCopyOut()) {
        OpenFromImage(volume, path, folder);
        return;
    }
    const std::optional<std::string> real = DesktopPath(volume, path);
    ReportOpenError(real ? Shell::Execute(*real, nullptr, Path::FolderOf(*real))
                         : Shell::kErrFileNotFound);
}

void CFileOpener::OpenFolder(const std::shared_ptr<const CVolume>& volume,
                             const std::string& folder)
{
    if (volume && volume->Away()) {
        ReportAway(*volume->Away());
        return;
    }
    if (volume && volume->MustCopyOut()) {
        OpenFromImage(volume, std::string(), folder);
        return;
    }
    const std::optional<std::string> real = DesktopPath(volume, folder);
    ReportOpenError(real ? Shell::Execute(*real, "open", std::string()) : Shell::kErrFileNotFound);
}

void CFileOpener::ReportAway(const CVolume::Whereabouts& where)
{
    const QString label = DisplayText(where.strLabel);
    const QString path = DisplayText(where.strPath);
    QString text;
    switch (where.eKind) {
    case CVolume::Whereabouts::EKind::Image:
        text = QStringLiteral("The disc image of %1 is no longer at %2. Put it back there to "
                              "open its files.")
                   .arg(label, path);
        break;
    case CVolume::Whereabouts::EKind::Disc:
        text = QStringLiteral("Insert the disc %1 to open its files. It was last seen at %2.")
                   .arg(label, path);
        break;
    case CVolume::Whereabouts::EKind::Folder:
        text = QStringLiteral("The folder of %1 is no longer at %2. Put it back there to open "
                              "its files.")
                   .arg(label, path);
        break;
    }
    ShowError(m_window, text);
}

std::optional<std::string> CFileOpener::DesktopPath(const std::shared_ptr<const CVolume>& volume,
                                                    const std::string& path)
{
    // The desktop opens real files only: a volume may have to give one first.
    return volume ? volume->RealPathForDesktop(path) : std::optional<std::string>(path);
}

std::string CFileOpener::ViewKey(const CVolume& volume)
{
    return volume.Root() + '\0' + volume.ContentKey();
}

void CFileOpener::OpenFromImage(std::shared_ptr<const CVolume> volume, std::string file,
                                std::string folder)
{
    const std::string key = ViewKey(*volume);
    if (m_noView.count(key) != 0) {
        CopyOut(std::move(volume), std::move(file), std::move(folder));
        return;
    }
    if (const auto found = m_leases.find(key); found != m_leases.end()) {
        OpenInView(*found->second, *volume, file, folder);
        return;
    }
    m_viewRequest = {volume, std::move(file), std::move(folder), false};
    m_pViewJob = std::make_shared<CDiscViewJob>(std::move(volume), DiscViewServer());
    const std::string& shown =
        m_viewRequest.strFile.empty() ? m_viewRequest.strFolder : m_viewRequest.strFile;
    m_status.SetText(0, QStringLiteral("Opening: ") + DisplayText(shown));
    m_runner.Start(CJobRunner::EKind::Copy, m_pViewJob, [this] { OnViewReports(); });
}

void CFileOpener::OnViewReports()
{
    if (!m_pViewJob)
        return;
    CDiscViewReports reports = m_pViewJob->TakeReports();
    if (!reports.bEnded)
        return;
    m_pViewJob.reset();
    CopyRequest request = std::move(m_viewRequest);
    const std::string key = ViewKey(*request.pVolume);
    if (reports.pLease) {
        m_status.SetText(0, QStringLiteral("Done."));
        OpenInView(*reports.pLease, *request.pVolume, request.strFile, request.strFolder);
        m_leases.emplace(key, std::move(reports.pLease));
        return;
    }
    m_noView.insert(key);
    if (!m_bToldNoView && !reports.strError.empty()) {
        m_bToldNoView = true;
        m_strNoViewNote = QStringLiteral("Quarrow cannot show the disc image in place (%1); its "
                                         "files are copied out instead.")
                              .arg(DisplayText(reports.strError));
    }
    CopyOut(std::move(request.pVolume), std::move(request.strFile), std::move(request.strFolder));
}

void CFileOpener::OpenInView(const DiscView::CLease& lease, const CVolume& volume,
                             const std::string& file, const std::string& folder)
{
    const auto inView = [&](const std::string& path) {
        return lease.MountPoint() + path.substr(volume.Root().size());
    };
    if (file.empty())
        ReportOpenError(Shell::Execute(inView(folder), "open", std::string()));
    else
        ReportOpenError(Shell::Execute(
            inView(file), nullptr, folder.empty() ? Path::FolderOf(inView(file)) : inView(folder)));
}

void CFileOpener::Close()
{
    m_pViewJob.reset();
    // Never waits: the server sees the leases go and leaves once nothing uses the view.
    m_leases.clear();
    m_pCopyJob.reset();
    // The copies go with the window that made them.
    m_pExtractCache.reset();
}

void CFileOpener::CopyOut(std::shared_ptr<const CVolume> volume, std::string file,
                          std::string folder, bool bConfirmed)
{
    CopyRequest request{std::move(volume), std::move(file), std::move(folder), bConfirmed};
    if (!m_pExtractCache) {
        std::string error;
        m_pExtractCache = CExtractCache::Create(error);
        if (!m_pExtractCache) {
            ShowError(m_window,
                      QStringLiteral("Quarrow cannot make a folder for the files it copies out "
                                     "of disc images: %1.")
                          .arg(DisplayText(error)));
            return;
        }
    }
    m_copyRequest = request;
    const std::shared_ptr<const CVolume>& source = request.pVolume;
    CCopyOutJob::Settings settings;
    settings.strFile = std::move(request.strFile);
    settings.strFolder = std::move(request.strFolder);
    settings.nAskAbove = kAskAboveBytes;
    settings.bConfirmed = request.bConfirmed;
    m_pCopyJob = std::make_shared<CCopyOutJob>(
        source, m_pExtractCache->Target(source->Root(), source->ContentKey()), std::move(settings));
    const std::string& shown =
        m_copyRequest.strFile.empty() ? m_copyRequest.strFolder : m_copyRequest.strFile;
    m_status.SetText(0, QStringLiteral("Copying: ") + DisplayText(shown) + kEscapeHint);
    // One walk at a time: the copy waits for the listing of the application's files.
    m_runner.Start(CJobRunner::EKind::Copy, m_pCopyJob, [this] { OnCopyReports(); });
}

bool CFileOpener::IsCopying() const
{
    return m_pCopyJob && m_runner.IsRunning(CJobRunner::EKind::Copy);
}

void CFileOpener::CancelCopy()
{
    if (m_pCopyJob)
        m_pCopyJob->RequestStop();
}

void CFileOpener::OnCopyReports()
{
    if (!m_pCopyJob)
        return;
    const CCopyOutJob::Reports reports = m_pCopyJob->TakeReports();
    if (reports.bCurrentChanged)
        m_status.SetText(0, QStringLiteral("Copying: ") + DisplayText(reports.strCurrent) +
                                kEscapeHint);
    if (reports.outcome == CCopyOutJob::Outcome::Running)
        return;
    m_pCopyJob.reset();
    m_status.SetText(0, m_strNoViewNote.isEmpty() ? QStringLiteral("Done.")
                                                  : std::exchange(m_strNoViewNote, QString()));
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
            &m_window, text.arg(DisplayText(opened), size), QStringLiteral("Quarrow"),
            QMessageBox::Yes | QMessageBox::No, QMessageBox::Question, QMessageBox::Yes);
        if (answer == QMessageBox::Yes)
            CopyOut(m_copyRequest.pVolume, m_copyRequest.strFile, m_copyRequest.strFolder, true);
        break;
    }
    case CCopyOutJob::Outcome::Stopped:
        m_status.SetText(0, QStringLiteral("Copying cancelled."));
        break;
    case CCopyOutJob::Outcome::NoSpace:
        ShowError(m_window,
                  QStringLiteral("Quarrow cannot copy %1 out of the disc image: the disk that "
                                 "holds %2 is full.")
                      .arg(failed, DisplayText(m_pExtractCache ? m_pExtractCache->RunFolder()
                                                               : std::string())));
        break;
    case CCopyOutJob::Outcome::ReadError:
        ShowError(m_window,
                  QStringLiteral("Quarrow cannot read %1 in the disc image.").arg(failed));
        break;
    case CCopyOutJob::Outcome::TooLarge:
        ShowError(m_window,
                  QStringLiteral("Quarrow cannot copy %1 out of the disc image: it holds more "
                                 "than %2 files or %3.")
                      .arg(failed, QLocale().toString(static_cast<qint64>(CCopyOutJob::kMaxItems)),
                           QLocale().formattedDataSize(static_cast<qint64>(CCopyOutJob::kMaxBytes),
                                                       0, QLocale::DataSizeSIFormat)));
        break;
    case CCopyOutJob::Outcome::WriteError:
        ShowError(m_window, QStringLiteral("Quarrow cannot copy %1 out of the disc image: %2.")
                                .arg(failed, DisplayText(reports.strError)));
        break;
    case CCopyOutJob::Outcome::Running:
        break;
    }
}

void CFileOpener::ReportOpenError(int code)
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
            CPrompt::MessageBox(&m_window, QString::fromLatin1(message.text),
                                QStringLiteral("Error Opening File"), QMessageBox::Ok,
                                message.icon);
            return;
        }
    }
}
