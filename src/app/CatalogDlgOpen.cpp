// Opening the listed files and the application's folder.
#include "app/CatalogDlg.h"

#include "catalogue/Text.h"
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
    const std::string path = row->strPath;
    ReportOpenError(Shell::Execute(path, nullptr, Path::FolderOf(path)));
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
    ReportOpenError(Shell::Execute(folder, "open", std::string()));
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
