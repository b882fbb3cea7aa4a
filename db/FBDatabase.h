// The station catalogue's small data-set layer over the Firebird client library: a connection
// (`DB_Quelt`), a transaction (`Trans_Quelt`) and a read-only query that keeps its rows in memory
// (`Q_Vinhetas`). It does only what the catalogue needs: open a SELECT, walk and locate its rows.
// Text arrives and is kept as UTF-8. Every failure raises EFBError with the client library's message.
// All calls belong to one thread (the UI thread).
#pragma once

#include "common/MMErrors.h"
#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

class TFBTransaction;
class TFBQuery;

// The one error of the database layer; what() is the client library's message (or ours when
// the fault is found before the library is called).
class EFBError : public EMMError {
public:
    explicit EFBError(const std::string& message) : EMMError(message) {}
};

// A connection. The database name is a local path (opened in this process by the embedded
// engine, no server) or "host:path" / "host/port:path" (a Firebird server over TCP).
class TFBDatabase {
public:
    TFBDatabase();
    ~TFBDatabase();  // disconnects
    TFBDatabase(const TFBDatabase&) = delete;
    TFBDatabase& operator=(const TFBDatabase&) = delete;

    const std::string& DatabaseName() const { return databaseName_; }
    // Takes effect at the next Open, which ignores blanks and line ends around it.
    void SetDatabaseName(const std::string& name) { databaseName_ = name; }

    // "name=value" lines. Understood: user_name, password, lc_ctype (default UTF8), sql_role_name.
    // Any other name makes Open fail with EFBError.
    std::vector<std::string>& Params() { return params_; }
    const std::vector<std::string>& Params() const { return params_; }

    // The program never asks for a login; kept so the connection states it (always false here).
    bool LoginPrompt() const { return false; }

    int SQLDialect() const { return sqlDialect_; }
    void SetSQLDialect(int dialect) { sqlDialect_ = dialect; }

    // Seconds a server may take to accept the connection before Open fails (0: the library's
    // default, which is minutes). Not used by the embedded engine.
    int ConnectTimeout() const { return connectTimeout_; }
    void SetConnectTimeout(int seconds) { connectTimeout_ = seconds < 0 ? 0 : seconds; }

    // The transaction queries use when they name none. Non-owning.
    TFBTransaction* DefaultTransaction() const { return defaultTransaction_; }
    void SetDefaultTransaction(TFBTransaction* transaction) { defaultTransaction_ = transaction; }

    // Attaches to DatabaseName. Does nothing when already connected. Throws EFBError on any
    // failure (empty name, missing file, not a database, server unreachable or silent), and is
    // then still disconnected.
    void Open();
    // Closes the queries, ends the transactions (rolled back) and detaches. Never throws.
    void Close();
    bool Connected() const;
    void SetConnected(bool value) { value ? Open() : Close(); }

private:
    friend class TFBTransaction;
    friend class TFBQuery;
    struct Impl;

    void Register(TFBTransaction* t);
    void Unregister(TFBTransaction* t);
    void Register(TFBQuery* q);
    void Unregister(TFBQuery* q);

    std::unique_ptr<Impl> impl_;
    std::string databaseName_;
    std::vector<std::string> params_;
    int sqlDialect_ = 1;
    int connectTimeout_ = 5;
    TFBTransaction* defaultTransaction_ = nullptr;
    std::vector<TFBTransaction*> transactions_;
    std::vector<TFBQuery*> queries_;
};

// A transaction on one database. Params are the usual names: "read_committed", "rec_version",
// "no_rec_version", "concurrency", "consistency", "nowait", "wait", "read", "write".
// Without "write" the transaction is read only (the catalogue never writes).
class TFBTransaction {
public:
    TFBTransaction();
    ~TFBTransaction();  // rolls back when active
    TFBTransaction(const TFBTransaction&) = delete;
    TFBTransaction& operator=(const TFBTransaction&) = delete;

    TFBDatabase* DefaultDatabase() const { return database_; }
    // Non-owning; an active transaction is rolled back first.
    void SetDefaultDatabase(TFBDatabase* database);

    std::vector<std::string>& Params() { return params_; }
    const std::vector<std::string>& Params() const { return params_; }

    // Starts when not yet active. Throws EFBError when the database is not connected, a
    // parameter is unknown, or the server refuses.
    void StartTransaction();
    // End the transaction; do nothing when it is not active. Commit throws EFBError on failure.
    void Commit();
    void Rollback();
    bool InTransaction() const;

private:
    friend class TFBDatabase;
    friend class TFBQuery;
    struct Impl;

    std::unique_ptr<Impl> impl_;
    TFBDatabase* database_ = nullptr;
    std::vector<std::string> params_;
};

enum class TFBFieldType { ftInteger, ftFloat, ftString };

