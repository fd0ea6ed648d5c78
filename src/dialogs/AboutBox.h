// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDialog>
#include <QLabel>
#include <QPushButton>

// The program's name, version and notices; OK, Enter and Escape close it. Run it with exec().
class CAboutBox : public QDialog {
    Q_OBJECT

public:
    explicit CAboutBox(QWidget* pParent = nullptr);
    ~CAboutBox() override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void LayoutControls();

    QLabel m_wndIcon;
    QLabel m_wndProduct;
    QLabel m_wndNotice;
    QPushButton m_wndOK;
    QLabel m_wndCredit;
    QLabel m_wndContact;
};
