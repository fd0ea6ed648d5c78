// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "catalogue/FileListJob.h"

#include <QImage>
#include <QMimeDatabase>
#include <QString>

#include <string>
#include <unordered_map>

// What the worker prepares for a row so that the UI thread only has to place it: the shown
// texts, the icon names of the file's type, and an executable's own icon.
struct CFileRowView final : public CFileRowExtra {
    QString strName;
    QString strType;
    QString strLocation;
    QString strIconName; // empty: the type is unknown
    QString strGenericIconName;
    QImage imageExe; // null: no icon in the program (or not a program)
};

// Runs on the file-list worker: only the MIME look-up and reading a program's icon into a
// QImage happen here; theme icons and pixmaps are left to the UI thread.
class CFileRowViewDecorator final : public CFileRowDecorator {
public:
    void Decorate(const CVolume& volume, CFileRow& row) override;

    // The 16 x 16 image of icon 0 in the program at path; null when there is none.
    static QImage ReadProgramIcon(const CVolume& volume, const std::string& path);

private:
    struct TypeIcons {
        QString strIconName;
        QString strGenericIconName;
    };
    const TypeIcons& IconsForExtension(const std::string& extension);

    QMimeDatabase m_mimeDatabase;
    std::unordered_map<std::string, TypeIcons> m_mapTypeIcons; // per job, so per extension once
    std::string m_strLastFolder;
    QString m_strLastLocation;
};
