// Waiting for the main window's first full paint, for the benches that time the window.
#pragma once

class TMainForm;

namespace benchsupport {

// Runs Qt's loop until the window has painted its status bar (the last thing it paints), with
// a bound so that a broken start cannot hang the run. False when the bound ran out.
bool WaitUntilPainted(TMainForm& form);

}  // namespace benchsupport
