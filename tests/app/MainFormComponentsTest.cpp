#include "MainFormFixture.h"
#include "shell/ShellBrowser.h"
#include "shell/ShellLink.h"
#include "shell/SystemImageList.h"

namespace {

// The window's components as its layout sets them up: nothing watches a folder and nothing
// is linked.
TEST_F(MainFormTest, OwnsItsComponentsInTheirStoredState) {
    TMainForm& form = Create();
    ASSERT_NE(form.ShellBrowser1, nullptr);
    EXPECT_TRUE(form.ShellBrowser1->FileSystemOnly());
    EXPECT_EQ(form.ShellBrowser1->Filter(), "*");
    EXPECT_FALSE(form.ShellBrowser1->OnFileChange());
    ASSERT_NE(form.DizSystemImageList1, nullptr);
    EXPECT_TRUE(form.DizSystemImageList1->ShareImages());
    EXPECT_EQ(form.DizSystemImageList1->Size(), si_small);
    ASSERT_NE(form.DizShellLink1, nullptr);
    EXPECT_TRUE(form.DizShellLink1->Enabled());
    EXPECT_FALSE(form.DizShellLink1->OnChange);
    EXPECT_TRUE(form.DizShellLink1->Links().empty());
}

}  // namespace
