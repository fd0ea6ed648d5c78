// Opening the listed files and the application's folder.
#include "app/CatalogDlg.h"

#include "catalogue/Text.h"
#include "catalogue/Volume.h"
#include "platform/desktop/Prompt.h"
#include "platform/desktop/Shell.h"
#include "view/DisplayText.h"

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
    const std::optional<std::string> path = DesktopPath(folder);
    ReportOpenError(path ? Shell::Execute(*path, "open", std::string()) : Shell::kErrFileNotFound);
}

void CCatalogDlg::ReportOpenError(int code)
{
    struct Message {
        int code;
        const char* text;
        QMessageBox::Icon icon;
    };
    static constexpr Message kMessages[] = {
        {0, "Out of Memory", QMessageBox::Critical},
        {8, "Not enough memory to complete operation.", QMessageBox::Critical},
        {11, "Invalid exe format", QMessageBox::Critical},
        {26, "File sharing violation", QMessageBox::Critical},
        {27, "Invalid file association", QMessageBox::Critical},
        {31, "This file is not associated with any application", QMessageBox::Warning},
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
