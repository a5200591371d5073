// Reading Internet shortcut files: only the line that begins with "BASEURL=" is used.
#pragma once

#include <optional>
#include <string>
#include <string_view>

// The address of a shortcut file: the rest of its first line that begins, upper-cased, with
// "BASEURL=", bytes as stored. Nothing when no line counts or the file cannot be read (not a
// regular file, no access); an empty text when the first such line has no address.
std::optional<std::string> ReadBaseURL(const std::string& path);
// The same for a folder entry already known to be a regular file: a link put in its place
// meanwhile is not followed, so that no device is read endlessly, and no fstat is needed.
std::optional<std::string> ReadBaseURLOfRegularEntry(const std::string& path);
// True when the name's extension (from its last ".") is ".URL" in any letter case.
bool HasUrlExtension(std::string_view name);
