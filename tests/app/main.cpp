// The widget tests share one QApplication on the offscreen platform, with the Qt host installed
// and the clean-loop check after every test. Every test starts without remembered settings:
// XDG_CONFIG_HOME points at a private folder that is emptied before each test.
#include <gtest/gtest.h>

#include <QApplication>
#include <filesystem>
#include <memory>

#include "CleanLoopListener.h"
#include "TempDir.h"
#include "app/QtHost.h"
#include "sys/Application.h"

namespace {

class FreshSettings : public ::testing::EmptyTestEventListener {
  public:
    explicit FreshSettings(std::filesystem::path folder) : folder_(std::move(folder)) {}
    void OnTestStart(const ::testing::TestInfo&) override {
        std::filesystem::remove_all(folder_ / "quorvane");
    }

  private:
    std::filesystem::path folder_;
};

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    testsupport::TempDir config;
    qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(config.Path().string()));
    QApplication qtApp(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    testsupport::InstallCleanLoopListener();
    ::testing::UnitTest::GetInstance()->listeners().Append(new FreshSettings(config.Path()));
    sys::Application::Instance().SetHost(std::make_shared<QtHost>());
    int result = RUN_ALL_TESTS();
    sys::Application::Instance().SetHost(nullptr);
    return result;
}
