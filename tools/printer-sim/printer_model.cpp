#include "printer_model.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <system_error>

#include "morlix/printer_codes.h"
#include "sha256.h"

namespace printersim {
namespace {

constexpr std::uint64_t LARGEST_FLASH_REPLY = 99999999;  // eight digits

std::chrono::steady_clock::duration writeDuration(std::uint64_t bytes, std::uint64_t bytesPerSecond) {
    if (bytesPerSecond == 0) return {};
    return std::chrono::duration_cast<std::chrono::steady_clock::duration>(
        std::chrono::duration<double>(static_cast<double>(bytes) / static_cast<double>(bytesPerSecond)));
}

}  // namespace

const char* entryKindName(EntryKind kind) {
    switch (kind) {
        case EntryKind::TrueType:
            return "ttf";
        case EntryKind::Pcx:
            return "pcx";
        case EntryKind::SoftFont:
            return "softfont";
        case EntryKind::Ticket:
            return "ticket";
        case EntryKind::Erase:
            return "erase";
        case EntryKind::Unparsed:
            return "unparsed";
    }
    return "?";
}

std::string describe(const JournalEntry& entry) {
    char head[96];
    std::snprintf(head, sizeof head, "%zu %s %llu ", entry.order, entryKindName(entry.kind),
                  static_cast<unsigned long long>(entry.size));
    std::string line = head + (entry.sha256.empty() ? "-" : entry.sha256) + " " + entry.source;
    line += entry.stored ? " stored" : " not-stored";
    if (entry.error) line += " ERROR " + entry.problem;
    return line;
}

PrinterModel::PrinterModel(PrinterConfig config) : config_(std::move(config)) {
    if (!config_.journalFolder.empty()) std::filesystem::create_directories(config_.journalFolder);
}

void PrinterModel::setFaults(const Faults& faults) {
    std::lock_guard lock(mutex_);
    faults_ = faults;
}

Faults PrinterModel::faults() const {
    std::lock_guard lock(mutex_);
    return faults_;
}

void PrinterModel::setJournalListener(std::function<void(const JournalEntry&)> listener) {
    std::lock_guard lock(mutex_);
    listener_ = std::move(listener);
}

void PrinterModel::settleLocked(std::chrono::steady_clock::time_point now) {
    while (!writes_.empty() && writes_.front().end <= now) {
        const FlashWrite& write = writes_.front();
        if (write.erase)
            usedFlash_ = 0;
        else
            usedFlash_ += write.bytes;
        if (!faults_.freezeToggle) toggle_ = !toggle_;
        writes_.pop_front();
        changed_.notify_all();
    }
}

void PrinterModel::queueWriteLocked(std::uint64_t bytes, bool erase,
                                    std::chrono::steady_clock::duration duration) {
    auto now = std::chrono::steady_clock::now();
    auto start = writes_.empty() ? now : std::max(now, writes_.back().end);
    writes_.push_back({start + duration, bytes, erase});
    settleLocked(now);
}

std::vector<std::uint8_t> PrinterModel::statusBytes() {
    std::lock_guard lock(mutex_);
    settleLocked(std::chrono::steady_clock::now());
    std::vector<std::uint8_t> status;
    if (faults_.statusBytes) {
        status = *faults_.statusBytes;
    } else {
        status.assign(STATUS_SIZE, 0);
        bool busyNow = faults_.stayBusy || uploadsArriving_ > 0 || !writes_.empty();
        status[morlix::STATUS_FLAGS_BYTE] = static_cast<std::uint8_t>(
            (busyNow ? morlix::STATUS_BUSY_BIT : 0) | (toggle_ ? morlix::STATUS_FLASH_TOGGLE_BIT : 0));
    }
    if (faults_.statusLength) status.resize(*faults_.statusLength, 0);
    return status;
}

std::vector<std::uint8_t> PrinterModel::identityBytes() const {
    std::string text;
    bool pad = false;
    {
        std::lock_guard lock(mutex_);
        pad = faults_.longIdentity;
    }
    text = config_.identity;
    if (pad && text.size() < LONG_IDENTITY_SIZE) {
        std::size_t room = LONG_IDENTITY_SIZE - text.size();
        text += room > 5 ? "PAD:" + std::string(room - 5, '-') + ";" : std::string(room, '-');
    }
    return {text.begin(), text.end()};
}

std::vector<std::uint8_t> PrinterModel::deviceIdBytes() const {
    std::vector<std::uint8_t> text = identityBytes();
    DeviceIdPrefix prefix = faults().deviceIdPrefix;
    if (prefix == DeviceIdPrefix::Absent) return text;
    std::uint32_t length = static_cast<std::uint32_t>(std::min<std::size_t>(text.size() + 2, 0xFFFF));
    if (prefix == DeviceIdPrefix::TooLong) length = std::min<std::uint32_t>(length + 100, 0xFFFF);
    std::uint8_t high = static_cast<std::uint8_t>(length >> 8), low = static_cast<std::uint8_t>(length);
    std::vector<std::uint8_t> bytes;
    if (prefix == DeviceIdPrefix::Swapped)
        bytes = {low, high};
    else
        bytes = {high, low};
    bytes.insert(bytes.end(), text.begin(), text.end());
    return bytes;
}

std::vector<std::uint8_t> PrinterModel::replyTo(Request request) {
    std::vector<std::uint8_t> reply;
    switch (request) {
        case Request::Identity:
            reply = identityBytes();
            break;
        case Request::ShortStatus:
            reply = statusBytes();
            break;
        case Request::FlashSpace:
        case Request::DeviceFlash: {
            std::uint64_t free = std::min(freeFlash(), LARGEST_FLASH_REPLY);
            char text[16];
            std::snprintf(text, sizeof text, "A0708%08llu", static_cast<unsigned long long>(free));
            reply.assign(text, text + 13);
            std::lock_guard lock(mutex_);
            if (faults_.badFlashReplies > 0) {
                --faults_.badFlashReplies;
                reply[0] = 'X';
            }
            break;
        }
    }
    std::lock_guard lock(mutex_);
    ++requests_[static_cast<int>(request)];
    if (faults_.garbageReplies) {
        reply.resize(std::max<std::size_t>(reply.size(), STATUS_SIZE));
        for (std::size_t i = 0; i < reply.size(); ++i)
            reply[i] = static_cast<std::uint8_t>(0xFF - (i * 37) % 200);
    }
    changed_.notify_all();
    return reply;
}

std::uint64_t PrinterModel::freeFlash() {
    std::lock_guard lock(mutex_);
    settleLocked(std::chrono::steady_clock::now());
    return config_.flashSize > usedFlash_ ? config_.flashSize - usedFlash_ : 0;
}

bool PrinterModel::busy() {
    std::lock_guard lock(mutex_);
    settleLocked(std::chrono::steady_clock::now());
    return faults_.stayBusy || uploadsArriving_ > 0 || !writes_.empty();
}

bool PrinterModel::flashToggle() {
    std::lock_guard lock(mutex_);
    settleLocked(std::chrono::steady_clock::now());
    return toggle_;
}

std::vector<JournalEntry> PrinterModel::journal() const {
    std::lock_guard lock(mutex_);
    return journal_;
}

bool PrinterModel::waitForJournal(std::size_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return journal_.size() >= count; });
}

