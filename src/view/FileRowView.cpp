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
    auto view = std::make_shared<CFileRowView>();
    view->strName = DisplayText(row.strTitle);
    view->strType = DisplayText(row.strExtension);
    if (row.strFolder != m_strLastFolder || m_strLastLocation.isNull()) {
        m_strLastFolder = row.strFolder;
        m_strLastLocation = DisplayText(row.strFolder);
    }
    view->strLocation = m_strLastLocation; // shared, not copied, across a folder's rows
    if (row.strExtension == ".exe") {
        view->imageExe = ReadProgramIcon(volume, row.strPath);
    } else {
        const TypeIcons& icons = IconsForExtension(row.strExtension);
        view->strIconName = icons.strIconName;
        view->strGenericIconName = icons.strGenericIconName;
    }
    row.pExtra = std::move(view);
}

const CFileRowViewDecorator::TypeIcons&
CFileRowViewDecorator::IconsForExtension(const std::string& extension)
{
    auto [it, inserted] = m_mapTypeIcons.try_emplace(extension);
    if (inserted && !extension.empty()) {
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

QImage CFileRowViewDecorator::ReadProgramIcon(const CVolume& volume, const std::string& path)
{
    const std::vector<unsigned char> ico =
        CPeIconReader::ExtractIcon(volume, path, 0, CPeIconReader::Images::ClosestTo16);
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
