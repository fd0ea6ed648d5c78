// SPDX-License-Identifier: GPL-3.0-or-later
#include "dialogs/DriveSelectDlg.h"

#include "widgets/DialogUnits.h"
#include "widgets/Pictures.h"
#include "catalogue/OpenVolumeJob.h"
#include "catalogue/Text.h"
#include "platform/DriveSource.h"
#include "platform/OpenVolume.h"
#include "desktop/Prompt.h"
#include "view/DisplayText.h"
#include "view/JobRunner.h"

#include <QAbstractItemView>
#include <QByteArray>
#include <QFile>
#include <QFileDialog>
#include <QPainter>
#include <QSignalBlocker>
#include <QStyle>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

constexpr int kTemplateHeight = 58;
constexpr int kPromptLeft = 25;
constexpr int kPromptWidth = 160;
// Wide enough for the closed list to show a typical mount point whole.
constexpr int kComboWidth = 150;
constexpr int kGap = 3;
constexpr int kMargin = 5;
constexpr int kButtonWidth = 50;
// The buttons keep their places relative to the middle of the dialog.
constexpr int kButtonOffset = 42;
constexpr int kImageButtonWidth = 60;

constexpr int kMountPointRole = Qt::UserRole;
constexpr int kKindRole = Qt::UserRole + 1;
// The kind role of a disc image's entry: no drive kind has it.
constexpr int kImageKind = -1;

const QString kCaption = QStringLiteral("Quarrow");

} // namespace

void CDriveSelectDlg::CDriveCombo::showPopup()
{
    if (m_fnDropdown)
        m_fnDropdown();
    QComboBox::showPopup();
    // An empty list does not open, but it is closed all the same.
    if (!view()->isVisible() && m_fnCloseup)
        m_fnCloseup();
}

void CDriveSelectDlg::CDriveCombo::hidePopup()
{
    const bool wasOpen = view()->isVisible();
    QComboBox::hidePopup();
    if (wasOpen && m_fnCloseup)
        m_fnCloseup();
}

CDriveSelectDlg::CDriveSelectDlg(CDriveSource& driveSource, QWidget* pParent)
    : QDialog(pParent)
    , m_pDriveSource(&driveSource)
{
    Pictures::EnsureLoaded();
    setWindowTitle(kCaption);
    // A thin border and no title bar; paintEvent draws the border.
    setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
    setModal(true);

    // Parented in template order, which is also the order of the focus chain.
    m_wndOK.setParent(this);
    m_wndCancel.setParent(this);
    m_wndImage.setParent(this);
    m_wndLibrary.setParent(this);
    m_wndPrompt.setParent(this);
    m_comboDrives.setParent(this);
    m_wndDriveKind.setParent(this);
    m_wndIcon.setParent(this);

    m_wndOK.setObjectName(QStringLiteral("ok"));
    m_wndOK.setText(QStringLiteral("OK"));
    m_wndOK.setDefault(true);
    m_wndCancel.setObjectName(QStringLiteral("cancel"));
    m_wndCancel.setText(QStringLiteral("Cancel"));
    m_wndImage.setObjectName(QStringLiteral("image"));
    m_wndImage.setText(QStringLiteral("Disc &Image..."));
    m_wndImage.setAccessibleName(QStringLiteral("Open a disc image"));
    m_wndImage.setToolTip(QStringLiteral("Choose a disc image file to scan"));
    m_wndImage.setAutoDefault(false);
    m_wndLibrary.setObjectName(QStringLiteral("library"));
    m_wndLibrary.setText(QStringLiteral("&Library..."));
    m_wndLibrary.setToolTip(QStringLiteral("Search the discs and images catalogued before"));
    m_wndLibrary.setAutoDefault(false);

    m_wndPrompt.setObjectName(QStringLiteral("prompt"));
    m_wndPrompt.setTextFormat(Qt::PlainText);
    m_wndPrompt.setText(QStringLiteral("Select the drive you wish to scan for applications:"));
    m_wndPrompt.setBuddy(&m_comboDrives);

    m_comboDrives.setObjectName(QStringLiteral("drives"));
    m_comboDrives.setAccessibleName(QStringLiteral("Drive"));
    m_comboDrives.setEditable(false);
    m_comboDrives.setInsertPolicy(QComboBox::NoInsert);
    m_comboDrives.m_fnDropdown = [this] {
        OnDropdownDrives();
    };
    m_comboDrives.m_fnCloseup = [this] {
        OnCloseupDrives();
    };
    connect(&m_comboDrives, &QComboBox::currentIndexChanged, this,
            &CDriveSelectDlg::OnSelChangeDrives);

    // Blank at first, not "No Drive Selected": nothing has been closed yet.
    m_wndDriveKind.setObjectName(QStringLiteral("driveKind"));
    m_wndDriveKind.setAccessibleName(QStringLiteral("Drive kind"));
    m_wndDriveKind.setTextFormat(Qt::PlainText);
    m_wndDriveKind.setAlignment(Qt::AlignCenter);
    UpdateKindLine();

    m_wndIcon.setObjectName(QStringLiteral("icon"));
    m_wndIcon.setAlignment(Qt::AlignCenter);

    connect(&m_wndOK, &QPushButton::clicked, this, &CDriveSelectDlg::OnOK);
    connect(&m_wndCancel, &QPushButton::clicked, this, &CDriveSelectDlg::OnCancel);
    connect(&m_wndImage, &QPushButton::clicked, this, &CDriveSelectDlg::OnChooseImage);
    connect(&m_wndLibrary, &QPushButton::clicked, this, [this] { done(kShowLibrary); });

    setTabOrder(&m_wndOK, &m_wndCancel);
    setTabOrder(&m_wndCancel, &m_wndImage);
    setTabOrder(&m_wndImage, &m_wndLibrary);
    setTabOrder(&m_wndLibrary, &m_comboDrives);
    LayoutControls();
}

