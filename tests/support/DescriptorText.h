// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>
#include <string_view>

// The text of a descriptor, line by line, with the line end a disc's author chose.
class CDescriptorText {
public:
    explicit CDescriptorText(std::string_view eol = "\r\n")
        : m_strEol(eol)
    {}

    CDescriptorText& Section(std::string_view name)
    {
        m_strText.append("[").append(name).append("]").append(m_strEol);
        return *this;
    }
    CDescriptorText& Key(std::string_view key, std::string_view value)
    {
        m_strText.append(key).append("=").append(value).append(m_strEol);
        return *this;
    }
    // [info] with both keys: what most descriptors start with.
    CDescriptorText& Info(std::string_view category, std::string_view name)
    {
        return Section("info").Key("category", category).Key("name", name);
    }

    const std::string& Text() const noexcept { return m_strText; }

private:
    std::string m_strEol;
    std::string m_strText;
};
