// SPDX-License-Identifier: GPL-3.0-or-later
// Arbitrary bytes as a descriptor file, read through the profile reader and the descriptor
// readers, and checked against a plain line-by-line reading of the same rules.

#include "FuzzSupport.h"

#include "catalogue/Descriptor.h"
#include "catalogue/ProfileReader.h"
#include "catalogue/Text.h"
#include "platform/MountedVolume.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr std::size_t kMaxValue = CProfileReader::kBufferSize - 1;
// Enough names to push the reader past the sections it remembers at once.
constexpr std::size_t kMaxSectionsAsked = 10;
constexpr std::size_t kMaxKeysAsked = 6;

bool IsBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\v';
}

std::string_view Trim(std::string_view s)
{
    while (!s.empty() && IsBlank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back()))
        s.remove_suffix(1);
    return s;
}

std::string_view CutAtNul(std::string_view s)
{
    return s.substr(0, s.find('\0'));
}

// Names are C strings in a buffer of the value's size; blanks around them never count.
std::string_view AsAsked(std::string_view name)
{
    return Trim(CutAtNul(name).substr(0, kMaxValue));
}

// The same file read the slow, obvious way: a list of sections, each a list of lines.
class CSlowProfile {
public:
    explicit CSlowProfile(std::string_view text)
    {
        if (text.starts_with("\xEF\xBB\xBF"))
            text.remove_prefix(3);
        const bool bCrEndsLines = text.find('\r') != std::string_view::npos;
        std::size_t start = 0;
        for (std::size_t i = 0; i <= text.size(); ++i) {
            if (i == text.size() || text[i] == '\n' || (bCrEndsLines && text[i] == '\r')) {
                Add(Trim(text.substr(start, i - start)));
                start = i + 1;
            }
        }
    }

    std::optional<std::string> Find(std::string_view section, std::string_view key) const
    {
        for (const Section& s : m_sections) {
            if (!Text::EqualsNoCase(s.name, section))
                continue;
            for (std::string_view line : s.lines) {
                const std::size_t eq = line.find('=');
                if (Text::EqualsNoCase(Trim(line.substr(0, eq)), key))
                    return Value(line.substr(eq + 1));
            }
            return std::nullopt; // only the first section of a name counts
        }
        return std::nullopt;
    }

    std::vector<std::string_view> SectionNames() const
    {
        std::vector<std::string_view> names;
        for (const Section& s : m_sections)
            names.push_back(s.name);
        return names;
    }

    std::vector<std::string_view> KeysOf(std::string_view section) const
    {
        std::vector<std::string_view> keys;
        for (const Section& s : m_sections) {
            if (s.name == section) {
                for (std::string_view line : s.lines)
                    keys.push_back(Trim(line.substr(0, line.find('='))));
            }
        }
        return keys;
    }

private:
    struct Section {
        std::string_view name;
        std::vector<std::string_view> lines;
    };

    void Add(std::string_view line)
    {
        if (line.empty() || line.front() == ';')
            return;
        if (line.front() == '[') {
            // The name runs to the first ']', or to the end of the line.
            m_sections.push_back({Trim(line.substr(1, line.find(']') - 1)), {}});
            return;
        }
        if (!m_sections.empty() && line.find('=') != std::string_view::npos)
            m_sections.back().lines.push_back(line);
    }

    static std::string Value(std::string_view raw)
    {
        std::string_view v = Trim(raw);
        if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
            v = v.substr(1, v.size() - 2);
        v = CutAtNul(v);
        return std::string(v.substr(0, kMaxValue));
    }

    std::vector<Section> m_sections;
};

// A name as the reader should see it however it is asked for: other ASCII case, blanks around.
std::string Disguised(std::string_view name, std::size_t variant)
{
    std::string out = variant % 2 ? Fuzz::FlipAsciiCase(name) : std::string(name);
    if (variant % 3 == 1)
        out = " \t" + out + "\v ";
    return out;
}

