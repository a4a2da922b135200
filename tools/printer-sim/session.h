// One connection's conversation with the printer: its own byte-stream
// parser, the file arriving on it, and the replies it owes. The front end
// (TCP or simulated device) moves the bytes; the session gives them meaning.
#pragma once

#include <cstdint>
#include <fstream>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "printer_model.h"
#include "sha256.h"
#include "stream_parser.h"

namespace printersim {

class Session : public ParserSink {
public:
    using ReplySink = std::function<void(std::vector<std::uint8_t>)>;
    Session(PrinterModel& printer, std::string source, ReplySink reply);
    ~Session() override;
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // Takes bytes received on the connection; false when a fault says the
    // connection closes now (the bytes beyond that point are not taken).
    bool receive(std::span<const std::uint8_t> bytes);
    // How many more bytes the printer reads on this connection before it
    // stops reading (a fault); the largest value when it never stops.
    std::uint64_t receiveLimit() const;
    // The connection ended: whatever was open is journaled.
    void finish();

    void request(Request request) override;
    void uploadBegin(UploadKind kind, std::uint64_t declaredSize, std::string_view header) override;
    void uploadData(std::span<const std::uint8_t> bytes) override;
    void uploadEnd(bool complete, std::string_view problem) override;
    void erase() override;
    void ticket(std::string_view text, bool complete) override;
    void unparsed(std::span<const std::uint8_t> bytes, std::string_view problem) override;

private:
    struct Upload {
        UploadKind kind;
        std::uint64_t declaredSize;
        std::string header;
        std::uint64_t size = 0;
        Sha256 hash;
        std::filesystem::path file;
        std::ofstream out;
    };
    void endUpload(bool complete, std::string problem);

    PrinterModel& printer_;
    std::string source_;
    ReplySink reply_;
    StreamParser parser_;
    std::optional<Upload> upload_;
    std::uint64_t received_ = 0;
    bool halted_ = false;  // a fault closed the connection mid-file
    bool finished_ = false;
};

}  // namespace printersim
