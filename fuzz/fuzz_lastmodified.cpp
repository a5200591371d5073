// Feeds arbitrary bytes as the value of a Last-Modified line to the date conversion, which cuts
// the line at fixed positions without checking it: whatever a server sends, the text it gives
// is built from the line's own bytes and the month table, and never reaches past the line.
#include <cstdint>
#include <string>
#include <string_view>

#include "app/core/LastModified.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string value(reinterpret_cast<const char*>(data), size);
    const std::string line = "Last-Modified: " + value;
    const std::string text = LastModifiedDateText(line);
    // The date text takes at most year, month, day, the separators and the time part.
    if (text.size() > line.size() + 8)
        __builtin_trap();
    const int month = MonthIndex(value.substr(0, 3));
    if (month < 1 || month > 12)
        __builtin_trap();
    if (PadTwo(value).size() < 2 && value.size() >= 2)
        __builtin_trap();
    return 0;
}
