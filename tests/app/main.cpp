// The widget tests share one QApplication on the offscreen platform, with the Qt host installed
// and the clean-loop check after every test.
#include <gtest/gtest.h>

#include <QApplication>
#include <memory>

#include "CleanLoopListener.h"
#include "app/QtHost.h"
#include "sys/Application.h"

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication qtApp(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    testsupport::InstallCleanLoopListener();
    sys::Application::Instance().SetHost(std::make_shared<QtHost>());
    int result = RUN_ALL_TESTS();
    sys::Application::Instance().SetHost(nullptr);
    return result;
}
