// Shortcut files as the programs that write them leave them: Windows' Internet shortcuts from
// the browsers of each era and encoding, and the link files of a Linux desktop. Shared by the
// reader's table, the headless program's run and the window's tests.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace testsupport {

struct TWriterShortcut {
    std::string What;  // who writes such a file
    std::string File;  // its name
    std::string Bytes;
    std::optional<std::string> Address;  // what the row shows and the check asks for; none: no row
    bool CountedAsSkipped = false;       // a shortcut without address, which the scan reports
};

// The files; each address they name lies below base ("http://127.0.0.1:8080", say), and
// addresses that a file names but opening it would not visit lie there too ("/caf?", "/app").
std::vector<TWriterShortcut> WriterShortcuts(const std::string& base);

}  // namespace testsupport
