#include "NameOrder.h"

#include <algorithm>
#include <clocale>
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

std::size_t RunEnd(const std::wstring& text, std::size_t at, bool digits) {
    while (at < text.size() && IsDigit(text[at]) == digits)
        ++at;
    return at;
}

// Two runs of digits as numbers: leading zeros aside, the longer is the larger.
int CompareNumbers(std::wstring_view a, std::wstring_view b) {
    auto significant = [](std::wstring_view digits) {
        std::size_t first = digits.find_first_not_of(L'0');
        return first == std::wstring_view::npos ? std::wstring_view() : digits.substr(first);
    };
    a = significant(a);
    b = significant(b);
    if (a.size() != b.size())
        return a.size() < b.size() ? -1 : 1;
    return a.compare(b);
}

int CompareTexts(std::wstring_view a, std::wstring_view b, bool codePoints) {
    if (codePoints)
        return a.compare(b);
    return std::wcscoll(std::wstring(a).c_str(), std::wstring(b).c_str());
}

}  // namespace

TNameKey::TNameKey(std::string_view name) {
    folded_.reserve(name.size());
    for (std::size_t at = 0; at < name.size();)
        folded_ += static_cast<wchar_t>(std::towlower(static_cast<wint_t>(NextChar(name, at))));
}

bool TNameKey::CodePointCollation() {
    const char* name = std::setlocale(LC_COLLATE, nullptr);
    std::string_view collation = name ? name : "C";
    return collation == "C" || collation == "POSIX" || collation.starts_with("C.");
}

int TNameKey::Compare(const TNameKey& a, const TNameKey& b) {
    return Compare(a, b, CodePointCollation());
}

// Run by run: digits before letters (as in the file manager), numbers by value, text by the
// collation.
int TNameKey::Compare(const TNameKey& a, const TNameKey& b, bool codePoints) {
    const std::wstring& x = a.folded_;
    const std::wstring& y = b.folded_;
    std::size_t i = 0, j = 0;
    while (i < x.size() && j < y.size()) {
        bool digits = IsDigit(x[i]);
        if (digits != IsDigit(y[j]))
            return digits ? -1 : 1;
        std::size_t xEnd = RunEnd(x, i, digits), yEnd = RunEnd(y, j, digits);
        std::wstring_view xRun(x.data() + i, xEnd - i), yRun(y.data() + j, yEnd - j);
        int order = digits ? CompareNumbers(xRun, yRun) : CompareTexts(xRun, yRun, codePoints);
        if (order != 0)
            return order;
        i = xEnd;
        j = yEnd;
    }
    return (i < x.size()) - (j < y.size());
}
