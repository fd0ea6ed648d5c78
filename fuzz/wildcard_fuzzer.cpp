// SPDX-License-Identifier: GPL-3.0-or-later
// A pattern and a name, split at the first NUL (or halved when there is none), matched
// through CWildcard and through a plain reading of the rules, which checks the fast paths
// ("*", "*.*", "*suffix") and the general automaton alike, on UTF-8 and on other bytes.

#include "FuzzSupport.h"

#include "catalogue/Text.h"
#include "catalogue/Wildcard.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace {

bool HasWildcard(std::string_view s)
{
    return s.find_first_of("*?") != std::string_view::npos;
}

// One character of a name or pattern: a whole UTF-8 character, or a byte that is not
// part of one, with its case folded.
std::vector<char32_t> Units(std::string_view s)
{
    std::vector<char32_t> units;
    for (std::size_t i = 0, length = 1; i < s.size(); i += length)
        units.push_back(Text::FoldedUnitAt(s, i, length));
    return units;
}

// The search's rules read straight off the pattern, a character at a time: '*' any run, but
// one just before a '.' never takes the name's last dot; '?' one character other than a dot,
// or nothing at a dot or at the end; a '.' at the end of the pattern or before '*' or '?' a
// dot or nothing at the end; anything else itself without regard to case.
bool Reference(std::string_view patternBytes, std::string_view nameBytes)
{
    if (patternBytes.empty())
        return false;
    const std::vector<char32_t> pattern = Units(patternBytes);
    const std::vector<char32_t> name = Units(nameBytes);
    const std::size_t n = name.size();
    std::size_t lastDot = std::string_view::npos;
    for (std::size_t j = 0; j < n; ++j) {
        if (name[j] == '.')
            lastDot = j;
    }
    // reach[j]: the pattern read so far can have consumed exactly name[0, j).
    std::vector<char> reach(n + 1, 0);
    std::vector<char> next(n + 1, 0);
    reach[0] = 1;
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        const char32_t p = pattern[i];
        const char32_t after = i + 1 < pattern.size() ? pattern[i + 1] : U'\0';
        const bool bDosDot = p == '.' && (after == '\0' || after == '*' || after == '?');
        std::fill(next.begin(), next.end(), 0);
        // A star's runs end no earlier for a later start, so each next[k] is set once.
        std::size_t starFilled = 0;
        for (std::size_t j = 0; j <= n; ++j) {
            if (!reach[j])
                continue;
            const bool bAtEnd = j == n;
            if (p == '*') {
                const bool bSparesLastDot =
                    after == '.' && lastDot != std::string_view::npos && j <= lastDot;
                const std::size_t last = bSparesLastDot ? lastDot : n;
                for (std::size_t k = std::max(j, starFilled); k <= last; ++k)
                    next[k] = 1;
                starFilled = std::max(starFilled, last + 1);
            } else if (p == '?') {
                if (bAtEnd || name[j] == '.')
                    next[j] = 1;
                else
                    next[j + 1] = 1;
            } else if (bDosDot) {
                if (bAtEnd)
                    next[j] = 1;
                else if (name[j] == '.')
                    next[j + 1] = 1;
            } else if (!bAtEnd && p == name[j]) {
                next[j + 1] = 1;
            }
        }
        reach.swap(next);
    }
    return reach[n] != 0;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view input = Fuzz::AsText(data, size);
    const std::size_t nul = input.find('\0');
    const std::size_t split = nul != std::string_view::npos ? nul : input.size() / 2;
    const std::string_view pattern = input.substr(0, split);
    const std::string_view name = input.substr(nul != std::string_view::npos ? split + 1 : split);

    const CWildcard wildcard(pattern);
    FUZZ_CHECK(wildcard.Pattern() == pattern);
    const bool bMatches = wildcard.Matches(name);
    FUZZ_CHECK(wildcard.Matches(name) == bMatches);
    if (pattern.empty())
        FUZZ_CHECK(!bMatches);

    // ASCII case never matters, on either side.
    FUZZ_CHECK(wildcard.Matches(Fuzz::FlipAsciiCase(name)) == bMatches);
    FUZZ_CHECK(CWildcard(Fuzz::FlipAsciiCase(pattern)).Matches(name) == bMatches);
    FUZZ_CHECK(CWildcard(Text::ToLowerAscii(pattern)).Matches(Text::ToLowerAscii(name)) ==
               bMatches);

    FUZZ_CHECK(Reference(pattern, name) == bMatches);

    FUZZ_CHECK(CWildcard("*").Matches(name));
    FUZZ_CHECK(CWildcard("*.*").Matches(name));
    FUZZ_CHECK(!CWildcard("").Matches(name));
    for (const std::string_view s : {pattern, name}) {
        if (!s.empty() && !HasWildcard(s)) {
            const CWildcard literal(s);
            FUZZ_CHECK(literal.Matches(s));
            FUZZ_CHECK(literal.Matches(Fuzz::FlipAsciiCase(s)));
        }
    }
    // A pattern of plain characters matches exactly the names equal to it without case.
    if (!pattern.empty() && !HasWildcard(pattern) && pattern.back() != '.')
        FUZZ_CHECK(bMatches == Text::EqualsFolded(pattern, name));
    return 0;
}
