// What a person or a script is told when the run ends before its window:
// the help, a second copy, bad input. Win32 only.
#pragma once

#include "app/RunStart.h"

#include <string>

namespace keystrip {

// A line for whoever started the program from a console or a script: a GUI
// program has no console of its own, so it writes to its parent's, if any.
void TellConsole(const std::u16string& Text);

// Shows what the action calls for (a message box unless Silent; bad input
// also to the console) and returns the process's exit code.
int EndAtStart(TRunStart& Start, bool Silent, const std::u16string& Title);

} // namespace keystrip
