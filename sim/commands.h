// The simulator's command language, the same on standard input and in a
// script file: one command a line, a word and at most one number.
#pragma once

#include "sim/device.h"

#include <QString>

#include <optional>
#include <random>
#include <vector>

namespace sim {

// Longest command line taken from standard input, in bytes.
inline constexpr qsizetype MaxCommandLine = 4096;

struct Command {
    QString name;
    int arg = -1;  // -1: none given
};

// Null with a reason when the line is no command; an empty line or a
// comment ("# ...") gives an empty name.
std::optional<Command> parseCommand(const QString& line, QString* error = nullptr);

// The command list for --help and the "help" command.
QString commandHelp();

// Carries out a command that acts on the device. Returns what to tell the
// operator, or null when the command is not a device command (quit, auto,
// help, stats are the program's).
std::optional<QString> applyCommand(VirtualValidator& device, const Command& command);

// The automatic note: when the device has been polled, is idle and not
// jammed, a note goes in on one of the channels the host enabled, picked by
// random (drawn only then). False when none went in.
bool insertAutoNote(VirtualValidator& device, std::mt19937& random);

// One line of the counts, for "stats" and the end of a run:
// "stacked 4 [3:2 5:2] returned 1 rejected 0 polls 120 repeats 3 deaf 2 faults 1
// stacked-badsum 0"
QString countsLine(const VirtualValidator::Counts& counts);

// A script: "MS command" runs the command MS milliseconds after the start,
// "+MS command" MS milliseconds after the line before; blank lines and
// "# ..." are skipped. No step may fall later than MaxScriptMs.
inline constexpr qint64 MaxScriptMs = 24LL * 60 * 60 * 1000;
struct ScriptStep {
    qint64 atMs = 0;
    Command command;
    int line = 0;
};
std::optional<std::vector<ScriptStep>> parseScript(const QString& text, QString* error = nullptr);

}  // namespace sim
