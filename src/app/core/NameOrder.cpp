#include "NameOrder.h"

#include <algorithm>
#include <cwchar>
#include <cwctype>

namespace {

bool IsDigit(wchar_t c) {
    return c >= L'0' && c <= L'9';
}

// One character of UTF-8 at text[at], which moves past it. A byte that starts no valid
// character stands for itself in the range U+DC80..U+DCFF, so every name has a key.
wchar_t NextChar(std::string_view text, std::size_t& at) {
    auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    unsigned char lead = byte(at);
    int length = lead < 0x80                   ? 1
                 : lead >= 0xF0 && lead < 0xF5 ? 4
                 : lead >= 0xE0                ? 3
                 : lead >= 0xC2 && lead < 0xE0 ? 2
                                               : 0;
    if (length == 1 || length == 0 || at + length > text.size()) {
        ++at;
        return length == 1 ? lead : static_cast<wchar_t>(0xDC00 + lead);
    }
    char32_t c = lead & (0x7F >> length);
    for (int i = 1; i < length; ++i) {
        if ((byte(at + i) & 0xC0) != 0x80) {
            ++at;
            return static_cast<wchar_t>(0xDC00 + lead);
        }
        c = c << 6 | (byte(at + i) & 0x3F);
    }
    at += length;
    return static_cast<wchar_t>(c);
}

int CompareNumbers(const std::wstring& a, const std::wstring& b) {
    if (a.size() != b.size())
        return a.size() < b.size() ? -1 : 1;
    return a.compare(b);
}

}  // namespace

TNameKey::TNameKey(std::string_view name) {
    for (std::size_t at = 0; at < name.size();) {
        wchar_t c = NextChar(name, at);
        bool number = IsDigit(c);
        if (chunks_.empty() || chunks_.back().Number != number)
            chunks_.push_back({number, {}});
        std::wstring& text = chunks_.back().Text;
        if (number && c == L'0' && text.empty())
            continue;  // leading zeros do not count
        text += number ? c : static_cast<wchar_t>(std::towlower(static_cast<wint_t>(c)));
    }
}

int TNameKey::Compare(const TNameKey& a, const TNameKey& b) {
    std::size_t common = std::min(a.chunks_.size(), b.chunks_.size());
    for (std::size_t i = 0; i < common; ++i) {
        const TChunk& x = a.chunks_[i];
        const TChunk& y = b.chunks_[i];
        if (x.Number != y.Number)
            return x.Number ? -1 : 1;  // digits come before letters, as in the file manager
        int order = x.Number ? CompareNumbers(x.Text, y.Text)
                             : std::wcscoll(x.Text.c_str(), y.Text.c_str());
        if (order != 0)
            return order;
    }
    return static_cast<int>(a.chunks_.size()) - static_cast<int>(b.chunks_.size());
}
