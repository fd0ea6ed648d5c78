// SPDX-License-Identifier: GPL-3.0-or-later
#include "library/LibraryStore.h"

#include "library/StoreStatement.h"

#include "catalogue/Path.h"
#include "catalogue/Text.h"

#include <sqlite3.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <unordered_map>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace {

constexpr int kBusyTimeoutMs = 30000;

// Version n's schema is made by kMigrations[n - 1] from version n - 1's.
//
// A volume's files are written in one transaction, by the only writer, so their ids form the
// range first_file..last_file: no index on file(folder) is needed to remove them. The trigram
// index keeps no positions (detail=none, a third of the size): it narrows the search to names
// holding every trigram, and instr on the folded name decides.
constexpr const char* kMigrations[] = {
    R"sql(
CREATE TABLE volume(
    id INTEGER PRIMARY KEY, identity TEXT NOT NULL, label BLOB NOT NULL,
    path BLOB NOT NULL UNIQUE, kind INTEGER NOT NULL,
    device INTEGER NOT NULL, inode INTEGER NOT NULL, size INTEGER NOT NULL,
    modified INTEGER NOT NULL, changed INTEGER NOT NULL, catalogued INTEGER NOT NULL,
    error TEXT NOT NULL, applications INTEGER NOT NULL, files INTEGER NOT NULL,
    first_file INTEGER NOT NULL DEFAULT 1, last_file INTEGER NOT NULL DEFAULT 0);
CREATE INDEX volume_identity ON volume(identity);
CREATE TABLE folder(
    id INTEGER PRIMARY KEY, volume INTEGER NOT NULL REFERENCES volume(id) ON DELETE CASCADE,
    path BLOB NOT NULL);
CREATE INDEX folder_volume ON folder(volume);
CREATE TABLE file(
    id INTEGER PRIMARY KEY, folder INTEGER NOT NULL, name BLOB NOT NULL, key TEXT NOT NULL,
    size INTEGER NOT NULL, modified INTEGER NOT NULL);
CREATE VIRTUAL TABLE file_key USING fts5(key, content='file', content_rowid='id',
    tokenize='trigram case_sensitive 1', columnsize=0, detail=none);
CREATE TRIGGER file_removed AFTER DELETE ON file BEGIN
    INSERT INTO file_key(file_key, rowid, key) VALUES ('delete', old.id, old.key);
END;
CREATE TABLE application(
    id INTEGER PRIMARY KEY, volume INTEGER NOT NULL REFERENCES volume(id) ON DELETE CASCADE,
    category BLOB NOT NULL, name BLOB NOT NULL, descriptor BLOB NOT NULL, folder BLOB NOT NULL,
    description TEXT NOT NULL, patterns BLOB NOT NULL, key TEXT NOT NULL);
CREATE INDEX application_volume ON application(volume);
)sql",
    // Whether an application lists its subfolders' files too, and programs' small icons (each
    // kept once a volume), which showing a volume from the store needs; volumes catalogued
    // before are read again on their next add.
    R"sql(
ALTER TABLE application ADD COLUMN subdirs INTEGER NOT NULL DEFAULT 0;
CREATE TABLE icon(
    id INTEGER PRIMARY KEY, volume INTEGER NOT NULL REFERENCES volume(id) ON DELETE CASCADE,
    ico BLOB NOT NULL);
CREATE INDEX icon_volume ON icon(volume);
CREATE TABLE program_icon(file INTEGER PRIMARY KEY, icon INTEGER NOT NULL);
UPDATE volume SET changed = -1;
)sql",
    // Applications are found through a trigram index of their own, as files are, or in the
    // order of their names when many hold the words. The indexes merge their segments eight
    // at a time rather than four: adding is quicker, and searching measured no slower.
    // A volume's files are stored in the order of their folded names (sorted = 1), so that a
    // search finds the first hits in that order volume by volume without reading the rest;
    // seq keeps the order they were read in. Volumes stored before are read again on their
    // next add, and searched as before until then.
    // Each volume's file range is also set again from its folders: version 2 recorded every
    // range as starting at the store's first file.
    R"sql(
