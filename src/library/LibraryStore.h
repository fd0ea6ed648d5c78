// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "library/LibraryRecord.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

struct sqlite3;

// The library's one SQLite database. Several Quarrows may hold it open at once: it runs in
// WAL mode with a busy timeout, and every change is one transaction, so a process killed in
// the middle leaves each volume either as it was or wholly replaced.
//
// Every operation but Open and SetAside throws CLibraryStore::CError when SQLite fails. One
// thread at a time uses a store (its connection takes no lock of its own); other threads open
// their own.
class CLibraryStore {
public:
    static constexpr int kSchemaVersion = 4;

    class CError : public std::runtime_error {
    public:
        explicit CError(const std::string& what, bool bDamage = false)
            : std::runtime_error(what)
            , m_bDamage(bDamage)
        {}
        // The store turned out damaged in the middle of an operation.
        bool IsDamage() const noexcept { return m_bDamage; }

    private:
        bool m_bDamage;
    };

    enum class EOpen : unsigned char {
        Ok,
        Newer,  // written by a newer Quarrow: left exactly as it was
        Failed, // cannot be opened or created
    };

    CLibraryStore() = default;
    ~CLibraryStore();
    CLibraryStore(const CLibraryStore&) = delete;
    CLibraryStore& operator=(const CLibraryStore&) = delete;

    // $XDG_DATA_HOME/quarrow/library.sqlite, ~/.local/share when that is unset or relative.
    static std::string DefaultPath();

    // Opens path, creating it (folder 0700, file 0600) and bringing its schema up to date.
    // A file that is no database, or a damaged one, is renamed to path.damaged-<time> and a
    // new store made; notice then tells of both. Unless Ok, error says why.
    EOpen Open(const std::string& path, std::string& error, std::string& notice);
    // A second connection to the store another CLibraryStore opened, for look-ups only (a
    // thread's own: a connection serves one thread at a time). False when it cannot.
    bool OpenForLookups(const CLibraryStore& opened);
    // Copies what the journal holds into the store as far as no reader needs it, without
    // waiting for the writer; failures are left for the next one.
    void Checkpoint() noexcept;
    // Closes the store and renames the damaged file at path (with its journal) aside, so that
    // the next Open starts a new one. False when it cannot; message says what was done or why
    // not.
    bool SetAside(const std::string& path, std::string& message);

    std::vector<CLibraryVolume> Volumes();
    std::optional<CLibraryVolume> VolumeAt(const std::string& path);
    std::vector<CLibraryVolume> VolumesWithIdentity(const std::string& identity);

    // Stores volume (a new one when nId is 0, setting nId) in one transaction. With contents,
    // they replace what it held; without, only the volume's own facts change. Any other volume
    // recorded at volume.strPath is forgotten: one volume per path.
    // keys, when given, are KeysOf(*contents).
    struct CKeys;
    void Save(CLibraryVolume& volume, const CLibraryContents* contents,
              const CKeys* keys = nullptr);
    // What writing contents works out from them: search keys and the files' order. Made on
    // any thread beforehand, they spare the one writer that work.
    struct CKeys {
        std::vector<std::string> astrFiles;
        std::vector<std::size_t> fileOrder; // indexes into arrFiles by key, then as read
        std::vector<std::string> astrApplications;
    };
    static CKeys KeysOf(const CLibraryContents& contents);
    // What the volume with id held when it was last catalogued, in the order it was read.
    CLibraryContents Contents(std::int64_t volume);
    // False when no volume is recorded at path.
    bool Forget(const std::string& path);

    struct ApplicationHit {
        std::string strName, strCategory, strLabel, strVolumePath, strFolder;
    };
    struct FileHit {
        std::string strName, strLabel, strVolumePath, strFolder;
    };
    // Items where every word occurs, folded as Text::ToLower folds display text: in an
    // application's name, category or description, or in a file's name. Applications come
    // sorted by folded name; files by folded name. With a limit, only the first that many of
    // each kind, as a window shows them, at a cost that grows little with the hits.
    static constexpr std::size_t kAll = 0;
    void Search(const std::vector<std::string>& words,
                const std::function<void(const ApplicationHit&)>& onApplication,
                const std::function<void(const FileHit&)>& onFile, std::size_t nLimit = kAll);

    // The folded display text that search compares.
    static std::string SearchKey(std::string_view bytes);

private:
    class CStatement;
    class CIconWriter;
    void Execute(const char* sql);
    std::int64_t ReadVersion();
    void Migrate();
    std::vector<CLibraryVolume> ReadVolumes(const char* where, const std::string* argument);
    void KeepNamesOfSortedVolumes();
    void KeepNames(std::int64_t volume, const std::string& names);
    void DeleteContents(std::int64_t volume);
    void DeleteVolume(std::int64_t volume);
    void WriteContents(std::int64_t volume, const CLibraryContents& contents, const CKeys& keys);
    void SearchApplications(const std::vector<std::string>& keys,
                            const std::function<void(const ApplicationHit&)>& onApplication,
                            std::size_t nLimit);
    bool FewApplicationsHold(const std::string& match);
    void SearchFiles(const std::vector<std::string>& keys,
                     const std::function<void(const FileHit&)>& onFile, std::size_t nLimit);
    std::vector<std::int64_t> FirstFiles(const std::string& match,
                                         const std::vector<std::string>& keys, std::size_t nLimit);
    void ReportFiles(const std::vector<std::int64_t>& ids,
                     const std::function<void(const FileHit&)>& onFile);
    void Close() noexcept;

    sqlite3* m_hDb = nullptr;
    std::string m_strPath;
};
