// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QMessageBox>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

class QDialog;
class QWidget;

// What a message box looks like: enough to build it, or to check one that a test answered.
struct CPromptBox {
    QString m_strText;
    QString m_strCaption;
    QMessageBox::StandardButtons m_eButtons = QMessageBox::Ok;
    QMessageBox::Icon m_eIcon = QMessageBox::NoIcon;
    // NoButton lets QMessageBox pick, as it does for a single OK.
    QMessageBox::StandardButton m_eDefault = QMessageBox::NoButton;

    bool operator==(const CPromptBox&) const = default;
};

// The program's message boxes go through here, so that tests can answer them without a box
// ever appearing. UI thread only.
class CPrompt {
public:
    // Shows the box modally and returns the button pressed. When a test has queued an answer,
    // no box is shown: the oldest answer is returned and the box is remembered (LastShown).
    // Escape on a box without Cancel answers the box's escape button (No, or OK alone).
    static QMessageBox::StandardButton
    MessageBox(QWidget* pParent, const QString& text, const QString& caption,
               QMessageBox::StandardButtons buttons = QMessageBox::Ok,
               QMessageBox::Icon icon = QMessageBox::NoIcon,
               QMessageBox::StandardButton defaultButton = QMessageBox::NoButton);

    // The box that MessageBox would show; the caller owns it.
    static std::unique_ptr<QMessageBox> CreateBox(QWidget* pParent, const CPromptBox& box);

    // Test hook: answers for the next boxes, oldest first.
    static void SetNextAnswer(QMessageBox::StandardButton answer);
    // How many queued answers no box has taken yet.
    static int PendingAnswers();
    // The last box answered from the queue; empty until one was, and after Reset().
    static std::optional<CPromptBox> LastShown();
    // Drops queued answers and the memory of the last box.
    static void Reset();

    // Runs one of the program's own modal dialogs and returns its result. A test may install
    // a runner that acts on the dialog instead of a modal loop; empty restores the real run.
    using DialogRunner = std::function<int(QDialog&)>;
    static int ExecDialog(QDialog& dialog);
    static void SetDialogRunner(DialogRunner runner);
};
