// SPDX-License-Identifier: GPL-3.0-or-later
#include "dialogs/AboutBox.h"

#include <QFontMetrics>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

namespace {

class AboutBoxTest : public testing::Test {
protected:
    void SetUp() override
    {
        m_dlg.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&m_dlg));
    }

    QLabel& Line(const char* name)
    {
        QLabel* pLabel = m_dlg.findChild<QLabel*>(QString::fromLatin1(name));
        EXPECT_NE(pLabel, nullptr) << name;
        return *pLabel;
    }

    CAboutBox m_dlg;
};

TEST_F(AboutBoxTest, ShowsNameVersionAndTheIconWithEveryLineWhole)
{
    EXPECT_EQ(Line("product").text(), QStringLiteral("Quarrow 1.1"));
    EXPECT_TRUE(Line("credit").text().contains(QString::fromLatin1(qVersion())));
    ASSERT_FALSE(Line("icon").pixmap().isNull());

    for (const char* name : {"product", "notice", "credit", "contact"}) {
        SCOPED_TRACE(name);
        QLabel& line = Line(name);
        EXPECT_FALSE(line.text().isEmpty());
        const QSize needed = line.fontMetrics().size(0, line.text());
        EXPECT_LE(needed.width(), line.width());
        EXPECT_LE(needed.height(), line.height());
        EXPECT_TRUE(m_dlg.rect().contains(line.geometry()));
    }
}

TEST_F(AboutBoxTest, OkEnterAndEscapeCloseIt)
{
    QPushButton* pOK = m_dlg.findChild<QPushButton*>(QStringLiteral("ok"));
    ASSERT_NE(pOK, nullptr);
    EXPECT_TRUE(pOK->isDefault());
    QTest::mouseClick(pOK, Qt::LeftButton);
    EXPECT_FALSE(m_dlg.isVisible());
    EXPECT_EQ(m_dlg.result(), QDialog::Accepted);

    m_dlg.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&m_dlg));
    QTest::keyClick(&m_dlg, Qt::Key_Return);
    EXPECT_FALSE(m_dlg.isVisible());
    EXPECT_EQ(m_dlg.result(), QDialog::Accepted);

    m_dlg.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&m_dlg));
    QTest::keyClick(&m_dlg, Qt::Key_Escape);
    EXPECT_FALSE(m_dlg.isVisible());
    EXPECT_EQ(m_dlg.result(), QDialog::Rejected);
}

} // namespace
