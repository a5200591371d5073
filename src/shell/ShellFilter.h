// The browser's wildcard filter: "*" takes any run of characters (none included), "?" one
// character, every other character must be equal after upper-casing the ASCII letters.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace shell {

// Follows the recursive rule exactly, in time proportional to name length times pattern
// length: "*" as the whole rest of a pattern matches anything, even a used-up name; other
// pattern rests against a used-up name match only when they are used up too.
bool MatchPattern(std::string_view name, std::string_view pattern);

// The patterns of a filter text: an empty text is "*;"; a ";" is added at the end when
// missing; the text is cut at every ";", pieces kept as written (empty ones too).
std::vector<std::string> SplitFilter(std::string_view text);
// The patterns joined with ";" between them.
std::string JoinFilter(const std::vector<std::string>& patterns);

}  // namespace shell
