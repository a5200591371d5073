#include "LastModified.h"

#include <array>

#include "sys/AsciiText.h"

namespace {

using sys::UpperAscii;

constexpr std::array<std::string_view, 12> MonthNames = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

bool EqualIgnoringAsciiCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (UpperAscii(a[i]) != UpperAscii(b[i]))
            return false;
    return true;
}

// Characters first..first+count-1 (1-based) of text, or those of them that exist.
std::string_view Chars(std::string_view text, std::size_t first, std::size_t count) {
    if (first > text.size())
        return {};
    return text.substr(first - 1, count);
}

}  // namespace

int MonthIndex(std::string_view month) {
    for (std::size_t i = 0; i < MonthNames.size(); ++i)
        if (EqualIgnoringAsciiCase(month, MonthNames[i]))
            return static_cast<int>(i) + 1;
    return 1;
}

std::string PadTwo(std::string text) {
    while (text.size() < 2)
        text.insert(text.begin(), '0');
    return text;
}

std::string LastModifiedDateText(std::string_view line) {
    // "Last-Modified:", a blank, then weekday, comma and blank: 20 characters before the day.
    std::string_view date = Chars(line, 21, std::string_view::npos);
    std::string_view time = Chars(date, 12, std::string_view::npos);
    std::string text;
    text.reserve(11 + time.size());  // "yyyy/mm/dd;" and the time: one allocation
    text += Chars(date, 8, 4);
    text += '/';
    text += PadTwo(std::to_string(MonthIndex(Chars(date, 4, 3))));
    text += '/';
    text += Chars(date, 1, 2);
    text += ';';
    text += time;
    return text;
}
