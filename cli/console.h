// The terminal of an unattended run: its lines and whether they land on a
// terminal, the one part of the command line that asks the system.
#pragma once

#include <QString>

#include <cstdio>

namespace cli {

// Written and flushed at once: a run may be killed at any moment.
void put(std::FILE* to, const QString& text);
// "pollbench: text" on standard error.
void tell(const QString& text);
bool stderrIsTerminal();
// Columns of the terminal standard error writes to; 0 when not known.
int stderrColumns();

// On Windows the program is a window program, which starts without a
// console: the command line gives stdout and stderr the console of cmd or
// PowerShell it was started from where they have nowhere to go; outputs
// redirected to a file or a pipe are kept. Elsewhere, and with no parent
// console, nothing changes.
void useParentConsole();

}  // namespace cli
