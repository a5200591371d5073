// Colours of quorvane-check's text output on a terminal: whether to use them, and which one a
// row's verdict gets.
#pragma once

#include <string_view>

#include "ProgramOptions.h"

// always and never decide alone; auto colours only a terminal, and not when NO_COLOR is set
// to anything but the empty text or the terminal is "dumb". noColor and term are the
// variables' values, nullptr when unset.
bool ColorsWanted(TColorChoice choice, bool terminal, const char* noColor, const char* term);

// The escape sequence that starts a verdict's colour: OK and dates green, FAILED red, BLOCKED
// yellow, SKIPPED grey; empty for a row without a verdict.
std::string_view VerdictColor(std::string_view datum);
inline constexpr std::string_view kColorEnd = "\033[0m";
