#pragma once

#include "catalogue/WinApp.h"

// The application object: one static instance, as the program has always had.
class CCatalogApp final : public CWinApp {
public:
    // Registers the descriptor type, runs the main window, and returns false when it ends
    // (there is no message loop of the program's own).
    bool InitInstance();
    static void RegisterDescriptorType();
};

extern CCatalogApp theApp;
