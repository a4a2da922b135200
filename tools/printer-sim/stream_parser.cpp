#include "stream_parser.h"

#include <algorithm>
#include <charconv>

namespace printersim {
namespace {

constexpr std::uint8_t ESC = 0x1B;
constexpr std::string_view DEVICE_FLASH_REQUEST = "\x1bIA\x07";
constexpr std::string_view PCX_HEADER_START = "\x1b<pcx><G";
constexpr std::size_t MAX_SIZE_DIGITS = 10;

bool isTicketText(std::uint8_t byte) {
    return (byte >= 0x20 && byte <= 0x7E) || byte == '\r' || byte == '\n' || byte == '\t';
}

bool isTagCharacter(std::uint8_t byte) {
    return byte >= 0x20 && byte <= 0x7E && byte != '<';
}

// A file length as the headers carry it: 1 to 10 decimal digits, nothing else.
bool parseSize(std::string_view digits, std::uint64_t& size) {
    if (digits.empty() || digits.size() > MAX_SIZE_DIGITS) return false;
    auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), size);
    return error == std::errc() && end == digits.data() + digits.size();
}

// The five numbers of a soft font header "SLw,h,count,pitch,L"; gives L.
bool parseSoftFontNumbers(std::string_view text, std::uint64_t& length) {
    for (int field = 0; field < 5; ++field) {
        std::size_t comma = text.find(',');
        std::string_view number = field < 4 ? text.substr(0, comma) : text;
        if (field < 4 && comma == std::string_view::npos) return false;
        if (field < 4) {
            if (!number.empty() && number.front() == '-') number.remove_prefix(1);
            std::uint64_t ignored = 0;
            if (!parseSize(number, ignored)) return false;
            text.remove_prefix(comma + 1);
        } else if (!parseSize(number, length)) {
            return false;
        }
    }
    return true;
}

std::span<const std::uint8_t> bytesOf(std::string_view text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

}  // namespace

void StreamParser::feed(std::span<const std::uint8_t> bytes) {
    while (!bytes.empty()) {
        std::size_t used = 1;
        std::uint8_t byte = bytes.front();
        switch (state_) {
            case State::Idle:
                used = feedIdle(bytes);
                break;
            case State::Tag:
                if (byte == '<' || !isTagCharacter(byte) || collected_.size() >= MAX_TAG) {
                    // Not a command after all: what was collected is text, and this
                    // byte starts over.
                    std::string text;
                    text.swap(collected_);
                    state_ = State::Idle;
                    if (unparsed_.empty())
                        addTicketText(text);
                    else
                        addUnparsed(bytesOf(text), {});
                    used = 0;
                } else {
                    collected_.push_back(static_cast<char>(byte));
                    if (byte == '>') handleTag();
                }
                break;
            case State::Escape:
                collected_.push_back(static_cast<char>(byte));
                handleEscapeSequence(byte);
                break;
            case State::LeadEscape:
                if (byte == ESC) {
                    beginUpload(UploadKind::SoftFont, remaining_);
                } else {
                    std::string header;
                    header.swap(header_);
                    state_ = State::Idle;
                    addUnparsed(bytesOf(header), "soft font header without the ESC behind it");
                    used = 0;
                }
                break;
            case State::Payload: {
                std::size_t take =
                    static_cast<std::size_t>(std::min<std::uint64_t>(remaining_, bytes.size()));
                sink_.uploadData(bytes.first(take));
                remaining_ -= take;
                used = take;
                if (remaining_ == 0) {
                    if (uploadKind_ == UploadKind::TrueType)
                        endUpload(true, {});
                    else
                        state_ = State::Trailer;
                }
                break;
            }
            case State::Trailer:
                if (byte == ESC) {
                    if (uploadKind_ == UploadKind::SoftFont) sink_.uploadData(bytes.first(1));
                    endUpload(true, {});
                } else {
                    endUpload(true, "no ESC after the file");
                    used = 0;
                }
                break;
        }
        bytes = bytes.subspan(used);
    }
}

std::size_t StreamParser::feedIdle(std::span<const std::uint8_t> bytes) {
    std::uint8_t byte = bytes.front();
    if (byte == '<') {
        state_ = State::Tag;
        collected_.assign(1, '<');
        return 1;
    }
    if (byte == ESC) {
        state_ = State::Escape;
        collected_.assign(1, static_cast<char>(ESC));
        return 1;
    }
    // A run of text, or of bytes that mean nothing, in one step.
    bool text = isTicketText(byte);
    std::size_t run = 1;
    while (run < bytes.size() && bytes[run] != '<' && bytes[run] != ESC && isTicketText(bytes[run]) == text)
        ++run;
    if (text && unparsed_.empty())
        addTicketText(std::string_view(reinterpret_cast<const char*>(bytes.data()), run));
    else
        addUnparsed(bytes.first(run), "bytes that are no command");
    return run;
}

