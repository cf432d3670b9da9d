#include "cli/console.h"

namespace cli {

// A program started from a terminal has it as stdout and stderr already.
void useParentConsole() {}

}  // namespace cli
