// Unattended runs: the poll session without a window, driven by the
// command line, and the program's answers that need no window at all.
#pragma once

#include "cli/options.h"

#include <QString>

#include <array>
#include <cstdint>

namespace cli {

// What the settings file at path gives an unattended run, read by the
// window's rules and never written: none, or one that cannot be used at all,
// gives the first run's defaults; a damaged file is read up to its first bad
// line, and what follows stays empty.
struct StoredSettings {
    std::int16_t port = 0;
    QString pollRate;
    std::array<bool, frames::ChannelCount> channels{};
    QString problem;  // why the file was not read whole; empty when it was
};
StoredSettings readStoredSettings(const QString& path);

// Runs until the run's end; needs a QCoreApplication. programDir holds
// SETUP.INI and the COM<n> links. Returns the exit status.
int runHeadless(const Options& options, const QString& programDir);

// Everything but the window: --help, --version, --list-ports, --headless and
// bad usage. Needs a QCoreApplication; returns the exit status.
int runWithoutWindow(const Options& options);

// --list-ports: one line per serial port on standard output.
int listPorts();

}  // namespace cli
