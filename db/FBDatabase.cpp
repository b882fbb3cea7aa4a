#include "db/FBDatabase.h"

#include <firebird/Interface.h>

#include <QString>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>

using namespace Firebird;

namespace {

IMaster* Master()
{
    static IMaster* master = fb_get_master_interface();
    return master;
}

// The text of a status vector as the client library formats it.
std::string StatusText(const IStatus* status)
{
    char buffer[2048] = {};
    Master()->getUtilInterface()->formatStatus(buffer, sizeof buffer, const_cast<IStatus*>(status));
    std::string text(buffer);
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
    return text.empty() ? std::string("Database error") : text;
}

// A status wrapper for one call sequence; failures become EFBError with the library's text.
class Status {
public:
    Status() : status_(Master()->getStatus()), wrapper_(status_) {}
    ~Status() { status_->dispose(); }
    Status(const Status&) = delete;
    Status& operator=(const Status&) = delete;

    // Runs fn, turning the library's exception into ours.
    template <typename Fn>
    decltype(auto) Call(Fn&& fn)
    {
        try {
            return fn(&wrapper_);
        } catch (const FbException& e) {
            throw EFBError(StatusText(e.getStatus()));
        }
    }

private:
    IStatus* status_;
    ThrowStatusWrapper wrapper_;
};

// Releases a reference-counted interface (attachment, transaction, statement, result set,
// metadata) whatever happens; its own close calls are made explicitly on the normal path.
template <typename T>
struct Releaser {
    void operator()(T* p) const
    {
        if (p) p->release();
    }
};
template <typename T>
using Ref = std::unique_ptr<T, Releaser<T>>;

struct XpbDisposer {
    void operator()(IXpbBuilder* p) const
    {
        if (p) p->dispose();
    }
};
using XpbPtr = std::unique_ptr<IXpbBuilder, XpbDisposer>;

std::string Trimmed(const std::string& s)
{
    const auto b = s.find_first_not_of(" \t\r\n");
    if (b == std::string::npos) return {};
    const auto e = s.find_last_not_of(" \t\r\n");
    return s.substr(b, e - b + 1);
}

std::string Lower(std::string s)
{
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return s;
}

bool SameName(const std::string& a, const std::string& b)
{
    return a.size() == b.size() && Lower(a) == Lower(b);
}

// "host:path", "host/port:path" and "inet://..." go to a server; everything else (including a
// one-letter drive prefix such as "C:\...") is a local file for the embedded engine.
bool IsServerName(const std::string& name)
{
    if (name.rfind("inet://", 0) == 0 || name.rfind("inet4://", 0) == 0 || name.rfind("inet6://", 0) == 0)
        return true;
    const auto colon = name.find(':');
    if (colon == std::string::npos || colon < 2) return false;
    const std::string host = name.substr(0, colon);
    if (host.find('\\') != std::string::npos) return false;
    const auto slash = host.find('/');
    if (slash == std::string::npos) return true;
    // "host/port": one slash with something on both sides.
    return slash > 0 && slash + 1 < host.size() && host.find('/', slash + 1) == std::string::npos;
}

// The embedded engine keeps its lock files in FIREBIRD_LOCK, by default /tmp/firebird, which
// belongs to the firebird group: any other user could not open a local catalogue at all. Such a
// user gets a private folder instead (the same one for every process of that user), unless
// FIREBIRD_LOCK names one already. Must run before the engine is first loaded.
void EnsureEmbeddedLockFolder()
{
    if (std::getenv("FIREBIRD_LOCK")) return;
    const char* const fallback = "/tmp/firebird";
    struct stat st {};
    if (stat(fallback, &st) != 0 ? access("/tmp", W_OK | X_OK) == 0 : access(fallback, R_OK | W_OK | X_OK) == 0)
        return;
    namespace fs = std::filesystem;
    fs::path folder;
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && *runtime && access(runtime, W_OK) == 0)
        folder = fs::path(runtime) / "firebird";
    else if (const char* home = std::getenv("HOME"); home && *home)
        folder = fs::path(home) / ".cache" / "firebird-lock";
    else
        return;
    std::error_code ec;
    fs::create_directories(folder, ec);
    if (ec) return;  // the engine will report the lock folder itself
    chmod(folder.c_str(), 0700);
    setenv("FIREBIRD_LOCK", folder.c_str(), 0);
}

