// Whether the window can hope for a display before Qt is asked for one: without one Qt aborts
// with a core dump and a hint to reinstall, which helps nobody on a server or over ssh.
#pragma once

#include <string>

struct TDisplayEnv {
    std::string Display;         // DISPLAY
    std::string WaylandDisplay;  // WAYLAND_DISPLAY
    std::string Platform;        // QT_QPA_PLATFORM, or the value of a -platform argument
};

// Empty when a display may be there (or a platform without one was asked for, such as
// offscreen); otherwise the one German line for standard error that says what is missing and
// that quorvane-check does the work without a window.
std::string NoDisplayLine(const TDisplayEnv& env);

// The environment of this process, with a "-platform NAME" among the arguments winning.
TDisplayEnv CurrentDisplayEnv(int argc, char** argv);
