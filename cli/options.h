// The program's command line. It is read before any application object
// exists, so that --help, --version, --list-ports and --headless never need
// a display, and only the window path loads the GUI.
#pragma once

#include "link/frames.h"
#include "link/pollsession.h"
#include "settings/rules.h"

#include <QString>
#include <QStringList>

#include <array>
#include <bitset>
#include <cstdint>
#include <optional>

namespace cli {

inline const QString VersionText = QStringLiteral("Pollbench 3.0.0");

// The program's exit statuses.
inline constexpr int ExitCompleted = 0;
inline constexpr int ExitConditionMet = 1;  // a --fail-on condition occurred
inline constexpr int ExitUsage = 2;
inline constexpr int ExitPortFailed = 3;
inline constexpr int ExitReportFailed = 4;

// What a run can be told to treat as a failure (--fail-on), in the order
// --help lists them.
enum class Condition : std::uint8_t {
    Timeout,
    BadSum,
    Rejected,
    Returned,
    Cheated,
    Failure,
    Jam,
    Full,
    PowerUp,
    Invalid,
};
inline constexpr int ConditionCount = 10;
QString conditionName(Condition c);
using Conditions = std::bitset<ConditionCount>;

enum class RunKind : std::uint8_t {
    Window,     // no run option: the tester window opens
    Help,       // --help: usage on standard output, status 0
    Version,    // --version
    ListPorts,  // --list-ports
    Headless,   // --headless: an unattended run
    BadUsage,   // what was wrong on standard error, status 2
};

struct Options {
    RunKind kind = RunKind::Window;
    QString error;  // BadUsage: what was wrong, one line

    QString device;  // --device: replaces the port number's mapping for this run
    QString record;  // --record
    bool startPoll = false;  // --start-poll: the window presses START POLL once shown

    // Unattended runs; unset values come from the settings file.
    std::optional<std::int16_t> port;
    std::optional<int> pollPeriod;  // ms, already at least 30
    PollMode mode = PollMode::Normal;
    std::optional<std::array<bool, frames::ChannelCount>> channels;
    bool escrow = true;
    std::optional<qint64> durationMs;
    std::optional<qint64> notes;
    QString report;
    Conditions failOn;
};

// arguments as the program got them, program name first. Options of Qt's
// window system (-platform, -style, ...) are skipped: the window's
// application takes them from the same arguments.
Options parseCommandLine(const QStringList& arguments);

// The text of --help, the same on every machine ("Usage: pollbench ...").
QString helpText();

// "30", "90s", "15m", "8h", "1.5h": milliseconds, or nothing for a text that
// is no positive duration.
std::optional<qint64> parseDuration(const QString& text);
// "1-7,9", "none": channel enables, or nothing with why.
std::optional<std::array<bool, frames::ChannelCount>> parseChannels(const QString& text, QString* why = nullptr);
// The poll rate and the port number as the window's START POLL takes them.
using settings::pollPeriodFrom;
using settings::portNumberFrom;

}  // namespace cli
