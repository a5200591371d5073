#include "sys/PathText.h"

#include <gtest/gtest.h>

TEST(PathText, FolderOfEveryKindOfPath) {
    const struct {
        const char* path;
        const char* folder;
    } cases[] = {{"urls.dat", "."},
                 {"/urls.dat", "/"},
                 {"/home/a/urls.dat", "/home/a"},
                 {"dir/f", "dir"},
                 {"/home/a/", "/home/a"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(sys::FolderOf(c.path), c.folder);
    }
}
