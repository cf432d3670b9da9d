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

}  // namespace cli
