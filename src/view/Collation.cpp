// SPDX-License-Identifier: GPL-3.0-or-later
#include "view/Collation.h"

#include <QCollator>
#include <QString>

#include <memory>
#include <string_view>

namespace {

QString FromUtf8(std::string_view text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

} // namespace

CCollation::CCollation()
    : m_locale()
{}

CCollation::CCollation(const QLocale& locale)
    : m_locale(locale)
{}

CCatalogue::TextOrder CCollation::Order() const
{
    // A collator of its own: copies of a QCollator share their state.
    auto collator = std::make_shared<QCollator>(m_locale);
    collator->setCaseSensitivity(Qt::CaseInsensitive);
    return [collator](std::string_view a, std::string_view b) {
        return collator->compare(FromUtf8(a), FromUtf8(b));
    };
}
