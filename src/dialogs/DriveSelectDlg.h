// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "view/JobRunner.h"

#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QPushButton>
#include <QString>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>

class CDriveSource;
class COpenVolumeJob;
class CVolume;

// The small modal dialog in which the user picks the drive to scan. Run it with exec(); it
// ends Accepted only with a drive chosen (Drive() not empty).
class CDriveSelectDlg : public QDialog {
    Q_OBJECT

public:
    // Ending the dialog lets an image open stuck in a read go after this long.
    static constexpr std::chrono::milliseconds kCloseGrace{50};
    // The result when the user asked for the library instead of a drive.
    static constexpr int kShowLibrary = 2;

    // The source is asked for the drives every time the list opens; it must outlive the
    // dialog.
    explicit CDriveSelectDlg(CDriveSource& driveSource, QWidget* pParent = nullptr);
    ~CDriveSelectDlg() override;

    // At start-up Cancel means quitting the program, so it asks first; on Yes the process
    // ends with status 0 from inside the dialog. Set before the dialog runs.
    void SetAtStartup(bool atStartup) noexcept { m_bAtStartup = atStartup; }
    bool AtStartup() const noexcept { return m_bAtStartup; }

    // The chosen drive's mount point as bytes, or empty when none is chosen.
    const std::string& Drive() const noexcept { return m_strDrive; }
    // The kind line as shown, for example "CD-ROM Drive - /media/cdrom".
    const QString& DriveKind() const noexcept { return m_strDriveKind; }
    // The disc image chosen, when it is the selected entry (Drive() is then its path).
    std::shared_ptr<const CVolume> Image() const;
    // The label of that image's autorun.inf, read when it was opened.
    const std::optional<std::string>& ImageLabel() const noexcept { return m_strImageLabel; }
    // True while a chosen image is being opened on the dialog's worker; OK waits for it.
    bool IsOpeningImage() const noexcept { return m_pOpenJob != nullptr; }

    // Opens a chosen disc image; nullptr when it is not one. DiscImage::Open unless a test
    // gives another; called on the dialog's worker.
    using ImageOpener = std::function<std::shared_ptr<const CVolume>(const std::string&)>;
    void SetImageOpener(ImageOpener opener) { m_fnOpenImage = std::move(opener); }
    // The file chooser for disc images; the chosen image is opened on a worker and becomes the
    // selected entry when it opens.
    void OnChooseImage();

    // Every way of ending goes through OnOK and OnCancel (buttons, Enter, Escape).
    void accept() override;
    void reject() override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void done(int result) override;

private:
    void OnOpenReports();
    // The drive list, telling the dialog when it drops down and when it closes up.
    class CDriveCombo : public QComboBox {
    public:
        std::function<void()> m_fnDropdown;
        std::function<void()> m_fnCloseup;

        void showPopup() override;
        void hidePopup() override;
    };

    void LayoutControls();
    void OnDropdownDrives();
    void OnCloseupDrives();
    void OnSelChangeDrives(int index);
    void OnOK();
    void OnCancel();
    void AddImageEntry();
    // Writes m_strDriveKind into the kind line.
    void UpdateKindLine();
    // Lets an image open still running go; its result goes nowhere.
    void DropImageOpen();

    bool m_bAtStartup = false;
    std::string m_strDrive;
    CDriveCombo m_comboDrives;
    QString m_strDriveKind;

    CDriveSource* m_pDriveSource; // never null
    ImageOpener m_fnOpenImage;
    std::shared_ptr<const CVolume> m_pImage; // the image last chosen, if any
    std::string m_strImagePath;
    std::optional<std::string> m_strImageLabel;
    CJobRunner m_runner;
    std::shared_ptr<COpenVolumeJob> m_pOpenJob; // the image being opened, if any
    bool m_bImageSelected = false;
    QPushButton m_wndOK;
    QPushButton m_wndCancel;
    QPushButton m_wndImage;
    QPushButton m_wndLibrary;
    QLabel m_wndPrompt;
    QLabel m_wndDriveKind;
    QLabel m_wndIcon;
};
