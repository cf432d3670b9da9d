// The tester end to end: its window and real serial port in this process,
// the virtual validator as a child process on a pseudo-terminal, the frame
// times taken from the validator's log. Prints one table, each figure beside
// its target; with --micro it folds in the micro-benchmarks' JSON.
#include "settings/settings.h"
#include "sim/builtinport.h"
#include "tester/main64k.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <optional>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr int WaitMs = 15000;

double nowSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

double cpuSeconds()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) * 1e-6;
}

// A field of /proc/<pid>/status in kB, -1 when missing.
long statusKb(const QString& pid, const char* field)
{
    QFile f(QStringLiteral("/proc/%1/status").arg(pid));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : f.readAll().split('\n'))
        if (line.startsWith(field))
            return line.mid(int(qstrlen(field))).trimmed().split(' ').first().toLong();
    return -1;
}

void progress(const char* text)
{
    std::fprintf(stderr, "bench: %s\n", text);
    std::fflush(stderr);
}

// Runs the event loop for ms, on a precise clock.
void spin(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
}

double quantile(std::vector<double> v, double q)
{
    if (v.empty())
        return std::nan("");
    std::sort(v.begin(), v.end());
    const double pos = q * double(v.size() - 1);
    const auto lo = std::size_t(std::floor(pos));
    const auto hi = std::min(v.size() - 1, lo + 1);
    return v[lo] + (v[hi] - v[lo]) * (pos - double(lo));
}

// ---- the result table ----

struct Row {
    QString figure, measured, target, verdict;
};
std::vector<Row> rows;
bool allMet = true;

void row(const QString& figure, const QString& measured, const QString& target = QStringLiteral("-"),
         std::optional<bool> met = std::nullopt)
{
    QString verdict;
    if (met) {
        verdict = *met ? QStringLiteral("met") : QStringLiteral("MISSED");
        allMet = allMet && *met;
    }
    rows.push_back({figure, measured, target, verdict});
}

void section(const QString& title)
{
    rows.push_back({title, {}, {}, {}});
}

QString ms(double seconds, int decimals = 3)
{
    return QString::number(seconds * 1e3, 'f', decimals) + QStringLiteral(" ms");
}

void printTable()
{
    int w[3] = {6, 8, 6};
    for (const Row& r : rows) {
        w[0] = std::max(w[0], int(r.figure.size()));
        w[1] = std::max(w[1], int(r.measured.size()));
        w[2] = std::max(w[2], int(r.target.size()));
    }
    const auto line = [&](const QString& a, const QString& b, const QString& c, const QString& d) {
        std::printf("%s\n", qPrintable((QStringLiteral("| ") + a.leftJustified(w[0]) + QStringLiteral(" | ")
                                        + b.rightJustified(w[1]) + QStringLiteral(" | ") + c.leftJustified(w[2])
                                        + QStringLiteral(" | ") + d.leftJustified(6) + QStringLiteral(" |"))
                                           .trimmed()));
    };
    line(QStringLiteral("Figure"), QStringLiteral("Measured"), QStringLiteral("Target"), QStringLiteral("Result"));
    line(QString(w[0], QLatin1Char('-')), QString(w[1], QLatin1Char('-')), QString(w[2], QLatin1Char('-')),
         QString(6, QLatin1Char('-')));
    for (const Row& r : rows) {
        if (r.measured.isEmpty() && r.target.isEmpty())
            line(QStringLiteral("**") + r.figure + QStringLiteral("**"), {}, {}, {});
        else
            line(r.figure, r.measured, r.target, r.verdict);
    }
}

// Processor seconds another process has used so far, from /proc/<pid>/stat;
// negative when it cannot be read.
double processCpuSeconds(qint64 pid)
{
    QFile f(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray stat = f.readAll();
    // Past the command name in parentheses: state is field 3, utime 14, stime 15.
    const QList<QByteArray> fields = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 13)
        return -1;
    return double(fields[11].toLongLong() + fields[12].toLongLong()) / double(sysconf(_SC_CLK_TCK));
}

// ---- the simulator's log ----

struct LogFrame {
    double t;
    char dir;         // 'H' host frame, 'V' validator write
    int control = 0;  // byte 2
    bool goodReply = false;
};

