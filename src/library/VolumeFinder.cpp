// SPDX-License-Identifier: GPL-3.0-or-later
#include "library/VolumeFinder.h"

#include "catalogue/FolderWalker.h"
#include "catalogue/Path.h"
#include "catalogue/Text.h"
#include "catalogue/Volume.h"
#include "platform/CdControlFile.h"
#include "platform/CueSheet.h"
#include "platform/MdsDescriptor.h"
#include "platform/OpenVolume.h"
#include "platform/PathFacts.h"

#include <algorithm>
#include <set>

namespace VolumeFinder {

namespace {

constexpr std::size_t kMaxCueBytes = 1 << 20;

bool IsImageName(std::string_view name)
{
    const std::size_t dot = name.rfind('.');
    if (dot == std::string_view::npos)
        return false;
    const std::string extension = Text::ToLowerAscii(name.substr(dot));
    for (const char* known :
         {".iso", ".img", ".bin", ".cue", ".ccd", ".mds", ".nrg", ".mdf", ".udf", ".ima", ".vfd"})
        if (extension == known)
            return true;
    return false;
}

bool IsBelow(const std::string& path, const std::string& folder)
{
    return path.size() > folder.size() && path.compare(0, folder.size(), folder) == 0 &&
           path[folder.size()] == '/';
}

class CSearch final : public CWalkVisitor {
public:
    explicit CSearch(const CVolume& volume)
        : m_volume(volume)
    {}

    void AddFileRow(const CFoundFile& found) override
    {
        const std::string& name = found.GetFileName();
        if (Text::EqualsNoCase(name, "autorun.inf")) {
            m_setAutorun.insert(found.GetRoot());
        } else if (IsImageName(name)) {
            std::string path = found.GetFilePath();
            const std::string_view extension = std::string_view(name).substr(name.rfind('.'));
            if (Text::EqualsNoCase(extension, ".cue"))
                NoteCue(found.GetRoot(), path);
            else if (Text::EqualsNoCase(extension, ".ccd") || Text::EqualsNoCase(extension, ".mds"))
                NoteDescriptor(path, Text::EqualsNoCase(extension, ".ccd"));
            m_astrImages.push_back(std::move(path));
        }
    }

    std::vector<std::string> Volumes(const std::string& start) const
    {
        std::vector<std::string> volumes;
        std::vector<std::string> roots(m_setAutorun.begin(), m_setAutorun.end());
        const auto inAutorun = [&](const std::string& path) {
            return std::any_of(roots.begin(), roots.end(),
                               [&](const std::string& root) { return IsBelow(path, root); });
        };
        for (const std::string& root : roots)
            if (root != start && !inAutorun(root))
                volumes.push_back(root);
        for (const std::string& image : m_astrImages)
            if (!inAutorun(image) && !m_setCued.contains(Text::ToLowerAscii(image)))
                volumes.push_back(image);
        std::sort(volumes.begin(), volumes.end());
        return volumes;
    }

private:
    void NoteCue(const std::string& folder, const std::string& path)
    {
        const auto file = m_volume.OpenFile(path);
        std::string text;
        if (!file || file->ReadAll(text, kMaxCueBytes) != CVolume::ReadStatus::Ok)
            return;
        const std::optional<CCueSheet> sheet = CCueSheet::Parse(text);
        if (!sheet)
            return;
        for (const CCueSheet::File& named : sheet->Files()) {
            std::string name = named.m_strName;
            std::replace(name.begin(), name.end(), '\\', '/');
            m_setCued.insert(Text::ToLowerAscii(Path::Join(folder, name)));
        }
    }

    // A .ccd or .mds names no file: its image is the one of the same base name beside it.
    void NoteDescriptor(const std::string& path, bool bControlFile)
    {
        const auto file = m_volume.OpenFile(path);
        std::string bytes;
        const std::size_t maxBytes =
            bControlFile ? CCdControlFile::kMaxBytes : CMdsDescriptor::kMaxBytes;
        if (!file || file->ReadAll(bytes, maxBytes) != CVolume::ReadStatus::Ok)
            return;
        if (bControlFile ? !CCdControlFile::Parse(bytes) : !CMdsDescriptor::Parse(bytes))
            return;
        m_setCued.insert(
            Text::ToLowerAscii(path.substr(0, path.rfind('.')) + (bControlFile ? ".img" : ".mdf")));
    }

    const CVolume& m_volume;
    std::set<std::string> m_setAutorun;
    std::vector<std::string> m_astrImages;
    std::set<std::string> m_setCued; // ASCII-folded, as the descriptors' files are looked up
};

} // namespace

std::vector<std::string> Find(const std::string& path)
{
    if (CPathFacts::Of(path).eKind != CPathFacts::EKind::Folder)
        return {path};
    const std::shared_ptr<const CVolume> volume = OpenDriveFolder(path);
    if (volume->ResolveNoCase(volume->Root(), "autorun.inf"))
        return {path};
    CSearch search(*volume);
    WalkFolder(*volume, volume->Root(), EWalkMode::List, true, "*", search);
    std::vector<std::string> volumes = search.Volumes(volume->Root());
    if (volumes.empty())
        volumes.push_back(path);
    return volumes;
}

} // namespace VolumeFinder