bool PrinterModel::waitUntilIdle(std::chrono::milliseconds timeout) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    std::unique_lock lock(mutex_);
    for (;;) {
        auto now = std::chrono::steady_clock::now();
        settleLocked(now);
        if (uploadsArriving_ == 0 && writes_.empty()) return true;
        if (now >= deadline) return false;
        auto wake = writes_.empty() ? deadline : std::min(deadline, writes_.front().end);
        changed_.wait_until(lock, wake);
    }
}

std::uint64_t PrinterModel::requestCount(Request request) const {
    std::lock_guard lock(mutex_);
    return requests_[static_cast<int>(request)];
}

std::uint64_t PrinterModel::bytesReceived() const {
    std::lock_guard lock(mutex_);
    return bytesReceived_;
}

bool PrinterModel::waitForBytesReceived(std::uint64_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return bytesReceived_ >= count; });
}

std::uint64_t PrinterModel::connectionsAccepted() const {
    std::lock_guard lock(mutex_);
    return connections_;
}

void PrinterModel::noteConnection() {
    std::lock_guard lock(mutex_);
    ++connections_;
    changed_.notify_all();
}

void PrinterModel::noteBytesReceived(std::size_t count) {
    std::lock_guard lock(mutex_);
    bytesReceived_ += count;
    changed_.notify_all();
}

void PrinterModel::uploadStarted() {
    std::lock_guard lock(mutex_);
    ++uploadsArriving_;
}

void PrinterModel::uploadFinished(JournalEntry entry, bool complete) {
    std::unique_lock lock(mutex_);
    --uploadsArriving_;
    if (complete) {
        if (reservedFlash_ + entry.size > config_.flashSize) {
            // The write fails, but it ends: the toggle still tells the host so.
            entry.error = true;
            if (entry.problem.empty()) entry.problem = "flash full";
            queueWriteLocked(0, false, {});
        } else {
            entry.stored = true;
            reservedFlash_ += entry.size;
            queueWriteLocked(entry.size, false, writeDuration(entry.size, config_.writeBytesPerSecond));
        }
    } else {
        entry.error = true;
    }
    appendLocked(entry);
    auto listener = listener_;
    lock.unlock();
    if (listener) listener(entry);
}

void PrinterModel::eraseReceived(const std::string& source) {
    JournalEntry entry;
    entry.kind = EntryKind::Erase;
    entry.sha256 = Sha256::hexOf({});
    entry.source = source;
    std::unique_lock lock(mutex_);
    reservedFlash_ = 0;
    queueWriteLocked(0, true, config_.eraseTime);
    appendLocked(entry);
    auto listener = listener_;
    lock.unlock();
    if (listener) listener(entry);
}

void PrinterModel::addEntry(JournalEntry entry, std::span<const std::uint8_t> bytes) {
    std::unique_lock lock(mutex_);
    if (!config_.journalFolder.empty()) {
        entry.file = config_.journalFolder / "incoming.part";
        std::ofstream out(entry.file, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }
    appendLocked(entry);
    auto listener = listener_;
    lock.unlock();
    if (listener) listener(entry);
}

std::filesystem::path PrinterModel::newIncomingPath() {
    std::lock_guard lock(mutex_);
    if (config_.journalFolder.empty()) return {};
    char name[48];
    std::snprintf(name, sizeof name, "incoming-%llu.part", static_cast<unsigned long long>(++incoming_));
    return config_.journalFolder / name;
}

void PrinterModel::appendLocked(JournalEntry& entry) {
    entry.order = journal_.size() + 1;
    if (!config_.journalFolder.empty()) {
        char name[48];
        std::snprintf(name, sizeof name, "%04zu-%s.bin", entry.order, entryKindName(entry.kind));
        std::filesystem::path final = config_.journalFolder / name;
        std::error_code error;
        if (!entry.file.empty())
            std::filesystem::rename(entry.file, final, error);
        else
            std::ofstream(final, std::ios::binary | std::ios::trunc);
        entry.file = final;
        std::ofstream index(config_.journalFolder / "journal.txt", std::ios::app);
        index << describe(entry) << '\n';
    }
    journal_.push_back(entry);
    changed_.notify_all();
}

}  // namespace printersim