CDriveSelectDlg::~CDriveSelectDlg()
{
    DropImageOpen();
    // The combo box is torn down after the kind line; it must not call back into a dialog
    // that is half gone.
    disconnect(&m_comboDrives, nullptr, this, nullptr);
    m_comboDrives.m_fnDropdown = nullptr;
    m_comboDrives.m_fnCloseup = nullptr;
}

void CDriveSelectDlg::LayoutControls()
{
    const CDialogUnits units(font());
    // The prompt was measured for a narrower font: it keeps its whole text and pushes the
    // list, and with it the dialog's width, to the right.
    const QRect promptBox = units.Rect(kPromptLeft, 10, kPromptWidth, 8);
    const int promptWidth = std::max(promptBox.width(), m_wndPrompt.sizeHint().width());
    m_wndPrompt.setGeometry(promptBox.left(), promptBox.top(), promptWidth, promptBox.height());

    // The closed combo box is as tall as its style wants, centred on the prompt's line.
    const int comboLeft = promptBox.left() + promptWidth + units.X(kGap);
    const int comboHeight = std::max(units.Y(12), m_comboDrives.sizeHint().height());
    m_comboDrives.setGeometry(comboLeft, promptBox.center().y() - comboHeight / 2,
                              units.X(kComboWidth), comboHeight);

    const int width = m_comboDrives.geometry().right() + 1 + units.X(kMargin);
    setFixedSize(width, units.Y(kTemplateHeight));
    m_wndDriveKind.setGeometry(units.X(kMargin), units.Y(25), width - 2 * units.X(kMargin),
                               units.Y(10));

    const int middle = width / 2;
    const int buttonWidth = units.X(kButtonWidth);
    const int offset = units.X(kButtonOffset);
    m_wndOK.setGeometry(middle - offset - buttonWidth / 2, units.Y(40), buttonWidth, units.Y(14));
    m_wndCancel.setGeometry(middle + offset - buttonWidth / 2, units.Y(40), buttonWidth,
                            units.Y(14));
    // At the right edge, clear of the two buttons that keep their old places.
    const int imageWidth = std::max(units.X(kImageButtonWidth), m_wndImage.sizeHint().width());
    m_wndImage.setGeometry(width - units.X(kMargin) - imageWidth, units.Y(40), imageWidth,
                           units.Y(14));
    m_wndLibrary.setGeometry(units.X(kMargin), units.Y(40), imageWidth, units.Y(14));

    const QRect iconBox = units.Rect(2, 5, 20, 20);
    m_wndIcon.setGeometry(iconBox);
    const int side = std::min(iconBox.width(), iconBox.height());
    m_wndIcon.setPixmap(Pictures::Render(QStringLiteral(":/drive/select-drive-dialog.svg"), side,
                                         devicePixelRatioF()));
}

