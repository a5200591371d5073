#include <QApplication>
#include <memory>

#include "MainUnit.h"
#include "Pictures.h"
#include "QtHost.h"
#include "sys/Application.h"

int main(int argc, char** argv) {
    QApplication qtApp(argc, argv);
    QApplication::setApplicationName(QStringLiteral("quorvane"));
    QApplication::setOrganizationName(QStringLiteral("Bramwick"));
    QApplication::setDesktopFileName(QStringLiteral("quorvane"));
    QApplication::setWindowIcon(ProgramIcon());
    auto& app = sys::Application::Instance();
    app.SetHost(std::make_shared<QtHost>());
    app.Title = "Quorvane 1.0";  // the task bar's name and the error boxes' caption
    {
        TMainForm form;
        form.show();
        app.Run();
    }
    app.SetHost(nullptr);  // the Qt host must go before the QApplication
    return 0;
}
