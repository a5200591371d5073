#include "app/core/ShortcutFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <climits>
#include <filesystem>
#include <optional>
#include <string>

#include "TempDir.h"
#include "WriterShortcuts.h"
#include "app/core/ProfileText.h"
#include "app/core/ShortcutAddress.h"

namespace {

std::string Utf16Le(const std::string& ascii) {
    std::string out = "\xFF\xFE";
    for (char c : ascii)
        out.append({c, '\0'});
    return out;
}

std::optional<std::string> AddressOf(const TShortcut& shortcut) {
    if (shortcut.State != TShortcutState::Address)
        return std::nullopt;
    return shortcut.Address;
}

TEST(ShortcutFile, EveryWriterLeavesTheAddressThatOpeningVisits) {
    testsupport::TempDir dir;
    for (const auto& file : testsupport::WriterShortcuts("http://h.example")) {
        SCOPED_TRACE(file.What);
        const TShortcut fromBytes = ShortcutIn(file.Bytes, ShortcutKindOf(file.File));
        EXPECT_EQ(AddressOf(fromBytes), file.Address);
        EXPECT_EQ(fromBytes.State == TShortcutState::NoAddress, file.CountedAsSkipped);
        const std::string path = dir.Write(file.File, file.Bytes).string();
        EXPECT_EQ(AddressOf(ReadShortcut(path)), file.Address);
        EXPECT_EQ(ReadShortcutAddress(path), file.Address.value_or(""));  // what visiting opens
    }
}

TEST(ShortcutFile, ReadsAsTheProfileFunctionsDo) {
    struct Case {
        const char* what;
        std::string bytes;
        std::optional<std::string> address;
    } cases[] = {
        {"first of two URL= keys", "[InternetShortcut]\nURL=http://a/\nURL=http://b/\n",
         "http://a/"},
        {"first section of the name that has the key",
         "[InternetShortcut]\nIconIndex=1\n[InternetShortcut]\nURL=http://second/\n",
         "http://second/"},
        {"a URL= in another section is not the shortcut's", "[Other]\nURL=http://o/\n",
         std::nullopt},
        {"enclosing quotes go", "[InternetShortcut]\nURL=\"http://q/\"\n", "http://q/"},
        {"a lone quote stays", "[InternetShortcut]\nURL=http://q/\"\n", "http://q/\""},
        {"a blank before the key counts", "[DEFAULT]\n   BASEURL=http://b/\n", "http://b/"},
        {"an empty URL= gives way to BASEURL=",
         "[InternetShortcut]\nURL=\n[DEFAULT]\nBASEURL=http://b/\n", "http://b/"},
        {"bytes that are no UTF-8 stay", "[InternetShortcut]\nURL=http://caf\xE9/\xFF\n",
         "http://caf\xE9/\xFF"},
        {"a NUL in the value makes it no address",
         std::string("[InternetShortcut]\nURL=ht\0p\n", 28), std::nullopt},
        {"a .W value that decodes to a line end gives way to URL=",
         "[InternetShortcut]\nURL=http://plain/\n[InternetShortcut.W]\nURL=http://x/+AA0ACg-\n",
         "http://plain/"},
        {"an empty .W value gives way too",
         "[InternetShortcut]\nURL=http://plain/\n[InternetShortcut.W]\nURL=\n", "http://plain/"},
        {"UTF-16 with a lone surrogate",
         Utf16Le("[InternetShortcut]\nURL=x") + std::string("\x00\xD8", 2), "x\xEF\xBF\xBD"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(AddressOf(ShortcutIn(c.bytes, TShortcutKind::Url)), c.address);
    }
}

TEST(ShortcutFile, DesktopLinksResolveTheirEscapesAndNeverHoldALineEnd) {
    auto address = [](const std::string& url) {
        return AddressOf(
            ShortcutIn("[Desktop Entry]\nType=Link\nURL=" + url + "\n", TShortcutKind::Desktop));
    };
    EXPECT_EQ(address("http://a/b\\sc\\\\d"), "http://a/b c\\d");
    EXPECT_EQ(address("http://a/\\nb"), std::nullopt);
    EXPECT_EQ(
        ShortcutIn("[Desktop Entry]\nType=Application\nURL=http://a/\n", TShortcutKind::Desktop)
            .State,
        TShortcutState::NotALink);
    EXPECT_EQ(ShortcutIn("[Other]\nType=Link\nURL=http://a/\n", TShortcutKind::Desktop).State,
              TShortcutState::NotALink);
}

TEST(ShortcutFile, DecodesUtf7AsWindowsWritesIt) {
    struct Case {
        const char* utf7;
        const char* text;
    } cases[] = {
        {"http://caf+AOk-.example/", "http://caf\xC3\xA9.example/"},
        {"a+-b", "a+b"},
        {"+ZeVnLIqe-", "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E"},  // three CJK characters
        {"+2D3eAA-", "\xF0\x9F\x98\x80"},                        // a surrogate pair
        {"+AOk.x", "\xC3\xA9.x"},                                // shift ended by a non-base64
        {"+AO", ""},                                             // unfinished bits are lost
        {"+2D0-", "\xEF\xBF\xBD"},                               // a lone surrogate
    };
    for (const Case& c : cases)
        EXPECT_EQ(DecodeUtf7(c.utf7), c.text) << c.utf7;
}

TEST(ShortcutFile, WhatIsNoRegularFileIsUnreadable) {
    testsupport::TempDir dir;
    auto target = dir.Write("target.url", "[InternetShortcut]\nURL=http://target.example/\n");
    std::filesystem::create_symlink(target, dir.Path() / "link.url");
    ASSERT_EQ(mkfifo((dir.Path() / "fifo.url").c_str(), 0600), 0);
    EXPECT_EQ(ReadShortcut((dir.Path() / "link.url").string()).Address, "http://target.example/");
    for (std::string path : {(dir.Path() / "missing.url").string(), dir.Path().string(),
                             std::string("/dev/zero"), (dir.Path() / "fifo.url").string()})
        EXPECT_EQ(ReadShortcut(path).State, TShortcutState::Unreadable) << path;
    // A folder entry listed as a regular file is not followed if it became a link meanwhile.
    int folder = open(dir.Path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(folder, 0);
    EXPECT_EQ(ReadShortcutAt(folder, "link.url", TShortcutKind::Url, true).State,
              TShortcutState::Unreadable);
    EXPECT_EQ(ReadShortcutAt(folder, "link.url", TShortcutKind::Url, false).State,
              TShortcutState::Address);
    close(folder);
}

TEST(ShortcutFile, LongFilesAreReadUpToAMebibyte) {
    testsupport::TempDir dir;
    // The key straddles the end of the first 16 KiB read and the address spans further reads.
    const std::string longAddress = "http://long.example/" + std::string(40000, 'x');
    const std::string longLine =
        "[InternetShortcut]\n" + std::string(16380, ';') + "\nURL=" + longAddress + "\r\n";
    EXPECT_EQ(ReadShortcut(dir.Write("long.url", longLine).string()).Address, longAddress);
    // What lies beyond the first mebibyte is not read.
    const std::string beyond =
        "[InternetShortcut]\n" + std::string(1 << 20, ';') + "\nURL=http://beyond.example/\n";
    EXPECT_EQ(ReadShortcut(dir.Write("beyond.url", beyond).string()).State,
              TShortcutState::NoAddress);
}

TEST(ShortcutFile, ExtensionsInAnyLetterCase) {
    EXPECT_EQ(ShortcutKindOf("a.URL"), TShortcutKind::Url);
    EXPECT_EQ(ShortcutKindOf("a.b.Url"), TShortcutKind::Url);
    EXPECT_EQ(ShortcutKindOf("Link.DESKTOP"), TShortcutKind::Desktop);
    for (const char* other : {"url", "a.url.txt", "a.urls", "desktop", ".desktop~"})
        EXPECT_EQ(ShortcutKindOf(other), TShortcutKind::None) << other;
}

}  // namespace
