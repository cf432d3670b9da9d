// The rules the window, the command line and the start-up share about what
// the settings hold: the first run's values, what makes a file a settings
// file, what is kept of a damaged one, and which port numbers and poll
// rates START POLL takes.
#pragma once

#include "settings/settings.h"

#include <QString>

#include <cstdint>
#include <optional>

namespace settings {

// The poll clock's shortest period (a shorter one is raised to it) and the
// longest one it takes, in milliseconds.
inline constexpr int MinPollPeriod = 30;
inline constexpr int MaxPollPeriod = 65535;

// What a first run starts with, and what a file that cannot be used gives.
inline const SavedSettings FirstRun{};

// A settings file names the colour scheme; a file without it is someone
// else's, which the window deletes and an unattended run ignores.
bool isSettingsText(const QString& text);

// A damaged file is read up to its first bad line, and the channels past the
// seventh are left off whatever it said.
inline constexpr int ChannelsKeptOfDamagedFile = 7;
void applyDamagedFileRule(LoadedSettings& loaded);

// The port number as START POLL takes it: a decimal that rounds into the
// port's range.
std::optional<std::int16_t> portNumberFrom(const QString& text);
// The poll rate as START POLL takes it: a number the timer cannot take is
// refused, one below MinPollPeriod becomes MinPollPeriod (raised says so).
std::optional<int> pollPeriodFrom(const QString& text, bool* raised = nullptr);

}  // namespace settings
