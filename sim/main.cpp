// pollbench-sim: a banknote validator on a pseudo-terminal or a serial port.
#include "sim/simulator.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QSocketNotifier>

#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace {

int signalPipe[2] = {-1, -1};

void onSignal(int number)
{
    const char c = char(number);
    [[maybe_unused]] const ssize_t n = ::write(signalPipe[1], &c, 1);
}

int fail(const QString& text)
{
    std::fprintf(stderr, "pollbench-sim: %s\n", text.toLocal8Bit().constData());
    return 2;
}

bool positiveOption(const QCommandLineParser& p, const QString& name, int min, int max, int& out)
{
    if (!p.isSet(name))
        return true;
    bool ok = false;
    const int v = p.value(name).toInt(&ok);
    if (!ok || v < min || v > max)
        return false;
    out = v;
    return true;
}

}  // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("pollbench-sim"));
    QCoreApplication::setApplicationVersion(QStringLiteral(POLLBENCH_VERSION));

    QCommandLineParser p;
    p.setApplicationDescription(
        QStringLiteral("A banknote validator in software, for trying the tester without hardware.\n"
                       "It answers every host message with a reply, carries notes through accepting,\n"
                       "escrow, stacking or returning, and misbehaves on command.\n\n"
                       "Commands, one a line on standard input or in a script:\n")
        + sim::commandHelp()
        + QStringLiteral("\nScript lines: \"MS command\" at MS ms after the start, \"+MS command\" MS ms after\n"
                         "the line before; \"# ...\" is a comment.\n\n"
                         "Log lines: seconds of the monotonic clock with microseconds, H (host frame),\n"
                         "V (a write of the validator) or X (host bytes that are no frame), the bytes in\n"
                         "hexadecimal, and after \" ; \" what was done to them on purpose:\n"
                         "  12.345678 H 02 08 10 7F 00 00 03 67\n"
                         "  12.345712 V 02 0B 20 01 00 01 00 00 00 03 2B"));
    const QCommandLineOption help = p.addHelpOption();
    const QCommandLineOption version = p.addVersionOption();
    const QCommandLineOption link(QStringLiteral("link"),
                                  QStringLiteral("Create a pseudo-terminal, link <path> to it and print \"ready <path>\"."),
                                  QStringLiteral("path"));
    const QCommandLineOption device(QStringLiteral("device"),
                                    QStringLiteral("Play the validator on the serial port <dev> (9600 7E1)."),
                                    QStringLiteral("dev"));
    const QCommandLineOption script(QStringLiteral("script"), QStringLiteral("Play the timed commands of <file>."),
                                    QStringLiteral("file"));
    const QCommandLineOption autoNotes(QStringLiteral("auto"),
                                       QStringLiteral("Insert a note on a random enabled channel every couple of seconds."));
    const QCommandLineOption autoInterval(QStringLiteral("auto-interval"),
                                          QStringLiteral("Milliseconds between automatic notes (2000)."),
                                          QStringLiteral("ms"));
    const QCommandLineOption stagePolls(QStringLiteral("stage-polls"),
                                        QStringLiteral("Replies a note spends accepting, stacking or returning (2)."),
                                        QStringLiteral("n"));
    const QCommandLineOption faults(QStringLiteral("faults"),
                                    QStringLiteral("Inject random faults before host messages."));
    const QCommandLineOption faultRate(QStringLiteral("fault-rate"),
                                       QStringLiteral("Percent of host messages that get a random fault (5)."),
                                       QStringLiteral("percent"));
    const QCommandLineOption faultKinds(
        QStringLiteral("fault-kinds"),
        QStringLiteral("Comma-separated faults to draw from (badsum,garbage,silence,split,double; also cheat, "
                       "failure, invalid)."),
        QStringLiteral("list"));
    const QCommandLineOption seed(QStringLiteral("seed"), QStringLiteral("Seed of the random choices."),
                                  QStringLiteral("n"));
    const QCommandLineOption log(QStringLiteral("log"), QStringLiteral("Log every frame to <file>."),
                                 QStringLiteral("file"));
    const QCommandLineOption noStdin(QStringLiteral("no-stdin"),
                                     QStringLiteral("Read no commands; run until SIGINT or SIGTERM."));
    const QCommandLineOption noise(QStringLiteral("noise"),
                                   QStringLiteral("Write <rate> bytes a second of line noise between the replies."),
                                   QStringLiteral("rate"));
    const QCommandLineOption noiseByte(QStringLiteral("noise-byte"),
                                       QStringLiteral("Make the noise all <hex> bytes instead of random ones."),
                                       QStringLiteral("hex"));
    const QCommandLineOption padByte(QStringLiteral("pad-byte"),
                                     QStringLiteral("Write one <hex> byte after every reply."), QStringLiteral("hex"));
    p.addOptions({link, device, script, autoNotes, autoInterval, stagePolls, faults, faultRate, faultKinds, seed, log,
                  noStdin, noise, noiseByte, padByte});
    // Bad usage is status 2, as for the tester, and one line, not the usage.
    if (!p.parse(QCoreApplication::arguments()))
        return fail(p.errorText() + QStringLiteral("\nTry 'pollbench-sim --help'"));
    if (p.isSet(help))
        p.showHelp(0);
    if (p.isSet(version))
        p.showVersion();
    if (!p.positionalArguments().isEmpty())
        return fail(QStringLiteral("Unexpected argument '%1'.\nTry 'pollbench-sim --help'")
                        .arg(p.positionalArguments().first()));

    if (p.isSet(link) == p.isSet(device))
        return fail(QStringLiteral("give one of --link PATH or --device DEV (see --help)"));

    sim::SimOptions o;
    o.readStdin = !p.isSet(noStdin);
    o.autoNotes = p.isSet(autoNotes);
    o.faults = p.isSet(faults);
    o.logPath = p.value(log);
    if (!positiveOption(p, autoInterval.names().first(), 1, 3600000, o.autoIntervalMs))
        return fail(QStringLiteral("--auto-interval takes milliseconds"));
    if (!positiveOption(p, stagePolls.names().first(), 0, 1000, o.device.stagePolls))
        return fail(QStringLiteral("--stage-polls takes 0 to 1000"));
    if (!positiveOption(p, faultRate.names().first(), 0, 100, o.faultRatePercent))
        return fail(QStringLiteral("--fault-rate takes 0 to 100"));
    if (!positiveOption(p, noise.names().first(), 0, 10000000, o.noiseRate))
        return fail(QStringLiteral("--noise takes 0 to 10000000 bytes a second"));
    for (const auto& [option, target] : {std::pair{&noiseByte, &o.noiseByte}, std::pair{&padByte, &o.padByte}}) {
        if (!p.isSet(*option))
            continue;
        bool ok = false;
        const uint v = p.value(*option).toUInt(&ok, 16);
        if (!ok || v > 0xFF)
            return fail(QStringLiteral("--%1 takes one byte in hexadecimal").arg(option->names().first()));
        *target = int(v);
    }
    if (p.isSet(seed)) {
        bool ok = false;
        o.seed = p.value(seed).toUInt(&ok);
        if (!ok)
            return fail(QStringLiteral("--seed takes a number"));
    }
    if (p.isSet(faultKinds)) {
        o.faultKinds = p.value(faultKinds).split(QLatin1Char(','), Qt::SkipEmptyParts);
        for (const QString& k : o.faultKinds)
            if (!sim::randomFaultKinds().contains(k))
                return fail(QStringLiteral("unknown fault kind %1").arg(k));
    }
    if (p.isSet(script)) {
        QFile f(p.value(script));
        if (!f.open(QIODevice::ReadOnly))
            return fail(QStringLiteral("cannot read %1").arg(f.fileName()));
        QString why;
        const auto steps = sim::parseScript(QString::fromLocal8Bit(f.readAll()), &why);
        if (!steps)
            return fail(QStringLiteral("%1: %2").arg(f.fileName(), why));
        o.script = *steps;
    }

    if (::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return fail(QStringLiteral("no pipe for signals"));
    struct sigaction sa {};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGHUP, &sa, nullptr);
    sigaction(SIGQUIT, &sa, nullptr);  // its default would leave the link behind
    std::signal(SIGPIPE, SIG_IGN);

    QString error;
    std::unique_ptr<sim::Line> line = p.isSet(link) ? sim::Line::openPty(p.value(link), &error)
                                                    : sim::Line::openDevice(p.value(device), &error);
    if (!line)
        return fail(error);
    const QString name = line->name();

    sim::Simulator simulator(std::move(line), o);
    if (!simulator.start(&error))
        return fail(error);
    QObject::connect(&simulator, &sim::Simulator::finished, &app, &QCoreApplication::quit, Qt::QueuedConnection);

    QSocketNotifier signalNotifier(signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&signalNotifier, &QSocketNotifier::activated, [&simulator] {
        char c;
        while (::read(signalPipe[0], &c, 1) > 0) {
        }
        simulator.stop();
    });

    std::printf("ready %s\n", name.toLocal8Bit().constData());
    std::fflush(stdout);
    if (o.readStdin && ::isatty(STDIN_FILENO))
        std::printf("type help for the commands\n");
    std::fflush(stdout);
    return QCoreApplication::exec();
}
