// Reads the byte stream a printer receives, as the printer does: requests,
// upload headers with the files behind them, the clear command, ticket
// command strings, and whatever cannot be parsed. It only recognises; what
// each item means for the printer is the sink's business.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace printersim {

enum class Request {
    Identity,     // "<SA08>"
    ShortStatus,  // "<SS>"
    FlashSpace,   // "<SA07>"
    DeviceFlash,  // ESC "IA" BEL, the specific status request of a local printer
};

enum class UploadKind { TrueType, Pcx, SoftFont };

class ParserSink {
public:
    virtual ~ParserSink() = default;
    virtual void request(Request request) = 0;
    // A file begins. `declaredSize` is the length its header announced: the
    // file bytes for True Type and PCX; L for a soft font.
    virtual void uploadBegin(UploadKind kind, std::uint64_t declaredSize, std::string_view header) = 0;
    // Bytes that belong to the stored file. A soft font's stored file is the
    // whole converted file: header text, ESC, L bytes, ESC.
    virtual void uploadData(std::span<const std::uint8_t> bytes) = 0;
    // The file ended: complete, or cut short (`problem` says how).
    virtual void uploadEnd(bool complete, std::string_view problem) = 0;
    virtual void erase() = 0;
    // A ticket: command strings and text up to and including "<p>", or what
    // was left open when something else began or the stream ended.
    virtual void ticket(std::string_view text, bool complete) = 0;
    virtual void unparsed(std::span<const std::uint8_t> bytes, std::string_view problem) = 0;
};

class StreamParser {
public:
    explicit StreamParser(ParserSink& sink) : sink_(sink) {}

    // Parses the bytes; the sink hears about everything they complete.
    void feed(std::span<const std::uint8_t> bytes);

    // The stream ended: reports a cut-short file, an open ticket and
    // pending unparsed bytes.
    void finish();

    bool inUpload() const { return state_ == State::Payload || state_ == State::Trailer; }

    // Longest tag or escape sequence collected before the bytes count as
    // unparsed or ticket text.
    static constexpr std::size_t MAX_TAG = 64;
    // Longest ticket kept open; longer ones are reported as they stand.
    static constexpr std::size_t MAX_TICKET = 64 * 1024;
    // Unparsed bytes are reported in blocks of at most this size.
    static constexpr std::size_t MAX_UNPARSED_BLOCK = 1024 * 1024;

private:
    enum class State { Idle, Tag, Escape, LeadEscape, Payload, Trailer };

    std::size_t feedIdle(std::span<const std::uint8_t> bytes);
    void handleTag();
    void handleEscapeSequence(std::uint8_t next);
    void beginUpload(UploadKind kind, std::uint64_t size);
    void endUpload(bool complete, std::string_view problem);
    void addTicketText(std::string_view text);
    void closeTicket(bool complete);
    void addUnparsed(std::span<const std::uint8_t> bytes, std::string_view problem);
    void flushUnparsed();

    ParserSink& sink_;
    State state_ = State::Idle;
    std::string collected_;  // tag or escape sequence being read
    UploadKind uploadKind_ = UploadKind::TrueType;
    std::uint64_t remaining_ = 0;
    std::string header_;
    std::string ticket_;
    bool ticketOpen_ = false;
    std::vector<std::uint8_t> unparsed_;
    std::string unparsedProblem_;
};

}  // namespace printersim
