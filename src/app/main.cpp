#include <QApplication>
#include <memory>

#include "MainUnit.h"
#include "Pictures.h"
#include "QtHost.h"
#include "app/core/Interrupt.h"
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
        // The end of the session (SIGHUP, SIGTERM) and Ctrl+C in the terminal that started the
        // window (SIGINT) close it as its close box would: the run stops, the results are
        // written. A signal taken while the window is being made ends it before it shows.
        TMainForm* shown = nullptr;
        TInterrupt closeOnSignal({SIGTERM, SIGHUP, SIGINT}, [&shown](int) {
            if (shown)
                shown->close();
        });
        TMainForm form;
        if (!closeOnSignal.Happened()) {
            shown = &form;
            form.show();
            app.Run();
        }
    }
    app.SetHost(nullptr);  // the Qt host must go before the QApplication
    return 0;
}
