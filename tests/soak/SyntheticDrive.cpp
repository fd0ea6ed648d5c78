// SPDX-License-Identifier: GPL-3.0-or-later
#include "SyntheticDrive.h"

#include "DescriptorText.h"
#include "IconProgram.h"

#include <charconv>
#include <cstdio>

namespace {

constexpr const char* kCategoryNames[CSyntheticDrive::kCategories] = {
    "Games", "Utilities", "Education", "Internet", "Graphics", "Sound", "Business", "Development",
};

std::string Lower(std::string text)
{
    for (char& c : text)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return text;
}

} // namespace

CSyntheticDrive::CSyntheticDrive()
{
    const std::string iconProgram = IconProgram::WithIcon();
    m_tree.WriteFile("autorun.inf", "[autorun]\r\nlabel=Synthetic\r\n");
    m_arrApps.reserve(kDescriptors);
    for (int i = 0; i < kDescriptors; ++i) {
        const std::string n = std::to_string(i);
        char name[16];
        std::snprintf(name, sizeof name, "App %03d", i);
        CSoakApplication app;
        app.strName = name;
        app.bListed = i % 40 != 39;

        // Every fifth application sits one folder deeper; categories differ in case at times
        // and must still merge.
        std::string folder = "cat" + std::to_string(i % kCategories) + "/";
        if (i % 5 == 0)
            folder += "group" + std::to_string(i / 5 % 3) + "/";
        folder += "app" + n + "/";
        std::string category = kCategoryNames[i % kCategories];
        if (i % 16 == 8)
            category = Lower(category);
        if (!app.bListed)
            category = "nil";

        const char* eol = i % 2 ? "\r\n" : "\n";
        CDescriptorText descriptor(eol);
        descriptor.Info(category, name);
        switch (i % 4) {
        case 0:
            descriptor.Section("description").Key("file", "docs\\readme" + n + ".txt");
            m_tree.WriteFile(folder + "docs/readme" + n + ".txt",
                             "About app " + n + ".\r\nIt has a second line.\r\n");
            app.strDescription = "About app " + n + ".\nIt has a second line.\n";
            break;
        case 1:
            descriptor.Section("description")
                .Key("line1", "App " + n + " does one thing.")
                .Key("line2", "And does it well.");
            app.strDescription = "App " + n + " does one thing.\nAnd does it well.\n";
            break;
        case 2:
            descriptor.Section("description").Key("file", "docs\\missing.txt");
            app.strDescription = "Error: Description file not found.";
            break;
        default:
            app.strDescription = "No Description Available.";
            break;
        }
        // Titles are unique within a folder, so each file is one row.
        switch (i % 3) {
        case 0: // the default patterns, this folder only: prog, notes
            app.nAppFileRows = 2;
            app.nAllFileRows = 4; // + the descriptor, data
            break;
        case 1: // subfolders searched: prog, bin/tool, data
            descriptor.Section("showfiles")
                .Key("searchsubdirs", "true")
                .Key("file1", "*.exe")
                .Key("file2", "*.dat");
            app.nAppFileRows = 3;
            app.nAllFileRows = 5; // + notes, the descriptor
            break;
        default: // a pattern with a folder, walked on its own: bin/tool, notes
            descriptor.Section("showfiles").Key("file1", "bin\\*.exe").Key("file2", "*.txt");
            app.nAppFileRows = 2;
            app.nAllFileRows = 5; // + the descriptor, prog, data
            break;
        }
        m_tree.WriteFile(folder + (i % 7 ? "app" + n + ".brw" : "APP" + n + ".BRW"),
                         descriptor.Text());
        m_tree.WriteFile(folder + "prog" + n + ".exe",
                         i % 2 ? std::string("placeholder program") : iconProgram);
        m_tree.WriteFile(folder + "notes" + n + ".txt", "notes");
        m_tree.WriteFile(folder + "data" + n + ".dat", "data");
        m_tree.WriteFile(folder + "bin/tool" + n + ".exe", "placeholder program");
        m_tree.WriteFile(folder + "sub/deep" + n + ".txt", "deep");
        if (app.bListed)
            ++m_nListed;
        m_arrApps.push_back(std::move(app));
    }
}

const CSoakApplication* CSyntheticDrive::Find(std::string_view name) const
{
    if (name.size() != 7 || !name.starts_with("App "))
        return nullptr;
    int i = -1;
    const auto [end, error] = std::from_chars(name.data() + 4, name.data() + name.size(), i);
    if (error != std::errc() || end != name.data() + name.size() || i < 0 || i >= kDescriptors)
        return nullptr;
    return &m_arrApps[static_cast<std::size_t>(i)];
}
