// The pictures behind the system icon indexes (SystemIcons.h), from the icon theme. Kept apart
// from the indexes because it needs Qt Gui, which only the window loads.
#pragma once

#include <QIcon>
#include <functional>

#include "SystemIcons.h"

namespace shell {

// The program can supply icons for the kinds (its style's standard icons, say) for when the
// icon theme has none.
using TFallbackIconProvider = std::function<QIcon(TIconKind)>;
void SetFallbackIconProvider(TFallbackIconProvider provider);

// The icon of an index; a null icon without a QGuiApplication, or when nothing supplies one.
QIcon SystemIcon(int index);

}  // namespace shell