std::vector<LogFrame> readLog(const QString& path)
{
    std::vector<LogFrame> out;
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return out;
    for (const QByteArray& line : f.readAll().split('\n')) {
        const QList<QByteArray> p = line.split(' ');
        if (p.size() < 5 || p[1].size() != 1)
            continue;
        LogFrame fr{p[0].toDouble(), p[1][0]};
        if (fr.dir != 'H' && fr.dir != 'V')
            continue;
        fr.control = p[4].toInt(nullptr, 16);  // time, direction, STX, length, control
        // The simulator notes after " ; " what it spoiled on purpose; none is asked for here.
        fr.goodReply = fr.dir == 'V' && p.size() == 2 + 11 && !line.contains(';');
        out.push_back(fr);
    }
    return out;
}

// ---- the simulator process ----

class Sim {
public:
    QProcess process;
    QByteArray said;

    bool start(const QString& program, const QString& link, const QString& log)
    {
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.start(program, {QStringLiteral("--link"), link, QStringLiteral("--log"), log, QStringLiteral("--no-stdin")});
        if (!process.waitForStarted(WaitMs))
            return false;
        QElapsedTimer t;
        t.start();
        while (!said.contains("ready ") && t.elapsed() < WaitMs && process.waitForReadyRead(WaitMs))
            said += process.readAllStandardOutput();
        return said.contains("ready ");
    }
    void stop()
    {
        if (process.state() == QProcess::NotRunning)
            return;
        process.terminate();
        if (!process.waitForFinished(WaitMs)) {
            process.kill();
            process.waitForFinished();
        }
    }
};

// ---- polling through the window ----

struct PollRun {
    int periodMs;
    QString label;              // what the run is called in the table
    double from, to;            // monotonic seconds around the run
    double cpu;                 // seconds of this process
    std::vector<double> replies;  // when reception accepted a good reply
};

PollRun pollFor(MAIN64K& w, int periodMs, int seconds, std::vector<double>& accepted, const QString& record = {})
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

// What a poll's wake-ups and paints cost on this machine before the tester
// does anything: a bare window of the tester's size, woken by a precise
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
struct CpuRatio {
    std::vector<double> ratios;
    double median() const { return quantile(ratios, 0.5); }
};
constexpr int RatioRounds = 3;
constexpr double RatioTarget = 2.0;

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

// ---- the built-in validator against the pseudo-terminal path ----

struct BuiltInRun {
    PollRun run;
    std::vector<double> replyMs;  // by the session's own clock, write to read
    qint64 sent = 0, good = 0;
};

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

// ---- the real program: start to window shown ----

// Start to the first flush of the whole window to the screen, as the
// program's own paint log stamps it on the monotonic clock (milliseconds).
struct StartResult {
    std::vector<double> seconds;
    long hwmKb = -1;
    bool ok = true;
};

StartResult startUps(const QString& program, int runs)
{
    StartResult out;
    QTemporaryDir dir;
    const QString copy = dir.filePath(QStringLiteral("pollbench"));
    if (!QFile::copy(program, copy)) {
        out.ok = false;
        return out;
    }
    settings::writeSettingsFile(settings::settingsPath(dir.path()), settings::SavedSettings{});
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("QT_LOGGING_RULES"), QStringLiteral("qt.widgets.painting=true"));
    env.insert(QStringLiteral("QT_MESSAGE_PATTERN"), QStringLiteral("%{time boot} %{category} %{message}"));
    for (int i = 0; i <= runs; ++i) {  // the first run only warms the caches
        QProcess p;
        p.setProcessEnvironment(env);
        p.setProcessChannelMode(QProcess::SeparateChannels);
        p.setStandardOutputFile(QProcess::nullDevice());
        p.setReadChannel(QProcess::StandardError);
        const double t0 = nowSeconds();
        p.start(copy, {});
        double shown = -1;
        QByteArray pending;
        QElapsedTimer t;
        t.start();
        while (shown < 0 && t.elapsed() < WaitMs && p.waitForReadyRead(WaitMs)) {
            pending += p.readAllStandardError();
            qsizetype nl;
            while (shown < 0 && (nl = pending.indexOf('\n')) >= 0) {
                const QByteArray line = pending.left(nl);
                pending.remove(0, nl + 1);
                if (line.contains("Flushing QRegion(") && line.contains(" of MAIN64K("))
                    shown = line.trimmed().split(' ').first().toDouble();
            }
        }
        if (shown < 0) {
            out.ok = false;
        } else if (i > 0) {
            out.seconds.push_back(shown - t0);
            out.hwmKb = std::max(out.hwmKb, statusKb(QString::number(p.processId()), "VmHWM:"));
        }
        p.kill();
        p.waitForFinished();
    }
    return out;
}

