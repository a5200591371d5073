#include "shell/SystemImageList.h"

#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QPixmap>
#include <filesystem>
#include <memory>
#include <vector>

#include "TempDir.h"
#include "shell/ShellBrowser.h"
#include "shell/SystemIconTheme.h"
#include "shell/SystemIcons.h"

namespace {

TEST(SystemImageList, SharesTheSystemListInTwoSizes) {
    TDizSystemImageList list;
    EXPECT_EQ(list.Size(), si_small);
    EXPECT_TRUE(list.ShareImages());
    EXPECT_EQ(list.Handle(), &TSystemImageList::Shared(si_small));
    EXPECT_EQ(list.Width(), shell::SmallSystemIconSize());
    list.SetSize(si_large);
    EXPECT_EQ(list.Handle(), &TSystemImageList::Shared(si_large));
    EXPECT_EQ(list.Height(), shell::LargeSystemIconSize());
    EXPECT_GT(list.Height(), TSystemImageList::Shared(si_small).Height());
}

TEST(SystemImageList, APrivateCopyIsFreedAndTheSharedListStays) {
    int url = shell::FileTypeIconIndex("a.url");
    const TSystemImageList* shared = &TSystemImageList::Shared(si_small);
    {
        TDizSystemImageList list;
        list.SetShareImages(false);
        EXPECT_NE(list.Handle(), shared);
        EXPECT_GT(list.Count(), url);
        list.SetShareImages(true);
        EXPECT_EQ(list.Handle(), shared);
        list.SetShareImages(false);  // a second copy; the first is gone already
    }
    { TDizSystemImageList sharing; }
    // The lists are gone; the system list and its indexes are not.
    EXPECT_EQ(&TSystemImageList::Shared(si_small), shared);
    EXPECT_GT(shared->Count(), url);
    EXPECT_EQ(shell::FileTypeIconIndex("b.URL"), url);
}

TEST(SystemImageList, IndexesWithoutAGuiAndIconsWithOne) {
    testsupport::TempDir dir;
    std::filesystem::create_directories(dir.Path() / "Sub");
    TShellBrowser browser;
    browser.SetObjectName((dir.Path() / "Sub").string());
    int folder = browser.SmallIconIndex();
    TDizSystemImageList list;
    ASSERT_GE(folder, 0);
    ASSERT_LT(folder, list.Count());
    // Headless: stable indexes, no icons made.
    EXPECT_TRUE(list.Icon(folder).isNull());

    qputenv("QT_QPA_PLATFORM", "offscreen");
    int argc = 1;
    char name[] = "test_shell";
    char* argv[] = {name, nullptr};
    auto app = std::make_unique<QGuiApplication>(argc, argv);
    std::vector<shell::TIconKind> asked;
    shell::SetFallbackIconProvider([&](shell::TIconKind kind) {
        asked.push_back(kind);
        QPixmap square(32, 32);
        square.fill(Qt::blue);
        return QIcon(square);
    });
    QIcon icon = list.Icon(folder);
    QPixmap pixmap = list.Pixmap(folder);
    EXPECT_TRUE(list.Icon(list.Count()).isNull());  // out of range
    bool themeHasFolder = !QIcon::fromTheme("folder").isNull();
    shell::SetFallbackIconProvider(nullptr);
    app.reset();

    EXPECT_FALSE(icon.isNull());
    EXPECT_EQ(pixmap.width(), list.Width());
    // Where the icon theme has no folder icon, the program's fallback was asked for one.
    if (!themeHasFolder) {
        ASSERT_FALSE(asked.empty());
        EXPECT_EQ(asked.front(), shell::TIconKind::Folder);
    }
    EXPECT_EQ(browser.SmallIconIndex(), folder);
}

// A file's index stands for its type as the name shows it, decided without the MIME database
// (which the headless checker does not load): the extension in any case, else the whole name.
TEST(SystemImageList, FilesShareAnIndexByTheTypeTheirNameShows) {
    struct Case {
        const char* name;
        const char* sameAs;
        const char* fileType;
    };
    const Case cases[] = {
        {"a.url", "b.URL", ".url"},
        {"archive.tar.GZ", "other.gz", ".gz"},
        {"Makefile", "Makefile", "Makefile"},
        {".bashrc", ".bashrc", ".bashrc"},
        {"", "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(shell::FileTypeKey(c.name).fileType, c.fileType);
        EXPECT_EQ(shell::FileTypeIconIndex(c.name), shell::FileTypeIconIndex(c.sameAs));
    }
    EXPECT_NE(shell::FileTypeIconIndex("a.url"), shell::FileTypeIconIndex("a.txt"));
    EXPECT_NE(shell::FileTypeIconIndex("a.url"), shell::FileTypeIconIndex("url"));
    EXPECT_EQ(shell::FileTypeIconIndex(""), 0) << "the unknown file keeps index 0";
}

}  // namespace
