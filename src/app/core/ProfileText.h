// The text of a Windows profile (INI) file as the profile functions see it, whatever the
// writer's encoding, and the UTF-7 that Windows stores for non-ASCII values.
#pragma once

#include <string>
#include <string_view>

// The file's bytes as UTF-8 text: a UTF-8 byte-order mark is dropped, a file that begins with
// a UTF-16 byte-order mark (little or big endian) is decoded from UTF-16, and any other file
// is taken as it is (bytes in the file's own code page stay as they are). Broken UTF-16 (a lone
// surrogate) becomes U+FFFD; an odd last byte is dropped. The text is a view into bytes, or
// into decoded when it had to be decoded.
std::string_view ProfileText(std::string_view bytes, std::string& decoded);

// A UTF-7 text (RFC 2152) as UTF-8: "+AOk-" is "é", "+-" is "+", everything else stays.
// Lenient as Windows is: a shift that ends early loses only its unfinished bits.
std::string DecodeUtf7(std::string_view text);
