#include "shell/IDList.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "ScopedEnv.h"
#include "TempDir.h"
#include "shell/ShellBrowser.h"
#include "shell/ShellNamespace.h"
#include "sys/UserFolders.h"

using namespace shell;

namespace {

std::string Bytes(LPCITEMIDLIST list) {
    return std::string(reinterpret_cast<const char*>(list), IDListSize(list));
}

TEST(IDList, SizesCopiesAndJoins) {
    EXPECT_EQ(IDListSize(nullptr), 0u);
    IDListPtr empty = AllocIDList(2);
    EXPECT_EQ(IDListSize(empty.get()), 2u);
    EXPECT_EQ(CopyIDList(nullptr), nullptr);

    IDListPtr a = MakeItemIDList("ab");   // count 4
    IDListPtr b = MakeItemIDList("xyz");  // count 5
    EXPECT_EQ(Bytes(a.get()), std::string("\x04\x00"
                                          "ab"
                                          "\x00\x00",
                                          6));
    IDListPtr ab = ConcatIDLists(a.get(), b.get());
    EXPECT_EQ(IDListSize(ab.get()), 4u + 5u + 2u);
    EXPECT_EQ(ItemCount(ab.get()), 2u);
    EXPECT_EQ(Bytes(ab.get()), std::string("\x04\x00"
                                           "ab"
                                           "\x05\x00"
                                           "xyz"
                                           "\x00\x00",
                                           11));
    // A missing list counts as the empty one on either side.
    EXPECT_EQ(Bytes(ConcatIDLists(nullptr, b.get()).get()), Bytes(b.get()));
    EXPECT_EQ(Bytes(ConcatIDLists(a.get(), nullptr).get()), Bytes(a.get()));
    EXPECT_EQ(IDListSize(ConcatIDLists(nullptr, nullptr).get()), 2u);
    EXPECT_EQ(Bytes(CopyIDList(ab.get()).get()), Bytes(ab.get()));

    TSplitIDList split = SplitLastItem(ab.get());
    EXPECT_EQ(Bytes(split.parent.get()), Bytes(a.get()));
    EXPECT_EQ(Bytes(split.last.get()), Bytes(b.get()));
    TSplitIDList none = SplitLastItem(empty.get());
    EXPECT_EQ(IDListSize(none.parent.get()), 2u);
    EXPECT_EQ(IDListSize(none.last.get()), 2u);
}

TEST(IDList, ItemsAreNotReadPastADamagedCount) {
    // A count of 1 cannot hold itself; the list ends there.
    std::uint8_t damaged[] = {0x03, 0x00, 'q', 0x01, 0x00, 0xFF, 0xFF};
    EXPECT_EQ(IDListSize(damaged), 5u);
    EXPECT_EQ(ItemCount(damaged), 1u);
}

TEST(IDList, PathsSplitAndJoinBackIntoTheSameObject) {
    testsupport::TempDir dir;
    dir.Write("Reisen/Bahn/plan.url", "x");
    std::string path = (dir.Path() / "Reisen/Bahn/plan.url").string();
    IDListPtr absolute = IDListFromPath(nullptr, path);
    ASSERT_NE(absolute, nullptr);
    EXPECT_EQ(SHGetPathFromIDList(absolute.get()), path);

    TSplitIDList split = SplitLastItem(absolute.get());
    EXPECT_EQ(SHGetPathFromIDList(split.parent.get()), (dir.Path() / "Reisen/Bahn").string());
    auto folder = DesktopFolder()->BindToObject(split.parent.get());
    ASSERT_NE(folder, nullptr);
    // The folder parses the last name into the same relative item, and joined they are the
    // object again.
    IDListPtr relative = IDListFromPath(folder.get(), "plan.url");
    ASSERT_NE(relative, nullptr);
    EXPECT_EQ(Bytes(relative.get()), Bytes(split.last.get()));
    IDListPtr joined = ConcatIDLists(split.parent.get(), relative.get());
    EXPECT_EQ(DesktopFolder()->CompareIDs(joined.get(), absolute.get()), 0);
    // "." and ".." are resolved as written; a missing object has no list.
    EXPECT_EQ(SHGetPathFromIDList(IDListFromPath(nullptr, path + "/../plan.url/.").get()), path);
    EXPECT_EQ(IDListFromPath(nullptr, path + ".missing"), nullptr);
    EXPECT_EQ(IDListFromPath(nullptr, "relative/path"), nullptr);
    EXPECT_EQ(IDListFromPath(folder.get(), "../Bahn"), nullptr);
}

TEST(IDList, SpecialFolderKindNamesTheKindOfAList) {
    EXPECT_EQ(SpecialFolderKind(AllocIDList(2).get()), 3);  // the desktop
    // The drives folder is kind 0 and 5; only 5 is reported.
    EXPECT_EQ(SpecialFolderKind(SHGetSpecialFolderLocation(sys::kFolderDrives).get()), 5);
    testsupport::TempDir home;
    std::filesystem::create_directory(home.Path() / "Favorites");
    testsupport::ScopedEnv homeEnv("HOME", home.Path().string());
    auto favorites = IDListFromPath(nullptr, (home.Path() / "Favorites").string());
    EXPECT_EQ(SpecialFolderKind(favorites.get()), 17);
    EXPECT_EQ(SpecialFolderKind(IDListFromPath(nullptr, home.Path().string()).get()), 0);
}

}  // namespace
