// SPDX-License-Identifier: GPL-3.0-or-later
#include "desktop/Prompt.h"

#include <QDialog>

#include <QAbstractButton>

#include <deque>

namespace {

struct CAnswers {
    std::deque<QMessageBox::StandardButton> m_arrQueued;
    std::optional<CPromptBox> m_lastShown;
};

CAnswers& Answers()
{
    static CAnswers answers;
    return answers;
}

} // namespace

QMessageBox::StandardButton CPrompt::MessageBox(QWidget* pParent, const QString& text,
                                                const QString& caption,
                                                QMessageBox::StandardButtons buttons,
                                                QMessageBox::Icon icon,
                                                QMessageBox::StandardButton defaultButton)
{
    const CPromptBox box{text, caption, buttons, icon, defaultButton};
    CAnswers& answers = Answers();
    if (!answers.m_arrQueued.empty()) {
        const QMessageBox::StandardButton answer = answers.m_arrQueued.front();
        answers.m_arrQueued.pop_front();
        answers.m_lastShown = box;
        return answer;
    }

    const std::unique_ptr<QMessageBox> pBox = CreateBox(pParent, box);
    pBox->exec();
    // A box closed without a button (the window manager's close) answers its escape button;
    // nothing at all reads as no answer, which no caller takes for a yes.
    QAbstractButton* pClicked = pBox->clickedButton();
    return pClicked ? pBox->standardButton(pClicked) : QMessageBox::NoButton;
}

std::unique_ptr<QMessageBox> CPrompt::CreateBox(QWidget* pParent, const CPromptBox& box)
{
    auto pBox = std::make_unique<QMessageBox>(pParent);
    pBox->setWindowTitle(box.m_strCaption);
    // Texts carry file names, which must never be read as markup.
    pBox->setTextFormat(Qt::PlainText);
    pBox->setText(box.m_strText);
    pBox->setIcon(box.m_eIcon);
    pBox->setStandardButtons(box.m_eButtons);
    if (box.m_eDefault != QMessageBox::NoButton)
        pBox->setDefaultButton(box.m_eDefault);
    return pBox;
}

void CPrompt::SetNextAnswer(QMessageBox::StandardButton answer)
{
    Answers().m_arrQueued.push_back(answer);
}

int CPrompt::PendingAnswers()
{
    return static_cast<int>(Answers().m_arrQueued.size());
}

std::optional<CPromptBox> CPrompt::LastShown()
{
    return Answers().m_lastShown;
}

void CPrompt::Reset()
{
    Answers() = CAnswers{};
}

namespace {
CPrompt::DialogRunner& DialogRunnerHook()
{
    static CPrompt::DialogRunner runner;
    return runner;
}
} // namespace

int CPrompt::ExecDialog(QDialog& dialog)
{
    // A copy: the runner may replace itself while it runs.
    const DialogRunner runner = DialogRunnerHook();
    return runner ? runner(dialog) : dialog.exec();
}

void CPrompt::SetDialogRunner(DialogRunner runner)
{
    DialogRunnerHook() = std::move(runner);
}
