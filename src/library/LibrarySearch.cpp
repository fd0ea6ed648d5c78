// SPDX-License-Identifier: GPL-3.0-or-later
#include "library/LibraryStore.h"

#include "library/StoreStatement.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <set>
#include <span>
#include <tuple>

namespace {

constexpr std::size_t kTrigram = 3; // characters
// An application's folded name, which leads its key up to the first line break; indexed.
constexpr const char* kApplicationName = "substr(key, 1, instr(key, char(10)) - 1)";

// An index query for the files holding every trigram of every word of three or more
// characters; empty when there is none.
std::string TrigramMatch(const std::vector<std::string>& keys)
{
    std::set<std::string> trigrams;
    for (const std::string& key : keys) {
        std::vector<std::size_t> starts;
        for (std::size_t i = 0; i < key.size(); ++i)
            if ((static_cast<unsigned char>(key[i]) & 0xc0) != 0x80)
                starts.push_back(i);
        starts.push_back(key.size());
        for (std::size_t i = 0; i + kTrigram < starts.size(); ++i)
            trigrams.insert(key.substr(starts[i], starts[i + kTrigram] - starts[i]));
    }
    std::string match;
    for (const std::string& trigram : trigrams) {
        match += match.empty() ? "\"" : " \"";
        for (const char c : trigram)
            match += c == '"' ? std::string("\"\"") : std::string(1, c);
        match += '"';
    }
    return match;
}

bool HoldsAll(std::string_view key, const std::vector<std::string>& words)
{
    return std::all_of(words.begin(), words.end(), [&](const std::string& word) {
        return key.find(word) != std::string::npos;
    });
}

// A hit with the folded name it is sorted by.
template <typename Hit>
struct Keyed {
    std::string strKey;
    Hit hit;
};

// By folded name, then by where the hit lies.
template <typename Hit>
void SortByName(std::vector<Keyed<Hit>>& found)
{
    std::stable_sort(found.begin(), found.end(), [](const Keyed<Hit>& a, const Keyed<Hit>& b) {
        return std::tie(a.strKey, a.hit.strVolumePath, a.hit.strFolder) <
               std::tie(b.strKey, b.hit.strVolumePath, b.hit.strFolder);
    });
}

// A file that holds every word, at the head of the run (one volume's) it comes from.
struct RunHead {
    std::string strKey;
    std::int64_t nId = 0;
    std::size_t nRun = 0;
    bool operator>(const RunHead& other) const
    {
        return std::tie(strKey, nId) > std::tie(other.strKey, other.nId);
    }
};
// One volume's hits in name order, one at a time.
using Run = std::function<std::optional<RunHead>()>;

Run SortedRun(std::vector<RunHead> hits)
{
    std::sort(hits.begin(), hits.end(), std::greater<>());
    return [hits = std::move(hits)]() mutable -> std::optional<RunHead> {
        if (hits.empty())
            return std::nullopt;
        RunHead head = std::move(hits.back());
        hits.pop_back();
        return head;
    };
}

// The first nLimit heads of all runs in name order, with any more of the last one's name.
std::vector<std::int64_t> Merge(std::vector<Run>& runs, std::size_t nLimit)
{
    std::vector<RunHead> heads;
    const auto advance = [&](std::size_t run) {
        if (std::optional<RunHead> head = runs[run]()) {
            head->nRun = run;
            heads.push_back(std::move(*head));
            std::push_heap(heads.begin(), heads.end(), std::greater<>());
        }
    };
    for (std::size_t run = 0; run < runs.size(); ++run)
        advance(run);
    std::vector<std::int64_t> ids;
    std::string last;
    while (!heads.empty()) {
        std::pop_heap(heads.begin(), heads.end(), std::greater<>());
        RunHead top = std::move(heads.back());
        heads.pop_back();
        if (ids.size() >= nLimit && top.strKey != last)
            break;
        ids.push_back(top.nId);
        last = std::move(top.strKey);
        advance(top.nRun);
    }
    return ids;
}

// The first nLimit hits by name, with any more of the last one's name, from hits offered in
// any order. Once that many are held, a name past the last of them is not wanted.
class CFirstNames {
public:
    explicit CFirstNames(std::size_t nLimit)
        : m_nLimit(nLimit)
    {}

