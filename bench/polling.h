// The tester window polling in this process, measured: poll timing against
// the validator's frame log, and its CPU against a bare window's and with
// the trace history shown.
#pragma once

#include "bench/benchtable.h"
#include "bench/simchild.h"

#include <QString>

#include <vector>

class MAIN64K;

namespace bench {

struct PollRun {
    int periodMs;
    QString label;                // what the run is called in the table
    double from, to;              // monotonic seconds around the run
    double cpu;                   // seconds of this process
    std::vector<double> replies;  // when reception accepted a good reply
};

// Polls for `seconds` at `periodMs`, with a record when one is named;
// `accepted` is filled as reception accepts good replies.
PollRun pollFor(MAIN64K& w, int periodMs, int seconds, std::vector<double>& accepted, const QString& record = {});

// What a poll's wake-ups and paints cost on this machine before the tester
// does anything, in percent of a core.
double bareWindowCpu(int periodMs, int seconds);

// One ratio a turn; the median is the figure.
struct CpuRatio {
    std::vector<double> ratios;
    double median() const { return quantile(ratios, 0.5); }
};
constexpr int RatioRounds = 3;

// Turns of the tester and a bare window at the same rate.
CpuRatio testerOverBare(MAIN64K& w, int periodMs, int seconds, const QString& record);
void report(const PollRun& run, const std::vector<LogFrame>& log, int seconds, const CpuRatio& ratio);

// Turns of the tester with the Trace history window closed and open.
struct HistoryCost {
    CpuRatio ratio;
    std::size_t rows = 0;   // the history's rows at the end
    std::size_t bytes = 0;  // and what they take
};
HistoryCost historyCost(MAIN64K& w, int periodMs, int seconds);
void reportHistory(const HistoryCost& cost, int periodMs, int seconds);

// The window as the program makes it for --device sim.
struct BuiltInRun {
    PollRun run;
    std::vector<double> replyMs;  // by the session's own clock, write to read
    qint64 sent = 0, good = 0;
};
BuiltInRun pollBuiltIn(int seconds);
void reportBuiltIn(const BuiltInRun& b, double ptyTesterCpu, double ptySimCpu, int seconds);

}  // namespace bench
