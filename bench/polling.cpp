#include "bench/polling.h"

#include "sim/builtinport.h"
#include "tester/faces.h"
#include "tester/historymodel.h"
#include "tester/historywindow.h"
#include "tester/main64k.h"

#include <QLineEdit>
#include <QTemporaryDir>
#include <QTimer>
#include <QWidget>

#include <algorithm>
#include <cmath>

namespace bench {

namespace {

constexpr double RatioTarget = 2.0;
// The trace history window open may cost at most this much over closed.
constexpr double HistoryTarget = 1.5;

}  // namespace

PollRun pollFor(MAIN64K& w, int periodMs, int seconds, std::vector<double>& accepted, const QString& record)
{
    PollRun run{periodMs, QStringLiteral("%1 ms").arg(periodMs), 0, 0, 0, {}};
    if (!record.isEmpty()) {
        QString error;
        if (!w.startRecord(record, false, &error))
            std::fprintf(stderr, "bench: no record: %s\n", qPrintable(error));
        run.label += QStringLiteral(" with the record on");
    }
    accepted.clear();
    w.Text2->setText(QString::number(periodMs));
    const double cpu0 = cpuSeconds();
    run.from = nowSeconds();
    setCheckValue(w.Check4, 1);
    // Half a period past the end, so the last counted poll is not cut short.
    spin(seconds * 1000 + periodMs / 2);
    setCheckValue(w.Check4, 0);
    run.to = nowSeconds();
    run.cpu = cpuSeconds() - cpu0;
    spin(300);  // the last reply in
    if (!record.isEmpty())
        w.stopRecord();
    run.replies = accepted;
    return run;
}

// A bare window of the tester's size, woken by a precise
// timer at the poll rate and by a lamp timer 24 ms later, repainting a small
// square three times a poll, as the tester repaints after the poll, after
// the reply (a turn of the event loop later) and when the lamps dim. Not a
// target: it tells how much of the tester's figure is Qt and the machine.
double bareWindowCpu(int periodMs, int seconds)
{
    QWidget bare;
    bare.resize(MAIN64K::ClientWidth, MAIN64K::ClientHeight);
    bare.show();
    spin(300);
    QTimer poll, blink;
    poll.setTimerType(Qt::PreciseTimer);
    blink.setTimerType(Qt::PreciseTimer);
    blink.setSingleShot(true);
    QObject::connect(&poll, &QTimer::timeout, &bare, [&] {
        bare.update(0, 0, 20, 20);
        QTimer::singleShot(0, &bare, [&] { bare.update(20, 0, 20, 20); });
        blink.start(24);
    });
    QObject::connect(&blink, &QTimer::timeout, &bare, [&] { bare.update(40, 0, 20, 20); });
    const double cpu0 = cpuSeconds(), from = nowSeconds();
    poll.start(periodMs);
    spin(seconds * 1000);
    poll.stop();
    return 100.0 * (cpuSeconds() - cpu0) / (nowSeconds() - from);
}

// The tester's CPU over a bare window's at the same poll rate, measured in
// turns (tester, bare, tester, bare, ...) so both see the same machine: what
// others' builds take of it cancels out of the ratio.
CpuRatio testerOverBare(MAIN64K& w, int periodMs, int seconds, const QString& record)
{
    CpuRatio r;
    std::vector<double> accepted;
    for (int i = 0; i < RatioRounds; ++i) {
        const PollRun t = pollFor(w, periodMs, seconds, accepted, record);
        const double tester = 100.0 * t.cpu / (t.to - t.from);
        r.ratios.push_back(tester / bareWindowCpu(periodMs, seconds));
    }
    return r;
}

void report(const PollRun& run, const std::vector<LogFrame>& log, int seconds, const CpuRatio& ratio)
{
    const double period = run.periodMs / 1000.0;
    std::vector<LogFrame> f;
    for (const LogFrame& x : log)
        if (x.t >= run.from && x.t <= run.to + 0.3)
            f.push_back(x);
    std::vector<double> hosts;
    for (const LogFrame& x : f)
        if (x.dir == 'H' && x.t <= run.to)
            hosts.push_back(x.t);

    const QString tag = run.label;
    section(QStringLiteral("Polling at %1 for %2 s").arg(tag).arg(seconds));
    if (hosts.size() < 2) {
        row(QStringLiteral("polls seen by the validator"), QString::number(hosts.size()), QStringLiteral("> 1"), false);
        return;
    }

    // Polls in the first `seconds` after the first one, counted up to half a
    // period before the end so a tick a hair early or late does not count.
    const int halfMs = seconds * 2000 - run.periodMs;  // in half milliseconds
    const int expected = (halfMs + 2 * run.periodMs - 1) / (2 * run.periodMs);
    const double end = hosts.front() + seconds - period / 2;
    const int sent = int(std::count_if(hosts.begin(), hosts.end(), [end](double t) { return t < end; }));
    std::vector<double> errors;
    int missed = 0, doubled = 0;
    for (std::size_t i = 1; i < hosts.size(); ++i) {
        const double gap = hosts[i] - hosts[i - 1];
        errors.push_back(std::abs(gap - period));
        if (gap > 1.5 * period)
            missed += int(std::lround(gap / period)) - 1;
        if (gap < 0.5 * period)
            ++doubled;
    }
    row(QStringLiteral("polls sent / expected"), QStringLiteral("%1 / %2").arg(sent).arg(expected),
        QStringLiteral("= expected"), sent == expected);
    row(QStringLiteral("polls missed, doubled"), QStringLiteral("%1, %2").arg(missed).arg(doubled), QStringLiteral("0, 0"),
        missed == 0 && doubled == 0);
    const double median = quantile(errors, 0.5), p99 = quantile(errors, 0.99);
    row(QStringLiteral("period error, median"), ms(median), QStringLiteral("<= 0.2 ms"), median <= 0.0002);
    row(QStringLiteral("period error, p99"), ms(p99), QStringLiteral("<= 2 ms"), p99 <= 0.002);
    row(QStringLiteral("period error, max"), ms(*std::max_element(errors.begin(), errors.end())));

    // Reply's last byte (written, at the validator) to the reception that
    // makes the next frame the acknowledging one; and whether it was.
    std::vector<double> latency;
    int correct = 0, checked = 0, lastControl = -1;
    double reply = -1;  // the last good reply since the last host frame
    for (const LogFrame& x : f) {
        if (x.dir == 'V') {
            if (x.goodReply)
                reply = x.t;
            continue;
        }
        if (x.t > run.to)
            break;
        if (lastControl >= 0) {
            ++checked;
            const bool flipped = x.control != lastControl;
            if (reply >= 0 && flipped) {
                ++correct;
                const auto it = std::lower_bound(run.replies.begin(), run.replies.end(), reply - 0.001);
                if (it != run.replies.end() && *it < x.t)
                    latency.push_back(*it - reply);
            }
        }
        lastControl = x.control;
        reply = -1;
    }
    row(QStringLiteral("next frame acknowledges the reply"), QStringLiteral("%1 / %2").arg(correct).arg(checked),
        QStringLiteral("all"), checked > 0 && correct == checked);
    row(QStringLiteral("reply's last byte to next frame ready, median"), ms(quantile(latency, 0.5)));
    row(QStringLiteral("reply's last byte to next frame ready, p99"), ms(quantile(latency, 0.99)));
    row(QStringLiteral("reply's last byte to next frame ready, max"),
        ms(latency.empty() ? std::nan("") : *std::max_element(latency.begin(), latency.end())));

    const double wall = run.to - run.from;
    const double cpuPercent = 100.0 * run.cpu / wall;
    // Information: on a shared machine the absolute share follows the load.
    row(QStringLiteral("tester CPU while polling"), QStringLiteral("%1 %").arg(cpuPercent, 0, 'f', 2),
        run.periodMs == 30 ? QStringLiteral("(2 % of a core; see the ratio)") : QStringLiteral("-"));
    QStringList each;
    for (double r : ratio.ratios)
        each << QString::number(r, 'f', 2);
    const QString measured = QStringLiteral("%1 (%2)").arg(ratio.median(), 0, 'f', 2).arg(each.join(QStringLiteral(", ")));
    const QString figure = QStringLiteral("tester CPU / bare Qt window CPU, median of %1 turns").arg(ratio.ratios.size());
    if (run.periodMs == 30)
        row(figure, measured, QStringLiteral("<= %1").arg(RatioTarget, 0, 'f', 1), ratio.median() <= RatioTarget);
    else
        row(figure, measured);
}

// The Trace history window's own cost: the tester polling with the window
// closed and then open (following the newest row, as it opens), in turns.
// The history keeps its rows either way, so the difference is the table's.
HistoryCost historyCost(MAIN64K& w, int periodMs, int seconds)
{
    HistoryCost out;
    std::vector<double> accepted;
    const auto share = [](const PollRun& t) { return 100.0 * t.cpu / (t.to - t.from); };
    for (int i = 0; i < RatioRounds; ++i) {
        const double closed = share(pollFor(w, periodMs, seconds, accepted));
        w.showHistory();
        spin(300);
        const double open = share(pollFor(w, periodMs, seconds, accepted));
        w.historyWindow()->close();
        spin(300);
        out.ratio.ratios.push_back(open / closed);
    }
    out.rows = w.history().size();
    out.bytes = w.history().memoryBytes();
    return out;
}

void reportHistory(const HistoryCost& cost, int periodMs, int seconds)
{
    section(QStringLiteral("Polling at %1 ms with the trace history window open, in turns of %2 s").arg(periodMs).arg(seconds));
    QStringList each;
    for (double r : cost.ratio.ratios)
        each << QString::number(r, 'f', 2);
    row(QStringLiteral("tester CPU, history open / closed, median of %1 turns").arg(cost.ratio.ratios.size()),
        QStringLiteral("%1 (%2)").arg(cost.ratio.median(), 0, 'f', 2).arg(each.join(QStringLiteral(", "))),
        QStringLiteral("<= %1").arg(HistoryTarget, 0, 'f', 1), cost.ratio.median() <= HistoryTarget);
    row(QStringLiteral("history rows held at the end, memory"),
        QStringLiteral("%1, %2 MB").arg(cost.rows).arg(double(cost.bytes) / (1024.0 * 1024.0), 0, 'f', 1));
}

// The window as the program makes it for --device sim, polled at 30 ms.
BuiltInRun pollBuiltIn(int seconds)
{
    QTemporaryDir dir;
    auto w = std::make_unique<MAIN64K>(dir.path(), std::make_unique<sim::BuiltInPort>());
    w->Form_Load();
    w->useBuiltInDevice(QStringLiteral("virtual validator"));
    w->show();
    spin(500);
    BuiltInRun out;
    PollSession* s = w->session();
    QObject::connect(s, &PollSession::replyChecked, s, [&out](const CheckedReply& c) {
        if (c.checksumOk)
            ++out.good;
        out.replyMs.push_back(double(c.sinceWriteNs) / 1e6);
    });
    QObject::connect(s, &PollSession::messageSent, s, [&out] { ++out.sent; });
    std::vector<double> accepted;
    out.run = pollFor(*w, 30, seconds, accepted);
    return out;
}

void reportBuiltIn(const BuiltInRun& b, double ptyTesterCpu, double ptySimCpu, int seconds)
{
    section(QStringLiteral("Built-in validator (--device sim) at 30 ms for %1 s, against the pseudo-terminal").arg(seconds));
    row(QStringLiteral("polls sent, good replies"), QStringLiteral("%1, %2").arg(b.sent).arg(b.good),
        QStringLiteral("all answered"), b.sent > 0 && b.good >= b.sent - 1);
    // 8 bytes out and 11 back, 10 bits each at 9600 baud.
    const double lineMs = (8 + 11) * 10 * 1000.0 / 9600;
    const double median = quantile(b.replyMs, 0.5);
    row(QStringLiteral("reply time by the session's clock, median"), QStringLiteral("%1 ms").arg(median, 0, 'f', 3),
        QStringLiteral("%1 ms +- 1 ms").arg(lineMs, 0, 'f', 2), std::abs(median - lineMs) <= 1.0);
    row(QStringLiteral("reply time by the session's clock, p99"),
        QStringLiteral("%1 ms").arg(quantile(b.replyMs, 0.99), 0, 'f', 3));
    const double cpu = 100.0 * b.run.cpu / (b.run.to - b.run.from);
    const double pty = ptyTesterCpu + ptySimCpu;
    row(QStringLiteral("CPU, pseudo-terminal path (tester %1 % + pollbench-sim %2 %)")
            .arg(ptyTesterCpu, 0, 'f', 2)
            .arg(ptySimCpu, 0, 'f', 2),
        QStringLiteral("%1 %").arg(pty, 0, 'f', 2));
    row(QStringLiteral("CPU, built-in validator (tester and device in one process)"),
        QStringLiteral("%1 %").arg(cpu, 0, 'f', 2), QStringLiteral("<= pseudo-terminal path"), ptySimCpu >= 0 && cpu <= pty);
}

}  // namespace bench
