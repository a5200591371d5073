#include "WriterShortcuts.h"

namespace testsupport {

namespace {

// ASCII text as UTF-16 with its byte-order mark.
std::string Utf16(const std::string& text, bool bigEndian) {
    std::string out = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
    for (char c : text) {
        out += bigEndian ? '\0' : c;
        out += bigEndian ? c : '\0';
    }
    return out;
}

}  // namespace

std::vector<TWriterShortcut> WriterShortcuts(const std::string& base) {
    const std::string windowsLayout =
        "[{000214A0-0000-0000-C000-000000000046}]\r\nProp3=19,11\r\n[InternetShortcut]\r\n"
        "IDList=\r\nURL=" +
        base +
        "/edge\r\nIconIndex=13\r\nHotKey=0\r\n"
        "IconFile=C:\\Program Files (x86)\\Microsoft\\Edge\\Application\\msedge.exe\r\n";
    const std::string plain = "[InternetShortcut]\r\nURL=" + base + "/utf16\r\n";
    return {
        {"Edge, Windows layout", "Edge.url", windowsLayout, base + "/edge"},
        {"Chrome, URL= alone", "Chrome.url", "[InternetShortcut]\r\nURL=" + base + "/chrome\r\n",
         base + "/chrome"},
        {"UTF-8 byte-order mark, LF lines", "Firefox.url",
         "\xEF\xBB\xBF[InternetShortcut]\nURL=" + base + "/firefox\n", base + "/firefox"},
        {"lone CR lines", "Mac.url", "[InternetShortcut]\rURL=" + base + "/mac\r", base + "/mac"},
        {"UTF-16 LE with byte-order mark", "Utf16le.url", Utf16(plain, false), base + "/utf16"},
        {"UTF-16 BE with byte-order mark", "Utf16be.url", Utf16(plain, true), base + "/utf16"},
        {"non-ASCII address in the .W section as UTF-7", "Cafe.url",
         "[InternetShortcut]\r\nURL=" + base + "/caf?\r\n[InternetShortcut.W]\r\nURL=" + base +
             "/caf+AOk-\r\n",
         base + "/caf\xC3\xA9"},
        {"blanks around key and value, sections in any case", "Blanks.url",
         "[ internetshortcut ]\r\n  url \t=  " + base + "/blanks \t\r\n", base + "/blanks"},
        {"BASEURL= differs from URL=", "Visited.url",
         "[DEFAULT]\r\nBASEURL=" + base + "/old\r\n[InternetShortcut]\r\nURL=" + base +
             "/visited\r\n",
         base + "/visited"},
        {"BASEURL= alone (very old browsers)", "Old.url",
         "[DEFAULT]\r\nBASEURL=" + base + "/old\r\n", base + "/old"},
        {"no address", "Empty.url", "[InternetShortcut]\r\nIconIndex=0\r\nURL=\r\n", std::nullopt,
         true},
        {"Linux desktop link", "Link.desktop",
         "[Desktop Entry]\nEncoding=UTF-8\nName=Link\nName[de]=Verweis\nType=Link\nURL=" + base +
             "/link\nIcon=text-html\n",
         base + "/link"},
        {"Linux desktop link without URL", "Nolink.desktop",
         "[Desktop Entry]\nType=Link\nName=Nolink\n", std::nullopt, true},
        {"Linux application", "Firefox.desktop",
         "[Desktop Entry]\nType=Application\nName=Firefox\nExec=firefox %u\nURL=" + base + "/app\n",
         std::nullopt},
    };
}

}  // namespace testsupport
