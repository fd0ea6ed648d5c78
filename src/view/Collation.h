// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "catalogue/Catalogue.h"

#include <QLocale>

// The order in which the catalogue lists categories and applications: by the user's locale
// (or the one given), without regard to case, so that accented letters stand beside their
// base letters rather than after 'z'.
class CCollation {
public:
    CCollation(); // the user's locale, QLocale()
    explicit CCollation(const QLocale& locale);

    // An order for CCatalogue::Sort over UTF-8 display texts. It owns a collator of its
    // own, so it may be handed to the thread that sorts; call it from one thread at a time.
    CCatalogue::TextOrder Order() const;

private:
    QLocale m_locale;
};
