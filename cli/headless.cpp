#include "cli/headless.h"

#include "cli/console.h"
#include "cli/portchoice.h"
#include "cli/run.h"
#include "files/pathrule.h"
#include "files/wholefile.h"
#include "link/qtport.h"
#include "run/record.h"
#include "settings/benchfile.h"
#include "settings/rules.h"
#include "settings/settings.h"

#include <QCoreApplication>
#include <QDir>
#include <QSerialPortInfo>

namespace cli {

namespace {

// Every file the run will write, checked before the night is spent: no two
// on one path, none on the serial line, and each a regular file or a new
// one. Empty when all is well, or the one line that says what is wrong.
QString outputsProblem(const Options& options, const RunSetup& setup, const QString& programDir)
{
    const QString device = portDeviceName(setup.device, setup.port, programDir, setup.bindings);
    const QString summary = options.record.isEmpty() ? QString() : SessionRecord::summaryPath(options.record);
    const struct {
        const char* option;
        QString path;
    } outputs[] = {{"--record", options.record}, {"--report", options.report}};
    for (const auto& out : outputs) {
        if (!out.path.isEmpty() && !device.isEmpty() && files::samePlace(out.path, device))
            return QStringLiteral("%1: %2 is the serial line of this run").arg(QLatin1String(out.option), out.path);
    }
    if (!options.record.isEmpty() && !options.report.isEmpty()) {
        if (files::samePlace(options.record, options.report))
            return QStringLiteral("--record and --report name one file, %1").arg(options.report);
        if (files::samePlace(summary, options.report))
            return QStringLiteral("--report %1 is where the record's summary goes").arg(options.report);
    }
    if (!options.record.isEmpty()) {
        if (const QString why = files::whyNotWritable(options.record); !why.isEmpty())
            return QStringLiteral("--record: %1").arg(why);
    }
    QString why;
    if (!options.report.isEmpty() && !files::canReplace(options.report, &why))
        return QStringLiteral("--report: %1").arg(why);
    return {};
}

}  // namespace

StoredSettings readStoredSettings(const QString& path)
{
    const auto firstRun = [] {
        StoredSettings d;
        d.port = settings::FirstRun.comPort;
        d.pollRate = settings::FirstRun.pollRate;
        for (int i = 0; i < frames::ChannelCount; ++i)
            d.channels[std::size_t(i)] = settings::FirstRun.channels[std::size_t(i)] == 1;
        return d;
    };
    // Only a regular file is opened: a FIFO or a device could hold the run.
    if (settings::inspectPath(path).kind == settings::PathKind::Missing)
        return firstRun();
    QString text;
    try {
        text = settings::settingsText(settings::readFileBytes(path));
    } catch (const settings::SettingsError& e) {
        // A file that cannot be used at all: a first run's values, as the window takes.
        StoredSettings d = firstRun();
        d.problem = QString::fromStdString(e.what());
        return d;
    }
    // The window deletes such a file and starts afresh; a run never writes.
    if (!settings::isSettingsText(text))
        return firstRun();
    StoredSettings s;
    settings::LoadedSettings loaded = settings::parseSettings(text);
    settings::applyDamagedFileRule(loaded);
    s.port = loaded.comPort.value_or(0);
    s.pollRate = loaded.pollRate.value_or(QString());
    for (int i = 0; i < frames::ChannelCount; ++i)
        s.channels[std::size_t(i)] = loaded.channels[std::size_t(i)].value_or(0) == 1;
    if (loaded.failedLine != 0)
        s.problem = QStringLiteral("line %1: %2").arg(loaded.failedLine).arg(loaded.failure);
    return s;
}

int runHeadless(const Options& options, const QString& programDir)
{
    // The settings file only fills in what the options leave open.
    const QString path = settings::locateSettings(programDir).readPath;
    const StoredSettings stored = readStoredSettings(path);
    if (!stored.problem.isEmpty())
        tell(QStringLiteral("%1 was not read whole (%2); what it did not give is left as the window leaves it")
                 .arg(QDir::toNativeSeparators(path), stored.problem));

    RunSetup setup;
    setup.device = options.device;
    // A number names what the operator bound it to in the window: the bench
    // file beside the settings file the window uses, only read here. A
    // device given for the run needs no number.
    if (setup.device.isEmpty()) {
        QString problem;  // names the file
        setup.bindings = settings::readPortBindings(
            settings::benchFilePath(settings::locateSettings(programDir).path), &problem);
        if (!problem.isEmpty())
            tell(QStringLiteral("the port bindings were not read (%1); port numbers name their usual devices")
                     .arg(problem));
    }
    setup.port = options.port.value_or(stored.port);
    setup.mode = options.mode;
    setup.escrow = options.escrow;
    setup.channels = options.channels.value_or(stored.channels);
    if (options.pollPeriod) {
        setup.pollPeriod = *options.pollPeriod;
    } else {
        const auto period = pollPeriodFrom(stored.pollRate);
        if (!period) {
            tell(QStringLiteral("the poll rate \"%1\" of %2 is no poll rate; give --rate MS")
                     .arg(stored.pollRate, QDir::toNativeSeparators(path)));
            return ExitUsage;
        }
        setup.pollPeriod = *period;
    }
    if (const QString problem = outputsProblem(options, setup, programDir); !problem.isEmpty()) {
        tell(problem);
        return ExitUsage;
    }
    // The record goes on without a summary; said now, and again at the end.
    if (!options.record.isEmpty()) {
        if (const QString why = files::whyNotWritable(SessionRecord::summaryPath(options.record)); !why.isEmpty())
            tell(QStringLiteral("the record's summary will not be written: %1").arg(why));
    }
    QString why;

    auto port = makePort(setup.device, programDir, &why, setup.bindings);
    if (!port) {
        tell(why);
        return ExitUsage;
    }
    Run run(options, setup, programDir, std::move(port));
    if (!run.begin(&why)) {
        tell(why);
        return ExitUsage;
    }
    QCoreApplication::exec();
    return run.status();
}

int runWithoutWindow(const Options& options)
{
    switch (options.kind) {
    case RunKind::Help:
        put(stdout, helpText());
        return ExitCompleted;
    case RunKind::Version:
        put(stdout, VersionText + QLatin1Char('\n'));
        return ExitCompleted;
    case RunKind::ListPorts:
        return listPorts();
    case RunKind::Headless:
        return runHeadless(options, QCoreApplication::applicationDirPath());
    case RunKind::BadUsage:
    case RunKind::Window:
        break;
    }
    // The mistake, not buried under the whole usage.
    put(stderr, QStringLiteral("pollbench: %1\nTry 'pollbench --help'\n").arg(options.error));
    return ExitUsage;
}

int listPorts()
{
    const QList<QSerialPortInfo> ports = QSerialPortInfo::availablePorts();
    if (ports.isEmpty())
        tell(QStringLiteral("no serial ports found"));
    auto field = [](const QString& s) { return s.isEmpty() ? QStringLiteral("-") : s; };
    auto id = [](bool has, quint16 v) { return has ? QStringLiteral("%1").arg(v, 4, 16, QLatin1Char('0')) : QStringLiteral("-"); };
    for (const QSerialPortInfo& p : ports) {
#ifdef Q_OS_WIN
        const QString device = p.portName();
#else
        const QString device = p.systemLocation();
#endif
        put(stdout, QStringLiteral("%1\t%2\t%3\t%4\t%5:%6\n")
                        .arg(device, field(p.description()), field(p.manufacturer()), field(p.serialNumber()),
                             id(p.hasVendorIdentifier(), p.vendorIdentifier()),
                             id(p.hasProductIdentifier(), p.productIdentifier())));
    }
    return ExitCompleted;
}

}  // namespace cli