CREATE VIRTUAL TABLE application_key USING fts5(key, content='application',
    content_rowid='id', tokenize='trigram case_sensitive 1', columnsize=0, detail=none);
CREATE TRIGGER application_removed AFTER DELETE ON application BEGIN
    INSERT INTO application_key(application_key, rowid, key) VALUES ('delete', old.id, old.key);
END;
INSERT INTO application_key(application_key) VALUES ('rebuild');
CREATE INDEX application_name ON application(substr(key, 1, instr(key, char(10)) - 1));
INSERT INTO file_key(file_key, rank) VALUES ('automerge', 8);
INSERT INTO application_key(application_key, rank) VALUES ('automerge', 8);
ALTER TABLE file ADD COLUMN seq INTEGER NOT NULL DEFAULT -1;
ALTER TABLE volume ADD COLUMN sorted INTEGER NOT NULL DEFAULT 0;
CREATE TEMP TABLE span AS SELECT d.volume AS volume, min(f.id) AS first, max(f.id) AS last
    FROM file f JOIN folder d ON d.id = f.folder GROUP BY d.volume;
UPDATE volume SET
    first_file = coalesce((SELECT first FROM span WHERE span.volume = volume.id), 1),
    last_file = coalesce((SELECT last FROM span WHERE span.volume = volume.id), 0),
    changed = -1;
DROP TABLE span;
)sql",
    // Each sorted volume's folded names in one piece, in file id order, each ended by a NUL
    // (which no name holds): words too short for the trigram index are looked for there,
    // a volume at a time, rather than row by row. Filled from the stored files.
    R"sql(
CREATE TABLE file_names(
    volume INTEGER PRIMARY KEY REFERENCES volume(id) ON DELETE CASCADE, keys BLOB NOT NULL);
)sql",
};
static_assert(std::size(kMigrations) == CLibraryStore::kSchemaVersion);

std::string Stamp()
{
    const std::time_t now = std::time(nullptr);
    std::tm parts{};
    ::localtime_r(&now, &parts);
    char text[32];
    std::strftime(text, sizeof text, "%Y%m%d-%H%M%S", &parts);
    return text;
}

bool MakeFolder(const std::string& path)
{
    if (::mkdir(path.c_str(), 0700) == 0 || errno == EEXIST)
        return true;
    if (errno != ENOENT)
        return false;
    const std::size_t slash = path.find_last_of('/');
    if (slash == 0 || slash == std::string::npos || !MakeFolder(path.substr(0, slash)))
        return false;
    return ::mkdir(path.c_str(), 0700) == 0 || errno == EEXIST;
}

// Application texts are searched all at once: each word may be in any of them.
std::string ApplicationKey(const CLibraryApplication& application)
{
    return CLibraryStore::SearchKey(application.strName) + '\n' +
           CLibraryStore::SearchKey(application.strCategory) + '\n' +
           Text::ToLower(application.strDescription);
}

} // namespace

// Programs' icons of one volume, each kept once however many programs show it.
class CLibraryStore::CIconWriter {
public:
    CIconWriter(sqlite3* hDb, std::int64_t volume)
        : m_hDb(hDb)
        , m_nVolume(volume)
        , m_icon(hDb, "INSERT INTO icon(volume, ico) VALUES (?1, ?2)")
        , m_program(hDb, "INSERT INTO program_icon(file, icon) VALUES (?1, ?2)")
    {}
    void Add(std::int64_t file, const std::string& ico)
    {
        auto [it, bNew] = m_mapIds.try_emplace(ico, 0);
        if (bNew) {
            m_icon.Bind(1, m_nVolume).BindBlob(2, ico).Run();
            it->second = sqlite3_last_insert_rowid(m_hDb);
        }
        m_program.Bind(1, file).Bind(2, it->second).Run();
    }

private:
    sqlite3* m_hDb;
    std::int64_t m_nVolume;
    CStatement m_icon;
    CStatement m_program;
    std::unordered_map<std::string, std::int64_t> m_mapIds;
};

CLibraryStore::~CLibraryStore()
{
    Close();
}

void CLibraryStore::Close() noexcept
{
    sqlite3_close_v2(m_hDb);
    m_hDb = nullptr;
    m_strPath.clear();
}