    bool Wants(std::string_view key) const { return !m_bCut || key <= m_strCut; }
    void Add(RunHead hit)
    {
        m_hits.push_back(std::move(hit));
        if (m_hits.size() >= 2 * m_nLimit)
            Prune();
    }
    std::vector<RunHead> Take()
    {
        if (m_hits.size() > m_nLimit)
            Prune();
        return std::move(m_hits);
    }

private:
    void Prune()
    {
        const auto cut = m_hits.begin() + static_cast<std::ptrdiff_t>(m_nLimit - 1);
        std::nth_element(m_hits.begin(), cut, m_hits.end(),
                         [](const RunHead& a, const RunHead& b) { return a.strKey < b.strKey; });
        m_strCut = cut->strKey;
        m_bCut = true;
        m_hits.erase(std::partition(m_hits.begin(), m_hits.end(),
                                    [&](const RunHead& hit) { return hit.strKey <= m_strCut; }),
                     m_hits.end());
    }

    std::size_t m_nLimit;
    std::vector<RunHead> m_hits;
    std::string m_strCut;
    bool m_bCut = false;
};

// The files of one sorted volume that hold every word, in name order, from its folded names
// kept in one piece (each ended by a NUL); file first + i has the i-th name.
void FindInNames(std::string_view names, std::int64_t first, std::int64_t last,
                 const std::vector<std::string>& keys, CFirstNames& found)
{
    const std::string& word = *std::max_element(
        keys.begin(), keys.end(), [](const auto& a, const auto& b) { return a.size() < b.size(); });
    if (word.find('\0') != std::string::npos)
        return; // no name holds one
    std::int64_t id = first;
    std::size_t counted = 0; // names before it are counted in id
    for (std::size_t at = 0;;) {
        const void* hit = ::memmem(names.data() + at, names.size() - at, word.data(), word.size());
        if (hit == nullptr)
            return;
        const std::size_t offset = static_cast<const char*>(hit) - names.data();
        const std::size_t start = names.rfind('\0', offset) + 1; // npos + 1 is 0
        const std::size_t end = names.find('\0', offset);
        if (end == std::string_view::npos)
            return;
        id += std::count(names.begin() + counted, names.begin() + start, '\0');
        counted = start;
        const std::string_view key = names.substr(start, end - start);
        if (id > last || !found.Wants(key))
            return;
        if (keys.size() == 1 || HoldsAll(key, keys))
            found.Add({std::string(key), id, 0});
        at = end + 1;
    }
}

} // namespace

void CLibraryStore::Search(const std::vector<std::string>& words,
                           const std::function<void(const ApplicationHit&)>& onApplication,
                           const std::function<void(const FileHit&)>& onFile, std::size_t nLimit)
{
    std::vector<std::string> keys;
    for (const std::string& word : words) {
        std::string key = SearchKey(word);
        if (!key.empty())
            keys.push_back(std::move(key));
    }
    if (keys.empty())
        return;
    // Searches read the store through a mapping, a fifth to a half quicker than by pread;
    // adding does not, which keeps its resident memory small.
    Execute("PRAGMA mmap_size=1073741824");
    // One read transaction: its many small reads then take no lock each, and see one store.
    Execute("BEGIN");
    try {
        SearchApplications(keys, onApplication, nLimit);
        SearchFiles(keys, onFile, nLimit);
        Execute("COMMIT");
    } catch (...) {
        sqlite3_exec(m_hDb, "ROLLBACK", nullptr, nullptr, nullptr);
        throw;
    }
}