void CheckValue(std::string_view value)
{
    FUZZ_CHECK(value.size() <= kMaxValue);
    FUZZ_CHECK(value.find('\0') == std::string_view::npos);
    FUZZ_CHECK(value.find('\n') == std::string_view::npos);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const std::string path = Fuzz::ScratchFolder() + "/app.brw";
    // Lives across inputs, so that its cache must notice every rewrite of the one path.
    static CProfileReader s_longLived;
    static const CMountedVolume s_volume(Fuzz::ScratchFolder());

    const std::string_view text = Fuzz::AsText(data, size);
    Fuzz::WriteFile(path, text);
    const CSlowProfile slow(text);
    CProfileReader reader;

    std::size_t variant = 0;
    auto check = [&](std::string_view section, std::string_view key) {
        const std::string askedSection = Disguised(section, variant);
        const std::string askedKey = Disguised(key, variant + 1);
        // Every read goes back to the file, so the second reader asks only now and then.
        const bool bAskLongLived = variant++ % 4 == 0;
        auto expected = [&](std::string_view sectionAsked, std::string_view keyAsked) {
            return slow.Find(AsAsked(sectionAsked), AsAsked(keyAsked)).value_or("dflt");
        };
        // The default comes back without its trailing spaces.
        const std::string got = reader.GetString(s_volume, path, askedSection, askedKey, "dflt  ");
        CheckValue(got);
        FUZZ_CHECK(got == expected(askedSection, askedKey));
        if (bAskLongLived)
            FUZZ_CHECK(s_longLived.GetString(s_volume, path, section, key, "dflt") ==
                       expected(section, key));
    };

    const std::vector<std::string_view> sections = slow.SectionNames();
    for (std::size_t s = 0; s < sections.size() && s < kMaxSectionsAsked; ++s) {
        const std::vector<std::string_view> keys = slow.KeysOf(sections[s]);
        for (std::size_t k = 0; k < keys.size() && k < kMaxKeysAsked; ++k)
            check(sections[s], keys[k]);
        check(sections[s], "no such key");
    }
    // Sections asked for again after others pushed them out of the reader's memory.
    for (std::size_t s = 0; s < sections.size() && s < 2; ++s) {
        const std::vector<std::string_view> keys = slow.KeysOf(sections[s]);
        if (!keys.empty())
            check(sections[s], keys.back());
    }
    FUZZ_CHECK(reader.ParseCount() <= 1);

    const Descriptor::ReadKey read = Descriptor::ReaderFor(reader, s_volume, path);
    const Descriptor::ReadKey readSlow = [&](std::string_view section, std::string_view key,
                                             std::string_view defaultValue) {
        return slow.Find(section, key).value_or(std::string(defaultValue));
    };

    const Descriptor::Listing listing = Descriptor::ReadListing(read);
    const Descriptor::Listing listingSlow = Descriptor::ReadListing(readSlow);
    FUZZ_CHECK(listing.bListed == listingSlow.bListed);
    FUZZ_CHECK(listing.strCategory == listingSlow.strCategory);
    FUZZ_CHECK(listing.strName == listingSlow.strName);

    const Descriptor::ShowFiles show = Descriptor::ReadShowFiles(read);
    const Descriptor::ShowFiles showSlow = Descriptor::ReadShowFiles(readSlow);
    FUZZ_CHECK(show.bSearchSubdirs == showSlow.bSearchSubdirs);
    FUZZ_CHECK(show.astrPatterns == showSlow.astrPatterns);
    FUZZ_CHECK(!show.astrPatterns.empty());
    for (const std::string& pattern : show.astrPatterns)
        FUZZ_CHECK(!Descriptor::IsAbsent(pattern));

    const std::vector<std::string> lines =
        Descriptor::ReadNumberedList(read, "description", "line");
    FUZZ_CHECK(lines == Descriptor::ReadNumberedList(readSlow, "description", "line"));
    FUZZ_CHECK(reader.ParseCount() == 1);
    return 0;
}