std::string CLibraryStore::DefaultPath()
{
    std::string base;
    if (const char* data = std::getenv("XDG_DATA_HOME"); data && data[0] == '/') {
        base = data;
    } else {
        const char* home = std::getenv("HOME");
        base = std::string(home && home[0] == '/' ? home : "") + "/.local/share";
    }
    return Path::Join(Path::Trimmed(base), "quarrow/library.sqlite");
}

std::string CLibraryStore::SearchKey(std::string_view bytes)
{
    return Text::ToLower(Text::DecodeForDisplay(bytes));
}

void CLibraryStore::Execute(const char* sql)
{
    char* message = nullptr;
    if (sqlite3_exec(m_hDb, sql, nullptr, nullptr, &message) != SQLITE_OK) {
        const std::string text = message ? message : sqlite3_errmsg(m_hDb);
        sqlite3_free(message);
        throw CError(text, IsDamage(sqlite3_extended_errcode(m_hDb)));
    }
}

CLibraryStore::EOpen CLibraryStore::Open(const std::string& path, std::string& error,
                                         std::string& notice)
{
    Close();
    const std::size_t slash = path.find_last_of('/');
    if (slash != std::string::npos && slash > 0) {
        const std::string folder = path.substr(0, slash);
        if (!MakeFolder(folder)) {
            error = "cannot make the folder of " + path + ": " + std::strerror(errno);
            return EOpen::Failed;
        }
        ::chmod(folder.c_str(), 0700); // also when an older tool made it open to others
    }
    // Made here so that SQLite, which gives its journal files the database's mode, never
    // makes any of them readable to others.
    const int hFile = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (hFile < 0) {
        error = "cannot open " + path + ": " + std::strerror(errno);
        return EOpen::Failed;
    }
    ::close(hFile);

    for (int attempt = 0; attempt < 2; ++attempt) {
        if (sqlite3_open_v2(path.c_str(), &m_hDb,
                            SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOFOLLOW | SQLITE_OPEN_NOMUTEX,
                            nullptr) != SQLITE_OK) {
            error = "cannot open " + path + ": " + sqlite3_errmsg(m_hDb);
            Close();
            return EOpen::Failed;
        }
        sqlite3_busy_timeout(m_hDb, kBusyTimeoutMs);
        sqlite3_extended_result_codes(m_hDb, 1);
        try {
            // Read before anything is written: a newer store must stay as it is.
            const std::int64_t found = ReadVersion();
            if (found > kSchemaVersion) {
                error = path + " was written by a newer Quarrow (store version " +
                        std::to_string(found) + ", this one knows " +
                        std::to_string(kSchemaVersion) + "); it is left unchanged";
                Close();
                return EOpen::Newer;
            }
            CStatement(m_hDb, "SELECT count(*) FROM sqlite_schema").Run();
            Execute("PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL; PRAGMA foreign_keys=ON; "
                    "PRAGMA cache_size=-16384");
            Migrate();
            m_strPath = path;
            return EOpen::Ok;
        } catch (const CError& failure) {
            Close();
            if (!failure.IsDamage() || attempt > 0) {
                error = path + ": " + failure.what();
                return EOpen::Failed;
            }
        }
        if (!SetAside(path, notice)) {
            error = notice;
            return EOpen::Failed;
        }
        notice += ", and a new library started";
        const int hNew = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (hNew >= 0)
            ::close(hNew);
    }
    return EOpen::Failed;
}

bool CLibraryStore::OpenForLookups(const CLibraryStore& opened)
{
    Close();
    if (opened.m_strPath.empty() ||
        sqlite3_open_v2(opened.m_strPath.c_str(), &m_hDb,
                        SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOFOLLOW | SQLITE_OPEN_NOMUTEX,
                        nullptr) != SQLITE_OK) {
        Close();
        return false;
    }
    sqlite3_busy_timeout(m_hDb, kBusyTimeoutMs);
    sqlite3_extended_result_codes(m_hDb, 1);
    try {
        Execute("PRAGMA query_only=1");
    } catch (const CError&) {
        Close();
        return false;
    }
    m_strPath = opened.m_strPath;
    return true;
}

