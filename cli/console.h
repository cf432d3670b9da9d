// The command line's console. On Windows the program is a window program,
// which starts without one; a run from cmd or PowerShell writes to the
// console it was started from.
#pragma once

namespace cli {

// Gives stdout and stderr the parent's console where they have nowhere to
// go; outputs already redirected to a file or a pipe are kept. Elsewhere,
// and with no parent console, nothing changes.
void useParentConsole();

}  // namespace cli
