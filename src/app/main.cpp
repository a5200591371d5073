#include <QApplication>
#include <QTimer>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "DemoScene.h"
#include "DisplayCheck.h"
#include "MainUnit.h"
#include "Pictures.h"
#include "QtHost.h"
#include "app/core/Interrupt.h"
#include "app/core/ProgramOptions.h"
#include "sys/Application.h"

namespace {

// The options left after Qt took its own; nullopt when the program should end with exitCode.
std::optional<TProgramOptions> ReadOptions(const std::vector<std::string>& args, int& exitCode) {
    try {
        TProgramOptions options = ParseOptions(kWindowProgram, args);
        if (options.Help)
            std::fputs(Usage(kWindowProgram).c_str(), stdout);
        else if (options.Version)
            std::printf("quorvane %s\n", kProgramVersion);
        else
            return options;
        exitCode = 0;
    } catch (const EBadOption& error) {
        std::fprintf(stderr, "%s\n", BadOptionLine(kWindowProgram, error).c_str());
        exitCode = 1;
    }
    return std::nullopt;
}

std::optional<TProgramOptions> ReadOptions(const QStringList& arguments, int& exitCode) {
    std::vector<std::string> args;
    for (qsizetype i = 1; i < arguments.size(); ++i)
        args.push_back(arguments[i].toLocal8Bit().toStdString());
    return ReadOptions(args, exitCode);
}

// Without a display, --help and --version still answer and a bad option is still named; a
// start of the window ends with one line instead of Qt's abort.
std::optional<int> EndWithoutDisplay(int argc, char** argv) {
    const std::string line = NoDisplayLine(CurrentDisplayEnv(argc, argv));
    if (line.empty())
        return std::nullopt;
    int exitCode = 0;
    if (!ReadOptions(std::vector<std::string>(argv + 1, argv + argc), exitCode))
        return exitCode;
    std::fprintf(stderr, "%s\n", line.c_str());
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (const std::optional<int> exitCode = EndWithoutDisplay(argc, argv))
        return *exitCode;
    QApplication qtApp(argc, argv);
    int exitCode = 0;
    const std::optional<TProgramOptions> options = ReadOptions(QApplication::arguments(), exitCode);
    if (!options)
        return exitCode;
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
        TMainForm form(*options);
        if (!closeOnSignal.Happened()) {
            shown = &form;
            form.show();
            if (const QString scene = qEnvironmentVariable("QUORVANE_SCENE"); !scene.isEmpty())
                QTimer::singleShot(0, &form, [&form, scene] { PlayDemoScene(form, scene); });
            app.Run();
        }
    }
    app.SetHost(nullptr);  // the Qt host must go before the QApplication
    return 0;
}
