#pragma once

#include <optional>

// The application object: one static instance, as the program has always had.
class CCatalogApp final {
public:
    // Reads the running QCoreApplication's arguments. Returns the exit status when the
    // program is to end without a window (--help, --version, a bad argument), nothing when it
    // is to run. Before bFinal, Qt's GUI options (-platform, -style...) are still in the
    // arguments, so an unknown option or argument is left for the final reading.
    static std::optional<int> ParseCommandLine(bool bFinal);
    // Registers the descriptor type, runs the main window, and returns false when it ends
    // (there is no message loop of the program's own).
    bool InitInstance();
    static void RegisterDescriptorType();
};

extern CCatalogApp theApp;
