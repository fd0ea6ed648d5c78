// SPDX-License-Identifier: GPL-3.0-or-later
#include "view/FileTypeIcons.h"

#include "view/DesktopIcons.h"
#include "view/DisplayText.h"

namespace {

QMimeType ByExtension(const QMimeDatabase& database, const QString& extension)
{
    // By the extension alone, never reading the file: the table is keyed by extension.
    return database.mimeTypeForFile(QStringLiteral("x") + extension, QMimeDatabase::MatchExtension);
}

} // namespace

CFileTypeIcons::~CFileTypeIcons()
{
    if (m_mimeLoader.joinable())
        m_mimeLoader.join();
}

void CFileTypeIcons::Init()
{
    if (!m_mimeLoader.joinable() && !m_pMimeDatabase)
        m_mimeLoader = std::thread([] { ByExtension(QMimeDatabase(), QStringLiteral(".txt")); });
    DesktopIcons::Setup();
    m_unknown = QIcon(QStringLiteral(":/filetypes/unknown.svg"));
    m_program = QIcon(QStringLiteral(":/filetypes/program.svg"));
    static const char* const kFixed[][2] = {
        {".com", ":/filetypes/program.svg"},
        {".dll", ":/filetypes/library.svg"},
        {".scr", ":/filetypes/screensaver.svg"},
    };
    for (const auto& [extension, picture] : kFixed)
        m_mapTypes[extension] = {QString::fromLatin1(extension),
                                 QIcon(QString::fromLatin1(picture))};
    // Until its own icon is read, and for good when it has none.
    m_mapTypes[".exe"] = {QStringLiteral(".exe"), m_program};
    m_pLastExtension = nullptr;
    m_pLastType = nullptr;
}

const CFileTypeIcons::Type& CFileTypeIcons::ForExtension(const std::string& extension)
{
    if (m_pLastExtension && *m_pLastExtension == extension)
        return *m_pLastType;
    auto it = m_mapTypes.find(extension);
    if (it == m_mapTypes.end())
        it = m_mapTypes.emplace(extension, LookUp(extension)).first;
    // Node-based: neither pointer moves when other types are added.
    m_pLastExtension = &it->first;
    m_pLastType = &it->second;
    return it->second;
}

CFileTypeIcons::Type CFileTypeIcons::LookUp(const std::string& extension)
{
    ++m_nLookUps;
    Type type{DisplayText(extension), m_unknown};
    if (extension.empty())
        return type;
    if (!m_pMimeDatabase) {
        if (m_mimeLoader.joinable())
            m_mimeLoader.join();
        m_pMimeDatabase = std::make_unique<QMimeDatabase>();
    }
    const QMimeType mime = ByExtension(*m_pMimeDatabase, type.strText);
    if (!mime.isValid() || mime.isDefault())
        return type;
    QIcon icon = QIcon::fromTheme(mime.iconName());
    if (icon.isNull())
        icon = QIcon::fromTheme(mime.genericIconName());
    if (!icon.isNull())
        type.icon = icon;
    return type;
}
