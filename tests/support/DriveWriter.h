// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>
#include <string_view>

// Writes the files and folders of a test drive below a root folder; the generators of the
// benchmarks, the soak and the hostile drive and every temporary tree of the tests share it.
// No Qt, so that tools built with the core library alone can use it. Every failure throws
// std::runtime_error naming the call, errno and the path.
class CDriveWriter {
public:
    // root need not exist yet: MakeFolder("") creates it.
    explicit CDriveWriter(std::string root);

    const std::string& Root() const noexcept { return m_strRoot; }
    // Root + "/" + relative.
    std::string Path(std::string_view relative) const;

    // Each returns the full path and creates missing parent folders (mode 0755); relative
    // paths use '/'. WriteFile replaces a file that is there.
    std::string MakeFolder(std::string_view relative);
    std::string WriteFile(std::string_view relative, std::string_view content);
    std::string MakeLink(std::string_view relative, const std::string& target);
    std::string MakeFifo(std::string_view relative);
    // A bound Unix socket; throws where the path is too long to bind one (see FitsSocket).
    std::string MakeSocket(std::string_view relative);
    void SetMode(std::string_view relative, unsigned mode);

    // Whether a socket can be bound at this full path.
    static bool FitsSocket(std::string_view path) noexcept;

    // For trees too deep or too large to build by path: the same, one name in an open folder.
    class CFd {
    public:
        explicit CFd(int fd = -1) noexcept
            : m_fd(fd)
        {}
        ~CFd();
        CFd(CFd&& other) noexcept;
        CFd& operator=(CFd&& other) noexcept;
        CFd(const CFd&) = delete;
        CFd& operator=(const CFd&) = delete;
        int Get() const noexcept { return m_fd; }

    private:
        int m_fd;
    };
    static CFd OpenFolder(const std::string& path);
    // Creates the folder name in folder (0755) and opens it.
    static CFd MakeFolderAt(int folder, const std::string& name);
    // Creates the file name in folder (0644); throws when it is there already.
    static void WriteFileAt(int folder, const std::string& name, std::string_view content);

private:
    // Path(relative), once its parent folders are there.
    std::string MakeParents(std::string_view relative);

    std::string m_strRoot;
};
