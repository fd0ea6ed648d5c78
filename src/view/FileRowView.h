// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "catalogue/FileListJob.h"

#include <QImage>
#include <QMimeDatabase>
#include <QString>

#include <array>
#include <cstddef>
#include <memory>
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

    // The 16 x 16 image of icon 0 in the row's program; null when there is none.
    static QImage ReadProgramIcon(const CVolume& volume, const CFileRow& row);

private:
    static constexpr std::size_t kBlockSize = 256;

    struct TypeTexts {
        QString strType;
        QString strIconName;
        QString strGenericIconName;
    };
    const TypeTexts& TextsForExtension(const std::string& extension);
    // A view for row, which then holds it.
    CFileRowView& NewView(CFileRow& row);

    QMimeDatabase m_mimeDatabase;
    std::unordered_map<std::string, TypeTexts> m_mapTypeTexts; // per job, so per extension once
    std::string m_strLastFolder;
    QString m_strLastLocation;
    std::shared_ptr<std::array<CFileRowView, kBlockSize>> m_pBlock;
    std::size_t m_nBlockUsed = 0;
};