// One cell of a row.
struct TFBValue {
    bool isNull = true;
    int64_t integer = 0;  // ftInteger
    double number = 0;    // ftFloat (also scaled NUMERIC/DECIMAL)
    std::string text;     // ftString, UTF-8; CHAR padding removed
};

// A column of an open query. The value accessors read the query's current row; on an empty
// result they give null, "" and 0.
class TFBField {
public:
    TFBField(TFBQuery* query, int index, std::string name, TFBFieldType type, int size)
        : query_(query), index_(index), name_(std::move(name)), type_(type), size_(size) {}

    const std::string& FieldName() const { return name_; }
    int Index() const { return index_; }
    TFBFieldType DataType() const { return type_; }
    // Characters for text, 0 otherwise.
    int Size() const { return size_; }

    bool IsNull() const;
    // Text of any type (integers in decimal); "" for null.
    std::string AsString() const;
    // Throws EFBError for text that is not a whole number; 0 for null.
    int64_t AsInteger() const;
    double AsFloat() const;

private:
    const TFBValue* Current() const;

    TFBQuery* query_;
    int index_;
    std::string name_;
    TFBFieldType type_;
    int size_;
};

enum TFBLocateOption : unsigned {
    loCaseInsensitive = 1,  // compare ignoring case (Unicode-aware)
    loPartialKey = 2,       // the field's text need only begin with the value
};
using TFBLocateOptions = unsigned;

// A SELECT whose rows are all fetched at Open and kept in memory; nothing is written back.
class TFBQuery {
public:
    TFBQuery();
    ~TFBQuery();
    TFBQuery(const TFBQuery&) = delete;
    TFBQuery& operator=(const TFBQuery&) = delete;

    TFBDatabase* Database() const { return database_; }
    // Non-owning; closes the query first.
    void SetDatabase(TFBDatabase* database);
    // Non-owning; when none is set the database's default transaction is used.
    TFBTransaction* Transaction() const { return transaction_; }
    void SetTransaction(TFBTransaction* transaction) { transaction_ = transaction; }

    // The statement, one text line per item, joined with line breaks at Open. Changes take
    // effect at the next Open.
    std::vector<std::string>& SQL() { return sql_; }
    const std::vector<std::string>& SQL() const { return sql_; }
    std::string SQLText() const;

    // Runs the statement (starting the transaction when it is not active), fetches every row
    // and moves to the first. Does nothing when already active. Throws EFBError (not connected,
    // no transaction, statement error) and then stays closed.
    void Open();
    // Drops the rows and fields. Never throws.
    void Close();
    bool Active() const { return active_; }
    void SetActive(bool value) { value ? Open() : Close(); }

    // Rows and fields of the open query (none when closed).
    int RecordCount() const { return static_cast<int>(rows_.size()); }
    bool IsEmpty() const { return rows_.empty(); }
    int FieldCount() const { return static_cast<int>(fields_.size()); }
    // Fields and Value throw std::out_of_range for an index outside the fields or rows.
    TFBField& Fields(int index) { return fields_.at(static_cast<size_t>(index)); }
    // Case-insensitive by name; FindField gives nullptr, FieldByName throws EFBError.
    TFBField* FindField(const std::string& name);
    TFBField& FieldByName(const std::string& name);
    // Any cell, without moving the current row (for a grid).
    const TFBValue& Value(int row, int field) const;

    // The current row: 0-based, -1 when there is none.
    int RecNo() const { return rows_.empty() ? -1 : cursor_; }
    // Moves to row (clamped to the rows there are).
    void MoveTo(int row);
    void First();
    void Last();
    void Next();   // past the last row sets Eof and stays on it
    void Prior();  // before the first row sets Bof and stays on it
    bool Eof() const { return eof_; }
    bool Bof() const { return bof_; }

    // Finds the first row, in the query's order, whose field matches value and makes it
    // current (true); without a match the current row stays (false). Throws EFBError for an
    // unknown field.
    bool Locate(const std::string& fieldName, const std::string& value, TFBLocateOptions options = 0);

    // Raised (when assigned) after Open, after Close, and when the current row changes.
    std::function<void(TFBQuery* sender)> OnOpen;
    std::function<void(TFBQuery* sender)> OnClose;
    std::function<void(TFBQuery* sender)> OnScroll;

private:
    friend class TFBField;
    friend class TFBDatabase;

    void SetCursor(int row);

    TFBDatabase* database_ = nullptr;
    TFBTransaction* transaction_ = nullptr;
    std::vector<std::string> sql_;
    std::vector<TFBField> fields_;
    std::vector<std::vector<TFBValue>> rows_;
    bool active_ = false;
    int cursor_ = 0;
    bool eof_ = true;
    bool bof_ = true;
};