void CDriveSelectDlg::paintEvent(QPaintEvent* event)
{
    QDialog::paintEvent(event);
    QPainter painter(this);
    painter.setPen(palette().color(QPalette::WindowText));
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
}

void CDriveSelectDlg::OnDropdownDrives()
{
    std::vector<CDrive> drives = m_pDriveSource->Drives();
    std::sort(drives.begin(), drives.end(), [](const CDrive& a, const CDrive& b) {
        return a.m_strMountPoint < b.m_strMountPoint;
    });
    drives.erase(std::unique(drives.begin(), drives.end(),
                             [](const CDrive& a, const CDrive& b) {
                                 return a.m_strMountPoint == b.m_strMountPoint;
                             }),
                 drives.end());

    // Refilling is not a choice of the user's; only closing the list is.
    const QSignalBlocker blocker(&m_comboDrives);
    m_comboDrives.clear();
    int widest = 0;
    for (const CDrive& drive : drives) {
        const QString text = DisplayText(drive.m_strMountPoint);
        m_comboDrives.addItem(text);
        const int row = m_comboDrives.count() - 1;
        m_comboDrives.setItemData(row, QByteArray::fromStdString(drive.m_strMountPoint),
                                  kMountPointRole);
        m_comboDrives.setItemData(row, static_cast<int>(drive.m_eKind), kKindRole);
        widest = std::max(widest, m_comboDrives.fontMetrics().horizontalAdvance(text));
    }
    AddImageEntry();
    // "/" stands where drive C stood.
    m_comboDrives.setCurrentIndex(m_comboDrives.findText(QStringLiteral("/")));

    // Long mount points show whole in the open list, even where the closed box cuts them.
    const int extra = m_comboDrives.style()->pixelMetric(QStyle::PM_ScrollBarExtent) +
                      4 * m_comboDrives.style()->pixelMetric(QStyle::PM_DefaultFrameWidth) +
                      m_comboDrives.fontMetrics().averageCharWidth() * 2;
    m_comboDrives.view()->setMinimumWidth(widest + extra);
}

void CDriveSelectDlg::OnCloseupDrives()
{
    // A choice made while an image opens replaces the image.
    DropImageOpen();
    const int index = m_comboDrives.currentIndex();
    m_bImageSelected = false;
    if (index < 0) {
        m_strDrive.clear();
        m_strDriveKind = QStringLiteral("No Drive Selected");
    } else {
        m_strDrive = m_comboDrives.itemData(index, kMountPointRole).toByteArray().toStdString();
        const int kindRole = m_comboDrives.itemData(index, kKindRole).toInt();
        m_bImageSelected = kindRole == kImageKind;
        const std::string_view prefix = m_bImageSelected
                                            ? std::string_view("Disc Image - ")
                                            : DriveKindPrefix(static_cast<EDriveKind>(kindRole));
        m_strDriveKind = QString::fromLatin1(prefix.data(), static_cast<qsizetype>(prefix.size())) +
                         DisplayText(m_strDrive);
    }
    UpdateKindLine();
}

std::shared_ptr<const CVolume> CDriveSelectDlg::Image() const
{
    return m_bImageSelected ? m_pImage : nullptr;
}

void CDriveSelectDlg::AddImageEntry()
{
    if (!m_pImage)
        return;
    m_comboDrives.addItem(DisplayText(m_strImagePath));
    const int row = m_comboDrives.count() - 1;
    m_comboDrives.setItemData(row, QByteArray::fromStdString(m_strImagePath), kMountPointRole);
    m_comboDrives.setItemData(row, kImageKind, kKindRole);
}