void CLibraryStore::Checkpoint() noexcept
{
    sqlite3_wal_checkpoint_v2(m_hDb, nullptr, SQLITE_CHECKPOINT_PASSIVE, nullptr, nullptr);
}

bool CLibraryStore::SetAside(const std::string& path, std::string& message)
{
    Close();
    const std::string aside = path + ".damaged-" + Stamp();
    if (std::rename(path.c_str(), aside.c_str()) != 0) {
        message = path + " is damaged and cannot be set aside: " + std::strerror(errno);
        return false;
    }
    // A journal left beside it belongs to the damaged file, never to a new one.
    std::rename((path + "-wal").c_str(), (aside + "-wal").c_str());
    std::remove((path + "-shm").c_str());
    message = path + " is damaged: set aside as " + aside;
    return true;
}

std::int64_t CLibraryStore::ReadVersion()
{
    CStatement version(m_hDb, "PRAGMA user_version");
    version.Step();
    return version.Int(0);
}

void CLibraryStore::Migrate()
{
    // Immediate: two Quarrows starting on a new store make its schema once.
    Execute("BEGIN IMMEDIATE");
    try {
        const std::int64_t from = ReadVersion();
        if (from > kSchemaVersion)
            throw CError("store version " + std::to_string(from) + " is newer than this Quarrow");
        for (std::int64_t at = from; at < kSchemaVersion; ++at)
            Execute(kMigrations[at]);
        if (from > 0 && from < 4)
            KeepNamesOfSortedVolumes();
        if (from < kSchemaVersion)
            Execute(("PRAGMA user_version=" + std::to_string(kSchemaVersion)).c_str());
        Execute("COMMIT");
    } catch (...) {
        sqlite3_exec(m_hDb, "ROLLBACK", nullptr, nullptr, nullptr);
        throw;
    }
}

std::vector<CLibraryVolume> CLibraryStore::ReadVolumes(const char* where,
                                                       const std::string* argument)
{
    const std::string sql =
        std::string("SELECT id, identity, label, path, kind, device, inode, size, modified, "
                    "changed, catalogued, error, applications, files FROM volume ") +
        where + " ORDER BY path";
    CStatement select(m_hDb, sql.c_str());
    if (argument)
        select.BindBlob(1, *argument);
    std::vector<CLibraryVolume> volumes;
    while (select.Step()) {
        CLibraryVolume& volume = volumes.emplace_back();
        volume.nId = select.Int(0);
        volume.strIdentity = select.Bytes(1);
        volume.strLabel = select.Bytes(2);
        volume.strPath = select.Bytes(3);
        volume.eKind = static_cast<EVolumeKind>(std::clamp<std::int64_t>(select.Int(4), 0, 2));
        volume.nDevice = static_cast<std::uint64_t>(select.Int(5));
        volume.nInode = static_cast<std::uint64_t>(select.Int(6));
        volume.nSize = static_cast<std::uint64_t>(select.Int(7));
        volume.nModified = select.Int(8);
        volume.nChanged = select.Int(9);
        volume.nCatalogued = select.Int(10);
        volume.strError = select.Bytes(11);
        volume.nApplications = static_cast<std::uint64_t>(select.Int(12));
        volume.nFiles = static_cast<std::uint64_t>(select.Int(13));
    }
    return volumes;
}

std::vector<CLibraryVolume> CLibraryStore::Volumes()
{
    return ReadVolumes("", nullptr);
}

std::optional<CLibraryVolume> CLibraryStore::VolumeAt(const std::string& path)
{
    std::vector<CLibraryVolume> volumes = ReadVolumes("WHERE path = ?1", &path);
    if (volumes.empty())
        return std::nullopt;
    return std::move(volumes.front());
}

std::vector<CLibraryVolume> CLibraryStore::VolumesWithIdentity(const std::string& identity)
{
    // identity is TEXT: compared as a blob it would never be equal.
    return ReadVolumes("WHERE identity = CAST(?1 AS TEXT)", &identity);
}

