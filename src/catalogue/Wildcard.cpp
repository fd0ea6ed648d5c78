// SPDX-License-Identifier: GPL-3.0-or-later
#include "catalogue/Wildcard.h"

#include "catalogue/Text.h"

#include <algorithm>

namespace {

bool IsWild(char c) noexcept
{
    return c == '*' || c == '?';
}

} // namespace

CWildcard::CWildcard(std::string_view pattern)
    : m_strPattern(pattern)
{
    if (pattern.empty()) {
        m_kind = Kind::Nothing;
        return;
    }
    if (pattern == "*.*") {
        m_kind = Kind::Everything;
        return;
    }

    // The search's own translation: which '*', '?' and '.' take their DOS meanings
    // depends on the character that follows them in the pattern as written.
    m_tokens.reserve(pattern.size());
    for (std::size_t i = 0, length = 1; i < pattern.size(); i += length) {
        const char c = pattern[i];
        const char32_t folded = Text::FoldedUnitAt(pattern, i, length);
        const char next = i + length < pattern.size() ? pattern[i + length] : '\0';
        const bool bAtEnd = i + length == pattern.size();
        Token token;
        if (c == '*') {
            token.op = next == '.' ? Op::DosStar : Op::Star;
        } else if (c == '?') {
            token.op = Op::DosQm;
        } else if (c == '.' && (bAtEnd || IsWild(next))) {
            token.op = Op::DosDot;
        } else {
            token.ch = folded;
        }

        // A run of stars matches what its widest member matches.
        const bool bStar = token.op == Op::Star || token.op == Op::DosStar;
        if (bStar && !m_tokens.empty()) {
            Token& last = m_tokens.back();
            if (last.op == Op::Star || last.op == Op::DosStar) {
                if (token.op == Op::Star)
                    last.op = Op::Star;
                continue;
            }
        }
        m_tokens.push_back(token);
    }

    if (m_tokens.size() == 1 && m_tokens[0].op == Op::Star) {
        m_kind = Kind::Everything;
        return;
    }
    // "*.brw": a leading star and plain ASCII characters after it. When the star is the
    // dot-sparing kind the literal starts with a dot, which is then the name's last dot
    // anyway, so a case-insensitive ends-with gives the same answer. The tokens stay for
    // names that end in other characters, some of which fold to ASCII.
    const bool bLeadingStar = m_tokens[0].op == Op::Star || m_tokens[0].op == Op::DosStar;
    if (bLeadingStar && m_tokens.size() > 1 &&
        std::all_of(m_tokens.begin() + 1, m_tokens.end(),
                    [](const Token& t) { return t.op == Op::Literal && t.ch < 0x80; })) {
        m_kind = Kind::Suffix;
        for (auto it = m_tokens.begin() + 1; it != m_tokens.end(); ++it)
            m_strSuffix.push_back(static_cast<char>(it->ch));
        return;
    }
    m_kind = Kind::General;
}

bool CWildcard::Matches(std::string_view name) const
{
    switch (m_kind) {
    case Kind::Nothing:
        return false;
    case Kind::Everything:
        return true;
    case Kind::Suffix: {
        if (name.size() < m_strSuffix.size())
            return false;
        const std::string_view tail = name.substr(name.size() - m_strSuffix.size());
        // From the end: while the bytes after i are ASCII, each is one character, so byte i
        // is the character the suffix has there; other characters take the long way.
        for (std::size_t i = tail.size(); i-- > 0;) {
            if (static_cast<unsigned char>(tail[i]) >= 0x80)
                return MatchGeneral(name);
            if (Text::FoldAscii(tail[i]) != m_strSuffix[i])
                return false;
        }
        return true;
    }
    case Kind::General:
        break;
    }
    return MatchGeneral(name);
}

// A simulation of the pattern as an automaton over token positions: every position that
// can be reached is kept at once, so no input makes it backtrack.
bool CWildcard::MatchGeneral(std::string_view name) const
{
    const std::size_t count = m_tokens.size();
    thread_local std::vector<unsigned char> s_current;
    thread_local std::vector<unsigned char> s_next;
    s_current.assign(count + 1, 0);
    s_next.assign(count + 1, 0);

    const std::size_t lastDot = name.rfind('.');
    const Token* tokens = m_tokens.data();

    // Moves that take no character; they only ever go forward, so one pass suffices.
    auto closure = [&](std::vector<unsigned char>& states, std::size_t pos) {
        const bool bAtEnd = pos == name.size();
        const bool bAtDot = !bAtEnd && name[pos] == '.';
        for (std::size_t i = 0; i < count; ++i) {
            if (!states[i])
                continue;
            switch (tokens[i].op) {
            case Op::Star:
            case Op::DosStar:
                states[i + 1] = 1;
                break;
            case Op::DosQm:
                if (bAtDot || bAtEnd)
                    states[i + 1] = 1;
                break;
            case Op::DosDot:
                if (bAtEnd)
                    states[i + 1] = 1;
                break;
            case Op::Literal:
                break;
            }
        }
    };

    s_current[0] = 1;
    for (std::size_t pos = 0, length = 1; pos < name.size(); pos += length) {
        closure(s_current, pos);
        const char c = name[pos];
        const char32_t folded = Text::FoldedUnitAt(name, pos, length);
        const bool bMoreDots = lastDot != std::string_view::npos && pos < lastDot;
        bool bAny = false;
        std::fill(s_next.begin(), s_next.end(), 0);
        for (std::size_t i = 0; i < count; ++i) {
            if (!s_current[i])
                continue;
            switch (tokens[i].op) {
            case Op::Literal:
                if (tokens[i].ch == folded)
                    s_next[i + 1] = bAny = true;
                break;
            case Op::Star:
                s_next[i] = bAny = true;
                break;
            case Op::DosStar:
                if (c != '.' || bMoreDots)
                    s_next[i] = bAny = true;
                break;
            case Op::DosQm:
                if (c != '.')
                    s_next[i + 1] = bAny = true;
                break;
            case Op::DosDot:
                if (c == '.')
                    s_next[i + 1] = bAny = true;
                break;
            }
        }
        if (!bAny)
            return false;
        s_current.swap(s_next);
    }
    closure(s_current, name.size());
    return s_current[count] != 0;
}
