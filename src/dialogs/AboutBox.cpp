// SPDX-License-Identifier: GPL-3.0-or-later
#include "dialogs/AboutBox.h"

#include "widgets/DialogUnits.h"
#include "widgets/Pictures.h"

#include <QPainter>

#include <algorithm>
#include <initializer_list>

namespace {

constexpr int kTemplateWidth = 235;
constexpr int kTemplateHeight = 86;

} // namespace

CAboutBox::CAboutBox(QWidget* pParent)
    : QDialog(pParent)
{
    Pictures::EnsureLoaded();
    setWindowTitle(QStringLiteral("About Quarrow"));
    // A thin border and no title bar; paintEvent draws the border.
    setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
    setModal(true);

    // Parented in template order, which is also the order of the focus chain.
    for (QWidget* pControl : std::initializer_list<QWidget*>{
             &m_wndIcon, &m_wndProduct, &m_wndNotice, &m_wndOK, &m_wndCredit, &m_wndContact})
        pControl->setParent(this);

    m_wndIcon.setObjectName(QStringLiteral("icon"));
    m_wndIcon.setAlignment(Qt::AlignCenter);

    // Plain text, so that an ampersand in the name would show as it is.
    const auto setLine = [](QLabel& label, const char* name, const QString& text) {
        label.setObjectName(QString::fromLatin1(name));
        label.setTextFormat(Qt::PlainText);
        label.setText(text);
    };
    setLine(m_wndProduct, "product", QStringLiteral("Quarrow " QUARROW_VERSION));
    setLine(m_wndNotice, "notice", QStringLiteral("Copyright the Quarrow authors"));
    setLine(m_wndCredit, "credit",
            QStringLiteral("Built with Qt ") + QString::fromLatin1(qVersion()));
    setLine(m_wndContact, "contact",
            QStringLiteral("Documentation and issue tracker:\nsee the README of Quarrow"));
    m_wndContact.setAlignment(Qt::AlignLeft | Qt::AlignTop);

    m_wndOK.setObjectName(QStringLiteral("ok"));
    m_wndOK.setText(QStringLiteral("OK"));
    m_wndOK.setDefault(true);
    connect(&m_wndOK, &QPushButton::clicked, this, &QDialog::accept);

    LayoutControls();
}

CAboutBox::~CAboutBox() = default;

void CAboutBox::LayoutControls()
{
    const CDialogUnits units(font());
    setFixedSize(units.Size(kTemplateWidth, kTemplateHeight));

    const QRect iconBox = units.Rect(11, 17, 20, 20);
    m_wndIcon.setGeometry(iconBox);
    const int side = std::min(iconBox.width(), iconBox.height());
    m_wndIcon.setPixmap(Pictures::ProgramIcon().pixmap(QSize(side, side), devicePixelRatioF()));

    m_wndProduct.setGeometry(units.Rect(40, 10, 119, 8));
    // The lines were measured for a narrower font: they may run up to the OK button, and
    // below it to the border, rather than be cut.
    m_wndNotice.setGeometry(units.Rect(40, 25, 134, 8));
    m_wndOK.setGeometry(units.Rect(178, 7, 50, 28));
    m_wndCredit.setGeometry(units.Rect(41, 41, kTemplateWidth - 41 - 5, 8));
    m_wndContact.setGeometry(units.Rect(41, 53, kTemplateWidth - 41 - 5, 17));
}

void CAboutBox::paintEvent(QPaintEvent* event)
{
    QDialog::paintEvent(event);
    QPainter painter(this);
    painter.setPen(palette().color(QPalette::WindowText));
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
}
