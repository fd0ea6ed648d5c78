// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QIcon>
#include <QMimeDatabase>
#include <QString>

#include <memory>
#include <string>
#include <thread>
#include <unordered_map>

// The shown type and the icon of each file type, by extension: the icon theme and the MIME
// database are asked once per type for the life of the object, unknown types included, so a
// listing only looks its rows' types up in a table. UI thread only.
class CFileTypeIcons {
public:
    CFileTypeIcons() = default;
    ~CFileTypeIcons();
    CFileTypeIcons(const CFileTypeIcons&) = delete;
    CFileTypeIcons& operator=(const CFileTypeIcons&) = delete;

    struct Type {
        QString strText; // what the Type column shows
        QIcon icon;      // the fallback picture for an unknown type or a program without icons
    };

    // Sets up the icon themes and the fixed pictures of the unknown type and of programs, and
    // has the MIME database loaded meanwhile on a thread of its own.
    void Init();
    // extension: lower case, dot included, as the listing gives it; may be empty.
    const Type& ForExtension(const std::string& extension);
    // Look-ups in the MIME database and the icon theme so far.
    std::size_t LookUps() const noexcept { return m_nLookUps; }

private:
    Type LookUp(const std::string& extension);

    QIcon m_unknown;
    QIcon m_program;
    // Loading the process's MIME data takes longer than a turn of the event loop may: the
    // thread does it, and the first look-up joins it.
    std::thread m_mimeLoader;
    std::unique_ptr<QMimeDatabase> m_pMimeDatabase; // made on first use
    std::unordered_map<std::string, Type> m_mapTypes;
    const std::string* m_pLastExtension = nullptr; // rows come in runs of one type
    const Type* m_pLastType = nullptr;
    std::size_t m_nLookUps = 0;
};
