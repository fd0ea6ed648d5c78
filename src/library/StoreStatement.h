// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "library/LibraryStore.h"

#include <sqlite3.h>

#include <cstdint>
#include <string>
#include <string_view>

// The store's SQLite statements, shared by the files that make up CLibraryStore.

inline bool IsDamage(int code)
{
    code &= 0xff;
    return code == SQLITE_NOTADB || code == SQLITE_CORRUPT;
}

class CLibraryStore::CStatement {
public:
    CStatement(sqlite3* hDb, const char* sql)
        : m_hDb(hDb)
    {
        Check(sqlite3_prepare_v2(hDb, sql, -1, &m_hStatement, nullptr));
    }
    ~CStatement() { sqlite3_finalize(m_hStatement); }
    CStatement(const CStatement&) = delete;
    CStatement& operator=(const CStatement&) = delete;

    CStatement& Bind(int index, std::int64_t value)
    {
        Check(sqlite3_bind_int64(m_hStatement, index, value));
        return *this;
    }
    CStatement& BindBlob(int index, std::string_view value)
    {
        Check(
            sqlite3_bind_blob64(m_hStatement, index, value.data(), value.size(), SQLITE_TRANSIENT));
        return *this;
    }
    CStatement& BindText(int index, std::string_view value)
    {
        Check(sqlite3_bind_text64(m_hStatement, index, value.data(), value.size(), SQLITE_TRANSIENT,
                                  SQLITE_UTF8));
        return *this;
    }
    // As BindBlob and BindText, without a copy: value must outlast the next Run or Step.
    CStatement& BindBlobInPlace(int index, std::string_view value)
    {
        Check(sqlite3_bind_blob64(m_hStatement, index, value.data(), value.size(), SQLITE_STATIC));
        return *this;
    }
    CStatement& BindTextInPlace(int index, std::string_view value)
    {
        Check(sqlite3_bind_text64(m_hStatement, index, value.data(), value.size(), SQLITE_STATIC,
                                  SQLITE_UTF8));
        return *this;
    }
    // Ready to run again, its values still bound.
    void Reset() { sqlite3_reset(m_hStatement); }
    // True while there is a row.
    bool Step()
    {
        const int code = sqlite3_step(m_hStatement);
        if (code == SQLITE_ROW)
            return true;
        if (code != SQLITE_DONE)
            Check(code);
        return false;
    }
    // Runs a statement made to change the store; its values stay bound, as a loop that binds
    // every one of them again wants.
    void Run()
    {
        Step();
        sqlite3_reset(m_hStatement);
    }
    std::int64_t Int(int column) const { return sqlite3_column_int64(m_hStatement, column); }
    // The column's bytes where the row holds them, valid until the next Step or Reset.
    std::string_view View(int column) const
    {
        const void* data = sqlite3_column_blob(m_hStatement, column);
        const int size = sqlite3_column_bytes(m_hStatement, column);
        return data ? std::string_view(static_cast<const char*>(data),
                                       static_cast<std::size_t>(size))
                    : std::string_view();
    }
    std::string Bytes(int column) const
    {
        const void* data = sqlite3_column_blob(m_hStatement, column);
        const int size = sqlite3_column_bytes(m_hStatement, column);
        return data ? std::string(static_cast<const char*>(data), static_cast<std::size_t>(size))
                    : std::string();
    }

private:
    void Check(int code) const
    {
        if (code != SQLITE_OK)
            throw CError(sqlite3_errmsg(m_hDb), IsDamage(sqlite3_extended_errcode(m_hDb)));
    }

    sqlite3* m_hDb;
    sqlite3_stmt* m_hStatement = nullptr;
};
