// The ledger of what each printer holds, as the upload and the flash
// commands call it. Recording never stops or slows a load: the calls only
// queue the record, and a writer thread of the ledger puts it in the file. A
// ledger that cannot be used (locked too long, corrupt, read-only, disk full)
// is reported once through the sink and then left alone for the rest of the
// session; the load goes on.
#pragma once

#include <QCryptographicHash>
#include <QJsonArray>
#include <QString>
#include <QStringList>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <span>
#include <thread>
#include <vector>

#include "held_verification.h"
#include "ledger_store.h"
#include "ledger_types.h"

namespace velquin::ledger {

// What is known as a file starts on its way to the printer.
struct LoadStart {
    QString path;  // the file the operator listed
    LoadMode mode = LoadMode::TrueType;
    std::optional<qint64> freeBefore;
    std::optional<qint64> fontId;
    // The file whose bytes are sent, when it is not `path` (a converted
    // soft font). Hashed by the writer thread, not by the caller.
    QString sentFile;
};

using LoadTicket = quint64;

// The bytes of a file as they went out to the printer.
struct SentBytes {
    QByteArray sha256;  // lower-case hex
    qint64 size = 0;
};

// The answer to "what does this printer hold": whether its record could be
// believed, and for each file asked about whether the printer holds it.
struct Holdings {
    HeldVerdict verdict;
    std::vector<bool> held;
};

class Ledger {
public:
    // Told once, from whichever thread met the problem, what went wrong.
    using Sink = std::function<void(const QString& message)>;

    explicit Ledger(QString file = defaultFile(), Sink sink = {});
    // Writes what is still queued (waiting at most for the busy time-out)
    // and stops the writer. Loads started and never finished are recorded
    // as not confirmed.
    ~Ledger();
    Ledger(const Ledger&) = delete;
    Ledger& operator=(const Ledger&) = delete;

    // $XDG_DATA_HOME/velquin/ledger.sqlite (~/.local/share when unset).
    static QString defaultFile();
    // Lower-case hex SHA-256 of a file's bytes; empty when it cannot be read.
    static QByteArray sha256OfFile(const QString& path);

    // Per file of an upload: before the header is sent, and once its end is
    // known (the free flash after is taken as unknown when 0).
    LoadTicket loadStarting(const PrinterKey& printer, const LoadStart& start);
    // `sent`: the bytes that went out, when they were seen; else the file
    // is hashed as it is on disk.
    void loadFinished(LoadTicket ticket, Outcome outcome, std::optional<qint64> freeAfter,
                      std::optional<SentBytes> sent = std::nullopt);
    // After an erase of the printer's font space.
    void erased(const PrinterKey& printer, Outcome outcome, std::optional<qint64> freeBefore,
                std::optional<qint64> freeAfter);

    // Waits until everything queued is in the file; false on time-out or
    // when the ledger cannot be written.
    bool flush(std::chrono::milliseconds timeout = std::chrono::seconds(2));

    // Queries see what this process queued (they flush first). They return
    // nothing when the ledger cannot be read.
    std::vector<LoadRecord> loads(const PrinterKey& printer, LoadScope scope = LoadScope::SinceLastErase);
    std::vector<EraseRecord> erases(const PrinterKey& printer);
    std::vector<PrinterKey> printers();
    // For each SHA-256 (lower-case hex), whether a confirmed load put those
    // bytes on the printer since its last erase.
    std::vector<bool> held(const PrinterKey& printer, const QList<QByteArray>& sha256s);
    // The same for files, by the SHA-256 of their bytes (a file that cannot
    // be read is not held).
    std::vector<bool> heldFiles(const PrinterKey& printer, const QStringList& sentFiles);
    // Whether the free flash the printer reports now is what the ledger last
    // saw after a load or an erase.
    FlashCheck checkFreeFlash(const PrinterKey& printer, std::optional<qint64> freeNow);
    // Whether what the ledger records for the printer can be taken as held
    // now (verifyHeld over the printer's free flash now and the link's
    // records).
    HeldVerdict verifyHolds(const PrinterKey& printer, std::optional<qint64> freeNow);
    // What this printer holds of `sentFiles` (the bytes each listed file
    // puts on the printer), the one answer every front end shows: the
    // record counts only when the printer's free flash now (`freeNow`, read
    // just before) agrees with it, and with `believedSince` only the loads
    // confirmed from then on count (the record could not be believed
    // before). A reading that disagrees holds nothing.
    Holdings holdings(const PrinterKey& printer, std::optional<qint64> freeNow, const QStringList& sentFiles,
                      std::optional<QDateTime> believedSince = std::nullopt);

    // The printers whose link is `text` or whose identity contains it
    // (case-insensitive); all of them for an empty text.
    std::vector<PrinterKey> printersMatching(const QString& text);
    // Every load and erase of the printer, newest first, as JSON objects.
    QJsonArray historyJson(const PrinterKey& printer);

    // False once a problem was reported.
    bool usable() const;
    // The message reported, empty while there was none.
    QString problem() const;

private:
    struct Pending {
        PrinterKey printer;
        LoadStart start;
        QDateTime time;
    };

    static LoadEvent loadEvent(Pending pending, Outcome outcome, std::optional<qint64> freeAfter,
                               std::optional<SentBytes> sent = std::nullopt);
    void enqueue(LedgerEvent event);
    void writerLoop();
    bool writeBatch(std::vector<LedgerEvent>& batch, bool stopping);
    void report(const QString& what);
    LedgerStore* readStore();
    template <typename Query>
    bool query(Query&& query);

    const QString file_;
    const Sink sink_;

    mutable std::mutex mutex_;
    std::condition_variable wake_;     // the writer: work or stop
    std::condition_variable written_;  // flush(): the queue drained
    std::deque<LedgerEvent> queue_;
    std::map<LoadTicket, Pending> pending_;
    LoadTicket nextTicket_ = 1;
    bool writing_ = false;
    bool stop_ = false;
    bool failed_ = false;
    QString problem_;

    std::unique_ptr<LedgerStore> writerStore_;  // the writer thread's only

    std::mutex readMutex_;
    std::unique_ptr<LedgerStore> reader_;

    std::thread writer_;
};

// The ledger as one upload or erase on one printer sees it: what the upload
// engine and the flash commands call. Without a ledger every call does
// nothing, so the engine can always hold one.
class PrinterLedger {
public:
    PrinterLedger() = default;
    PrinterLedger(Ledger* ledger, PrinterKey printer) : ledger_(ledger), printer_(std::move(printer)) {}

    // Before a file's header is sent: the file listed, the file whose bytes
    // go out when it differs (a converted soft font), the free flash read.
    void beforeLoad(const QString& path, LoadMode mode, std::optional<qint64> freeBefore,
                    const QString& sentFile = {}, std::optional<qint64> fontId = std::nullopt);
    // Once the file's end is known. A second call, or one without a load
    // started, does nothing.
    // A piece of the file's own bytes went out (not the header before it).
    void fileBytesSent(std::span<const std::uint8_t> bytes);
    void afterLoad(Outcome outcome, std::optional<qint64> freeAfter);
    void afterErase(Outcome outcome, std::optional<qint64> freeBefore, std::optional<qint64> freeAfter);

private:
    Ledger* ledger_ = nullptr;
    PrinterKey printer_;
    std::optional<LoadTicket> ticket_;
    // The bytes of the current file sent so far; null before the first.
    std::shared_ptr<QCryptographicHash> sentHash_;
    qint64 sentSize_ = 0;
};

}  // namespace velquin::ledger