void CLibraryStore::SearchApplications(
    const std::vector<std::string>& keys,
    const std::function<void(const ApplicationHit&)>& onApplication, std::size_t nLimit)
{
    // Many hits are read in name order until there are enough; few through the index.
    const std::string match = TrigramMatch(keys);
    const bool bByName = nLimit != kAll && (match.empty() || !FewApplicationsHold(match));
    std::string sql = std::string("SELECT id, ") + kApplicationName + " FROM application ";
    if (bByName)
        sql += "INDEXED BY application_name WHERE 1";
    else if (match.empty())
        sql += "WHERE 1";
    else
        sql += "WHERE id IN (SELECT rowid FROM application_key WHERE application_key MATCH ?1)";
    const int first = match.empty() || bByName ? 1 : 2;
    for (std::size_t i = 0; i < keys.size(); ++i)
        sql += " AND instr(key, ?" + std::to_string(first + static_cast<int>(i)) + ") > 0";
    if (bByName)
        sql += std::string(" ORDER BY ") + kApplicationName;
    CStatement apps(m_hDb, sql.c_str());
    if (first == 2)
        apps.BindText(1, match);
    for (std::size_t i = 0; i < keys.size(); ++i)
        apps.BindText(first + static_cast<int>(i), keys[i]);
    std::vector<std::pair<std::string, std::int64_t>> named;
    while (apps.Step()) {
        std::string name = apps.Bytes(1);
        if (bByName && named.size() >= nLimit && name != named.back().first)
            break;
        named.emplace_back(std::move(name), apps.Int(0));
    }
    if (!bByName && nLimit != kAll && named.size() > nLimit) {
        // Only the first nLimit names are read further, with every other of the last name.
        std::nth_element(named.begin(), named.begin() + static_cast<std::ptrdiff_t>(nLimit - 1),
                         named.end());
        const std::string cut = named[nLimit - 1].first;
        named.erase(std::partition(named.begin(), named.end(),
                                   [&](const auto& entry) { return entry.first <= cut; }),
                    named.end());
    }

    CStatement details(m_hDb, "SELECT a.name, a.category, v.label, v.path, a.folder FROM "
                              "application a JOIN volume v ON v.id = a.volume WHERE a.id = ?1");
    std::vector<Keyed<ApplicationHit>> found;
    for (auto& [key, id] : named) {
        details.Bind(1, id);
        if (details.Step())
            found.push_back({std::move(key),
                             {details.Bytes(0), details.Bytes(1), details.Bytes(2),
                              details.Bytes(3), details.Bytes(4)}});
        details.Reset();
    }
    SortByName(found);
    if (nLimit != kAll && found.size() > nLimit)
        found.resize(nLimit);
    for (const auto& entry : found)
        onApplication(entry.hit);
}

bool CLibraryStore::FewApplicationsHold(const std::string& match)
{
    constexpr int kFew = 8000;
    CStatement count(m_hDb, "SELECT count(*) FROM (SELECT rowid FROM application_key WHERE "
                            "application_key MATCH ?1 LIMIT ?2)");
    count.BindText(1, match).Bind(2, kFew);
    return count.Step() && count.Int(0) < kFew;
}

void CLibraryStore::SearchFiles(const std::vector<std::string>& keys,
                                const std::function<void(const FileHit&)>& onFile,
                                std::size_t nLimit)
{
    const std::string match = TrigramMatch(keys);
    if (nLimit != kAll) {
        ReportFiles(FirstFiles(match, keys, nLimit), onFile);
        return;
    }
    std::string fileSql = "SELECT f.name, v.label, v.path, d.path FROM (SELECT id, folder, name, "
                          "key FROM file WHERE ";
    fileSql += match.empty() ? "1" : "id IN (SELECT rowid FROM file_key WHERE file_key MATCH ?1)";
    const int first = match.empty() ? 1 : 2;
    for (std::size_t i = 0; i < keys.size(); ++i)
        fileSql += " AND instr(key, ?" + std::to_string(first + static_cast<int>(i)) + ") > 0";
    fileSql += ") f JOIN folder d ON d.id = f.folder JOIN volume v ON v.id = d.volume "
               "ORDER BY f.key, v.path, d.path";
    CStatement files(m_hDb, fileSql.c_str());
    if (!match.empty())
        files.BindText(1, match);
    for (std::size_t i = 0; i < keys.size(); ++i)
        files.BindText(first + static_cast<int>(i), keys[i]);
    while (files.Step())
        onFile({files.Bytes(0), files.Bytes(1), files.Bytes(2), files.Bytes(3)});
}

