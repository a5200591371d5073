#include "app/core/ShortcutFile.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>

#include "TempDir.h"

namespace {

TEST(ReadBaseURL, ReadsOnlyUntilTheFirstKeyLine) {
    testsupport::TempDir dir;
    // The key straddles the end of the first 16 KiB read and the address spans further reads;
    // everything after the address line is never looked at.
    std::string longAddress = "http://long.example/" + std::string(40000, 'x');
    std::string content = std::string(16380, ';') + "\nBASEURL=" + longAddress + "\r\n" +
                          "BASEURL=http://second.example/\n";
    auto path = dir.Write("long.url", content);
    EXPECT_EQ(ReadBaseURL(path.string()), longAddress);
    EXPECT_EQ(ReadBaseURL((dir.Path() / "missing.url").string()), std::nullopt);
    EXPECT_EQ(ReadBaseURL(dir.Path().string()), std::nullopt);  // a folder
    EXPECT_EQ(ReadBaseURL("/dev/zero"), std::nullopt);          // endless, not a file
}

TEST(ReadBaseURL, AnEntryKnownAsRegularFileIsNotFollowedWhenItBecameALink) {
    testsupport::TempDir dir;
    auto target = dir.Write("target.url", "BASEURL=http://target.example/\n");
    std::filesystem::create_symlink(target, dir.Path() / "link.url");
    std::string link = (dir.Path() / "link.url").string();
    EXPECT_EQ(ReadBaseURL(link), "http://target.example/");
    EXPECT_EQ(ReadBaseURLOfRegularEntry(link), std::nullopt);
    EXPECT_EQ(ReadBaseURLOfRegularEntry(target.string()), "http://target.example/");
}

}  // namespace
