#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "http/HttpResponse.h"

using http::THttpHeaderLine;
using http::THttpResponseReader;

namespace {

// Writes down what the reader hands on; consecutive body pieces are joined, so that the record
// does not depend on how the bytes were split.
class Recorder : public http::IHttpResponseSink {
  public:
    std::vector<std::string> events;
    int bodyPieces = 0;
    std::function<void(const std::string&)> onEvent;

    void ResponseHeaderBegin() override { Add("begin"); }
    void ResponseHeaderLine(std::string line) override { Add("line:" + line); }
    void ResponseHeaderEnd(bool withoutHeader) override { Add(withoutHeader ? "end-html" : "end"); }
    void ResponseHeaderTooLarge() override { Add("too-large"); }
    void ResponseInterimEnd() override { Add("interim-end"); }
    void ResponseBodyData(const char* data, std::size_t len) override {
        ++bodyPieces;
        if (!events.empty() && events.back().rfind("body:", 0) == 0)
            events.back().append(data, len);
        else
            Add("body:" + std::string(data, len));
    }
    void ResponseOtherLine(const std::string& line) override { Add("other:" + line); }

  private:
    void Add(const std::string& e) {
        events.push_back(e);
        if (onEvent)
            onEvent(e);
    }
};

// Feeds text in pieces of the given size (0 = all at once).
bool FeedInPieces(THttpResponseReader& reader, const std::string& text, std::size_t piece) {
    if (piece == 0)
        return reader.Feed(text.data(), text.size());
    for (std::size_t at = 0; at < text.size(); at += piece)
        if (!reader.Feed(text.data() + at, std::min(piece, text.size() - at)))
            return false;
    return true;
}

struct ReaderCase {
    const char* name;
    std::string input;
    std::vector<std::string> want;
};

const std::vector<ReaderCase>& ReaderCases() {
    static const std::vector<ReaderCase> cases = {
        {"CrLf",
         "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n\r\n",
         {"begin", "line:HTTP/1.1 200 OK", "line:Content-Type: text/html", "end"}},
        {"BareLfAndBody",
         "HTTP/1.0 404 Not Found\nServer: x\n\nline one\r\n\r\nline two",
         {"begin", "line:HTTP/1.0 404 Not Found", "line:Server: x", "end",
          "body:line one\r\n\r\nline two"}},
        {"MixedLineEnds",
         "HTTP/1.0 200 OK\r\nA: 1\nB: 2\r\n\n",
         {"begin", "line:HTTP/1.0 200 OK", "line:A: 1", "line:B: 2", "end"}},
        {"CrInsideLineStays", "X: a\rb\r\r\n\r\n", {"begin", "line:X: a\rb\r", "end"}},
        {"DocumentWithoutHeader",
         "<html><body>\r\nHi\n</body></html>",
         {"begin", "end-html", "body:<html><body>\r\nHi\n</body></html>"}},
        {"HtmlAfterStatusLine",
         "HTTP/1.0 200 OK\r\n<HTML>\r\n<p>x</p>\r\n",
         {"begin", "line:HTTP/1.0 200 OK", "end-html", "body:<HTML>\r\n<p>x</p>\r\n"}},
        {"UnfinishedHeader",
         "HTTP/1.1 302 Found\r\nLocation: /x\r\nServ",
         {"begin", "line:HTTP/1.1 302 Found", "line:Location: /x"}},
        {"EmptyFirstLine", "\r\nbody", {"begin", "end", "body:body"}},
        // Interim answers are read past: the body starts after the final answer's header.
        {"InterimAnswersBeforeTheFinalOne",
         "HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 103 Early Hints\r\nLink: </s.css>\r\n\r\n"
         "HTTP/1.1 404 Not Found\r\nA: 1\r\n\r\nbody",
         {"begin", "line:HTTP/1.1 100 Continue", "interim-end", "line:HTTP/1.1 103 Early Hints",
          "line:Link: </s.css>", "interim-end", "line:HTTP/1.1 404 Not Found", "line:A: 1", "end",
          "body:body"}},
        {"SwitchingProtocolsIsFinal",
         "HTTP/1.1 101 Switching Protocols\r\n\r\nx",
         {"begin", "line:HTTP/1.1 101 Switching Protocols", "end", "body:x"}},
        {"OnlyTheFirstLineMakesAnAnswerInterim",
         "HTTP/1.1 200 OK\r\nHTTP/1.1 100 Continue\r\n\r\nx",
         {"begin", "line:HTTP/1.1 200 OK", "line:HTTP/1.1 100 Continue", "end", "body:x"}},
        {"InterimWithoutTheFinalAnswer",
         "HTTP/1.0 100 Continue\r\n\r\n",
         {"begin", "line:HTTP/1.0 100 Continue", "interim-end"}},
    };
    return cases;
}

TEST(ResponseReaderTest, SameEventsWhateverTheSplit) {
    for (const ReaderCase& c : ReaderCases()) {
        for (std::size_t piece : {0, 1, 2, 3, 7}) {
            Recorder sink;
            THttpResponseReader reader(sink);
            reader.StartHeader();
            EXPECT_TRUE(FeedInPieces(reader, c.input, piece));
            EXPECT_EQ(sink.events, c.want) << c.name << " in pieces of " << piece;
        }
    }
}

TEST(ResponseReaderTest, BodyIsPassedOnInTheReceivedPieces) {
    Recorder sink;
    THttpResponseReader reader(sink);
    reader.StartHeader();
    for (std::string piece : {"HTTP/1.0 200 OK\r\n\r\nab", "cd\r\n", "ef"})
        reader.Feed(piece.data(), piece.size());
    EXPECT_EQ(sink.bodyPieces, 3);
    EXPECT_EQ(sink.events.back(), "body:abcd\r\nef");
    EXPECT_EQ(reader.Held(), 0u);
}

TEST(ResponseReaderTest, LineLongerThanTheBufferIsCutAndReadingGoesOn) {
    const std::size_t cap = http::THttpReceiveBuffer::kCapacity;
    {
        Recorder sink;
        THttpResponseReader reader(sink);
        reader.StartHeader();
        const std::string fits = "X: " + std::string(cap - 4, 'a') + "\n";
        ASSERT_EQ(fits.size(), cap);
        EXPECT_TRUE(reader.Feed(fits.data(), fits.size()));
        EXPECT_EQ(sink.events.back(), "line:" + fits.substr(0, cap - 1));
        EXPECT_FALSE(reader.Full());
    }
    // A server that sends a line longer than the buffer must not stall the answer: the line is
    // cut, its rest dropped, and the lines behind it are read as usual, however the bytes come.
    const std::string tooLong =
        "HTTP/1.0 200 OK\r\nX: " + std::string(3 * cap, 'a') + "\r\nLast-Modified: now\r\n\r\nbody";
    const std::vector<std::string> want = {"begin",
                                           "line:HTTP/1.0 200 OK",
                                           "line:X: " + std::string(cap - 4, 'a'),
                                           "line:Last-Modified: now",
                                           "end",
                                           "body:body"};
    for (std::size_t piece : {tooLong.size(), std::size_t(1), std::size_t(cap - 1)}) {
        SCOPED_TRACE("pieces of " + std::to_string(piece));
        Recorder sink;
        THttpResponseReader reader(sink);
        reader.StartHeader();
        for (std::size_t at = 0; at < tooLong.size(); at += piece)
            EXPECT_TRUE(reader.Feed(tooLong.data() + at, std::min(piece, tooLong.size() - at)))
                << "at " << at;
        EXPECT_EQ(sink.events, want);
    }
}

TEST(ResponseReaderTest, HeaderCapStopsTheReader) {
    Recorder sink;
    THttpResponseReader reader(sink, 20);
    reader.StartHeader();
    const std::string input = "12345\n1234567890\n12345\nx\nafter\n";
    EXPECT_TRUE(reader.Feed(input.data(), input.size()));
    EXPECT_EQ(sink.events, (std::vector<std::string>{"begin", "line:12345", "line:1234567890",
                                                     "line:12345", "too-large"}));
    EXPECT_EQ(reader.Mode(), THttpResponseReader::TMode::Idle);
    reader.Feed("late\n", 5);
    EXPECT_EQ(sink.events.back(), "other:late");

    // Interim answers count towards the cap: a server that sends them without end is cut off.
    Recorder flood;
    THttpResponseReader floodReader(flood, 64);
    floodReader.StartHeader();
    std::string interim;
    for (int i = 0; i < 10; ++i)
        interim += "HTTP/1.1 100 Continue\r\n\r\n";
    EXPECT_TRUE(floodReader.Feed(interim.data(), interim.size()));
    EXPECT_EQ(flood.events.back(), "too-large");
    EXPECT_EQ(floodReader.Mode(), THttpResponseReader::TMode::Idle);
}

TEST(ResponseReaderTest, RestartFromHeaderEndDropsHeldBytes) {
    // A relocating receiver closes the connection at the end of the header and waits for the
    // next answer: the rest of the first answer must not leak into it.
    Recorder sink;
    THttpResponseReader reader(sink);
    sink.onEvent = [&](const std::string& e) {
        if (e == "end" && reader.HeaderLineCount() > 0)
            reader.StartHeader();
    };
    reader.StartHeader();
    const std::string first = "HTTP/1.0 302 Found\r\nLocation: /b\r\n\r\n<html>moved</html>";
    reader.Feed(first.data(), first.size());
    EXPECT_EQ(reader.Mode(), THttpResponseReader::TMode::Header);
    EXPECT_EQ(reader.Held(), 0u);
    sink.onEvent = nullptr;
    reader.Feed("HTTP/1.0 200 OK\r\n\r\n", 19);
    EXPECT_EQ(sink.events,
              (std::vector<std::string>{"begin", "line:HTTP/1.0 302 Found", "line:Location: /b",
                                        "end", "begin", "line:HTTP/1.0 200 OK", "end"}));
}

TEST(ResponseReaderTest, StopFromLineHandlerEndsTheResponse) {
    Recorder sink;
    THttpResponseReader reader(sink);
    sink.onEvent = [&](const std::string& e) {
        if (e.rfind("line:HTTP", 0) == 0)
            reader.Stop();
    };
    reader.StartHeader();
    const std::string input = "HTTP/1.0 500 Oops\r\nServer: x\r\n\r\nbody";
    reader.Feed(input.data(), input.size());
    EXPECT_EQ(sink.events, (std::vector<std::string>{"begin", "line:HTTP/1.0 500 Oops"}));
    EXPECT_EQ(reader.Held(), 0u);
}

TEST(ResponseReaderTest, IdleReaderPassesLinesAsOtherLines) {
    Recorder sink;
    THttpResponseReader reader(sink);
    reader.Feed("a\r\nb\nc", 6);
    EXPECT_EQ(sink.events, (std::vector<std::string>{"other:a", "other:b"}));
    EXPECT_EQ(reader.Held(), 1u);
}

struct ClassifyCase {
    const char* line;
    THttpHeaderLine::TKind kind;
    std::optional<int> code;
    const char* reason;
    const char* name;
    const char* value;
};

TEST(ClassifyHeaderLineTest, StatusLinesAndFields) {
    using K = THttpHeaderLine::TKind;
    const ClassifyCase cases[] = {
        {"HTTP/1.1 200 OK", K::Status, 200, "OK", "", ""},
        {"HTTP/1.0 404 Not Found", K::Status, 404, "Not Found", "", ""},
        {"HTTP/1.1 200", K::Status, 200, "", "", ""},
        {"HTTP/1.1 20", K::Status, 20, "", "", ""},
        {"HTTP/1.1 abc Broken", K::Status, std::nullopt, "Broken", "", ""},
        {"HTTP/1.1 ", K::Status, std::nullopt, "", "", ""},
        {"HTTP/1.0", K::Status, std::nullopt, "", "", ""},
        {"HTTP/2 200 OK", K::Other, std::nullopt, "", "", ""},
        {"http/1.1 200 OK", K::Other, std::nullopt, "", "", ""},
        {"HTTP/1.2 200 OK: fine", K::Field, std::nullopt, "", "http/1.2 200 ok", "fine"},
        {"Content-Type:   Text/HTML; Charset=X  ", K::Field, std::nullopt, "", "content-type",
         "Text/HTML; Charset=X  "},
        {"X-Odd:a:b", K::Field, std::nullopt, "", "x-odd", "a:b"},
        {": v", K::Field, std::nullopt, "", "", "v"},
        {"Location:", K::Field, std::nullopt, "", "location", ""},
        {"no colon here", K::Other, std::nullopt, "", "", ""},
    };
    for (const ClassifyCase& c : cases) {
        const THttpHeaderLine got = http::ClassifyHeaderLine(c.line);
        EXPECT_EQ(got.Kind, c.kind) << c.line;
        EXPECT_EQ(got.StatusCode, c.code) << c.line;
        EXPECT_EQ(got.ReasonPhrase, c.reason) << c.line;
        EXPECT_EQ(got.Name, c.name) << c.line;
        EXPECT_EQ(got.Value, c.value) << c.line;
    }
}

TEST(HeaderValueTest, IntegersAndRanges) {
    const std::pair<const char*, std::optional<std::int64_t>> ints[] = {
        {"1234", 1234},
        {" 42 ", 42},
        {"-1", -1},
        {"+5", 5},
        {"12a", std::nullopt},
        {"", std::nullopt},
        {"-", std::nullopt},
        {"99999999999999999999", std::nullopt},
        {"5000000000", 5000000000}};
    for (const auto& [text, want] : ints)
        EXPECT_EQ(http::ParseHeaderInteger(text), want) << text;

    const std::tuple<const char*, const char*, const char*> ranges[] = {
        {"bytes 100-199/1000", "100", "199"},
        {"bytes 0-0/1", "0", "0"},
        {"bytes */1000", "", ""},
        {"bytes 5-", "5", ""},
        {"x", "", ""}};
    for (const auto& [text, first, last] : ranges) {
        const http::TContentRange got = http::ParseContentRange(text);
        EXPECT_EQ(got.First, first) << text;
        EXPECT_EQ(got.Last, last) << text;
    }
}

}  // namespace
