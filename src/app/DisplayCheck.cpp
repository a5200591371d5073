#include "DisplayCheck.h"

#include <cstdlib>
#include <string_view>

namespace {

std::string Env(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

// Platforms that draw to a display server; any other one (offscreen, minimal, vnc,
// linuxfb, eglfs...) needs none, or finds its own screen.
bool NeedsDisplayServer(std::string_view platform) {
    return platform.empty() || platform.find("xcb") != std::string_view::npos ||
           platform.find("wayland") != std::string_view::npos;
}

}  // namespace

std::string NoDisplayLine(const TDisplayEnv& env) {
    if (!NeedsDisplayServer(env.Platform) || !env.Display.empty() || !env.WaylandDisplay.empty())
        return {};
    const char* missing = env.Platform.find("wayland") != std::string::npos &&
                                  env.Platform.find("xcb") == std::string::npos
                              ? "WAYLAND_DISPLAY ist nicht gesetzt"
                              : "DISPLAY ist nicht gesetzt";
    return std::string("quorvane: keine grafische Anzeige gefunden (") + missing +
           "); ohne Fenster prüft quorvane-check die Favoriten.";
}

TDisplayEnv CurrentDisplayEnv(int argc, char** argv) {
    TDisplayEnv env{Env("DISPLAY"), Env("WAYLAND_DISPLAY"), Env("QT_QPA_PLATFORM")};
    for (int i = 1; i + 1 < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--")
            break;
        if (arg == "-platform" || arg == "--platform")
            env.Platform = argv[i + 1];
    }
    return env;
}
