#include "app/core/ShortcutAddress.h"

#include <gtest/gtest.h>

TEST(ShortcutAddress, OnlyWebAddressesMayBeVisited) {
    for (const char* web : {"http://a.example/", "HTTPS://a.example", "ftp://files.example/x"})
        EXPECT_TRUE(IsWebAddress(web)) << web;
    for (const char* other : {"file:///usr/bin/xterm", "javascript:alert(1)", "/etc/passwd",
                              "www.example.com", "http:relative", "", "mailto:a@b.example"})
        EXPECT_FALSE(IsWebAddress(other)) << other;
}