CLibraryStore::CKeys CLibraryStore::KeysOf(const CLibraryContents& contents)
{
    CKeys keys;
    keys.astrFiles.reserve(contents.arrFiles.size());
    for (const CLibraryFile& entry : contents.arrFiles)
        keys.astrFiles.push_back(SearchKey(entry.strName));
    keys.fileOrder.resize(keys.astrFiles.size());
    for (std::size_t i = 0; i < keys.fileOrder.size(); ++i)
        keys.fileOrder[i] = i;
    std::stable_sort(
        keys.fileOrder.begin(), keys.fileOrder.end(),
        [&](std::size_t a, std::size_t b) { return keys.astrFiles[a] < keys.astrFiles[b]; });
    for (const CLibraryApplication& entry : contents.arrApplications)
        keys.astrApplications.push_back(ApplicationKey(entry));
    return keys;
}

void CLibraryStore::Save(CLibraryVolume& volume, const CLibraryContents* contents,
                         const CKeys* keys)
{
    Execute("BEGIN IMMEDIATE");
    try {
        CStatement other(m_hDb, "SELECT id FROM volume WHERE path = ?1 AND id != ?2");
        other.BindBlob(1, volume.strPath).Bind(2, volume.nId);
        std::vector<std::int64_t> others;
        while (other.Step())
            others.push_back(other.Int(0));
        for (const std::int64_t id : others)
            DeleteVolume(id);
        if (contents) {
            volume.nApplications = contents->arrApplications.size();
            volume.nFiles = contents->arrFiles.size();
        }
        CStatement write(m_hDb,
                         volume.nId == 0
                             ? "INSERT INTO volume(identity, label, path, kind, device, inode, "
                               "size, modified, changed, catalogued, error, applications, files) "
                               "VALUES (CAST(?1 AS TEXT), ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, "
                               "CAST(?11 AS TEXT), ?12, ?13)"
                             : "UPDATE volume SET identity = CAST(?1 AS TEXT), label = ?2, "
                               "path = ?3, kind = ?4, device = ?5, inode = ?6, size = ?7, "
                               "modified = ?8, changed = ?9, catalogued = ?10, "
                               "error = CAST(?11 AS TEXT), applications = ?12, files = ?13 "
                               "WHERE id = ?14");
        write.BindBlob(1, volume.strIdentity)
            .BindBlob(2, volume.strLabel)
            .BindBlob(3, volume.strPath)
            .Bind(4, static_cast<std::int64_t>(volume.eKind))
            .Bind(5, static_cast<std::int64_t>(volume.nDevice))
            .Bind(6, static_cast<std::int64_t>(volume.nInode))
            .Bind(7, static_cast<std::int64_t>(volume.nSize))
            .Bind(8, volume.nModified)
            .Bind(9, volume.nChanged)
            .Bind(10, volume.nCatalogued)
            .BindBlob(11, volume.strError)
            .Bind(12, static_cast<std::int64_t>(volume.nApplications))
            .Bind(13, static_cast<std::int64_t>(volume.nFiles));
        if (volume.nId != 0)
            write.Bind(14, volume.nId);
        write.Run();
        const bool bNew = volume.nId == 0;
        const std::int64_t id = bNew ? sqlite3_last_insert_rowid(m_hDb) : volume.nId;
        if (contents)
            WriteContents(id, *contents, keys ? *keys : KeysOf(*contents));
        Execute("COMMIT");
        volume.nId = id;
    } catch (...) {
        sqlite3_exec(m_hDb, "ROLLBACK", nullptr, nullptr, nullptr);
        throw;
    }
}

void CLibraryStore::KeepNamesOfSortedVolumes()
{
    CStatement volumes(m_hDb, "SELECT id, first_file, last_file FROM volume "
                              "WHERE sorted = 1 AND last_file >= first_file");
    CStatement keys(m_hDb, "SELECT key FROM file WHERE id BETWEEN ?1 AND ?2 ORDER BY id");
    while (volumes.Step()) {
        std::string names;
        std::int64_t count = 0;
        keys.Bind(1, volumes.Int(1)).Bind(2, volumes.Int(2));
        for (; keys.Step(); ++count)
            (names += keys.View(0)) += '\0';
        keys.Reset();
        if (count == volumes.Int(2) - volumes.Int(1) + 1)
            KeepNames(volumes.Int(0), names);
    }
}