// The first nLimit files in name order, with any more of the last one's name, merged from
// the volumes' runs. A volume stored in name order is read only as far as its names come before
// the last one kept: its files that the trigram index gives, or without trigrams (short words)
// row by row.
std::vector<std::int64_t> CLibraryStore::FirstFiles(const std::string& match,
                                                    const std::vector<std::string>& keys,
                                                    std::size_t nLimit)
{
    std::vector<std::int64_t> candidates;
    const bool bIndexed = !match.empty();
    if (bIndexed) {
        CStatement index(m_hDb, "SELECT rowid FROM file_key WHERE file_key MATCH ?1");
        index.BindText(1, match);
        while (index.Step())
            candidates.push_back(index.Int(0));
    }
    CStatement keyOf(m_hDb, "SELECT key FROM file WHERE id = ?1");
    const auto hitOf = [&](std::int64_t id) {
        keyOf.Bind(1, id);
        std::optional<RunHead> hit;
        if (keyOf.Step()) {
            std::string key = keyOf.Bytes(0);
            if (HoldsAll(key, keys))
                hit = RunHead{std::move(key), id, 0};
        }
        keyOf.Reset();
        return hit;
    };
    std::string scanSql = "SELECT id, key FROM file WHERE id BETWEEN ?1 AND ?2";
    for (std::size_t i = 0; i < keys.size(); ++i)
        scanSql += " AND instr(key, ?" + std::to_string(i + 3) + ") > 0";
    CStatement scan(m_hDb, (scanSql + " LIMIT 1").c_str());
    for (std::size_t i = 0; i < keys.size(); ++i)
        scan.BindText(static_cast<int>(i + 3), keys[i]);
    const auto firstFrom = [&](std::int64_t& from, std::int64_t to) {
        std::optional<RunHead> hit;
        scan.Bind(1, from).Bind(2, to);
        if (scan.Step()) {
            hit = RunHead{scan.Bytes(1), scan.Int(0), 0};
            from = hit->nId + 1;
        } else {
            from = to + 1;
        }
        scan.Reset();
        return hit;
    };

    std::vector<Run> runs;
    CFirstNames kept(nLimit);
    // Names kept in one piece are read for words the index cannot narrow.
    CStatement namesOf(m_hDb, "SELECT keys FROM file_names WHERE volume = ?1");
    const auto findInKeptNames = [&](std::int64_t volume, std::int64_t first, std::int64_t last) {
        const bool bKept = namesOf.Bind(1, volume).Step();
        if (bKept)
            FindInNames(namesOf.View(0), first, last, keys, kept);
        namesOf.Reset();
        return bKept;
    };
    CStatement volumes(m_hDb, "SELECT first_file, last_file, sorted, id FROM volume "
                              "WHERE last_file >= first_file ORDER BY first_file");
    while (volumes.Step()) {
        const std::int64_t first = volumes.Int(0), last = volumes.Int(1);
        const bool bInNameOrder = volumes.Int(2) != 0;
        if (!bIndexed && bInNameOrder && findInKeptNames(volumes.Int(3), first, last))
            continue;
        if (bIndexed) {
            const auto from = std::lower_bound(candidates.begin(), candidates.end(), first);
            const std::span<const std::int64_t> ids(from,
                                                    std::upper_bound(from, candidates.end(), last));
            if (ids.empty())
                continue;
            if (bInNameOrder) {
                runs.push_back([ids, at = std::size_t{0}, &hitOf]() mutable {
                    std::optional<RunHead> hit;
                    while (!hit && at < ids.size())
                        hit = hitOf(ids[at++]);
                    return hit;
                });
                continue;
            }
            std::vector<RunHead> hits;
            for (const std::int64_t id : ids)
                if (std::optional<RunHead> hit = hitOf(id))
                    hits.push_back(std::move(*hit));
            runs.push_back(SortedRun(std::move(hits)));
        } else if (bInNameOrder) {
            runs.push_back([from = first, last, &firstFrom]() mutable {
                return from <= last ? firstFrom(from, last) : std::nullopt;
            });
        } else {
            std::vector<RunHead> hits;
            for (std::int64_t from = first; from <= last;)
                if (std::optional<RunHead> hit = firstFrom(from, last))
                    hits.push_back(std::move(*hit));
            runs.push_back(SortedRun(std::move(hits)));
        }
    }
    runs.push_back(SortedRun(kept.Take()));
    return Merge(runs, nLimit);
}

void CLibraryStore::ReportFiles(const std::vector<std::int64_t>& ids,
                                const std::function<void(const FileHit&)>& onFile)
{
    CStatement file(m_hDb, "SELECT f.name, v.label, v.path, d.path, f.key FROM file f JOIN folder "
                           "d ON d.id = f.folder JOIN volume v ON v.id = d.volume WHERE f.id = ?1");
    std::vector<Keyed<FileHit>> found;
    for (const std::int64_t id : ids) {
        file.Bind(1, id);
        if (file.Step())
            found.push_back(
                {file.Bytes(4), {file.Bytes(0), file.Bytes(1), file.Bytes(2), file.Bytes(3)}});
        file.Reset();
    }
    SortByName(found);
    for (const auto& entry : found)
        onFile(entry.hit);
}