void CDriveSelectDlg::OnChooseImage()
{
    QFileDialog chooser(this, QStringLiteral("Open Disc Image"));
    chooser.setObjectName(QStringLiteral("imageChooser"));
    chooser.setFileMode(QFileDialog::ExistingFile);
    chooser.setAcceptMode(QFileDialog::AcceptOpen);
    // Both cases: discs written on Windows often carry upper-case names.
    chooser.setNameFilters({QStringLiteral("Disc images (*.iso *.img *.bin *.cue *.ccd *.mds *.nrg "
                                           "*.mdf *.udf *.ISO *.IMG *.BIN *.CUE *.CCD *.MDS *.NRG "
                                           "*.MDF *.UDF)"),
                            QStringLiteral("All files (*)")});
    if (CPrompt::ExecDialog(chooser) != QDialog::Accepted || chooser.selectedFiles().isEmpty())
        return;
    const std::string path = QFile::encodeName(chooser.selectedFiles().constFirst()).toStdString();

    DropImageOpen();
    m_pOpenJob = NewOpenVolumeJob(path, m_fnOpenImage);
    m_runner.Start(CJobRunner::EKind::Open, m_pOpenJob, [this] { OnOpenReports(); });
    // The kind line alone says it: the choice made before stays until the image opens.
    m_wndDriveKind.setText(QStringLiteral("Opening %1...").arg(DisplayText(path)));
    m_wndOK.setEnabled(false);
}

void CDriveSelectDlg::OnOpenReports()
{
    if (!m_pOpenJob)
        return;
    std::optional<COpenedVolume> opened = m_pOpenJob->TakeReports();
    if (!opened)
        return;
    const std::string path = m_pOpenJob->Path();
    DropImageOpen();
    // The chooser picks files only; a folder in the file's place is no image either.
    if (!opened->m_pVolume || !opened->m_bImage) {
        UpdateKindLine();
        CPrompt::MessageBox(
            this,
            QStringLiteral("%1 is not a disc image that Quarrow can read").arg(DisplayText(path)),
            kCaption, QMessageBox::Ok, QMessageBox::Warning);
        return;
    }
    m_pImage = std::move(opened->m_pVolume);
    m_strImageLabel = std::move(opened->m_strLabel);
    m_strImagePath = path;
    {
        const QSignalBlocker blocker(&m_comboDrives);
        for (int row = m_comboDrives.count() - 1; row >= 0; --row)
            if (m_comboDrives.itemData(row, kKindRole).toInt() == kImageKind)
                m_comboDrives.removeItem(row);
        AddImageEntry();
        m_comboDrives.setCurrentIndex(m_comboDrives.count() - 1);
    }
    OnCloseupDrives();
}

void CDriveSelectDlg::DropImageOpen()
{
    if (!m_pOpenJob)
        return;
    // Done or stuck in a read, the open is of no more use: it ends on its own.
    m_runner.Stop(kCloseGrace);
    m_pOpenJob.reset();
    m_wndOK.setEnabled(true);
}

void CDriveSelectDlg::OnSelChangeDrives(int index)
{
    (void)index;
    // A choice made with the keyboard while the list is closed counts as much as one made in
    // the open list; left alone, OK would take the drive chosen before.
    OnCloseupDrives();
}

void CDriveSelectDlg::UpdateKindLine()
{
    m_wndDriveKind.setText(m_strDriveKind);
}

void CDriveSelectDlg::accept()
{
    OnOK();
}

void CDriveSelectDlg::reject()
{
    OnCancel();
}

void CDriveSelectDlg::done(int result)
{
    DropImageOpen();
    QDialog::done(result);
}

void CDriveSelectDlg::OnOK()
{
    if (IsOpeningImage())
        return;
    if (m_strDrive.empty()) {
        CPrompt::MessageBox(this, QStringLiteral("Please select a drive"), kCaption,
                            QMessageBox::Ok, QMessageBox::Information);
        return;
    }
    QDialog::accept();
}

void CDriveSelectDlg::OnCancel()
{
    if (!m_bAtStartup) {
        QDialog::reject();
        return;
    }
    const QMessageBox::StandardButton answer = CPrompt::MessageBox(
        this, QStringLiteral("Do you want to quit?"), kCaption, QMessageBox::Yes | QMessageBox::No,
        QMessageBox::Warning, QMessageBox::No);
    if (answer != QMessageBox::Yes)
        return;
    // Nothing has been shown or changed yet, so the process ends here; static objects still
    // go through their destructors.
    std::fflush(nullptr);
    std::exit(0);
}
