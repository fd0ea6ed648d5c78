// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>
#include <string_view>
#include <vector>

// A file-name pattern with the rules of the Windows file search, matched without regard
// to case as Text::EqualsFolded compares (never by the locale): '*' any run, '?' one
// character other than a dot (a whole UTF-8 character; a byte that is not UTF-8 counts as one)
// (at a dot or at the end of the name a run of '?' may also match nothing, so "file?.txt"
// matches "file.txt"), "*.*" every name, "*." only names without an extension, a '*' just
// before a '.' never takes the name's last dot, '[' an ordinary character.
// An empty pattern matches nothing. Matching time is bounded by pattern length times name
// length, whatever the pattern.
class CWildcard {
public:
    explicit CWildcard(std::string_view pattern);

    bool Matches(std::string_view name) const;
    const std::string& Pattern() const noexcept { return m_strPattern; }

private:
    enum class Kind { Nothing, Everything, Suffix, General };

    enum class Op : unsigned char {
        Literal, // one character, folded (Text::FoldedUnitAt)
        Star,    // any run
        DosStar, // any run that leaves the name's last dot alone ('*' before '.')
        DosQm,   // one non-dot character, or nothing at a dot or the end ('?')
        DosDot,  // a dot, or nothing at the end ('.' before '*', '?' or the end)
    };
    struct Token {
        Op op = Op::Literal;
        char32_t ch = 0;
    };

    bool MatchGeneral(std::string_view name) const;

    std::string m_strPattern;
    Kind m_kind = Kind::General;
    std::string m_strSuffix; // Kind::Suffix: the folded ASCII literal after a leading '*'
    std::vector<Token> m_tokens;
};
