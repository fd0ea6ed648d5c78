#pragma once

#include "Unprivileged.h"

#include <string>
#include <string_view>

// A temporary folder tree for tests, removed (permissions restored first) on destruction.
// The root is world-traversable so that tests run as an unprivileged user can use it.
class CTempTree {
public:
    CTempTree();
    ~CTempTree();
    CTempTree(const CTempTree&) = delete;
    CTempTree& operator=(const CTempTree&) = delete;

    const std::string& Root() const noexcept { return m_strRoot; }
    // Root + "/" + relative.
    std::string Path(std::string_view relative) const;

    // Each creates missing parent folders; relative paths use '/'.
    std::string MakeFolder(std::string_view relative);
    std::string WriteFile(std::string_view relative, std::string_view content);
    std::string MakeLink(std::string_view relative, const std::string& target);
    std::string MakeFifo(std::string_view relative);
    std::string MakeSocket(std::string_view relative);
    void SetMode(std::string_view relative, unsigned mode);

private:
    std::string m_strRoot;
};
