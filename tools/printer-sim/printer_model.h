// The simulated printer, whatever link reaches it: identity, status bytes,
// flash accounting with simulated write time, the journal of what it stored,
// and the faults it can be told to show. Thread-safe: every connection talks
// to the one printer.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "stream_parser.h"

namespace printersim {

// A model RVA printer, firmware 5.07, with the reply prefix real printers
// put before the keys.
inline constexpr const char* DEFAULT_IDENTITY =
    "A08MFG:Ticket printer;CMD:KTL;MDL:RVA 300;CLS:PRINTER;DES:Ticket printer;FWV:xx5.07 (112);";

struct PrinterConfig {
    std::string identity = DEFAULT_IDENTITY;
    std::uint64_t flashSize = 8u * 1024u * 1024u;
    // Flash write speed; 0 writes at once.
    std::uint64_t writeBytesPerSecond = 50u * 1000u * 1000u;
    // How long an erase of the font space takes.
    std::chrono::milliseconds eraseTime{20};
    // Files are checksummed as they arrive; without, their journal entries
    // carry no checksum and the printer takes bytes as fast as memory moves.
    bool checksumFiles = true;
    // When set, every journal entry's bytes are kept here, with journal.txt.
    std::filesystem::path journalFolder;
};

enum class DeviceIdPrefix {
    Normal,   // 2-byte big-endian length that counts itself
    Absent,   // the text alone
    Swapped,  // the length little-endian
    TooLong,  // the length claims more bytes than follow
};

struct Faults {
    bool stayBusy = false;
    bool freezeToggle = false;  // the flash toggle never changes
    bool closeOnAccept = false;
    std::optional<std::uint64_t> closeAfterBytes;  // per connection, bytes received
    bool closeMidFile = false;                     // close when half of a file has arrived
    // Per connection: after this many bytes the printer stops reading; the
    // link stays up and the sender's writes stall.
    std::optional<std::uint64_t> stopReadingAfterBytes;
    bool longIdentity = false;       // identity padded to LONG_IDENTITY_SIZE bytes
    std::size_t replyPieceSize = 0;  // replies sent in pieces of this size (0: whole)
    std::chrono::milliseconds pieceDelay{20};
    std::chrono::milliseconds replyDelay{0};
    bool garbageReplies = false;
    int badFlashReplies = 0;  // this many flash replies start with "X" instead of "A"
    std::optional<std::vector<std::uint8_t>> statusBytes;  // replaces the computed status
    std::optional<std::size_t> statusLength;               // status cut to this many bytes
    // Simulated devices only.
    bool failReads = false;
    DeviceIdPrefix deviceIdPrefix = DeviceIdPrefix::Normal;
};

inline constexpr std::size_t LONG_IDENTITY_SIZE = 300;
// Status bytes 0 to 4: byte 3 is 0 when ready, byte 4 carries the flags.
inline constexpr std::size_t STATUS_SIZE = 5;

enum class EntryKind { TrueType, Pcx, SoftFont, Ticket, Erase, Unparsed };
const char* entryKindName(EntryKind kind);

struct JournalEntry {
    std::size_t order = 0;  // 1 for the first entry
    EntryKind kind = EntryKind::Unparsed;
    std::uint64_t size = 0;  // bytes of the entry (a file, a ticket's text, unparsed bytes)
    std::string sha256;      // of those bytes, lower-case hex
    bool stored = false;     // took flash space
    bool error = false;
    std::string problem;         // why it is flagged
    std::string text;            // ticket text, file header, or the first bytes of unparsed data
    std::string source;          // "tcp" or the device name
    std::filesystem::path file;  // the bytes, when a journal folder is set
};

// One line of journal.txt and of the program's output.
std::string describe(const JournalEntry& entry);

class PrinterModel {
public:
    explicit PrinterModel(PrinterConfig config = {});

    const PrinterConfig& config() const { return config_; }
    void setFaults(const Faults& faults);
    Faults faults() const;
    // Called with every new journal entry, on the connection's thread.
    void setJournalListener(std::function<void(const JournalEntry&)> listener);

    // What the printer answers to a request, faults applied.
    std::vector<std::uint8_t> replyTo(Request request);
    std::vector<std::uint8_t> statusBytes();
    std::vector<std::uint8_t> identityBytes() const;
    // The raw device-ID bytes of a local printer (length prefix included).
    std::vector<std::uint8_t> deviceIdBytes() const;

    std::uint64_t freeFlash();
    bool busy();
    bool flashToggle();

    std::vector<JournalEntry> journal() const;
    // Waits until the journal holds at least `count` entries.
    bool waitForJournal(std::size_t count, std::chrono::milliseconds timeout) const;
    // Waits until no file is arriving and every flash write has ended.
    bool waitUntilIdle(std::chrono::milliseconds timeout);
    std::uint64_t requestCount(Request request) const;
    std::uint64_t bytesReceived() const;
    bool waitForBytesReceived(std::uint64_t count, std::chrono::milliseconds timeout) const;
    std::uint64_t connectionsAccepted() const;

    // Used by the connections.
    void noteConnection();
    void noteBytesReceived(std::size_t count);
    void uploadStarted();
    // A file arrived. Journals it and, when complete and it fits, queues its
    // flash write.
    void uploadFinished(JournalEntry entry, bool complete);
    void eraseReceived(const std::string& source);
    // Journals an entry whose bytes are at hand (ticket, unparsed bytes).
    void addEntry(JournalEntry entry, std::span<const std::uint8_t> bytes);
    // Where a connection writes an arriving file's bytes; empty without a
    // journal folder. uploadFinished moves the file to its journal name.
    std::filesystem::path newIncomingPath();

private:
    struct FlashWrite {
        std::chrono::steady_clock::time_point end;
        std::uint64_t bytes;  // 0 for the erase
        bool erase;
    };
    void settleLocked(std::chrono::steady_clock::time_point now);
    void queueWriteLocked(std::uint64_t bytes, bool erase, std::chrono::steady_clock::duration duration);
    void appendLocked(JournalEntry& entry);

    const PrinterConfig config_;
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    Faults faults_;
    std::function<void(const JournalEntry&)> listener_;
    std::vector<JournalEntry> journal_;
    std::deque<FlashWrite> writes_;
    std::uint64_t usedFlash_ = 0;      // by writes that ended
    std::uint64_t reservedFlash_ = 0;  // by files received, written or not
    bool toggle_ = false;
    int uploadsArriving_ = 0;
    std::uint64_t requests_[4] = {};
    std::uint64_t bytesReceived_ = 0;
    std::uint64_t connections_ = 0;
    std::uint64_t incoming_ = 0;
};

}  // namespace printersim