void CLibraryStore::KeepNames(std::int64_t volume, const std::string& names)
{
    CStatement(m_hDb, "INSERT OR REPLACE INTO file_names(volume, keys) VALUES (?1, ?2)")
        .Bind(1, volume)
        .BindBlobInPlace(2, names)
        .Run();
}

void CLibraryStore::DeleteContents(std::int64_t volume)
{
    CStatement(m_hDb, "DELETE FROM file_names WHERE volume = ?1").Bind(1, volume).Run();
    CStatement(m_hDb, "DELETE FROM file WHERE id BETWEEN (SELECT first_file FROM volume WHERE "
                      "id = ?1) AND (SELECT last_file FROM volume WHERE id = ?1)")
        .Bind(1, volume)
        .Run();
    CStatement(m_hDb, "DELETE FROM program_icon WHERE file BETWEEN (SELECT first_file FROM "
                      "volume WHERE id = ?1) AND (SELECT last_file FROM volume WHERE id = ?1)")
        .Bind(1, volume)
        .Run();
    CStatement(m_hDb, "DELETE FROM icon WHERE volume = ?1").Bind(1, volume).Run();
    CStatement(m_hDb, "DELETE FROM folder WHERE volume = ?1").Bind(1, volume).Run();
    CStatement(m_hDb, "DELETE FROM application WHERE volume = ?1").Bind(1, volume).Run();
}

void CLibraryStore::DeleteVolume(std::int64_t volume)
{
    DeleteContents(volume);
    CStatement(m_hDb, "DELETE FROM volume WHERE id = ?1").Bind(1, volume).Run();
}

void CLibraryStore::WriteContents(std::int64_t volume, const CLibraryContents& contents,
                                  const CKeys& keys)
{
    DeleteContents(volume);

    CStatement folder(m_hDb, "INSERT INTO folder(volume, path) VALUES (?1, ?2)");
    std::vector<std::int64_t> folderIds;
    folderIds.reserve(contents.astrFolders.size());
    for (const std::string& path : contents.astrFolders) {
        folder.Bind(1, volume).BindBlob(2, path).Run();
        folderIds.push_back(sqlite3_last_insert_rowid(m_hDb));
    }
    CStatement file(m_hDb, "INSERT INTO file(folder, name, key, size, modified, seq) "
                           "VALUES (?1, ?2, ?3, ?4, ?5, ?6)");
    // Indexed here rather than by a trigger: a trigger's program costs more than the insert.
    CStatement index(m_hDb, "INSERT INTO file_key(rowid, key) VALUES (?1, ?2)");
    CIconWriter icons(m_hDb, volume);
    std::int64_t first = 0, last = 0;
    std::string names;
    bool bNamesKept = true;
    for (const std::size_t seq : keys.fileOrder) {
        const CLibraryFile& entry = contents.arrFiles[seq];
        if (entry.nFolder >= folderIds.size())
            continue;
        const std::string& key = keys.astrFiles[seq];
        file.Bind(1, folderIds[entry.nFolder])
            .BindBlobInPlace(2, entry.strName)
            .BindTextInPlace(3, key)
            .Bind(4, static_cast<std::int64_t>(entry.nSize))
            .Bind(5, entry.nModified)
            .Bind(6, static_cast<std::int64_t>(seq))
            .Run();
        last = sqlite3_last_insert_rowid(m_hDb);
        index.Bind(1, last).BindTextInPlace(2, key).Run();
        bNamesKept = bNamesKept && key.find('\0') == std::string::npos;
        (names += key) += '\0';
        if (!entry.strIcon.empty())
            icons.Add(last, entry.strIcon);
        if (first == 0)
            first = last;
    }
    CStatement(m_hDb, "UPDATE volume SET first_file = ?1, last_file = ?2, sorted = 1 WHERE id = ?3")
        .Bind(1, first == 0 ? 1 : first) // none: an empty range
        .Bind(2, last)
        .Bind(3, volume)
        .Run();
    if (first != 0 && bNamesKept)
        KeepNames(volume, names);
    CStatement application(m_hDb,
                           "INSERT INTO application(volume, category, name, descriptor, folder, "
                           "description, patterns, key, subdirs) "
                           "VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9)");
    CStatement applicationIndex(m_hDb, "INSERT INTO application_key(rowid, key) VALUES (?1, ?2)");
    for (std::size_t i = 0; i < contents.arrApplications.size(); ++i) {
        const CLibraryApplication& entry = contents.arrApplications[i];
        std::string patterns;
        for (const std::string& pattern : entry.astrPatterns)
            patterns.append(pattern).push_back('\0');
        const std::string& key = keys.astrApplications[i];
        application.Bind(1, volume)
            .BindBlob(2, entry.strCategory)
            .BindBlob(3, entry.strName)
            .BindBlob(4, entry.strDescriptor)
            .BindBlob(5, entry.strFolder)
            .BindText(6, entry.strDescription)
            .BindBlob(7, patterns)
            .BindTextInPlace(8, key)
            .Bind(9, entry.bSearchSubdirs ? 1 : 0)
            .Run();
        applicationIndex.Bind(1, sqlite3_last_insert_rowid(m_hDb)).BindTextInPlace(2, key).Run();
    }
}

