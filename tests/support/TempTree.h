#pragma once

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

// Runs body in a forked child that has dropped root to "nobody" (when running as root),
// so that permission checks hold as they do for a user. Returns true when the body
// returned true in the child. Only for Qt-free tests: the child runs no event loop.
bool RunUnprivileged(bool (*body)(void*), void* context);

template <class F>
bool RunUnprivileged(F&& body)
{
    return RunUnprivileged([](void* ctx) { return (*static_cast<F*>(ctx))(); },
                           static_cast<void*>(&body));
}
