#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>

#include "RunLoop.h"
#include "TempDir.h"
#include "shell/ShellBrowser.h"
#include "sys/Application.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

void Touch(const fs::path& file) {
    std::ofstream(file, std::ios::binary) << "x";
}

class FileChangeTest : public ::testing::Test {
  protected:
    testsupport::TempDir dir;
    fs::path first = dir.Path() / "first";
    fs::path second = dir.Path() / "second";
    std::unique_ptr<TShellBrowser> browser = std::make_unique<TShellBrowser>();
    int calls = 0;

    void SetUp() override {
        fs::create_directory(first);
        fs::create_directory(second);
        // Folders changed within a clock tick before their monitor starts may bring one call
        // at its start; these are older.
        for (const fs::path& folder : {first, second})
            fs::last_write_time(folder, fs::file_time_type::clock::now() - std::chrono::hours(1));
    }
    void Count() {
        browser->SetOnFileChange([this](TShellBrowser& sender) {
            EXPECT_EQ(&sender, browser.get());
            ++calls;
        });
    }
    bool AwaitCalls(int count) {
        return testsupport::RunLoopUntil([&] { return calls >= count; });
    }
};

TEST_F(FileChangeTest, NamesChangingInTheCurrentFolderRaiseTheEvent) {
    browser->SetFolder(first.string());
    Count();
    Touch(first / "new.url");
    EXPECT_TRUE(AwaitCalls(1));
    int seen = calls;
    fs::create_directory(first / "Folder");
    EXPECT_TRUE(AwaitCalls(seen + 1));
}

TEST_F(FileChangeTest, TheMonitorFollowsTheBrowserFromFolderToFolder) {
    Count();  // in the drives folder, which has no path: nothing to watch yet
    browser->SetFolder(first.string());
    Touch(first / "a.url");
    ASSERT_TRUE(AwaitCalls(1));
    browser->SetFolder(second.string());
    calls = 0;
    Touch(first / "left-behind.url");
    testsupport::RunLoopUntil([&] { return calls > 0; }, 200ms);
    EXPECT_EQ(calls, 0);
    Touch(second / "b.url");
    EXPECT_TRUE(AwaitCalls(1));
}

TEST_F(FileChangeTest, TheHandlerGoesAndComesBackInAFolderWithoutPath) {
    ASSERT_EQ(browser->Folder(), "");
    Count();
    // No monitor runs here, and none needs stopping: neither call may fail.
    EXPECT_NO_THROW(browser->SetOnFileChange([](TShellBrowser&) {}));
    EXPECT_NO_THROW(browser->SetOnFileChange(nullptr));
    EXPECT_FALSE(browser->OnFileChange());
    browser->SetFolder(first.string());
    Touch(first / "unheard.url");
    testsupport::RunLoopUntil([&] { return calls > 0; }, 200ms);
    EXPECT_EQ(calls, 0);
}

// Handlers that pump messages and then take the handler away, put another one in, or destroy
// the browser.
TEST_F(FileChangeTest, TheHandlerMayReplaceItselfOrDestroyTheBrowser) {
    auto& app = sys::Application::Instance();
    struct Case {
        const char* what;
        std::function<void()> act;
    } cases[] = {
        {"takes the handler away", [this] { browser->SetOnFileChange(nullptr); }},
        {"puts another one in",
         [this] { browser->SetOnFileChange([this](TShellBrowser&) { ++calls; }); }},
        {"moves to another folder", [this] { browser->SetFolder(second.string()); }},
        {"destroys the browser", [this] { browser.reset(); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        browser = std::make_unique<TShellBrowser>();
        browser->SetFolder(first.string());
        bool handled = false;
        browser->SetOnFileChange([&](TShellBrowser&) {
            handled = true;
            app.ProcessMessages();
            c.act();
        });
        Touch(first / (std::string(c.what) + ".url"));
        EXPECT_TRUE(testsupport::RunLoopUntil([&] { return handled; }));
    }
    // A browser that moved on still reports from its new folder.
    calls = 0;
    browser = std::make_unique<TShellBrowser>();
    browser->SetFolder(first.string());
    browser->SetOnFileChange([this](TShellBrowser&) {
        ++calls;
        browser->SetFolder(second.string());
    });
    Touch(first / "move.url");
    ASSERT_TRUE(AwaitCalls(1));
    Touch(second / "there.url");
    EXPECT_TRUE(AwaitCalls(2));
}

}  // namespace
