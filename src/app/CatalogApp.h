// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <optional>
#include <string>
#include <vector>

class QCommandLineParser;

// The application object: the command line, then the main window. It holds no state.
class CCatalogApp final {
public:
    // Reads the running QCoreApplication's arguments. Returns the exit status when the
    // program is to end without a window (--help, --version, a bad argument), nothing when it
    // is to run. Before bFinal, Qt's GUI options (-platform, -style...) are still in the
    // arguments, so an unknown option or argument is left for the final reading (the first
    // reading is the last where there is no display). Given argc and argv (raw bytes), the
    // library's commands (--add, --volumes, --search, --forget) run in this reading, display
    // or not, and their exit status is returned.
    static std::optional<int> ParseCommandLine(bool bFinal, int argc = 0, char** argv = nullptr);
    // The PATH argument as given (bytes), or empty; argv as the QApplication left it, Qt's
    // own options taken out.
    static std::string StartPath(int argc, char** argv);
    // Registers the descriptor type, clears what crashed runs left in the cache, runs the
    // main window on startPath (a folder or a disc image; empty for none), and returns false
    // when it ends (there is no message loop of the program's own).
    // With bLibrary, the library window runs instead, and opens main windows on its hits.
    bool InitInstance(std::string startPath = {}, bool bLibrary = false);
    // --library is among the options.
    static bool WantsLibrary(int argc, char** argv);
    static void RegisterDescriptorType();

private:
    static bool RunLibrary();
    static int RunLibraryCommand(const QCommandLineParser& parser, bool bParsed,
                                 const std::vector<std::string>& operands);
};
