// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdlib>
#include <optional>
#include <string>

// Sets (or, given null, clears) an environment variable and puts back the old value on
// destruction.
class CEnvOverride {
public:
    CEnvOverride(const char* name, const char* value)
        : m_strName(name)
    {
        if (const char* old = std::getenv(name))
            m_strOld = old;
        if (value)
            ::setenv(name, value, 1);
        else
            ::unsetenv(name);
    }
    CEnvOverride(const char* name, const std::string& value)
        : CEnvOverride(name, value.c_str())
    {}
    ~CEnvOverride()
    {
        if (m_strOld)
            ::setenv(m_strName.c_str(), m_strOld->c_str(), 1);
        else
            ::unsetenv(m_strName.c_str());
    }
    CEnvOverride(const CEnvOverride&) = delete;
    CEnvOverride& operator=(const CEnvOverride&) = delete;

private:
    std::string m_strName;
    std::optional<std::string> m_strOld;
};
