// Program start: the display scheme from SETUP.INI or from the chooser, then
// the tester window.
#pragma once

#include <QString>

#include <cstdint>
#include <memory>

class MAIN64K;

// 0 unset; 1 and 2 are the chooser's answers; a stored value is taken as it is.
extern std::int16_t DisplayScheme;

// Runs the start-up in programDir and returns the tester window, loaded and
// shown; null when the chooser was closed without an answer.
std::unique_ptr<MAIN64K> MAIN_Form_Load(const QString& programDir);
