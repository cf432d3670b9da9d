// Program start: the display scheme from SETUP.INI or from the chooser, then
// the tester window.
#pragma once

#include "link/port.h"

#include <QString>

#include <cstdint>
#include <memory>

class MAIN64K;

// Names the program "pollbench", with no organisation: its per-user
// settings folder is then ~/.config/pollbench on Linux,
// %APPDATA%\pollbench on Windows. Call once the
// application object exists.
void nameProgram();

// Runs the start-up in programDir and returns the tester window, loaded and
// shown; null when the chooser was closed without an answer. Without a port
// the window makes its own on the serial ports of this machine.
std::unique_ptr<MAIN64K> MAIN_Form_Load(const QString& programDir, std::unique_ptr<CommPort> port = nullptr);
