// The tester end to end: its window and real serial port in this process,
// the virtual validator as a child process on a pseudo-terminal, the frame
// times taken from the validator's log. Prints one table, each figure beside
// its target; with --micro it folds in the micro-benchmarks' JSON.
#include "bench/benchtable.h"
#include "bench/polling.h"
#include "bench/programstart.h"
#include "bench/simchild.h"
#include "tester/main64k.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

using namespace bench;

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
    const QString ratioRecord = dir.filePath(QStringLiteral("ratio.csv"));
    progress("tester and bare window in turns at 30 ms");
    const CpuRatio ratio30 = testerOverBare(*w, 30, ratioSeconds, {});
    progress("tester and bare window in turns at 100 ms");
    const CpuRatio ratio100 = testerOverBare(*w, 100, ratioSeconds, {});
    progress("tester and bare window in turns at 30 ms with the record on");
    const CpuRatio ratioRecorded = testerOverBare(*w, 30, ratioSeconds, ratioRecord);
    progress("tester with the trace history closed and open in turns at 30 ms");
    const HistoryCost history = historyCost(*w, 30, ratioSeconds);

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
    reportHistory(history, 30, ratioSeconds);
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
    std::printf("\n%s\n", allTargetsMet() ? "Every target met." : "Some target MISSED (see the Result column).");
    return 0;
}