void readMicro(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        row(QStringLiteral("micro-benchmarks"), QStringLiteral("no results in ") + path);
        return;
    }
    section(QStringLiteral("Micro-benchmarks (CPU time per operation)"));
    const QJsonArray list = QJsonDocument::fromJson(f.readAll()).object().value(QStringLiteral("benchmarks")).toArray();
    for (const QJsonValue& v : list) {
        const QJsonObject b = v.toObject();
        double ns = b.value(QStringLiteral("cpu_time")).toDouble();
        const QString unit = b.value(QStringLiteral("time_unit")).toString();
        if (unit == QLatin1String("us"))
            ns *= 1e3;
        else if (unit == QLatin1String("ms"))
            ns *= 1e6;
        const QString text = ns >= 10000 ? QStringLiteral("%1 us").arg(ns / 1000, 0, 'f', 1)
                                         : QStringLiteral("%1 ns").arg(ns, 0, 'f', 1);
        row(b.value(QStringLiteral("name")).toString(), text);
    }
}

}  // namespace

int main(int argc, char* argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    // A private runtime directory where the session has none, so Qt has
    // nothing to warn about between the progress lines.
    QTemporaryDir runtime;
    if (qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR") && runtime.isValid())
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));
    QApplication app(argc, argv);
    QApplication::setStyle(QStringLiteral("Fusion"));  // as the program does

    QCommandLineParser p;
    p.addHelpOption();
    const QCommandLineOption simOpt(QStringLiteral("sim"), QStringLiteral("pollbench-sim program"),
                                    QStringLiteral("path"), QStringLiteral(SIM_PATH));
    const QCommandLineOption programOpt(QStringLiteral("program"), QStringLiteral("pollbench program"),
                                        QStringLiteral("path"), QStringLiteral(PROGRAM_PATH));
    const QCommandLineOption microOpt(QStringLiteral("micro"), QStringLiteral("Google Benchmark JSON to fold in"),
                                      QStringLiteral("file"));
    const QCommandLineOption secondsOpt(QStringLiteral("seconds"), QStringLiteral("seconds per poll rate (60)"),
                                        QStringLiteral("s"), QStringLiteral("60"));
    const QCommandLineOption idleOpt(QStringLiteral("idle"), QStringLiteral("seconds idle (10)"), QStringLiteral("s"),
                                     QStringLiteral("10"));
    const QCommandLineOption startsOpt(QStringLiteral("starts"), QStringLiteral("program starts timed (5)"),
                                       QStringLiteral("n"), QStringLiteral("5"));
    p.addOptions({simOpt, programOpt, microOpt, secondsOpt, idleOpt, startsOpt});
    p.process(app);
    const int seconds = std::max(1, p.value(secondsOpt).toInt());
    const int idleSeconds = std::max(1, p.value(idleOpt).toInt());
    const int starts = std::max(1, p.value(startsOpt).toInt());

    // The real program first, while this process is still small.
    progress("timing the program's start");
    const StartResult s = startUps(p.value(programOpt), starts);

    QTemporaryDir dir;
    const QString link = dir.filePath(QStringLiteral("COM1"));
    const QString logPath = dir.filePath(QStringLiteral("frames.log"));
    Sim sim;
    if (!sim.start(p.value(simOpt), link, logPath)) {
        std::fprintf(stderr, "bench: the simulator did not start\n");
        return 2;
    }

    // The window exactly as the program makes it, on its own serial port;
    // no SETUP.INI, so port 1 (the COM1 link) and channels 1 to 7.
    auto w = std::make_unique<MAIN64K>(dir.path());
    w->Form_Load();
    w->show();
    spin(500);

    // When reception accepted a good reply: run right after the window's
    // own handler, on the port's own notification.
    std::vector<double> accepted;
    accepted.reserve(1 << 16);
    const auto own = w->session()->port().onComm;
    MAIN64K* window = w.get();
    w->session()->port().onComm = [own, window, &accepted] {
        const bool before = window->session()->replyReceived();
        own();
        if (!before && window->session()->replyReceived())
            accepted.push_back(nowSeconds());
    };

    progress("polling at 30 ms");
    const double simCpu0 = processCpuSeconds(sim.process.processId());
    const PollRun at30 = pollFor(*w, 30, seconds, accepted);
    const double simCpu30 = simCpu0 < 0 ? -1 : processCpuSeconds(sim.process.processId()) - simCpu0;
    progress("polling at 100 ms");
    const PollRun at100 = pollFor(*w, 100, seconds, accepted);
    progress("polling at 30 ms with the record on");
    const PollRun recorded = pollFor(*w, 30, seconds, accepted, dir.filePath(QStringLiteral("bench.csv")));

    // The ratios: shorter turns, each tester turn followed by a bare window's.
    const int ratioSeconds = std::max(10, seconds / 4);
    const auto ratioFor = [&](int periodMs, bool record) {
        CpuRatio r;
        for (int i = 0; i < RatioRounds; ++i) {
            const PollRun t = pollFor(*w, periodMs, ratioSeconds, accepted,
                                      record ? dir.filePath(QStringLiteral("ratio.csv")) : QString());
            const double tester = 100.0 * t.cpu / (t.to - t.from);
            r.ratios.push_back(tester / bareWindowCpu(periodMs, ratioSeconds));
        }
        return r;
    };
    progress("tester and bare window in turns at 30 ms");
    const CpuRatio ratio30 = ratioFor(30, false);
    progress("tester and bare window in turns at 100 ms");
    const CpuRatio ratio100 = ratioFor(100, false);
    progress("tester and bare window in turns at 30 ms with the record on");
    const CpuRatio ratioRecorded = ratioFor(30, true);

    progress("idle");
    const double idle0 = nowSeconds(), idleCpu0 = cpuSeconds();
    spin(idleSeconds * 1000);
    const double idleCpu = 100.0 * (cpuSeconds() - idleCpu0) / (nowSeconds() - idle0);
    const long hwm = statusKb(QStringLiteral("self"), "VmHWM:");
    const bool portWorked = w->session()->portReady();

    w.reset();
    sim.stop();
    progress("polling at 30 ms on the built-in validator");
    const BuiltInRun builtIn = pollBuiltIn(seconds);
    progress("a bare window at a poll's wake-ups and paints");
    const int bareSeconds = std::max(10, seconds / 3);
    const double bare = bareWindowCpu(30, bareSeconds);
    const std::vector<LogFrame> log = readLog(logPath);

    if (p.isSet(microOpt))
        readMicro(p.value(microOpt));
    report(at30, log, seconds, ratio30);
    report(at100, log, seconds, ratio100);
    report(recorded, log, seconds, ratioRecorded);
    reportBuiltIn(builtIn, 100.0 * at30.cpu / (at30.to - at30.from), 100.0 * simCpu30 / (at30.to - at30.from), seconds);
    section(QStringLiteral("Tester process"));
    row(QStringLiteral("port set up and polling"), portWorked ? QStringLiteral("yes") : QStringLiteral("no"),
        QStringLiteral("yes"), portWorked);
    row(QStringLiteral("tester CPU idle (%1 s, window shown, port open)").arg(idleSeconds),
        QStringLiteral("%1 %").arg(idleCpu, 0, 'f', 3), QStringLiteral("<= 0.1 % of a core"), idleCpu <= 0.1);
    row(QStringLiteral("bare Qt window, a 30 ms poll's wake-ups and paints (%1 s)").arg(bareSeconds),
        QStringLiteral("%1 %").arg(bare, 0, 'f', 2));
    row(QStringLiteral("peak RSS (VmHWM) after both runs"), QStringLiteral("%1 MB").arg(hwm / 1024.0, 0, 'f', 1),
        QStringLiteral("<= 60 MB"), hwm > 0 && hwm <= 60 * 1024);
    section(QStringLiteral("The pollbench program"));
    if (!s.ok || s.seconds.empty()) {
        row(QStringLiteral("start to window shown"), QStringLiteral("not seen"), QStringLiteral("<= 500 ms"), false);
    } else {
        const double worst = *std::max_element(s.seconds.begin(), s.seconds.end());
        row(QStringLiteral("start to window shown, median of %1").arg(s.seconds.size()), ms(quantile(s.seconds, 0.5), 0),
            QStringLiteral("<= 500 ms"), quantile(s.seconds, 0.5) <= 0.5);
        row(QStringLiteral("start to window shown, slowest"), ms(worst, 0), QStringLiteral("<= 500 ms"), worst <= 0.5);
        row(QStringLiteral("peak RSS (VmHWM) once shown"), QStringLiteral("%1 MB").arg(s.hwmKb / 1024.0, 0, 'f', 1),
            QStringLiteral("<= 60 MB"), s.hwmKb > 0 && s.hwmKb <= 60 * 1024);
    }

    double load[3] = {0, 0, 0};
    if (getloadavg(load, 3) == 3)
        std::fprintf(stderr, "bench: load average now %.2f %.2f %.2f\n", load[0], load[1], load[2]);
    printTable();
    // Figures, not a test: a miss is reported in the table, and the run itself
    // succeeded.
    std::printf("\n%s\n", allMet ? "Every target met." : "Some target MISSED (see the Result column).");
    return 0;
}
