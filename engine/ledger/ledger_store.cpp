#include "ledger_store.h"

#include <sqlite3.h>

#include <QDir>
#include <QFileInfo>
#include <algorithm>
#include <array>

namespace velquin::ledger {

namespace {

// Each step takes the schema from its index to the next version; a null
// step is done in code (LedgerStore::rekeyPrinters).
constexpr std::array<const char*, SCHEMA_VERSION> MIGRATIONS = {
    R"sql(
CREATE TABLE printers (
    id INTEGER PRIMARY KEY,
    identity TEXT NOT NULL,
    link TEXT NOT NULL,
    UNIQUE (identity, link));
CREATE TABLE erases (
    id INTEGER PRIMARY KEY,
    printer_id INTEGER NOT NULL REFERENCES printers(id),
    at TEXT NOT NULL,
    free_before INTEGER,
    free_after INTEGER,
    outcome TEXT NOT NULL CHECK (outcome IN ('confirmed', 'not confirmed', 'failed')));
CREATE TABLE loads (
    id INTEGER PRIMARY KEY,
    printer_id INTEGER NOT NULL REFERENCES printers(id),
    path TEXT NOT NULL,
    mode TEXT NOT NULL,
    sha256 TEXT NOT NULL,
    size INTEGER NOT NULL,
    font_id INTEGER,
    at TEXT NOT NULL,
    free_before INTEGER,
    free_after INTEGER,
    outcome TEXT NOT NULL CHECK (outcome IN ('confirmed', 'not confirmed', 'failed')),
    erased_by INTEGER REFERENCES erases(id));
CREATE INDEX loads_held ON loads (printer_id, erased_by, sha256);
)sql",
    nullptr,
};

// Schema 1 keyed a printer by the panel's captions,
// "MDL:Printer type = RVA;CMD:Language = KTL;BOARD:Hardware = MXR PLUS;FWV:5.07;".
PrinterIdentity identityOfCaptions(const QString& text) {
    auto field = [&text](QLatin1String key, QLatin1String captionWords) {
        const qsizetype start = text.indexOf(key);
        if (start < 0) return QString();
        const qsizetype from = start + key.size();
        QString value = text.mid(from, text.indexOf(QLatin1Char(';'), from) - from);
        if (value.startsWith(captionWords)) value.remove(0, captionWords.size());
        return value;
    };
    return {field(QLatin1String("MDL:"), QLatin1String("Printer type = ")),
            field(QLatin1String("CMD:"), QLatin1String("Language = ")),
            field(QLatin1String("BOARD:"), QLatin1String("Hardware = ")), field(QLatin1String("FWV:"), {})};
}

// Times are stored as fixed-width UTC text so that they sort as text.
QString timeText(const QDateTime& time) {
    return time.toUTC().toString(Qt::ISODateWithMs);
}

QDateTime timeFromText(const QString& text) {
    QDateTime time = QDateTime::fromString(text, Qt::ISODateWithMs);
    time.setTimeSpec(Qt::UTC);
    return time;
}

// A prepared statement, finalized when it goes out of scope.
class Statement {
public:
    Statement(sqlite3* db, const char* sql) { rc_ = sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr); }
    ~Statement() { sqlite3_finalize(stmt_); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    bool ok() const { return rc_ == SQLITE_OK; }
    void bind(int index, qint64 value) { sqlite3_bind_int64(stmt_, index, value); }
    void bind(int index, const std::optional<qint64>& value) {
        if (value)
            bind(index, *value);
        else
            sqlite3_bind_null(stmt_, index);
    }
    void bind(int index, const QString& text) {
        const QByteArray utf8 = text.toUtf8();
        // An empty text stays text: a null pointer would bind NULL.
        sqlite3_bind_text(stmt_, index, utf8.isNull() ? "" : utf8.constData(), static_cast<int>(utf8.size()),
                          SQLITE_TRANSIENT);
    }
    // SQLITE_ROW, SQLITE_DONE or an error code.
    int step() { return rc_ = sqlite3_step(stmt_); }
    void reset() {
        sqlite3_reset(stmt_);
        sqlite3_clear_bindings(stmt_);
    }

    qint64 integer(int column) const { return sqlite3_column_int64(stmt_, column); }
    std::optional<qint64> optionalInteger(int column) const {
        if (sqlite3_column_type(stmt_, column) == SQLITE_NULL) return std::nullopt;
        return integer(column);
    }
    QString text(int column) const {
        const auto* bytes = reinterpret_cast<const char*>(sqlite3_column_text(stmt_, column));
        return QString::fromUtf8(bytes, sqlite3_column_bytes(stmt_, column));
    }

private:
    sqlite3_stmt* stmt_ = nullptr;
    int rc_ = SQLITE_OK;
};

// Binds a printer's key as ?1 to ?5: model, language, board, firmware, link.
void bindKey(Statement& statement, const PrinterKey& printer) {
    statement.bind(1, printer.identity.model);
    statement.bind(2, printer.identity.language);
    statement.bind(3, printer.identity.logicBoard);
    statement.bind(4, printer.identity.firmware);
    statement.bind(5, printer.link);
}

bool isBusy(int code) {
    const int primary = code & 0xff;
    return primary == SQLITE_BUSY || primary == SQLITE_LOCKED;
}

}  // namespace

