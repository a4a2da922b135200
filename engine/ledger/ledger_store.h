// The ledger's SQLite file: one connection, its schema and migrations, the
// writes (one transaction per batch) and the queries. Not thread-safe: each
// thread keeps its own store. Several processes may share the file (WAL).
#pragma once

#include <QString>
#include <QStringList>
#include <chrono>
#include <map>
#include <memory>
#include <variant>
#include <vector>

#include "ledger_types.h"

struct sqlite3;

namespace velquin::ledger {

inline constexpr int SCHEMA_VERSION = 2;

struct StoreError {
    bool busy = false;  // another writer held the file past the busy time-out
    QString text;
};

struct LoadEvent {
    PrinterKey printer;
    LoadRecord load;
    // When the load's SHA-256 is still empty: the file whose bytes were
    // sent, hashed before the write.
    QString hashFile;
    // A load recorded as it starts and again once judged: the second write
    // with the same ticket replaces the first row's outcome.
    std::optional<quint64> ticket;
};

// The row written for each load ticket, kept by the writer across batches.
using RowsOfTickets = std::map<quint64, qint64>;

struct EraseEvent {
    PrinterKey printer;
    EraseRecord erase;
};

using LedgerEvent = std::variant<LoadEvent, EraseEvent>;

enum class LoadScope { SinceLastErase, All };

class LedgerStore {
public:
    // Opens (creating it and its folder when missing) and migrates the file.
    // Null with `error` set when the file cannot be used.
    static std::unique_ptr<LedgerStore> open(const QString& file, std::chrono::milliseconds busyTimeout,
                                             StoreError& error);
    ~LedgerStore();
    LedgerStore(const LedgerStore&) = delete;
    LedgerStore& operator=(const LedgerStore&) = delete;

    // Writes the events in one transaction: all of them or none. An erase
    // marks the printer's earlier loads as erased (when the command reached
    // the printer); no row is ever deleted. A load with a ticket in `rows`
    // updates its row; a new one is added there once committed.
    std::optional<StoreError> write(const std::vector<LedgerEvent>& events, RowsOfTickets& rows);

    // Whether the file on disk still starts as a database (a connection
    // may go on writing its log beside a file overwritten meanwhile).
    bool fileIsDatabase();

    // Loads newest first; SinceLastErase leaves out what an erase took away.
    std::optional<StoreError> loads(const PrinterKey& printer, LoadScope scope, std::vector<LoadRecord>& out);
    std::optional<StoreError> erases(const PrinterKey& printer, std::vector<EraseRecord>& out);
    // Which of the SHA-256 values (lower-case hex) a confirmed load put on
    // the printer since its last erase.
    std::optional<StoreError> held(const PrinterKey& printer, const QList<QByteArray>& sha256s,
                                   std::vector<bool>& out);
    // The newest free-flash reading after a load or an erase.
    std::optional<StoreError> lastFreeFlash(const PrinterKey& printer, std::optional<qint64>& out);
    std::optional<StoreError> printers(std::vector<PrinterKey>& out);

private:
    explicit LedgerStore(sqlite3* db) : db_(db) {}
    StoreError error(const char* doing) const;
    std::optional<StoreError> exec(const char* sql);
    std::optional<StoreError> migrate();
    std::optional<qint64> schemaVersion();
    // Schema 1 to 2: printers keyed by identity values instead of caption texts.
    std::optional<StoreError> rekeyPrinters();
    std::optional<StoreError> printerId(const PrinterKey& printer, bool create, qint64& id);

    sqlite3* db_;
};

}  // namespace velquin::ledger