void StreamParser::handleTag() {
    std::string tag;
    tag.swap(collected_);
    state_ = State::Idle;
    std::string_view inner = std::string_view(tag).substr(1, tag.size() - 2);
    flushUnparsed();
    std::uint64_t size = 0;
    if (inner == "SA08") {
        sink_.request(Request::Identity);
    } else if (inner == "SS") {
        sink_.request(Request::ShortStatus);
    } else if (inner == "SA07") {
        sink_.request(Request::FlashSpace);
    } else if (inner == "CF") {
        closeTicket(false);
        sink_.erase();
    } else if (inner.starts_with("ttf")) {
        if (parseSize(inner.substr(3), size)) {
            header_ = tag;
            beginUpload(UploadKind::TrueType, size);
        } else {
            addUnparsed(bytesOf(tag), "malformed True Type header");
        }
    } else if (inner.starts_with("SL")) {
        if (parseSoftFontNumbers(inner.substr(2), size)) {
            closeTicket(false);
            header_ = tag;
            remaining_ = size;
            state_ = State::LeadEscape;
        } else {
            addUnparsed(bytesOf(tag), "malformed soft font header");
        }
    } else if (inner == "p") {
        addTicketText(tag);
        closeTicket(true);
    } else {
        addTicketText(tag);
    }
}

void StreamParser::handleEscapeSequence(std::uint8_t next) {
    std::string_view seen = collected_;
    if (seen == DEVICE_FLASH_REQUEST) {
        collected_.clear();
        state_ = State::Idle;
        flushUnparsed();
        sink_.request(Request::DeviceFlash);
        return;
    }
    if (DEVICE_FLASH_REQUEST.starts_with(seen) || PCX_HEADER_START.starts_with(seen)) return;
    if (seen.starts_with(PCX_HEADER_START)) {
        std::string_view digits = seen.substr(PCX_HEADER_START.size());
        std::uint64_t size = 0;
        if (next == '>' && parseSize(digits.substr(0, digits.size() - 1), size)) {
            header_ = collected_;
            collected_.clear();
            flushUnparsed();
            beginUpload(UploadKind::Pcx, size);
            return;
        }
        if (next >= '0' && next <= '9' && digits.size() <= MAX_SIZE_DIGITS) return;
    }
    // An escape sequence this printer does not know: the ESC means nothing,
    // and the bytes after it are read again as they stand.
    std::string rest = collected_.substr(1);
    collected_.clear();
    state_ = State::Idle;
    const std::uint8_t escape = ESC;
    addUnparsed(std::span(&escape, 1), "unknown escape sequence");
    feed(bytesOf(rest));
}

void StreamParser::beginUpload(UploadKind kind, std::uint64_t size) {
    closeTicket(false);
    flushUnparsed();
    uploadKind_ = kind;
    remaining_ = size;
    sink_.uploadBegin(kind, size, header_);
    if (kind == UploadKind::SoftFont) {
        std::string lead = header_ + static_cast<char>(ESC);
        sink_.uploadData(bytesOf(lead));
    }
    state_ = State::Payload;
    if (size == 0) {
        if (kind == UploadKind::TrueType)
            endUpload(true, {});
        else
            state_ = State::Trailer;
    }
}

void StreamParser::endUpload(bool complete, std::string_view problem) {
    state_ = State::Idle;
    header_.clear();
    sink_.uploadEnd(complete, problem);
}

void StreamParser::addTicketText(std::string_view text) {
    ticketOpen_ = true;
    ticket_.append(text);
    if (ticket_.size() >= MAX_TICKET) closeTicket(false);
}

void StreamParser::closeTicket(bool complete) {
    if (!ticketOpen_) return;
    std::string text;
    text.swap(ticket_);
    ticketOpen_ = false;
    sink_.ticket(text, complete);
}

void StreamParser::addUnparsed(std::span<const std::uint8_t> bytes, std::string_view problem) {
    while (!bytes.empty()) {
        if (unparsed_.empty()) unparsedProblem_ = problem.empty() ? "bytes that are no command" : problem;
        std::size_t take = std::min(bytes.size(), MAX_UNPARSED_BLOCK - unparsed_.size());
        unparsed_.insert(unparsed_.end(), bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(take));
        bytes = bytes.subspan(take);
        if (unparsed_.size() >= MAX_UNPARSED_BLOCK) flushUnparsed();
    }
}

void StreamParser::flushUnparsed() {
    if (unparsed_.empty()) return;
    std::vector<std::uint8_t> bytes;
    bytes.swap(unparsed_);
    sink_.unparsed(bytes, unparsedProblem_);
}

void StreamParser::finish() {
    switch (state_) {
        case State::Tag:
        case State::Escape:
            addUnparsed(bytesOf(collected_), "stream ended inside a command");
            collected_.clear();
            break;
        case State::LeadEscape:
            addUnparsed(bytesOf(header_), "stream ended after a soft font header");
            header_.clear();
            break;
        case State::Payload:
            endUpload(false, "stream ended inside the file");
            break;
        case State::Trailer:
            endUpload(true, "stream ended before the ESC after the file");
            break;
        case State::Idle:
            break;
    }
    state_ = State::Idle;
    closeTicket(false);
    flushUnparsed();
}

}  // namespace printersim
