#include "HttpResponse.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <utility>

#include "HttpUrl.h"
#include "sys/AsciiText.h"

namespace http {

char* THttpReceiveBuffer::FreeSpace() {
    if (begin_ > 0) {
        std::memmove(data_, data_ + begin_, Held());
        end_ -= begin_;
        begin_ = 0;
    }
    return data_ + end_;
}

void THttpReceiveBuffer::Commit(std::size_t count) {
    end_ += std::min(count, kCapacity - end_);
}

std::size_t THttpReceiveBuffer::FirstLineLength() const {
    const void* lf = std::memchr(data_ + begin_, '\n', Held());
    return lf ? static_cast<const char*>(lf) - (data_ + begin_) + 1 : 0;
}

void THttpReceiveBuffer::Replace(std::size_t at, char c) {
    if (at < Held())
        data_[begin_ + at] = c;
}

void THttpReceiveBuffer::Consume(std::size_t count) {
    begin_ += std::min(count, Held());
    if (begin_ == end_)
        begin_ = end_ = 0;
}

THttpResponseReader::THttpResponseReader(IHttpResponseSink& sink, std::size_t headerCap)
    : sink_(sink), headerCap_(headerCap) {}

void THttpResponseReader::Reset(TMode mode) {
    ++generation_;
    skippingRest_ = false;
    mode_ = mode;
    buffer_.Clear();
    headerLines_ = 0;
    headerBytes_ = 0;
    answerStarted_ = false;
    interim_ = false;
}

void THttpResponseReader::StartHeader() {
    Reset(TMode::Header);
}

void THttpResponseReader::Stop() {
    Reset(TMode::Idle);
}

void THttpResponseReader::Received(std::size_t count) {
    if (count == 0)
        return;
    buffer_.Commit(count);
    ProcessHeld();
}

bool THttpResponseReader::Feed(const char* data, std::size_t len) {
    while (len > 0) {
        if (buffer_.Full())
            return false;
        const std::size_t n = std::min(len, buffer_.FreeCount());
        std::memcpy(buffer_.FreeSpace(), data, n);
        Received(n);
        data += n;
        len -= n;
    }
    return true;
}

void THttpResponseReader::DeliverHeldAsBody() {
    if (buffer_.Held() == 0)
        return;
    // Copied out first: the receiver may restart the reader, which reuses the buffer.
    const std::string piece(buffer_.HeldData());
    buffer_.Clear();
    sink_.ResponseBodyData(piece.data(), piece.size());
}

void THttpResponseReader::ProcessHeld() {
    const std::uint64_t generation = generation_;
    while (buffer_.Held() > 0 && !Interrupted(generation)) {
        if (mode_ == TMode::Body) {
            DeliverHeldAsBody();
            return;
        }
        if (skippingRest_ && !SkipRestOfLine())
            return;
        std::size_t lineLength = buffer_.FirstLineLength();
        if (lineLength == 0) {
            if (!buffer_.Full())
                return;  // wait for the rest of the line
            // A line longer than the buffer is cut: what the buffer holds counts as the line,
            // the rest of it is dropped as it arrives.
            lineLength = CutOverlongLine();
        }
        if (mode_ == TMode::Header) {
            HandleHeaderLine(lineLength);
            continue;
        }
        std::string_view raw = buffer_.HeldData().substr(0, lineLength - 1);
        if (!raw.empty() && raw.back() == '\r')
            raw.remove_suffix(1);
        const std::string line(raw);
        buffer_.Consume(lineLength);
        sink_.ResponseOtherLine(line);
    }
}

bool THttpResponseReader::SkipRestOfLine() {
    const std::size_t lineLength = buffer_.FirstLineLength();
    if (lineLength == 0) {
        buffer_.Clear();
        return false;
    }
    buffer_.Consume(lineLength);
    skippingRest_ = false;
    return buffer_.Held() > 0;
}

std::size_t THttpResponseReader::CutOverlongLine() {
    // The last byte is given up for the line end, so that the line is handled like any other.
    buffer_.Replace(buffer_.Held() - 1, '\n');
    skippingRest_ = true;
    return buffer_.Held();
}

void THttpResponseReader::HandleHeaderLine(std::size_t lineLength) {
    const std::uint64_t generation = generation_;
    std::string_view raw = buffer_.HeldData().substr(0, lineLength - 1);
    if (!raw.empty() && raw.back() == '\r')
        raw.remove_suffix(1);
    if (headerLines_++ == 0) {
        sink_.ResponseHeaderBegin();
        if (Interrupted(generation))
            return;
    }
    if (raw.size() >= 6 && UpperAscii(raw.substr(0, 6)) == "<HTML>") {
        // A document without a header: it starts with this line, which stays in the buffer
        // with its line end so that the document reaches the receiver byte for byte.
        mode_ = TMode::Body;
        sink_.ResponseHeaderEnd(true);
        if (!Interrupted(generation))
            DeliverHeldAsBody();
        return;
    }
    std::string line(raw);
    buffer_.Consume(lineLength);
    if (line.empty() && interim_) {
        // An interim answer is over; the answer that decides follows on the same connection.
        interim_ = false;
        answerStarted_ = false;
        sink_.ResponseInterimEnd();
        return;
    }
    if (line.empty()) {
        mode_ = TMode::Body;
        sink_.ResponseHeaderEnd(false);
        if (!Interrupted(generation))
            DeliverHeldAsBody();
        return;
    }
    if (line.size() > headerCap_ - std::min(headerCap_, headerBytes_)) {
        Stop();
        sink_.ResponseHeaderTooLarge();
        return;
    }
    headerBytes_ += line.size();
    if (!answerStarted_) {
        answerStarted_ = true;
        interim_ = IsInterimStatusLine(line);
    }
    sink_.ResponseHeaderLine(std::move(line));
}

THttpHeaderLine ClassifyHeaderLine(std::string_view line) {
    THttpHeaderLine result;
    const std::string_view version = line.substr(0, 8);
    if (version == "HTTP/1.0" || version == "HTTP/1.1") {
        result.Kind = THttpHeaderLine::TKind::Status;
        const std::string_view code = line.size() > 9 ? line.substr(9, 3) : std::string_view();
        const bool numeric = !code.empty() && std::all_of(code.begin(), code.end(), [](char c) {
            return c >= '0' && c <= '9';
        });
        if (numeric) {
            int value = 0;
            for (char c : code)
                value = value * 10 + (c - '0');
            result.StatusCode = value;
        }
        if (line.size() > 13)
            result.ReasonPhrase = line.substr(13);
        return result;
    }
    const auto colon = line.find(':');
    if (colon == std::string_view::npos)
        return result;
    result.Kind = THttpHeaderLine::TKind::Field;
    result.Name = LowerAscii(line.substr(0, colon));
    std::string_view value = line.substr(colon + 1);
    value.remove_prefix(std::min(value.size(), value.find_first_not_of(' ')));
    result.Value = value;
    return result;
}

bool IsInterimStatusLine(std::string_view line) {
    const THttpHeaderLine header = ClassifyHeaderLine(line);
    return header.Kind == THttpHeaderLine::TKind::Status && header.StatusCode &&
           *header.StatusCode >= 100 && *header.StatusCode < 200 && *header.StatusCode != 101;
}

std::optional<std::int64_t> ParseHeaderInteger(std::string_view value) {
    value = sys::TrimmedView(value);
    if (value.empty())
        return std::nullopt;
    bool negative = false;
    if (value.front() == '-' || value.front() == '+') {
        negative = value.front() == '-';
        value.remove_prefix(1);
    }
    if (value.empty())
        return std::nullopt;
    std::int64_t n = 0;
    for (char c : value) {
        if (c < '0' || c > '9' || n > (std::numeric_limits<std::int64_t>::max() - 9) / 10)
            return std::nullopt;
        n = n * 10 + (c - '0');
    }
    return negative ? -n : n;
}

TContentRange ParseContentRange(std::string_view value) {
    TContentRange range;
    const auto dash = value.find('-');
    if (dash == std::string_view::npos)
        return range;
    if (dash > 6)
        range.First = value.substr(6, dash - 6);
    const auto slash = value.find('/');
    if (slash != std::string_view::npos && slash > dash)
        range.Last = value.substr(dash + 1, slash - dash - 1);
    return range;
}

}  // namespace http
