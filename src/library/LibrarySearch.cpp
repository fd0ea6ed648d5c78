// SPDX-License-Identifier: GPL-3.0-or-later
#include "library/LibraryStore.h"

#include "library/StoreStatement.h"

#include <algorithm>
#include <set>
#include <tuple>

namespace {

constexpr std::size_t kTrigram = 3; // characters

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

    std::string appSql = "SELECT a.name, a.category, v.label, v.path, a.folder, a.key "
                         "FROM application a JOIN volume v ON v.id = a.volume WHERE 1";
    for (std::size_t i = 0; i < keys.size(); ++i)
        appSql += " AND instr(a.key, ?" + std::to_string(i + 1) + ") > 0";
    CStatement apps(m_hDb, appSql.c_str());
    for (std::size_t i = 0; i < keys.size(); ++i)
        apps.BindText(static_cast<int>(i + 1), keys[i]);
    struct Sorted {
        std::string strKey;
        ApplicationHit hit;
    };
    std::vector<Sorted> found;
    while (apps.Step()) {
        Sorted& entry = found.emplace_back();
        entry.hit = {apps.Bytes(0), apps.Bytes(1), apps.Bytes(2), apps.Bytes(3), apps.Bytes(4)};
        entry.strKey = SearchKey(entry.hit.strName);
    }
    std::stable_sort(found.begin(), found.end(), [](const Sorted& a, const Sorted& b) {
        return std::tie(a.strKey, a.hit.strVolumePath, a.hit.strFolder) <
               std::tie(b.strKey, b.hit.strVolumePath, b.hit.strFolder);
    });
    if (nLimit != kAll && found.size() > nLimit)
        found.resize(nLimit);
    for (const Sorted& entry : found)
        onApplication(entry.hit);

    // Every trigram of every long word narrows the search through the index; instr on the
    // folded name then decides, for short words too.
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
    // With a limit the hits are first narrowed to that many by name alone, so that only those
    // are joined to their folders and volumes; SQLite then keeps just that many while sorting.
    std::string fileSql = "SELECT f.name, v.label, v.path, d.path FROM (SELECT id, folder, name, "
                          "key FROM file WHERE ";
    fileSql += match.empty() ? "1" : "id IN (SELECT rowid FROM file_key WHERE file_key MATCH ?1)";
    const int first = match.empty() ? 1 : 2;
    for (std::size_t i = 0; i < keys.size(); ++i)
        fileSql += " AND instr(key, ?" + std::to_string(first + static_cast<int>(i)) + ") > 0";
    if (nLimit != kAll)
        fileSql += " ORDER BY key LIMIT " + std::to_string(nLimit);
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
