// The simulator's byte-stream parser and checksum: what a printer makes of
// the bytes it receives, however the stream is cut into reads.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "sha256.h"
#include "stream_parser.h"

namespace {

using printersim::Request;
using printersim::StreamParser;
using printersim::UploadKind;

// Writes every event as a line, file bytes joined into one event per file,
// so that two parses can be compared.
class EventLog : public printersim::ParserSink {
public:
    std::vector<std::string> events;

    void request(Request request) override {
        events.push_back("request " + std::to_string(static_cast<int>(request)));
    }
    void uploadBegin(UploadKind kind, std::uint64_t size, std::string_view header) override {
        events.push_back("begin " + std::to_string(static_cast<int>(kind)) + " " + std::to_string(size) +
                         " " + std::string(header));
        file_.clear();
    }
    void uploadData(std::span<const std::uint8_t> bytes) override {
        file_.append(bytes.begin(), bytes.end());
    }
    void uploadEnd(bool complete, std::string_view problem) override {
        events.push_back("file " + file_);
        events.push_back(std::string(complete ? "end " : "cut ") + std::string(problem));
    }
    void erase() override { events.push_back("erase"); }
    void ticket(std::string_view text, bool complete) override {
        events.push_back(std::string(complete ? "ticket " : "open ticket ") + std::string(text));
    }
    void unparsed(std::span<const std::uint8_t> bytes, std::string_view problem) override {
        events.push_back("unparsed " + std::string(bytes.begin(), bytes.end()) + " / " +
                         std::string(problem));
    }

private:
    std::string file_;
};

std::span<const std::uint8_t> bytesOf(const std::string& text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

std::vector<std::string> parseWhole(const std::string& stream) {
    EventLog log;
    StreamParser parser(log);
    parser.feed(bytesOf(stream));
    parser.finish();
    return log.events;
}

std::vector<std::string> parseInPieces(const std::string& stream, std::mt19937& random, std::size_t largest) {
    EventLog log;
    StreamParser parser(log);
    std::size_t at = 0;
    while (at < stream.size()) {
        std::size_t piece = std::min<std::size_t>(stream.size() - at, 1 + random() % largest);
        parser.feed(bytesOf(stream).subspan(at, piece));
        at += piece;
    }
    parser.finish();
    return log.events;
}

const std::string ESC = "\x1b";

// What the program sends over one session: every kind of item back to back.
std::string sessionStream() {
    std::string softFontBody(4096 + 60, '\0');
    for (std::size_t i = 0; i < softFontBody.size(); ++i) softFontBody[i] = static_cast<char>(i * 7);
    std::string font(52, '\0');
    for (std::size_t i = 0; i < font.size(); ++i) font[i] = static_cast<char>(0xFF - i);
    return "<SA08><SS><SA07>" + ESC + "IA\x07" + "<ttf52>" + font + ESC + "<pcx><G5>" + "<ttf>" + ESC +
           "<SL40,30,1,96,4156>" + ESC + softFontBody + ESC + "<CF>" +
           "<RC100,000><TTF1,20>True type Font Number 1" + "<SS>" + "<RC500,000><TTF5,20>Five<p>" +
           std::string("\x00\x01\x02", 3) + "<p>";
}

TEST(StreamParser, ReadsEveryItemOfASession) {
    std::vector<std::string> events = parseWhole(sessionStream());
    std::vector<std::string> expected = {
        "request 0", "request 1", "request 2", "request 3", "begin 0 52 <ttf52>",
    };
    ASSERT_GE(events.size(), expected.size());
    EXPECT_EQ(std::vector<std::string>(events.begin(), events.begin() + 5), expected);
    EXPECT_EQ(events[6], "end ");
    // A PCX file may hold anything, also bytes that look like a header.
    EXPECT_EQ(events[7], "begin 1 5 " + ESC + "<pcx><G5>");
    EXPECT_EQ(events[8], "file <ttf>");
    EXPECT_EQ(events[9], "end ");
    // The soft font's stored file is the whole converted file.
    EXPECT_EQ(events[10], "begin 2 4156 <SL40,30,1,96,4156>");
    EXPECT_EQ(events[11].size(), 5 + 19 + 1 + 4156 + 1);
    EXPECT_EQ(events[11].substr(5, 20), "<SL40,30,1,96,4156>" + ESC);
    EXPECT_EQ(events[11].back(), '\x1b');
    EXPECT_EQ(events[13], "erase");
    // A request between the parts of a ticket does not split it.
    EXPECT_EQ(events[14], "request 1");
    EXPECT_EQ(events[15], "ticket <RC100,000><TTF1,20>True type Font Number 1<RC500,000><TTF5,20>Five<p>");
    EXPECT_EQ(events[16], "unparsed " + std::string("\x00\x01\x02", 3) + " / bytes that are no command");
    EXPECT_EQ(events[17], "ticket <p>");
    EXPECT_EQ(events.size(), 18u);
}

TEST(StreamParser, GivesTheSameItemsHoweverTheStreamIsCut) {
    const std::string stream = sessionStream();
    const std::vector<std::string> whole = parseWhole(stream);
    std::mt19937 random(12345);
    for (std::size_t largest : {1u, 2u, 3u, 7u, 64u, 5000u}) {
        SCOPED_TRACE(largest);
        EXPECT_EQ(parseInPieces(stream, random, largest), whole);
    }
}

TEST(StreamParser, FlagsWhatItCannotRead) {
    struct Case {
        std::string stream;
        std::vector<std::string> events;
    };
    const std::vector<Case> cases = {
        {"<ttfabc>", {"unparsed <ttfabc> / malformed True Type header"}},
        {"<ttf12345678901>", {"unparsed <ttf12345678901> / malformed True Type header"}},
        {"<SL1,2,3>" + ESC, {"unparsed <SL1,2,3>" + ESC + " / malformed soft font header"}},
        {"<SL1,2,3,4,0>x", {"unparsed <SL1,2,3,4,0>x / soft font header without the ESC behind it"}},
        // An unknown escape sequence: the ESC means nothing; what follows is read again.
        {ESC + "<CF>", {"unparsed " + ESC + " / unknown escape sequence", "erase"}},
        {ESC + "<pcx><Gx>", {"unparsed " + ESC + " / unknown escape sequence", "open ticket <pcx><Gx>"}},
        {ESC + "<pcx><G2>ab<SS>",
         {"begin 1 2 " + ESC + "<pcx><G2>", "file ab", "end no ESC after the file", "request 1"}},
        {"<ttf10>abc", {"begin 0 10 <ttf10>", "file abc", "cut stream ended inside the file"}},
        {"<ttf0><SS>", {"begin 0 0 <ttf0>", "file ", "end ", "request 1"}},
        {"<RC1,2>abc", {"open ticket <RC1,2>abc"}},
        {"<SA0", {"unparsed <SA0 / stream ended inside a command"}},
        // Binary bytes keep what follows them unparsed until a command comes.
        {std::string("\x80\x81text", 6) + "<SS>",
         {"unparsed \x80\x81text / bytes that are no command", "request 1"}},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.stream);
        EXPECT_EQ(parseWhole(test.stream), test.events);
    }
}

TEST(StreamParser, ReportsAnOpenTicketBeforeAnUploadStarts) {
    EXPECT_EQ(parseWhole("<RC1,2>half<ttf1>x"),
              (std::vector<std::string>{"open ticket <RC1,2>half", "begin 0 1 <ttf1>", "file x", "end "}));
}

TEST(StreamParser, LongUnparsedDataIsReportedInBlocksWithNothingLost) {
    std::string junk(StreamParser::MAX_UNPARSED_BLOCK + 10, '\x01');
    std::vector<std::string> events = parseWhole(junk);
    ASSERT_EQ(events.size(), 2u);
    std::size_t total = 0;
    for (const auto& event : events)
        total += event.size() - std::string("unparsed ").size() -
                 std::string(" / bytes that are no command").size();
    EXPECT_EQ(total, junk.size());
}

TEST(Sha256, MatchesTheStandardVectorsAlsoWhenFedInPieces) {
    EXPECT_EQ(printersim::Sha256::hexOf({}),
              "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(printersim::Sha256::hexOf(bytesOf("abc")),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    const std::string twoBlocks = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";
    EXPECT_EQ(printersim::Sha256::hexOf(bytesOf(twoBlocks)),
              "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
    const std::string million(1000000, 'a');
    printersim::Sha256 pieces;
    for (std::size_t at = 0, step = 1; at < million.size(); at += step, step = step % 131 + 1)
        pieces.update(bytesOf(million).subspan(at, std::min(step, million.size() - at)));
    EXPECT_EQ(printersim::Sha256::toHex(pieces.finish()),
              "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

}  // namespace
