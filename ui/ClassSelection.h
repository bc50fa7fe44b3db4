#pragma once
// Choosing the class field and the classes to analyse.

namespace quilta {

class Workbench;

// Asks for the class field and the classes when needed (the first time after
// the tool window opened, or after a Change button) and arms the progress bar
// with one step per selected class. True when the caller may go on with the
// selected classes; false when the user cancelled a chooser or the selection
// failed (the failure has been reported to the user), and the caller must
// stop without a message of its own.
bool RunClassSelection(Workbench& wb);

}  // namespace quilta
