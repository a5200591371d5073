// The date text that a check writes into a row for an answer's "Last-Modified:" header line:
// year/month/day; time, cut from the fixed positions of the RFC 1123 layout, unvalidated.
#pragma once

#include <string>
#include <string_view>

// Position 1 to 12 of a month abbreviation ("Jan" .. "Dec", ASCII letters without case);
// 1 for anything else.
int MonthIndex(std::string_view month);
// Puts "0" in front while the text is shorter than two characters.
std::string PadTwo(std::string text);
// Converts a whole header line such as "Last-Modified: Wed, 09 Oct 2002 10:10:10 GMT" into
// "2002/10/09; 10:10:10 GMT". A line shorter than that layout converts from the characters it
// has; missing ones are simply absent.
std::string LastModifiedDateText(std::string_view line);
