// The receiving half of the HTTP client as pure pieces: the receive buffer that cuts lines in
// place, the reader that turns received bytes into header lines and body data, and the
// interpretation of a single header line. Nothing here touches a socket, so every piece can be
// fed whole, byte by byte or in arbitrary pieces.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace http {

// Up to 8192 received bytes. Lines are cut from the front; the room behind the held bytes is
// where the next read goes.
class THttpReceiveBuffer {
  public:
    static constexpr std::size_t kCapacity = 8192;

    std::size_t Held() const { return end_ - begin_; }
    bool Full() const { return Held() == kCapacity; }
    std::string_view HeldData() const { return {data_ + begin_, Held()}; }

    // The free room behind the held bytes (moved to the front first, so it is as large as it
    // can be) and the number of bytes that were read into it.
    char* FreeSpace();
    std::size_t FreeCount() const { return kCapacity - Held(); }
    void Commit(std::size_t count);

    // Length of the first complete line including its LF, 0 when no LF is held yet.
    std::size_t FirstLineLength() const;
    // Drops count bytes from the front.
    void Consume(std::size_t count);
    // Overwrites the held byte at position at (0 = the front).
    void Replace(std::size_t at, char c);
    void Clear() { begin_ = end_ = 0; }

  private:
    char data_[kCapacity];
    std::size_t begin_ = 0;
    std::size_t end_ = 0;
};

// What the reader hands on. The receiver may stop or restart the reader from inside any of
// these calls; the reader then drops whatever it still held.
class IHttpResponseSink {
  public:
    virtual ~IHttpResponseSink() = default;
    // Before the first line of a response.
    virtual void ResponseHeaderBegin() {}
    // A non-empty header line, without its line end.
    virtual void ResponseHeaderLine(std::string line) = 0;
    // An interim answer (100 Continue, 103 Early Hints) has ended at its empty line; the header
    // of the next answer follows. Its lines came through ResponseHeaderLine like any other.
    virtual void ResponseInterimEnd() {}
    // The header has ended: at the empty line, or at a line beginning "<HTML>" (any case) when
    // the server sent a document without a header (withoutHeader). Body data follows.
    virtual void ResponseHeaderEnd(bool withoutHeader) = 0;
    // The header lines together would pass the cap: the reader has stopped.
    virtual void ResponseHeaderTooLarge() {}
    // A piece of document data, in the pieces in which it arrived.
    virtual void ResponseBodyData(const char* data, std::size_t len) = 0;
    // A line received while the reader expects no response.
    virtual void ResponseOtherLine(const std::string&) {}
};

// Cuts received bytes into header lines (LF or CR LF ends a line) and then passes body bytes
// on unchanged, piece by piece. Interim answers (a status of 1xx other than 101) before the
// final one are passed on line by line and read past: only the final answer's header end
// starts the body. The header cap counts the lines of all of them.
class THttpResponseReader {
  public:
    enum class TMode { Idle, Header, Body };
    static constexpr std::size_t kDefaultHeaderCap = 1024 * 1024;

    explicit THttpResponseReader(IHttpResponseSink& sink,
                                 std::size_t headerCap = kDefaultHeaderCap);

    // Expect a new response: header lines first. Drops held bytes and resets the counters.
    void StartHeader();
    // Expect nothing: drops held bytes and resets the counters; lines still received go to
    // ResponseOtherLine.
    void Stop();

    TMode Mode() const { return mode_; }
    int HeaderLineCount() const { return headerLines_; }
    std::size_t Held() const { return buffer_.Held(); }
    // True while the lines handed on belong to an interim answer (from its status line on).
    bool InInterimAnswer() const { return interim_; }

    // Reading straight into the buffer. A line longer than the buffer is cut to its first
    // 8191 bytes and the rest of it dropped, so the buffer never stays full.
    bool Full() const { return buffer_.Full(); }
    char* FreeSpace() { return buffer_.FreeSpace(); }
    std::size_t FreeCount() const { return buffer_.FreeCount(); }
    // count bytes were read into FreeSpace(): hand on what is complete.
    void Received(std::size_t count);

    // Copies data in through the buffer, as reads of at most FreeCount() bytes would. False
    // when the buffer filled up with an unfinished line and the rest could not be taken.
    bool Feed(const char* data, std::size_t len);

  private:
    void ProcessHeld();
    void DeliverHeldAsBody();
    // One complete line of lineLength bytes (LF included) at the front of the buffer.
    void HandleHeaderLine(std::size_t lineLength);
    void Reset(TMode mode);
    // Drops bytes up to the end of a line that was cut; true when bytes are left behind it.
    bool SkipRestOfLine();
    std::size_t CutOverlongLine();
    bool Interrupted(std::uint64_t generation) const { return generation != generation_; }

    IHttpResponseSink& sink_;
    const std::size_t headerCap_;
    THttpReceiveBuffer buffer_;
    TMode mode_ = TMode::Idle;
    int headerLines_ = 0;
    std::size_t headerBytes_ = 0;
    bool skippingRest_ = false;   // a cut line's rest is still arriving
    bool answerStarted_ = false;  // the current answer's first line has come
    bool interim_ = false;        // the current answer is an interim one
    // Bumped whenever the reader is restarted or stopped, so that a loop that called out can
    // tell that its remaining bytes are no longer wanted.
    std::uint64_t generation_ = 0;
};

// One header line, interpreted.
struct THttpHeaderLine {
    enum class TKind { Status, Field, Other };
    TKind Kind = TKind::Other;
    // Status lines: the code (nullopt when characters 10 to 12 are not a number) and the text
    // from character 14 on.
    std::optional<int> StatusCode;
    std::string_view ReasonPhrase;  // a view into the classified line
    // Fields: the name before the first colon, lower-cased, and the value after it with the
    // leading blanks skipped (trailing blanks kept; a view into the classified line).
    std::string Name;
    std::string_view Value;
};

// A line beginning exactly "HTTP/1.0" or "HTTP/1.1" is a status line; any other line with a
// colon is a field; the rest is kept but means nothing.
THttpHeaderLine ClassifyHeaderLine(std::string_view line);

// A status line of an interim answer: 1xx, but not 101 (a switch of protocol is final).
bool IsInterimStatusLine(std::string_view line);

// The decimal value of a header such as content-length (surrounding blanks allowed); nullopt
// when it is not a number that fits.
std::optional<std::int64_t> ParseHeaderInteger(std::string_view value);

// "bytes 100-199/1000" gives first "100" and last "199".
struct TContentRange {
    std::string First;
    std::string Last;
};
TContentRange ParseContentRange(std::string_view value);

}  // namespace http