CLibraryContents CLibraryStore::Contents(std::int64_t volume)
{
    // One read transaction: an add in another Quarrow replaces a volume's rows at once.
    Execute("BEGIN");
    try {
        CLibraryContents contents;
        std::unordered_map<std::int64_t, std::uint32_t> folderIndex;
        CStatement folders(m_hDb, "SELECT id, path FROM folder WHERE volume = ?1 ORDER BY id");
        folders.Bind(1, volume);
        while (folders.Step()) {
            folderIndex.emplace(folders.Int(0),
                                static_cast<std::uint32_t>(contents.astrFolders.size()));
            contents.astrFolders.push_back(folders.Bytes(1));
        }
        CStatement files(
            m_hDb,
            "SELECT f.folder, f.name, f.size, f.modified, i.ico FROM file f "
            "LEFT JOIN program_icon p ON p.file = f.id LEFT JOIN icon i ON "
            "i.id = p.icon WHERE f.id BETWEEN (SELECT first_file FROM volume WHERE "
            "id = ?1) AND (SELECT last_file FROM volume WHERE id = ?1) ORDER BY f.seq, f.id");
        files.Bind(1, volume);
        while (files.Step()) {
            const auto folder = folderIndex.find(files.Int(0));
            if (folder == folderIndex.end())
                continue;
            contents.arrFiles.push_back({folder->second, files.Bytes(1),
                                         static_cast<std::uint64_t>(files.Int(2)), files.Int(3),
                                         files.Bytes(4)});
        }
        CStatement applications(m_hDb, "SELECT category, name, descriptor, folder, description, "
                                       "patterns, subdirs FROM application WHERE volume = ?1 "
                                       "ORDER BY id");
        applications.Bind(1, volume);
        while (applications.Step()) {
            CLibraryApplication& entry = contents.arrApplications.emplace_back();
            entry.strCategory = applications.Bytes(0);
            entry.strName = applications.Bytes(1);
            entry.strDescriptor = applications.Bytes(2);
            entry.strFolder = applications.Bytes(3);
            entry.strDescription = applications.Bytes(4);
            const std::string patterns = applications.Bytes(5);
            for (std::size_t at = 0; at < patterns.size();) {
                const std::size_t end = std::min(patterns.find('\0', at), patterns.size());
                entry.astrPatterns.push_back(patterns.substr(at, end - at));
                at = end + 1;
            }
            entry.bSearchSubdirs = applications.Int(6) != 0;
        }
        Execute("COMMIT");
        return contents;
    } catch (...) {
        sqlite3_exec(m_hDb, "ROLLBACK", nullptr, nullptr, nullptr);
        throw;
    }
}

bool CLibraryStore::Forget(const std::string& path)
{
    Execute("BEGIN IMMEDIATE");
    try {
        CStatement find(m_hDb, "SELECT id FROM volume WHERE path = ?1");
        find.BindBlob(1, path);
        const bool bFound = find.Step();
        if (bFound)
            DeleteVolume(find.Int(0));
        Execute("COMMIT");
        return bFound;
    } catch (...) {
        sqlite3_exec(m_hDb, "ROLLBACK", nullptr, nullptr, nullptr);
        throw;
    }
}
