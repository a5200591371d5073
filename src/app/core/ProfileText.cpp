#include "ProfileText.h"

#include <cstdint>

namespace {

constexpr char32_t kReplacement = 0xFFFD;

void AppendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

bool IsHighSurrogate(char16_t unit) {
    return unit >= 0xD800 && unit <= 0xDBFF;
}

bool IsLowSurrogate(char16_t unit) {
    return unit >= 0xDC00 && unit <= 0xDFFF;
}

// Turns UTF-16 code units into UTF-8, pairing surrogates; a unit that cannot pair is U+FFFD.
class TUtf16Sink {
  public:
    explicit TUtf16Sink(std::string& out) : out_(out) {}
    ~TUtf16Sink() { Flush(); }
    TUtf16Sink(const TUtf16Sink&) = delete;
    TUtf16Sink& operator=(const TUtf16Sink&) = delete;

    void Put(char16_t unit) {
        if (high_ != 0 && IsLowSurrogate(unit)) {
            AppendUtf8(out_, 0x10000 + ((char32_t(high_) - 0xD800) << 10) + (unit - 0xDC00));
            high_ = 0;
            return;
        }
        Flush();
        if (IsHighSurrogate(unit))
            high_ = unit;
        else
            AppendUtf8(out_, IsLowSurrogate(unit) ? kReplacement : unit);
    }
    void Flush() {
        if (high_ != 0)
            AppendUtf8(out_, kReplacement);
        high_ = 0;
    }

  private:
    std::string& out_;
    char16_t high_ = 0;
};

std::string FromUtf16(std::string_view bytes, bool bigEndian) {
    std::string out;
    out.reserve(bytes.size() / 2);
    {
        TUtf16Sink sink(out);
        for (std::size_t at = 0; at + 1 < bytes.size(); at += 2) {
            auto first = static_cast<unsigned char>(bytes[at]);
            auto second = static_cast<unsigned char>(bytes[at + 1]);
            sink.Put(static_cast<char16_t>(bigEndian ? first << 8 | second : second << 8 | first));
        }
    }
    return out;
}

int Base64Value(char c) {
    if (c >= 'A' && c <= 'Z')
        return c - 'A';
    if (c >= 'a' && c <= 'z')
        return c - 'a' + 26;
    if (c >= '0' && c <= '9')
        return c - '0' + 52;
    if (c == '+')
        return 62;
    if (c == '/')
        return 63;
    return -1;
}

}  // namespace

std::string_view ProfileText(std::string_view bytes, std::string& decoded) {
    if (bytes.starts_with("\xEF\xBB\xBF"))
        return bytes.substr(3);
    if (bytes.starts_with("\xFF\xFE") || bytes.starts_with("\xFE\xFF")) {
        decoded = FromUtf16(bytes.substr(2), bytes[0] == '\xFE');
        return decoded;
    }
    return bytes;
}

std::string DecodeUtf7(std::string_view text) {
    std::string out;
    TUtf16Sink sink(out);
    for (std::size_t at = 0; at < text.size();) {
        char c = text[at++];
        if (c != '+') {
            sink.Put(static_cast<unsigned char>(c));
            continue;
        }
        if (at < text.size() && text[at] == '-') {  // "+-" is a plus sign
            sink.Put(u'+');
            ++at;
            continue;
        }
        std::uint32_t bits = 0;
        int count = 0;
        for (int value; at < text.size() && (value = Base64Value(text[at])) >= 0; ++at) {
            bits = (bits << 6 | static_cast<std::uint32_t>(value)) & 0x3FFFFF;
            if ((count += 6) >= 16) {
                count -= 16;
                sink.Put(static_cast<char16_t>(bits >> count));
            }
        }
        if (at < text.size() && text[at] == '-')  // the shift's end mark is not text
            ++at;
    }
    sink.Flush();
    return out;
}
