#include "ledger.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonObject>
#include <QSet>
#include <QStandardPaths>

namespace velquin::ledger {

namespace {

// The writer waits this long for another process's write to end; the
// readers, which run on the caller's thread, much less.
constexpr std::chrono::milliseconds WRITER_BUSY_TIMEOUT{2000};
constexpr std::chrono::milliseconds READER_BUSY_TIMEOUT{250};
// A file locked through this many writer time-outs in a row is given up.
constexpr int BUSY_ATTEMPTS = 10;
// At the end of a run the records still queued wait this long at most for a
// file another program keeps locked.
constexpr std::chrono::seconds FINAL_WRITE_LIMIT{10};
// Records queued while the writer cannot keep up; beyond, they are dropped.
constexpr std::size_t MAX_QUEUED = 100'000;
constexpr std::chrono::milliseconds QUERY_FLUSH_TIMEOUT{500};

std::optional<qint64> reading(std::optional<qint64> freeFlash) {
    if (freeFlash && *freeFlash <= 0) return std::nullopt;
    return freeFlash;
}

}  // namespace

LoadEvent Ledger::loadEvent(Pending pending, Outcome outcome, std::optional<qint64> freeAfter,
                            std::optional<SentBytes> sent) {
    LoadRecord load;
    load.path = pending.start.path;
    load.mode = pending.start.mode;
    load.fontId = pending.start.fontId;
    load.time = pending.time;
    load.freeBefore = reading(pending.start.freeBefore);
    load.freeAfter = reading(freeAfter);
    load.outcome = outcome;
    if (sent) {
        load.sha256 = std::move(sent->sha256);
        load.size = sent->size;
    }
    const QString hashFile = pending.start.sentFile.isEmpty() ? pending.start.path : pending.start.sentFile;
    return {std::move(pending.printer), std::move(load), hashFile};
}

Ledger::Ledger(QString file, Sink sink) : file_(std::move(file)), sink_(std::move(sink)) {
    writer_ = std::thread([this] { writerLoop(); });
}

Ledger::~Ledger() {
    {
        std::lock_guard lock(mutex_);
        const QDateTime now = QDateTime::currentDateTimeUtc();
        for (auto& [ticket, pending] : pending_) {
            if (!failed_)
                queue_.push_back(loadEvent(std::move(pending), Outcome::NotConfirmed, std::nullopt));
        }
        pending_.clear();
        stop_ = true;
    }
    wake_.notify_all();
    writer_.join();
}

QString Ledger::defaultFile() {
    QString dataHome = qEnvironmentVariable("XDG_DATA_HOME");
    if (dataHome.isEmpty() || QDir::isRelativePath(dataHome))
        dataHome = QDir::homePath() + QStringLiteral("/.local/share");
    return dataHome + QStringLiteral("/velquin/ledger.sqlite");
}

QByteArray Ledger::sha256OfFile(const QString& path) {
    QFile file(path);
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (!file.open(QIODevice::ReadOnly) || !hash.addData(&file)) return {};
    return hash.result().toHex();
}

LoadTicket Ledger::loadStarting(const PrinterKey& printer, const LoadStart& start) {
    std::lock_guard lock(mutex_);
    if (failed_) return 0;
    const LoadTicket ticket = nextTicket_++;
    pending_.emplace(ticket, Pending{printer, start, QDateTime::currentDateTimeUtc()});
    return ticket;
}

void Ledger::loadFinished(LoadTicket ticket, Outcome outcome, std::optional<qint64> freeAfter,
                          std::optional<SentBytes> sent) {
    std::unique_lock lock(mutex_);
    auto found = pending_.find(ticket);
    if (found == pending_.end()) return;
    Pending pending = std::move(found->second);
    pending_.erase(found);
    lock.unlock();
    enqueue(loadEvent(std::move(pending), outcome, freeAfter, std::move(sent)));
}

void Ledger::erased(const PrinterKey& printer, Outcome outcome, std::optional<qint64> freeBefore,
                    std::optional<qint64> freeAfter) {
    EraseRecord erase;
    erase.time = QDateTime::currentDateTimeUtc();
    erase.freeBefore = reading(freeBefore);
    erase.freeAfter = reading(freeAfter);
    erase.outcome = outcome;
    enqueue(EraseEvent{printer, erase});
}

void Ledger::enqueue(LedgerEvent event) {
    {
        std::lock_guard lock(mutex_);
        if (failed_) return;
        if (queue_.size() < MAX_QUEUED) {
            queue_.push_back(std::move(event));
            wake_.notify_one();
            return;
        }
    }
    report(QStringLiteral("the writer fell too far behind"));
}

bool Ledger::flush(std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    written_.wait_for(lock, timeout, [this] { return failed_ || (queue_.empty() && !writing_); });
    return !failed_ && queue_.empty() && !writing_;
}

void Ledger::writerLoop() {
    std::unique_lock lock(mutex_);
    int busyAttempts = 0;
    std::optional<std::chrono::steady_clock::time_point> finalDeadline;
    for (;;) {
        wake_.wait(lock, [this] { return stop_ || !queue_.empty(); });
        if (queue_.empty() || failed_) {
            queue_.clear();
            if (stop_) return;
            continue;
        }
        std::vector<LedgerEvent> batch(std::make_move_iterator(queue_.begin()),
                                       std::make_move_iterator(queue_.end()));
        queue_.clear();
        writing_ = true;
        const bool stopping = stop_;
        if (stopping && !finalDeadline) finalDeadline = std::chrono::steady_clock::now() + FINAL_WRITE_LIMIT;
        lock.unlock();

        const bool done = writeBatch(batch, stopping);

        lock.lock();
        writing_ = false;
        if (!done && !failed_) {
            // Still locked by another writer: keep the records, in order,
            // and try again shortly, unless it has lasted too long.
            const bool pastFinalDeadline = stopping && std::chrono::steady_clock::now() >= *finalDeadline;
            if (++busyAttempts >= BUSY_ATTEMPTS || pastFinalDeadline) {
                lock.unlock();
                report(QStringLiteral("another program kept the file locked; %1 record(s) were not written")
                           .arg(batch.size()));
                lock.lock();
            } else {
                queue_.insert(queue_.begin(), std::make_move_iterator(batch.begin()),
                              std::make_move_iterator(batch.end()));
                wake_.wait_for(lock, std::chrono::milliseconds(100), [this] { return stop_; });
            }
        } else {
            busyAttempts = 0;
        }
        written_.notify_all();
    }
}

bool Ledger::writeBatch(std::vector<LedgerEvent>& batch, bool stopping) {
    std::unique_ptr<LedgerStore>& store = writerStore_;
    for (LedgerEvent& event : batch) {
        auto* load = std::get_if<LoadEvent>(&event);
        if (!load || !load->load.sha256.isEmpty()) continue;
        load->load.sha256 = sha256OfFile(load->hashFile);
        load->load.size = QFileInfo(load->hashFile).size();
    }
    StoreError error;
    if (!store) store = LedgerStore::open(file_, WRITER_BUSY_TIMEOUT, error);
    if (store) {
        auto failed = store->write(batch);
        if (!failed) {
            if (stopping) store.reset();
            return true;
        }
        error = *failed;
    }
    if (!error.busy) report(error.text);
    if (stopping || !error.busy) store.reset();
    return false;
}

void Ledger::report(const QString& what) {
    QString message;
    {
        std::lock_guard lock(mutex_);
        if (failed_) return;
        failed_ = true;
        queue_.clear();
        pending_.clear();
        problem_ =
            QStringLiteral("The ledger of printer loads (%1) cannot be used: %2. Loads go on without it.")
                .arg(QDir::toNativeSeparators(file_), what);
        message = problem_;
    }
    written_.notify_all();
    if (sink_) sink_(message);
}

bool Ledger::usable() const {
    std::lock_guard lock(mutex_);
    return !failed_;
}

QString Ledger::problem() const {
    std::lock_guard lock(mutex_);
    return problem_;
}

LedgerStore* Ledger::readStore() {
    if (!usable()) return nullptr;
    if (!reader_) {
        StoreError error;
        reader_ = LedgerStore::open(file_, READER_BUSY_TIMEOUT, error);
        if (!reader_ && !error.busy) report(error.text);
    }
    return reader_.get();
}

template <typename Query>
bool Ledger::query(Query&& query) {
    flush(QUERY_FLUSH_TIMEOUT);
    std::lock_guard lock(readMutex_);
    LedgerStore* store = readStore();
    if (!store) return false;
    if (auto failed = query(*store)) {
        // A reader that meets a long write lock just sees nothing this time.
        if (!failed->busy) report(failed->text);
        return false;
    }
    return true;
}

std::vector<LoadRecord> Ledger::loads(const PrinterKey& printer, LoadScope scope) {
    std::vector<LoadRecord> out;
    if (!query([&](LedgerStore& store) { return store.loads(printer, scope, out); })) out.clear();
    return out;
}

std::vector<EraseRecord> Ledger::erases(const PrinterKey& printer) {
    std::vector<EraseRecord> out;
    if (!query([&](LedgerStore& store) { return store.erases(printer, out); })) out.clear();
    return out;
}

std::vector<PrinterKey> Ledger::printers() {
    std::vector<PrinterKey> out;
    if (!query([&](LedgerStore& store) { return store.printers(out); })) out.clear();
    return out;
}

std::vector<bool> Ledger::held(const PrinterKey& printer, const QList<QByteArray>& sha256s) {
    std::vector<bool> out;
    if (!query([&](LedgerStore& store) { return store.held(printer, sha256s, out); }))
        out.assign(static_cast<std::size_t>(sha256s.size()), false);
    return out;
}

std::vector<bool> Ledger::heldFiles(const PrinterKey& printer, const QStringList& sentFiles) {
    QList<QByteArray> hashes;
    for (const QString& file : sentFiles) hashes << sha256OfFile(file);
    std::vector<bool> out = held(printer, hashes);
    for (qsizetype i = 0; i < hashes.size(); ++i)
        if (hashes[i].isEmpty()) out[static_cast<std::size_t>(i)] = false;
    return out;
}

std::vector<PrinterKey> Ledger::printersMatching(const QString& text) {
    std::vector<PrinterKey> out;
    for (PrinterKey& printer : printers())
        if (printer.link == text || printer.identity.text().contains(text, Qt::CaseInsensitive))
            out.push_back(std::move(printer));
    return out;
}

QJsonArray Ledger::historyJson(const PrinterKey& printer) {
    const std::vector<LoadRecord> allLoads = loads(printer, LoadScope::All);
    const std::vector<EraseRecord> allErases = erases(printer);
    // Both lists are newest first: merge them by time, an erase before the
    // loads of the same instant (it came after them).
    QJsonArray out;
    auto load = allLoads.begin();
    auto erase = allErases.begin();
    while (load != allLoads.end() || erase != allErases.end()) {
        if (erase != allErases.end() && (load == allLoads.end() || erase->time >= load->time))
            out.append(toJson(*erase++));
        else
            out.append(toJson(*load++));
    }
    return out;
}

FlashCheck Ledger::checkFreeFlash(const PrinterKey& printer, std::optional<qint64> freeNow) {
    std::optional<qint64> expected;
    if (!query([&](LedgerStore& store) { return store.lastFreeFlash(printer, expected); })) return {};
    if (!expected) return {FlashAgreement::NeverSeen, std::nullopt};
    freeNow = reading(freeNow);
    if (!freeNow) return {FlashAgreement::Unknown, expected};
    return {*freeNow == *expected ? FlashAgreement::Agrees : FlashAgreement::ChangedSinceLastSeen, expected};
}

HeldVerdict Ledger::verifyHolds(const PrinterKey& printer, std::optional<qint64> freeNow) {
    FlashCheck check = checkFreeFlash(printer, freeNow);
    // A reader that meets another process's write sees nothing that time
    // (many workers open one ledger at once): asked again before giving up.
    constexpr int READ_ATTEMPTS = 4;
    for (int attempt = 1; attempt < READ_ATTEMPTS && check.agreement == FlashAgreement::Unknown &&
                          reading(freeNow) && usable();
         ++attempt)
        check = checkFreeFlash(printer, freeNow);
    bool otherIdentity = false;
    if (check.agreement == FlashAgreement::NeverSeen)
        for (const PrinterKey& known : printers())
            if (known.link == printer.link && known.identity != printer.identity) otherIdentity = true;
    return verifyHeld(check, freeNow, otherIdentity);
}

Holdings Ledger::holdings(const PrinterKey& printer, std::optional<qint64> freeNow,
                          const QStringList& sentFiles, std::optional<QDateTime> believedSince) {
    Holdings answer{verifyHolds(printer, freeNow),
                    std::vector<bool>(static_cast<std::size_t>(sentFiles.size()), false)};
    if (!answer.verdict.recordTrusted()) return answer;
    if (!believedSince) {
        answer.held = heldFiles(printer, sentFiles);
        return answer;
    }
    QSet<QByteArray> loadedSince;
    for (const LoadRecord& load : loads(printer))
        if (load.outcome == Outcome::Confirmed && load.time >= *believedSince)
            loadedSince.insert(load.sha256);
    for (qsizetype row = 0; row < sentFiles.size(); ++row) {
        const QByteArray sha256 = sha256OfFile(sentFiles[row]);
        answer.held[static_cast<std::size_t>(row)] = !sha256.isEmpty() && loadedSince.contains(sha256);
    }
    return answer;
}

void PrinterLedger::beforeLoad(const QString& path, LoadMode mode, std::optional<qint64> freeBefore,
                               const QString& sentFile, std::optional<qint64> fontId) {
    if (!ledger_) return;
    // A load whose end was never reported is not known to have arrived.
    if (ticket_) afterLoad(Outcome::NotConfirmed, std::nullopt);
    LoadStart start;
    start.path = path;
    start.mode = mode;
    start.freeBefore = freeBefore;
    start.fontId = fontId;
    start.sentFile = sentFile;
    ticket_ = ledger_->loadStarting(printer_, start);
    sentHash_.reset();
    sentSize_ = 0;
}

void PrinterLedger::fileBytesSent(std::span<const std::uint8_t> bytes) {
    if (!ledger_ || !ticket_) return;
    if (!sentHash_) sentHash_ = std::make_shared<QCryptographicHash>(QCryptographicHash::Sha256);
    sentHash_->addData(QByteArrayView(bytes.data(), static_cast<qsizetype>(bytes.size())));
    sentSize_ += static_cast<qint64>(bytes.size());
}

void PrinterLedger::afterLoad(Outcome outcome, std::optional<qint64> freeAfter) {
    if (!ledger_ || !ticket_) return;
    std::optional<SentBytes> sent;
    if (sentHash_) sent = SentBytes{sentHash_->result().toHex(), sentSize_};
    ledger_->loadFinished(*ticket_, outcome, freeAfter, std::move(sent));
    ticket_.reset();
    sentHash_.reset();
    sentSize_ = 0;
}

void PrinterLedger::afterErase(Outcome outcome, std::optional<qint64> freeBefore,
                               std::optional<qint64> freeAfter) {
    if (ledger_) ledger_->erased(printer_, outcome, freeBefore, freeAfter);
}

}  // namespace velquin::ledger
