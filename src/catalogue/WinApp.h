#pragma once

#include "catalogue/ProfileReader.h"

#include <string>
#include <string_view>

// Stands in for the application object's profile file: one process-wide "current file"
// that SetProfileFile switches and GetProfileString reads. Used on the UI thread only;
// workers own readers of their own.
class CWinApp {
public:
    void SetProfileFile(std::string path) { m_strProfileFile = std::move(path); }
    const std::string& GetProfileFile() const noexcept { return m_strProfileFile; }

    std::string GetProfileString(std::string_view section, std::string_view key,
                                 std::string_view defaultValue)
    {
        return m_reader.GetString(m_strProfileFile, section, key, defaultValue);
    }

private:
    std::string m_strProfileFile;
    CProfileReader m_reader;
};
