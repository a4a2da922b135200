#include "session.h"

#include <cstdio>

namespace printersim {
namespace {

EntryKind entryKindOf(UploadKind kind) {
    switch (kind) {
        case UploadKind::TrueType:
            return EntryKind::TrueType;
        case UploadKind::Pcx:
            return EntryKind::Pcx;
        case UploadKind::SoftFont:
            return EntryKind::SoftFont;
    }
    return EntryKind::Unparsed;
}

// The first bytes of unparsed data, kept in the entry for a quick look.
constexpr std::size_t UNPARSED_PREVIEW = 256;

}  // namespace

Session::Session(PrinterModel& printer, std::string source, ReplySink reply)
    : printer_(printer), source_(std::move(source)), reply_(std::move(reply)), parser_(*this) {}

Session::~Session() {
    finish();
}

bool Session::receive(std::span<const std::uint8_t> bytes) {
    if (halted_ || finished_) return false;
    Faults faults = printer_.faults();
    bool cut = false;
    if (faults.closeAfterBytes) {
        std::uint64_t allowed = *faults.closeAfterBytes > received_ ? *faults.closeAfterBytes - received_ : 0;
        if (bytes.size() >= allowed) {
            bytes = bytes.first(static_cast<std::size_t>(allowed));
            cut = true;
        }
    }
    received_ += bytes.size();
    printer_.noteBytesReceived(bytes.size());
    parser_.feed(bytes);
    return !cut && !halted_;
}

std::uint64_t Session::receiveLimit() const {
    const std::optional<std::uint64_t> stop = printer_.faults().stopReadingAfterBytes;
    if (!stop) return UINT64_MAX;
    return *stop > received_ ? *stop - received_ : 0;
}

void Session::finish() {
    if (finished_) return;
    finished_ = true;
    if (!halted_) parser_.finish();
    if (upload_) {
        char problem[96];
        std::snprintf(problem, sizeof problem, "connection closed after %llu of the file's bytes",
                      static_cast<unsigned long long>(upload_->size));
        endUpload(false, problem);
    }
}

void Session::request(Request request) {
    if (halted_) return;
    reply_(printer_.replyTo(request));
}

void Session::uploadBegin(UploadKind kind, std::uint64_t declaredSize, std::string_view header) {
    if (halted_) return;
    upload_.emplace(
        Upload{kind, declaredSize, std::string(header), 0, Sha256{}, printer_.newIncomingPath(), {}});
    if (!upload_->file.empty()) upload_->out.open(upload_->file, std::ios::binary | std::ios::trunc);
    printer_.uploadStarted();
}

void Session::uploadData(std::span<const std::uint8_t> bytes) {
    if (halted_ || !upload_) return;
    if (printer_.faults().closeMidFile) {
        std::uint64_t half = upload_->declaredSize / 2;
        if (upload_->size + bytes.size() >= half) {
            bytes = bytes.first(static_cast<std::size_t>(half > upload_->size ? half - upload_->size : 0));
            halted_ = true;
        }
    }
    if (printer_.config().checksumFiles) upload_->hash.update(bytes);
    upload_->size += bytes.size();
    if (upload_->out.is_open())
        upload_->out.write(reinterpret_cast<const char*>(bytes.data()),
                           static_cast<std::streamsize>(bytes.size()));
}

void Session::uploadEnd(bool complete, std::string_view problem) {
    if (halted_ || !upload_) return;
    std::string text(problem);
    if (!complete) {
        char counts[96];
        std::snprintf(counts, sizeof counts, " (%llu of %llu bytes)",
                      static_cast<unsigned long long>(upload_->size),
                      static_cast<unsigned long long>(upload_->declaredSize));
        text += counts;
    }
    endUpload(complete, text);
}

void Session::endUpload(bool complete, std::string problem) {
    if (!upload_) return;
    JournalEntry entry;
    entry.kind = entryKindOf(upload_->kind);
    entry.size = upload_->size;
    if (printer_.config().checksumFiles) entry.sha256 = Sha256::toHex(upload_->hash.finish());
    entry.error = !problem.empty();
    entry.problem = std::move(problem);
    entry.text = upload_->header;
    entry.source = source_;
    upload_->out.close();
    entry.file = upload_->file;
    upload_.reset();
    printer_.uploadFinished(std::move(entry), complete);
}

void Session::erase() {
    if (halted_) return;
    printer_.eraseReceived(source_);
}

void Session::ticket(std::string_view text, bool complete) {
    if (halted_) return;
    JournalEntry entry;
    entry.kind = EntryKind::Ticket;
    std::span<const std::uint8_t> bytes(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
    entry.size = text.size();
    entry.sha256 = Sha256::hexOf(bytes);
    entry.text = text;
    entry.source = source_;
    if (!complete) {
        entry.error = true;
        entry.problem = "ticket not ended by <p>";
    }
    printer_.addEntry(std::move(entry), bytes);
}

void Session::unparsed(std::span<const std::uint8_t> bytes, std::string_view problem) {
    if (halted_) return;
    JournalEntry entry;
    entry.kind = EntryKind::Unparsed;
    entry.size = bytes.size();
    entry.sha256 = Sha256::hexOf(bytes);
    entry.error = true;
    entry.problem = problem;
    entry.text.assign(reinterpret_cast<const char*>(bytes.data()), std::min(bytes.size(), UNPARSED_PREVIEW));
    entry.source = source_;
    printer_.addEntry(std::move(entry), bytes);
}

}  // namespace printersim
