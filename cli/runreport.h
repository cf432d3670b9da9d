// What an unattended run prints and writes: the progress line, the summary
// on standard output and the --report file. Pure functions of the run's
// set-up, its end and its figures, so each text is tested on its own.
#pragma once

#include "cli/options.h"
#include "link/frames.h"
#include "link/pollsession.h"
#include "settings/benchfile.h"

#include <QDateTime>
#include <QJsonObject>
#include <QString>
#include <QStringList>

#include <array>
#include <cstdint>

struct Figures;

namespace cli {

// What one run is set to do, settings file and options together.
struct RunSetup {
    std::int16_t port = 1;
    QString device;  // --device, or empty for the port number's device
    settings::PortBindings bindings;  // the user's, from the bench file: what a number names
    int pollPeriod = 100;
    PollMode mode = PollMode::Normal;
    bool escrow = true;
    std::array<bool, frames::ChannelCount> channels{};
};

// How a run ended.
struct RunEnd {
    QString device;  // as shown: --device, the port's device, or "port N"
    QDateTime ended;
    QString endedBy;
    int status = 0;
    int portError = 0;  // the port's error number; 0 when it did not fail
    QString record;        // --record, or empty
    QString recordError;   // why the record stopped early; empty when it did not
    QString summaryError;  // why the record's summary was not written
};

using ConditionCounts = std::array<qint64, ConditionCount>;

// 3725000 ms: "1:02:05".
QString clockText(qint64 ms);
// "normal" or "negative-ack", as --mode takes it.
QString modeName(PollMode mode);
// "1-7,9", or "none".
QString channelList(const std::array<bool, frames::ChannelCount>& on);
QStringList conditionNames(const Conditions& c);

// How often each condition of --fail-on was seen. Every validator reports
// its power-up when it starts: only one after that first report is news.
ConditionCounts conditionCounts(const Figures& s, qint64 powerUpsAtStart);
Conditions occurred(const ConditionCounts& counts);

// The figures the progress line shows.
struct Progress {
    qint64 elapsedMs = 0;
    qint64 polls = 0;
    qint64 stacked = 0;
    qint64 returned = 0;
    qint64 rejected = 0;
    qint64 timeouts = 0;
    qint64 badSums = 0;
};
Progress progressOf(qint64 elapsedMs, const Figures& s);

// Where a terminal's width is not known.
inline constexpr int DefaultProgressWidth = 79;

// "0:00:05  polls 50  stacked 1  ..." in at most width characters (no limit
// for 0): the labels shorten first, then fields go from the end; the time is
// always there.
QString progressLine(const Progress& p, int width);

// The run's figures as a record's summary keeps them, and the run under "run".
QJsonObject reportJson(const Figures& s, const RunSetup& setup, const RunEnd& end, const Conditions& failOn,
                       const ConditionCounts& counts);

// The figures' own lines between the run's, in the same columns.
QString summaryText(const Figures& s, const RunSetup& setup, const RunEnd& end, const Conditions& failOn,
                    const ConditionCounts& counts);

}  // namespace cli