std::unique_ptr<LedgerStore> LedgerStore::open(const QString& file, std::chrono::milliseconds busyTimeout,
                                               StoreError& error) {
    const QString folder = QFileInfo(file).absolutePath();
    if (!QDir().mkpath(folder)) {
        error = {false, QStringLiteral("cannot create the folder %1").arg(folder)};
        return nullptr;
    }
    sqlite3* db = nullptr;
    const int rc = sqlite3_open_v2(QFile::encodeName(file).constData(), &db,
                                   SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
    std::unique_ptr<LedgerStore> store(new LedgerStore(db));
    if (rc != SQLITE_OK) {
        error = store->error("opening");
        return nullptr;
    }
    sqlite3_extended_result_codes(db, 1);
    sqlite3_busy_timeout(db, static_cast<int>(busyTimeout.count()));
    // A ledger that opened read-only would only fail later, at the first
    // write of an upload: refuse it now.
    if (sqlite3_db_readonly(db, "main") == 1) {
        error = {false, QStringLiteral("the file is read-only")};
        return nullptr;
    }
    // WAL lets the window and command-line runs read and write at once; a
    // commit in WAL mode needs no sync with NORMAL and stays consistent.
    {
        Statement wal(db, "PRAGMA journal_mode=WAL");
        if (!wal.ok() || wal.step() != SQLITE_ROW) {
            error = store->error("opening");
            return nullptr;
        }
        // A folder where the WAL files cannot be made leaves the old mode.
        if (wal.text(0).compare(QLatin1String("wal"), Qt::CaseInsensitive) != 0) {
            error = {false, QStringLiteral("cannot keep a write-ahead log beside the file")};
            return nullptr;
        }
    }
    if (auto failed = store->exec("PRAGMA synchronous=NORMAL; PRAGMA foreign_keys=ON")) {
        error = *failed;
        return nullptr;
    }
    if (auto failed = store->migrate()) {
        error = *failed;
        return nullptr;
    }
    return store;
}

LedgerStore::~LedgerStore() {
    sqlite3_close_v2(db_);
}

StoreError LedgerStore::error(const char* doing) const {
    const int code = db_ ? sqlite3_extended_errcode(db_) : SQLITE_NOMEM;
    const char* message = db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(code);
    return {isBusy(code), QStringLiteral("%1: %2").arg(QLatin1String(doing), QString::fromUtf8(message))};
}

std::optional<StoreError> LedgerStore::exec(const char* sql) {
    if (sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) != SQLITE_OK) return error("executing");
    return std::nullopt;
}

bool LedgerStore::fileIsDatabase() {
    // Read through SQLite's own handle: opening and closing the file here
    // would drop the locks SQLite holds on it for this process.
    sqlite3_file* file = nullptr;
    if (sqlite3_file_control(db_, "main", SQLITE_FCNTL_FILE_POINTER, &file) != SQLITE_OK || !file ||
        !file->pMethods)
        return false;
    static constexpr char MAGIC[] = "SQLite format 3";  // with its NUL: 16 bytes
    std::array<char, sizeof MAGIC> header{};
    if (file->pMethods->xRead(file, header.data(), static_cast<int>(header.size()), 0) != SQLITE_OK)
        return false;
    return std::equal(header.begin(), header.end(), MAGIC);
}