int BytesPerChar(unsigned charSet)
{
    switch (charSet & 0xFF) {
    case 3:  // UNICODE_FSS
        return 3;
    case 4:  // UTF8
        return 4;
    default:
        return 1;
    }
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// TFBDatabase

struct TFBDatabase::Impl {
    Ref<IAttachment> attachment;
};

struct TFBTransaction::Impl {
    Ref<ITransaction> transaction;
};

TFBDatabase::TFBDatabase() : impl_(std::make_unique<Impl>()) {}

TFBDatabase::~TFBDatabase()
{
    Close();
    for (TFBTransaction* t : transactions_) t->database_ = nullptr;
    for (TFBQuery* q : queries_) q->database_ = nullptr;
}

bool TFBDatabase::Connected() const
{
    return impl_->attachment != nullptr;
}

void TFBDatabase::Open()
{
    if (Connected()) return;
    // Blanks and line ends around the name (an INI line with CR LF) are not part of it.
    const std::string name = Trimmed(databaseName_);
    if (name.empty()) throw EFBError("Database name is missing");

    const bool server = IsServerName(name);
    Status st;
    XpbPtr dpb(st.Call([](ThrowStatusWrapper* s) {
        return Master()->getUtilInterface()->getXpbBuilder(s, IXpbBuilder::DPB, nullptr, 0);
    }));
    bool haveCharSet = false;
    st.Call([&](ThrowStatusWrapper* s) {
        for (const std::string& line : params_) {
            if (Trimmed(line).empty()) continue;
            const auto eq = line.find('=');
            const std::string name = Lower(Trimmed(line.substr(0, eq)));
            const std::string value = eq == std::string::npos ? std::string() : Trimmed(line.substr(eq + 1));
            if (name == "user_name" || name == "user")
                dpb->insertString(s, isc_dpb_user_name, value.c_str());
            else if (name == "password")
                dpb->insertString(s, isc_dpb_password, value.c_str());
            else if (name == "sql_role_name")
                dpb->insertString(s, isc_dpb_sql_role_name, value.c_str());
            else if (name == "lc_ctype") {
                dpb->insertString(s, isc_dpb_lc_ctype, value.c_str());
                haveCharSet = true;
            } else
                throw EFBError("Unknown connection parameter: " + line);
        }
        if (!haveCharSet) dpb->insertString(s, isc_dpb_lc_ctype, "UTF8");
        dpb->insertInt(s, isc_dpb_sql_dialect, sqlDialect_);
        if (connectTimeout_ > 0) dpb->insertInt(s, isc_dpb_connect_timeout, connectTimeout_);
        // Only the engine that fits the name: no silent fall-back from a local file to a server
        // on this machine, nor from a server name to a local file.
        dpb->insertString(s, isc_dpb_config,
                          server ? "Providers = Remote" : "Providers = Engine12");
    });

    if (!server) EnsureEmbeddedLockFolder();
    Ref<IProvider> provider(Master()->getDispatcher());
    IAttachment* attachment = st.Call([&](ThrowStatusWrapper* s) {
        return provider->attachDatabase(s, name.c_str(), dpb->getBufferLength(s), dpb->getBuffer(s));
    });
    impl_->attachment.reset(attachment);
}

void TFBDatabase::Close()
{
    for (TFBQuery* q : queries_) q->Close();
    for (TFBTransaction* t : transactions_) t->Rollback();
    if (!impl_->attachment) return;
    Status st;
    try {
        st.Call([&](ThrowStatusWrapper* s) { impl_->attachment->detach(s); });
        impl_->attachment.release();  // detach released it
    } catch (const EFBError&) {
        impl_->attachment.reset();  // a broken connection: just drop our reference
    }
}

void TFBDatabase::Register(TFBTransaction* t)
{
    if (std::find(transactions_.begin(), transactions_.end(), t) == transactions_.end()) transactions_.push_back(t);
}

void TFBDatabase::Unregister(TFBTransaction* t)
{
    transactions_.erase(std::remove(transactions_.begin(), transactions_.end(), t), transactions_.end());
    if (defaultTransaction_ == t) defaultTransaction_ = nullptr;
}

void TFBDatabase::Register(TFBQuery* q)
{
    if (std::find(queries_.begin(), queries_.end(), q) == queries_.end()) queries_.push_back(q);
}

void TFBDatabase::Unregister(TFBQuery* q)
{
    queries_.erase(std::remove(queries_.begin(), queries_.end(), q), queries_.end());
}

// ---------------------------------------------------------------------------------------------
// TFBTransaction

TFBTransaction::TFBTransaction() : impl_(std::make_unique<Impl>()) {}

TFBTransaction::~TFBTransaction()
{
    Rollback();
    if (database_) database_->Unregister(this);
}

void TFBTransaction::SetDefaultDatabase(TFBDatabase* database)
{
    if (database == database_) return;
    Rollback();
    if (database_) database_->Unregister(this);
    database_ = database;
    if (database_) database_->Register(this);
}

bool TFBTransaction::InTransaction() const
{
    return impl_->transaction != nullptr;
}

void TFBTransaction::StartTransaction()
{
    if (InTransaction()) return;
    if (!database_) throw EFBError("Transaction has no database");
    if (!database_->Connected()) throw EFBError("Database not connected");

    Status st;
    XpbPtr tpb(st.Call([](ThrowStatusWrapper* s) {
        return Master()->getUtilInterface()->getXpbBuilder(s, IXpbBuilder::TPB, nullptr, 0);
    }));
    st.Call([&](ThrowStatusWrapper* s) {
        bool write = false;
        for (const std::string& line : params_) {
            const std::string name = Lower(Trimmed(line));
            if (name.empty()) continue;
            if (name == "read_committed") tpb->insertTag(s, isc_tpb_read_committed);
            else if (name == "rec_version") tpb->insertTag(s, isc_tpb_rec_version);
            else if (name == "no_rec_version") tpb->insertTag(s, isc_tpb_no_rec_version);
            else if (name == "concurrency") tpb->insertTag(s, isc_tpb_concurrency);
            else if (name == "consistency") tpb->insertTag(s, isc_tpb_consistency);
            else if (name == "nowait") tpb->insertTag(s, isc_tpb_nowait);
            else if (name == "wait") tpb->insertTag(s, isc_tpb_wait);
            else if (name == "write") write = true;
            else if (name == "read") continue;
            else throw EFBError("Unknown transaction parameter: " + line);
        }
        tpb->insertTag(s, write ? isc_tpb_write : isc_tpb_read);
    });
    ITransaction* transaction = st.Call([&](ThrowStatusWrapper* s) {
        return database_->impl_->attachment->startTransaction(s, tpb->getBufferLength(s), tpb->getBuffer(s));
    });
    impl_->transaction.reset(transaction);
}

void TFBTransaction::Commit()
{
    if (!impl_->transaction) return;
    Status st;
    try {
        st.Call([&](ThrowStatusWrapper* s) { impl_->transaction->commit(s); });
        impl_->transaction.release();  // commit released it
    } catch (const EFBError&) {
        Rollback();
        throw;
    }
}

void TFBTransaction::Rollback()
{
    if (!impl_->transaction) return;
    Status st;
    try {
        st.Call([&](ThrowStatusWrapper* s) { impl_->transaction->rollback(s); });
        impl_->transaction.release();  // rollback released it
    } catch (const EFBError&) {
        impl_->transaction.reset();
    }
}

// ---------------------------------------------------------------------------------------------
// TFBField

const TFBValue* TFBField::Current() const
{
    const int row = query_->RecNo();
    if (row < 0) return nullptr;
    return &query_->rows_[static_cast<size_t>(row)][static_cast<size_t>(index_)];
}

bool TFBField::IsNull() const
{
    const TFBValue* v = Current();
    return !v || v->isNull;
}

std::string TFBField::AsString() const
{
    const TFBValue* v = Current();
    if (!v || v->isNull) return {};
    switch (type_) {
    case TFBFieldType::ftInteger:
        return std::to_string(v->integer);
    case TFBFieldType::ftFloat: {
        char buffer[64];
        std::snprintf(buffer, sizeof buffer, "%.15g", v->number);
        return buffer;
    }
    case TFBFieldType::ftString:
        break;
    }
    return v->text;
}

int64_t TFBField::AsInteger() const
{
    const TFBValue* v = Current();
    if (!v || v->isNull) return 0;
    switch (type_) {
    case TFBFieldType::ftInteger:
        return v->integer;
    case TFBFieldType::ftFloat:
        return static_cast<int64_t>(std::llround(v->number));
    case TFBFieldType::ftString:
        break;
    }
    const std::string t = Trimmed(v->text);
    try {
        size_t used = 0;
        const long long n = std::stoll(t, &used, 10);
        if (used == t.size()) return n;
    } catch (const std::exception&) {
    }
    throw EFBError("'" + v->text + "' is not a valid integer value");
}

double TFBField::AsFloat() const
{
    const TFBValue* v = Current();
    if (!v || v->isNull) return 0;
    switch (type_) {
    case TFBFieldType::ftInteger:
        return static_cast<double>(v->integer);
    case TFBFieldType::ftFloat:
        return v->number;
    case TFBFieldType::ftString:
        break;
    }
    const std::string t = Trimmed(v->text);
    try {
        size_t used = 0;
        const double n = std::stod(t, &used);
        if (used == t.size()) return n;
    } catch (const std::exception&) {
    }
    throw EFBError("'" + v->text + "' is not a valid floating point value");
}

// ---------------------------------------------------------------------------------------------
// TFBQuery

TFBQuery::TFBQuery() = default;

TFBQuery::~TFBQuery()
{
    OnOpen = nullptr;
    OnClose = nullptr;
    OnScroll = nullptr;
    Close();
    if (database_) database_->Unregister(this);
}

void TFBQuery::SetDatabase(TFBDatabase* database)
{
    if (database == database_) return;
    Close();
    if (database_) database_->Unregister(this);
    database_ = database;
    if (database_) database_->Register(this);
}

std::string TFBQuery::SQLText() const
{
    std::string text;
    for (size_t i = 0; i < sql_.size(); ++i) {
        if (i) text += '\n';
        text += sql_[i];
    }
    return text;
}

namespace {

struct Column {
    unsigned type = 0;
    unsigned offset = 0;
    unsigned nullOffset = 0;
    unsigned length = 0;
    int scale = 0;
};

TFBValue Decode(const Column& c, const unsigned char* buffer)
{
    TFBValue v;
    if (*reinterpret_cast<const int16_t*>(buffer + c.nullOffset) != 0) return v;
    v.isNull = false;
    const unsigned char* p = buffer + c.offset;
    auto scaled = [&](int64_t raw) {
        if (c.scale == 0) {
            v.integer = raw;
        } else {
            v.number = static_cast<double>(raw) * std::pow(10.0, c.scale);
        }
    };
    switch (c.type) {
    case SQL_SHORT: {
        int16_t n;
        std::memcpy(&n, p, sizeof n);
        scaled(n);
        break;
    }
    case SQL_LONG: {
        int32_t n;
        std::memcpy(&n, p, sizeof n);
        scaled(n);
        break;
    }
    case SQL_INT64: {
        int64_t n;
        std::memcpy(&n, p, sizeof n);
        scaled(n);
        break;
    }
    case SQL_FLOAT: {
        float n;
        std::memcpy(&n, p, sizeof n);
        v.number = n;
        break;
    }
    case SQL_DOUBLE:
    case SQL_D_FLOAT: {
        double n;
        std::memcpy(&n, p, sizeof n);
        v.number = n;
        break;
    }
    case SQL_VARYING: {
        uint16_t n;
        std::memcpy(&n, p, sizeof n);
        v.text.assign(reinterpret_cast<const char*>(p + 2), std::min<unsigned>(n, c.length));
        break;
    }
    case SQL_TEXT: {
        // CHAR(n) comes padded with blanks to its full byte length.
        size_t n = c.length;
        while (n > 0 && p[n - 1] == ' ') --n;
        v.text.assign(reinterpret_cast<const char*>(p), n);
        break;
    }
    default:
        break;
    }
    return v;
}

}  // namespace

void TFBQuery::Open()
{
    if (active_) return;
    if (!database_) throw EFBError("Query has no database");
    if (!database_->Connected()) throw EFBError("Database not connected");
    TFBTransaction* transaction = transaction_ ? transaction_ : database_->DefaultTransaction();
    if (!transaction) throw EFBError("Query has no transaction");
    if (transaction->DefaultDatabase() != database_) throw EFBError("Transaction belongs to another database");
    const std::string text = SQLText();
    if (Trimmed(text).empty()) throw EFBError("Query has no statement");

    transaction->StartTransaction();
    ITransaction* tra = transaction->impl_->transaction.get();
    IAttachment* att = database_->impl_->attachment.get();

    std::vector<TFBField> fields;
    std::vector<std::vector<TFBValue>> rows;
    Status st;
    st.Call([&](ThrowStatusWrapper* s) {
        Ref<IStatement> stmt(att->prepare(s, tra, 0, text.c_str(), static_cast<unsigned>(database_->SQLDialect()),
                                          IStatement::PREPARE_PREFETCH_METADATA));
        Ref<IMessageMetadata> meta(stmt->getOutputMetadata(s));
        const unsigned count = meta->getCount(s);
        if (count == 0) throw EFBError("Statement returns no rows");

        std::vector<Column> columns(count);
        for (unsigned i = 0; i < count; ++i) {
            Column& c = columns[i];
            c.type = meta->getType(s, i) & ~1u;
            c.offset = meta->getOffset(s, i);
            c.nullOffset = meta->getNullOffset(s, i);
            c.length = meta->getLength(s, i);
            c.scale = meta->getScale(s, i);
            std::string name = meta->getAlias(s, i);
            if (name.empty()) name = meta->getField(s, i);
            TFBFieldType type;
            int size = 0;
            switch (c.type) {
            case SQL_SHORT:
            case SQL_LONG:
            case SQL_INT64:
                type = c.scale == 0 ? TFBFieldType::ftInteger : TFBFieldType::ftFloat;
                break;
            case SQL_FLOAT:
            case SQL_DOUBLE:
            case SQL_D_FLOAT:
                type = TFBFieldType::ftFloat;
                break;
            case SQL_VARYING:
            case SQL_TEXT:
                type = TFBFieldType::ftString;
                size = static_cast<int>(c.length) / BytesPerChar(meta->getCharSet(s, i));
                break;
            default:
                throw EFBError("Field '" + name + "' has a type the catalogue does not read");
            }
            fields.emplace_back(this, static_cast<int>(i), name, type, size);
        }

        Ref<IResultSet> cursor(stmt->openCursor(s, tra, nullptr, nullptr, meta.get(), 0));
        std::vector<unsigned char> buffer(meta->getMessageLength(s));
        while (cursor->fetchNext(s, buffer.data()) == IStatus::RESULT_OK) {
            std::vector<TFBValue> row;
            row.reserve(count);
            for (const Column& c : columns) row.push_back(Decode(c, buffer.data()));
            rows.push_back(std::move(row));
        }
        cursor->close(s);
        cursor.release();  // close released it
        stmt->free(s);
        stmt.release();  // free released it
    });

    fields_ = std::move(fields);
    rows_ = std::move(rows);
    active_ = true;
    cursor_ = 0;
    bof_ = true;
    eof_ = rows_.empty();
    if (OnOpen) OnOpen(this);
    if (OnScroll) OnScroll(this);
}

void TFBQuery::Close()
{
    if (!active_) return;
    active_ = false;
    fields_.clear();
    rows_.clear();
    cursor_ = 0;
    bof_ = eof_ = true;
    if (OnClose) OnClose(this);
}

TFBField* TFBQuery::FindField(const std::string& name)
{
    for (TFBField& f : fields_)
        if (SameName(f.FieldName(), name)) return &f;
    return nullptr;
}

TFBField& TFBQuery::FieldByName(const std::string& name)
{
    if (TFBField* f = FindField(name)) return *f;
    throw EFBError("Field '" + name + "' not found");
}

const TFBValue& TFBQuery::Value(int row, int field) const
{
    return rows_.at(static_cast<size_t>(row)).at(static_cast<size_t>(field));
}

void TFBQuery::SetCursor(int row)
{
    const bool moved = row != cursor_;
    cursor_ = row;
    if (moved && OnScroll) OnScroll(this);
}

void TFBQuery::MoveTo(int row)
{
    if (rows_.empty()) return;
    bof_ = eof_ = false;
    SetCursor(std::clamp(row, 0, RecordCount() - 1));
}

void TFBQuery::First()
{
    MoveTo(0);
    bof_ = true;
    eof_ = rows_.empty();
}

void TFBQuery::Last()
{
    MoveTo(RecordCount() - 1);
    eof_ = true;
    bof_ = rows_.empty();
}

void TFBQuery::Next()
{
    bof_ = false;
    if (cursor_ + 1 >= RecordCount()) {
        eof_ = true;
        return;
    }
    eof_ = false;
    SetCursor(cursor_ + 1);
}

void TFBQuery::Prior()
{
    eof_ = false;
    if (cursor_ <= 0) {
        bof_ = true;
        return;
    }
    bof_ = false;
    SetCursor(cursor_ - 1);
}

bool TFBQuery::Locate(const std::string& fieldName, const std::string& value, TFBLocateOptions options)
{
    TFBField& field = FieldByName(fieldName);
    const bool partial = options & loPartialKey;
    const Qt::CaseSensitivity cs = (options & loCaseInsensitive) ? Qt::CaseInsensitive : Qt::CaseSensitive;
    const QString key = QString::fromUtf8(value);
    const int saved = cursor_;
    for (int row = 0; row < RecordCount(); ++row) {
        cursor_ = row;  // AsString reads the current row
        const std::string cell = field.AsString();
        bool match;
        if (cs == Qt::CaseSensitive) {
            match = partial ? cell.compare(0, value.size(), value) == 0 && cell.size() >= value.size()
                            : cell == value;
        } else {
            const QString text = QString::fromUtf8(cell);
            match = partial ? text.startsWith(key, cs) : text.compare(key, cs) == 0;
        }
        if (match) {
            cursor_ = saved;
            bof_ = eof_ = false;
            SetCursor(row);
            return true;
        }
    }
    cursor_ = saved;
    return false;
}
