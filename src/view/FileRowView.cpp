// SPDX-License-Identifier: GPL-3.0-or-later
#include "view/FileRowView.h"

#include "catalogue/PeIconReader.h"
#include "catalogue/Text.h"
#include "view/DisplayText.h"

#include <QBuffer>
#include <QByteArray>
#include <QImageReader>

#include <memory>

namespace {

constexpr int kIconSize = 16;

} // namespace

void CFileRowViewDecorator::Decorate(const CVolume& volume, CFileRow& row)
{
    CFileRowView& view = NewView(row);
    view.strName = DisplayText(row.strTitle);
    if (row.Folder() != m_strLastFolder || m_strLastLocation.isNull()) {
        m_strLastFolder = row.Folder();
        m_strLastLocation = DisplayText(row.Folder());
    }
    view.strLocation = m_strLastLocation; // shared, not copied, across a folder's rows
    const TypeTexts& type = TextsForExtension(row.strExtension);
    view.strType = type.strType;
    if (row.strExtension == ".exe") {
        view.imageExe = ReadProgramIcon(volume, row);
    } else {
        view.strIconName = type.strIconName;
        view.strGenericIconName = type.strGenericIconName;
    }
}

CFileRowView& CFileRowViewDecorator::NewView(CFileRow& row)
{
    // Views come in blocks that their rows share: one allocation, and one release on the
    // UI thread, per block rather than per row.
    if (!m_pBlock || m_nBlockUsed == kBlockSize) {
        m_pBlock = std::make_shared<std::array<CFileRowView, kBlockSize>>();
        m_nBlockUsed = 0;
    }
    CFileRowView& view = (*m_pBlock)[m_nBlockUsed++];
    row.pExtra = std::shared_ptr<const CFileRowExtra>(m_pBlock, &view);
    return view;
}

const CFileRowViewDecorator::TypeTexts&
CFileRowViewDecorator::TextsForExtension(const std::string& extension)
{
    auto [it, inserted] = m_mapTypeTexts.try_emplace(extension);
    if (inserted)
        it->second.strType = DisplayText(extension);
    if (inserted && !extension.empty() && extension != ".exe") {
        // By the extension alone, never reading the file: the table is keyed by extension.
        const QMimeType type = m_mimeDatabase.mimeTypeForFile(
            QStringLiteral("x") + DisplayText(extension), QMimeDatabase::MatchExtension);
        if (type.isValid() && !type.isDefault()) {
            it->second.strIconName = type.iconName();
            it->second.strGenericIconName = type.genericIconName();
        }
    }
    return it->second;
}

QImage CFileRowViewDecorator::ReadProgramIcon(const CVolume& volume, const CFileRow& row)
{
    const std::unique_ptr<CVolume::CFile> file =
        row.bListedRegular ? volume.OpenListedFile(row.strPath) : volume.OpenFile(row.strPath);
    if (!file)
        return {};
    const std::vector<unsigned char> ico =
        CPeIconReader::ExtractIconFromFile(*file, 0, CPeIconReader::Images::ClosestTo16);
    if (ico.empty())
        return {};
    QByteArray bytes(reinterpret_cast<const char*>(ico.data()), static_cast<qsizetype>(ico.size()));
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, "ico");
    QImage image = reader.read();
    if (image.isNull())
        return {};
    if (image.width() != kIconSize || image.height() != kIconSize)
        image = image.scaled(kIconSize, kIconSize, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    return image;
}
