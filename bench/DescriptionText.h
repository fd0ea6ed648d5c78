// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The description text the widget benchmarks show: ordinary prose, made to a size.

#include <cstddef>
#include <cstdio>
#include <string>

namespace Bench {

// Exactly bytes long, in lines of about 80 characters; one line in four carries accented
// letters, a dash and a euro sign. A lineChars above 0 makes every line that many ASCII
// characters instead: the pane's cost grows with the lines more than with the bytes.
inline std::string DescriptionText(std::size_t bytes, bool cp1252 = false, int lineChars = 0)
{
    const char* const accented = cp1252 ? "Caf\xE9 na\xEFve Gr\xF6\xDF"
                                          "e \x97 12,50 \x80; fa\xE7"
                                          "ade, r\xE9sum\xE9, \xFC"
                                          "ber"
                                        : "Caf\xC3\xA9 na\xC3\xAFve Gr\xC3\xB6\xC3\x9F"
                                          "e \xE2\x80\x94 12,50 \xE2\x82\xAC; fa\xC3\xA7"
                                          "ade, r\xC3\xA9sum\xC3\xA9, \xC3\xBC"
                                          "ber";
    std::string text;
    text.reserve(bytes + 128);
    char number[32];
    for (std::size_t line = 0;; ++line) {
        std::snprintf(number, sizeof number, "%06zu ", line);
        std::string next = number;
        if (lineChars > 0)
            next.assign(static_cast<std::size_t>(lineChars), 'x');
        else if (line % 4 == 3)
            next += std::string(accented) + " and the rest of the line in plain words.";
        else
            next += "The quick brown fox jumps over the lazy dog; setup notes, step " +
                    std::to_string(line % 97) + ".";
        next += "\r\n";
        if (text.size() + next.size() > bytes)
            break;
        text += next;
    }
    text.append(bytes - text.size(), ' ');
    return text;
}

} // namespace Bench
