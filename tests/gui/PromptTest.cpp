// SPDX-License-Identifier: GPL-3.0-or-later
#include "desktop/Prompt.h"

#include <QPushButton>
#include <QMessageBox>
#include <gtest/gtest.h>

#include <memory>

namespace {

class PromptTest : public testing::Test {
protected:
    void SetUp() override { CPrompt::Reset(); }
    void TearDown() override { CPrompt::Reset(); }
};

TEST_F(PromptTest, QueuedAnswersAreTakenOldestFirstAndRememberTheBox)
{
    EXPECT_FALSE(CPrompt::LastShown().has_value());
    CPrompt::SetNextAnswer(QMessageBox::No);
    CPrompt::SetNextAnswer(QMessageBox::Yes);
    EXPECT_EQ(CPrompt::PendingAnswers(), 2);

    EXPECT_EQ(CPrompt::MessageBox(nullptr, "first", "Caption", QMessageBox::Yes | QMessageBox::No,
                                  QMessageBox::Warning, QMessageBox::No),
              QMessageBox::No);
    const CPromptBox first{"first", "Caption", QMessageBox::Yes | QMessageBox::No,
                           QMessageBox::Warning, QMessageBox::No};
    EXPECT_EQ(CPrompt::LastShown(), first);

    EXPECT_EQ(CPrompt::MessageBox(nullptr, "second", "Other"), QMessageBox::Yes);
    const CPromptBox second{"second", "Other", QMessageBox::Ok, QMessageBox::NoIcon,
                            QMessageBox::NoButton};
    EXPECT_EQ(CPrompt::LastShown(), second);
    EXPECT_EQ(CPrompt::PendingAnswers(), 0);

    CPrompt::SetNextAnswer(QMessageBox::Ok);
    CPrompt::Reset();
    EXPECT_EQ(CPrompt::PendingAnswers(), 0);
    EXPECT_FALSE(CPrompt::LastShown().has_value());
}

TEST_F(PromptTest, TheRealBoxHasTheAskedForLook)
{
    const CPromptBox look{"Do you want to <b>quit</b>?", "Quarrow",
                          QMessageBox::Yes | QMessageBox::No, QMessageBox::Warning,
                          QMessageBox::No};
    const std::unique_ptr<QMessageBox> pBox = CPrompt::CreateBox(nullptr, look);
    EXPECT_EQ(pBox->windowTitle(), look.m_strCaption);
    EXPECT_EQ(pBox->text(), look.m_strText);
    // File names in texts must never turn into markup.
    EXPECT_EQ(pBox->textFormat(), Qt::PlainText);
    EXPECT_EQ(pBox->icon(), QMessageBox::Warning);
    EXPECT_EQ(pBox->standardButtons(), look.m_eButtons);
    ASSERT_NE(pBox->defaultButton(), nullptr);
    EXPECT_EQ(pBox->standardButton(pBox->defaultButton()), QMessageBox::No);
}

} // namespace