std::optional<StoreError> LedgerStore::migrate() {
    std::optional<qint64> current = schemaVersion();
    if (!current) return error("reading the schema version");
    if (*current == SCHEMA_VERSION) return std::nullopt;
    if (*current > SCHEMA_VERSION)
        return StoreError{
            false, QStringLiteral("the file was written by a newer version (schema %1)").arg(*current)};
    // A step may rebuild a table the others refer to: the references are
    // checked once, before the commit (the setting is fixed in a transaction).
    if (auto failed = exec("PRAGMA foreign_keys=OFF")) return failed;
    auto finish = [this](std::optional<StoreError> failure) {
        if (failure) exec("ROLLBACK");
        exec("PRAGMA foreign_keys=ON");
        return failure;
    };
    if (auto failed = exec("BEGIN IMMEDIATE")) return finish(failed);
    // Another process may have migrated while this one waited for the lock.
    current = schemaVersion();
    if (!current) return finish(error("reading the schema version"));
    for (qint64 step = *current; step < SCHEMA_VERSION; ++step) {
        const char* sql = MIGRATIONS[static_cast<std::size_t>(step)];
        if (auto failed = sql != nullptr ? exec(sql) : rekeyPrinters()) return finish(failed);
    }
    {
        Statement check(db_, "PRAGMA foreign_key_check");
        if (!check.ok() || check.step() != SQLITE_DONE)
            return finish(StoreError{false, QStringLiteral("the migration left a dangling reference")});
    }
    const QByteArray setVersion = "PRAGMA user_version=" + QByteArray::number(SCHEMA_VERSION);
    if (auto failed = exec(setVersion.constData())) return finish(failed);
    return finish(exec("COMMIT"));
}

std::optional<qint64> LedgerStore::schemaVersion() {
    Statement version(db_, "PRAGMA user_version");
    if (!version.ok() || version.step() != SQLITE_ROW) return std::nullopt;
    return version.integer(0);
}

