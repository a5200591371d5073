// What QUORVANE_SCENE asks of a freshly shown window, for scripts/screenshot.sh: "check"
// clicks "Alle überprüfen" (the click returns when the run has ended), "menu" then opens the
// row menu over the third row. Both together: "check,menu". Nothing else reads it.
#pragma once

#include <QString>

class TMainForm;

void PlayDemoScene(TMainForm& form, const QString& scene);
