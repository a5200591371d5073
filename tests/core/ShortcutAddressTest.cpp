#include "app/core/ShortcutAddress.h"

#include <gtest/gtest.h>

#include "TempDir.h"

TEST(ShortcutAddress, ReadsTheUrlEntryOfTheInternetShortcutSection) {
    struct Case {
        const char* what;
        const char* content;
        const char* address;
    } cases[] = {
        {"plain", "[InternetShortcut]\r\nURL=http://a.example/x?y=1\r\n", "http://a.example/x?y=1"},
        {"section and key in any case, blanks around",
         "[DEFAULT]\nBASEURL=http://base.example/\n[ internetshortcut ]\n  url = http://b.example/ "
         "\n",
         "http://b.example/"},
        {"the section wins over an earlier entry elsewhere",
         "[Other]\nURL=http://other.example/\n[InternetShortcut]\nURL=http://right.example/\n",
         "http://right.example/"},
        {"another section when the shortcut section has none", "[Other]\nURL=http://o.example/\n",
         "http://o.example/"},
        {"BASEURL alone is no address", "[DEFAULT]\nBASEURL=http://base.example/\n", ""},
        {"empty file", "", ""},
    };
    testsupport::TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        auto file = dir.Write("s.url", c.content);
        EXPECT_EQ(ReadShortcutAddress(file.string()), c.address);
    }
    EXPECT_EQ(ReadShortcutAddress((dir.Path() / "missing.url").string()), "");
}

TEST(ShortcutAddress, OnlyWebAddressesMayBeVisited) {
    for (const char* web : {"http://a.example/", "HTTPS://a.example", "ftp://files.example/x"})
        EXPECT_TRUE(IsWebAddress(web)) << web;
    for (const char* other : {"file:///usr/bin/xterm", "javascript:alert(1)", "/etc/passwd",
                              "www.example.com", "http:relative", "", "mailto:a@b.example"})
        EXPECT_FALSE(IsWebAddress(other)) << other;
}