std::optional<StoreError> LedgerStore::rekeyPrinters() {
    // The rows keep their ids, so the loads and erases still point at them.
    if (auto failed = exec(R"sql(
CREATE TABLE printers_by_value (
    id INTEGER PRIMARY KEY,
    model TEXT NOT NULL,
    language TEXT NOT NULL,
    board TEXT NOT NULL,
    firmware TEXT NOT NULL,
    link TEXT NOT NULL,
    UNIQUE (model, language, board, firmware, link));
)sql"))
        return failed;
    {
        // Finalized before the old table is dropped.
        Statement select(db_, "SELECT id, identity, link FROM printers");
        Statement insert(db_,
                         "INSERT INTO printers_by_value (id, model, language, board, firmware, link) "
                         "VALUES (?1, ?2, ?3, ?4, ?5, ?6)");
        if (!select.ok() || !insert.ok()) return error("re-keying the printers");
        int rc;
        while ((rc = select.step()) == SQLITE_ROW) {
            const PrinterIdentity identity = identityOfCaptions(select.text(1));
            insert.reset();
            insert.bind(1, select.integer(0));
            insert.bind(2, identity.model);
            insert.bind(3, identity.language);
            insert.bind(4, identity.logicBoard);
            insert.bind(5, identity.firmware);
            insert.bind(6, select.text(2));
            if (insert.step() != SQLITE_DONE) return error("re-keying the printers");
        }
        if (rc != SQLITE_DONE) return error("re-keying the printers");
    }
    return exec("DROP TABLE printers; ALTER TABLE printers_by_value RENAME TO printers;");
}

std::optional<StoreError> LedgerStore::printerId(const PrinterKey& printer, bool create, qint64& id) {
    id = 0;
    if (create) {
        Statement insert(db_,
                         "INSERT OR IGNORE INTO printers (model, language, board, firmware, link) "
                         "VALUES (?1, ?2, ?3, ?4, ?5)");
        if (!insert.ok()) return error("recording the printer");
        bindKey(insert, printer);
        if (insert.step() != SQLITE_DONE) return error("recording the printer");
    }
    Statement select(db_,
                     "SELECT id FROM printers WHERE model = ?1 AND language = ?2 AND board = ?3 "
                     "AND firmware = ?4 AND link = ?5");
    if (!select.ok()) return error("finding the printer");
    bindKey(select, printer);
    const int rc = select.step();
    if (rc == SQLITE_ROW)
        id = select.integer(0);
    else if (rc != SQLITE_DONE)
        return error("finding the printer");
    return std::nullopt;
}

std::optional<StoreError> LedgerStore::write(const std::vector<LedgerEvent>& events, RowsOfTickets& rows) {
    if (events.empty()) return std::nullopt;
    if (auto failed = exec("BEGIN IMMEDIATE")) return failed;
    auto rollback = [this](StoreError failure) -> std::optional<StoreError> {
        exec("ROLLBACK");
        return failure;
    };
    Statement insertLoad(db_,
                         "INSERT INTO loads (printer_id, path, mode, sha256, size, font_id, at, free_before, "
                         "free_after, outcome) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10)");
    Statement updateLoad(
        db_, "UPDATE loads SET sha256 = ?2, size = ?3, free_after = ?4, outcome = ?5 WHERE id = ?1");
    RowsOfTickets added;
    Statement insertErase(db_,
                          "INSERT INTO erases (printer_id, at, free_before, free_after, outcome) "
                          "VALUES (?1, ?2, ?3, ?4, ?5)");
    Statement markErased(db_,
                         "UPDATE loads SET erased_by = ?1 WHERE printer_id = ?2 AND erased_by IS NULL "
                         "AND at <= ?3");
    if (!insertLoad.ok() || !updateLoad.ok() || !insertErase.ok() || !markErased.ok())
        return rollback(error("preparing"));
    for (const LedgerEvent& event : events) {
        const PrinterKey& printer =
            std::visit([](const auto& e) -> const PrinterKey& { return e.printer; }, event);
        qint64 printer_id = 0;
        if (auto failed = printerId(printer, true, printer_id)) return rollback(*failed);
        if (const auto* loadEvent = std::get_if<LoadEvent>(&event)) {
            const LoadRecord& load = loadEvent->load;
            const std::optional<quint64>& ticket = loadEvent->ticket;
            std::optional<qint64> rowId;
            if (ticket) {
                if (const auto found = added.find(*ticket); found != added.end())
                    rowId = found->second;
                else if (const auto known = rows.find(*ticket); known != rows.end())
                    rowId = known->second;
            }
            if (rowId) {
                updateLoad.reset();
                updateLoad.bind(1, *rowId);
                updateLoad.bind(2, QString::fromLatin1(load.sha256));
                updateLoad.bind(3, load.size);
                updateLoad.bind(4, load.freeAfter);
                updateLoad.bind(5, outcomeName(load.outcome));
                if (updateLoad.step() != SQLITE_DONE) return rollback(error("recording a load"));
                continue;
            }
            insertLoad.reset();
            insertLoad.bind(1, printer_id);
            insertLoad.bind(2, load.path);
            insertLoad.bind(3, modeName(load.mode));
            insertLoad.bind(4, QString::fromLatin1(load.sha256));
            insertLoad.bind(5, load.size);
            insertLoad.bind(6, load.fontId);
            insertLoad.bind(7, timeText(load.time));
            insertLoad.bind(8, load.freeBefore);
            insertLoad.bind(9, load.freeAfter);
            insertLoad.bind(10, outcomeName(load.outcome));
            if (insertLoad.step() != SQLITE_DONE) return rollback(error("recording a load"));
            if (ticket) added[*ticket] = sqlite3_last_insert_rowid(db_);
        } else {
            const EraseRecord& erase = std::get<EraseEvent>(event).erase;
            insertErase.reset();
            insertErase.bind(1, printer_id);
            insertErase.bind(2, timeText(erase.time));
            insertErase.bind(3, erase.freeBefore);
            insertErase.bind(4, erase.freeAfter);
            insertErase.bind(5, outcomeName(erase.outcome));
            if (insertErase.step() != SQLITE_DONE) return rollback(error("recording an erase"));
            // An erase whose command never left cannot have taken anything
            // away; one whose end was not seen probably did, and a file
            // loaded again costs less than one wrongly skipped.
            if (erase.outcome == Outcome::Failed) continue;
            markErased.reset();
            markErased.bind(1, sqlite3_last_insert_rowid(db_));
            markErased.bind(2, printer_id);
            markErased.bind(3, timeText(erase.time));
            if (markErased.step() != SQLITE_DONE) return rollback(error("marking loads erased"));
        }
    }
    if (auto failed = exec("COMMIT")) return rollback(*failed);
    rows.merge(added);
    return std::nullopt;
}

std::optional<StoreError> LedgerStore::loads(const PrinterKey& printer, LoadScope scope,
                                             std::vector<LoadRecord>& out) {
    out.clear();
    qint64 printer_id = 0;
    if (auto failed = printerId(printer, false, printer_id)) return failed;
    if (printer_id == 0) return std::nullopt;
    Statement select(
        db_, scope == LoadScope::All
                 ? "SELECT id, path, mode, sha256, size, font_id, at, free_before, free_after, outcome, "
                   "erased_by IS NOT NULL FROM loads WHERE printer_id = ?1 ORDER BY at DESC, id DESC"
                 : "SELECT id, path, mode, sha256, size, font_id, at, free_before, free_after, outcome, "
                   "0 FROM loads WHERE printer_id = ?1 AND erased_by IS NULL ORDER BY at DESC, id DESC");
    if (!select.ok()) return error("reading loads");
    select.bind(1, printer_id);
    int rc;
    while ((rc = select.step()) == SQLITE_ROW) {
        LoadRecord load;
        load.id = select.integer(0);
        load.path = select.text(1);
        load.mode = modeFromName(select.text(2)).value_or(LoadMode::TrueType);
        load.sha256 = select.text(3).toLatin1();
        load.size = select.integer(4);
        load.fontId = select.optionalInteger(5);
        load.time = timeFromText(select.text(6));
        load.freeBefore = select.optionalInteger(7);
        load.freeAfter = select.optionalInteger(8);
        load.outcome = outcomeFromName(select.text(9)).value_or(Outcome::NotConfirmed);
        load.erased = select.integer(10) != 0;
        out.push_back(std::move(load));
    }
    if (rc != SQLITE_DONE) return error("reading loads");
    return std::nullopt;
}

std::optional<StoreError> LedgerStore::erases(const PrinterKey& printer, std::vector<EraseRecord>& out) {
    out.clear();
    qint64 printer_id = 0;
    if (auto failed = printerId(printer, false, printer_id)) return failed;
    if (printer_id == 0) return std::nullopt;
    Statement select(db_,
                     "SELECT id, at, free_before, free_after, outcome FROM erases WHERE printer_id = ?1 "
                     "ORDER BY at DESC, id DESC");
    if (!select.ok()) return error("reading erases");
    select.bind(1, printer_id);
    int rc;
    while ((rc = select.step()) == SQLITE_ROW) {
        EraseRecord erase;
        erase.id = select.integer(0);
        erase.time = timeFromText(select.text(1));
        erase.freeBefore = select.optionalInteger(2);
        erase.freeAfter = select.optionalInteger(3);
        erase.outcome = outcomeFromName(select.text(4)).value_or(Outcome::NotConfirmed);
        out.push_back(erase);
    }
    if (rc != SQLITE_DONE) return error("reading erases");
    return std::nullopt;
}

std::optional<StoreError> LedgerStore::held(const PrinterKey& printer, const QList<QByteArray>& sha256s,
                                            std::vector<bool>& out) {
    out.assign(static_cast<std::size_t>(sha256s.size()), false);
    qint64 printer_id = 0;
    if (auto failed = printerId(printer, false, printer_id)) return failed;
    if (printer_id == 0) return std::nullopt;
    Statement select(db_,
                     "SELECT 1 FROM loads WHERE printer_id = ?1 AND erased_by IS NULL AND sha256 = ?2 "
                     "AND outcome = 'confirmed' LIMIT 1");
    if (!select.ok()) return error("reading loads");
    for (qsizetype i = 0; i < sha256s.size(); ++i) {
        select.reset();
        select.bind(1, printer_id);
        select.bind(2, QString::fromLatin1(sha256s[i]));
        const int rc = select.step();
        if (rc == SQLITE_ROW)
            out[static_cast<std::size_t>(i)] = true;
        else if (rc != SQLITE_DONE)
            return error("reading loads");
    }
    return std::nullopt;
}

std::optional<StoreError> LedgerStore::lastFreeFlash(const PrinterKey& printer, std::optional<qint64>& out) {
    out.reset();
    qint64 printer_id = 0;
    if (auto failed = printerId(printer, false, printer_id)) return failed;
    if (printer_id == 0) return std::nullopt;
    // A reading of 0 is a flash query that got no answer, not a full flash.
    Statement select(
        db_,
        "SELECT free_after FROM ("
        " SELECT at, 0 AS kind, id, free_after FROM loads WHERE printer_id = ?1 AND free_after > 0"
        " UNION ALL"
        " SELECT at, 1 AS kind, id, free_after FROM erases WHERE printer_id = ?1 AND free_after > 0)"
        " ORDER BY at DESC, kind DESC, id DESC LIMIT 1");
    if (!select.ok()) return error("reading the free flash");
    select.bind(1, printer_id);
    const int rc = select.step();
    if (rc == SQLITE_ROW)
        out = select.integer(0);
    else if (rc != SQLITE_DONE)
        return error("reading the free flash");
    return std::nullopt;
}

std::optional<StoreError> LedgerStore::printers(std::vector<PrinterKey>& out) {
    out.clear();
    Statement select(db_, "SELECT model, language, board, firmware, link FROM printers ORDER BY id");
    if (!select.ok()) return error("reading printers");
    int rc;
    while ((rc = select.step()) == SQLITE_ROW)
        out.push_back({{select.text(0), select.text(1), select.text(2), select.text(3)}, select.text(4)});
    if (rc != SQLITE_DONE) return error("reading printers");
    return std::nullopt;
}

}  // namespace velquin::ledger
