#include "cli/headless.h"

#include "cli/recording.h"
#include "cli/stoprequests.h"
#include "files/pathrule.h"
#include "files/wholefile.h"
#include "link/isotime.h"
#include "link/qtport.h"
#include "link/record.h"
#include "link/runstats.h"
#include "settings/settings.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSerialPortInfo>
#include <QTimer>

#include <cstdio>

#ifdef Q_OS_WIN
#include <io.h>
#else
#include <unistd.h>
#endif

namespace cli {

namespace {

// A pipe whose reader has quit, or a file that is full: written to no more,
// and the run goes on.
bool stderrGone = false;

void put(std::FILE* to, const QString& text)
{
    if (to == stderr && stderrGone)
        return;
    const bool ok = std::fputs(text.toLocal8Bit().constData(), to) >= 0;
    if ((std::fflush(to) != 0 || !ok) && to == stderr)
        stderrGone = true;
}

void tell(const QString& text)
{
    put(stderr, QStringLiteral("pollbench: %1\n").arg(text));
}

bool stderrIsTerminal()
{
#ifdef Q_OS_WIN
    return _isatty(_fileno(stderr)) != 0;
#else
    return isatty(fileno(stderr)) != 0;
#endif
}

// 3725000 ms: "1:02:05".
QString clockText(qint64 ms)
{
    const qint64 s = ms / 1000;
    return QStringLiteral("%1:%2:%3")
        .arg(s / 3600)
        .arg(s / 60 % 60, 2, 10, QLatin1Char('0'))
        .arg(s % 60, 2, 10, QLatin1Char('0'));
}

QString modeName(PollMode mode)
{
    return mode == PollMode::NegativeAck ? QStringLiteral("negative-ack") : QStringLiteral("normal");
}

QString channelList(const std::array<bool, frames::ChannelCount>& on)
{
    QStringList out;
    for (int c = 1; c <= frames::ChannelCount; ++c) {
        if (!on[std::size_t(c - 1)])
            continue;
        int last = c;
        while (last < frames::ChannelCount && on[std::size_t(last)])
            ++last;
        out << (last > c ? QStringLiteral("%1-%2").arg(c).arg(last) : QString::number(c));
        c = last;
    }
    return out.isEmpty() ? QStringLiteral("none") : out.join(QLatin1Char(','));
}

QStringList conditionNames(const Conditions& c)
{
    QStringList out;
    for (int i = 0; i < ConditionCount; ++i)
        if (c.test(std::size_t(i)))
            out << conditionName(Condition(i));
    return out;
}

// How often each condition of --fail-on was seen. Every validator reports
// its power-up when it starts: only one after that first report is news.
std::array<qint64, ConditionCount> conditionCounts(const RunStatistics& s, qint64 powerUpsAtStart)
{
    std::array<qint64, ConditionCount> c{};
    const NoteCounts notes = s.totalNotes();
    c[std::size_t(Condition::Timeout)] = s.noResponses;
    c[std::size_t(Condition::BadSum)] = s.repliesBadChecksum;
    c[std::size_t(Condition::Rejected)] = notes.rejected;
    c[std::size_t(Condition::Returned)] = notes.returned;
    c[std::size_t(Condition::Cheated)] = s.events.cheated;
    c[std::size_t(Condition::Failure)] = s.events.failure;
    c[std::size_t(Condition::Jam)] = s.events.jam;
    c[std::size_t(Condition::Full)] = s.events.stackerFull;
    c[std::size_t(Condition::PowerUp)] = s.events.powerUp - powerUpsAtStart;
    c[std::size_t(Condition::Invalid)] = s.events.invalidCommand;
    return c;
}

// What one run is set to do, settings file and options together.
struct RunSetup {
    std::int16_t port = 1;
    QString device;  // --device, or empty for the port number's device
    int pollPeriod = 100;
    PollMode mode = PollMode::Normal;
    bool escrow = true;
    std::array<bool, frames::ChannelCount> channels{};
};

// Longer than a reply takes on the line (11 bytes at 9600 baud, 12 ms) and a
// validator's answer time.
constexpr int LastReplyWaitMs = 200;

class Run : public QObject {
public:
    Run(const Options& options, const RunSetup& setup, const QString& programDir)
        : options_(options), setup_(setup), programDir_(programDir)
    {
        auto port = std::make_unique<QtPort>(programDir);
        port->setDeviceOverride(setup.device);
        session_ = std::make_unique<PollSession>(std::move(port));

        session_->setPortNumber(setup.port);
        session_->requestReopen();  // whatever the number, the first poll sets the port up
        session_->setPollPeriod(setup.pollPeriod);
        session_->setEscrow(setup.escrow);
        for (int c = 1; c <= frames::ChannelCount; ++c)
            session_->setChannelEnabled(c, setup.channels[std::size_t(c - 1)]);
        // Negative ACK repeats the last message, and a fresh session has
        // none: the run's first message is a new one, every poll after it
        // repeats it.
        session_->setMode(PollMode::Normal);
        if (setup.mode == PollMode::NegativeAck) {
            connect(session_.get(), &PollSession::messageSent, this,
                    [this] { session_->setMode(PollMode::NegativeAck); }, Qt::SingleShotConnection);
        }

        connect(session_.get(), &PollSession::portFailed, this, [this](int number) {
            portError_ = number;
            put(stderr, QStringLiteral("%1Communication Port Error (#:%2) on %3\n")
                            .arg(progressShown_ ? QStringLiteral("\n") : QString())
                            .arg(number)
                            .arg(deviceShown()));
            progressShown_ = false;
            finishSoon(QStringLiteral("port error"));
        });
        // The statistics have counted each reply by the time it comes here.
        connect(session_.get(), &PollSession::replyChecked, this, [this](const auto&, bool good, const auto&) {
            if (good && powerUpsAtStart_ < 0)
                powerUpsAtStart_ = stats().events.powerUp;
            if (options_.notes && stats().totalNotes().stacked >= *options_.notes)
                finishSoon(QStringLiteral("%1 notes stacked").arg(*options_.notes));
        });
        connect(&stops_, &StopRequests::requested, this, [this](const QString& what) { finishSoon(what); });

        endTimer_.setSingleShot(true);
        endTimer_.setTimerType(Qt::PreciseTimer);
        connect(&endTimer_, &QTimer::timeout, this, [this] { armEnd(); });
        progressTimer_.setInterval(1000);
        connect(&progressTimer_, &QTimer::timeout, this, [this] { progressTick(); });
        onTerminal_ = stderrIsTerminal();
    }

    // False, with why, when the run cannot begin.
    bool begin(QString* why)
    {
        if (!options_.record.isEmpty()) {
            SessionRecord* record = startRecording(*session_, options_.record, this, why);
            if (!record)
                return false;
            // Told as it happens, and again in the report and the exit status.
            connect(record, &SessionRecord::failed, this, [this](const QString& message) {
                recordError_ = message;
                tellBetweenProgress(message);
            });
            connect(record, &SessionRecord::summaryFailed, this, [this](const QString& message) {
                summaryError_ = message;
                tellBetweenProgress(message);
            });
        }
        clock_.start();
        if (options_.durationMs)
            armEnd();
        progressTimer_.start();
        session_->start();
        return true;
    }

    int status() const { return status_; }

private:
    const RunStatistics& stats() const { return session_->statistics(); }
    Conditions occurred() const
    {
        const auto counts = conditionCounts(stats(), std::max<qint64>(powerUpsAtStart_, 0));
        Conditions c;
        for (int i = 0; i < ConditionCount; ++i)
            c.set(std::size_t(i), counts[std::size_t(i)] > 0);
        return c;
    }

    // A line of its own, also when the progress line is up on a terminal.
    void tellBetweenProgress(const QString& text)
    {
        if (progressShown_)
            put(stderr, QStringLiteral("\n"));
        progressShown_ = false;
        tell(text);
    }

    QString deviceShown() const
    {
        if (!setup_.device.isEmpty())
            return setup_.device;
        const QString device = portDeviceName(session_->portNumber(), programDir_);
        return device.isEmpty() ? QStringLiteral("port %1").arg(session_->portNumber()) : device;
    }

    // The duration may exceed what one timer takes: it is waited out in hours.
    void armEnd()
    {
        const qint64 left = *options_.durationMs - clock_.elapsed();
        if (left <= 0) {
            finish(QStringLiteral("duration reached"));
            return;
        }
        endTimer_.start(int(std::min<qint64>(left, 3600 * 1000)));
    }

    QString progressLine() const
    {
        return QStringLiteral("%1  polls %2  stacked %3  returned %4  rejected %5  time-outs %6  bad checksums %7")
            .arg(clockText(clock_.elapsed()))
            .arg(stats().pollsSent)
            .arg(stats().totalNotes().stacked)
            .arg(stats().totalNotes().returned)
            .arg(stats().totalNotes().rejected)
            .arg(stats().noResponses)
            .arg(stats().repliesBadChecksum);
    }

    // Each second on a terminal, in place; every ten seconds as plain lines
    // into a file or a pipe.
    void progressTick()
    {
        ++ticks_;
        if (onTerminal_) {
            QString line = progressLine();
            const qsizetype width = line.size();
            if (width < lastWidth_)
                line += QString(lastWidth_ - width, QLatin1Char(' '));
            lastWidth_ = width;
            put(stderr, QLatin1Char('\r') + line);
            progressShown_ = true;
        } else if (ticks_ % 10 == 0) {
            put(stderr, progressLine() + QLatin1Char('\n'));
        }
    }

    // The end is reached inside one of the session's reports: the port is
    // closed once that report is done.
    void finishSoon(const QString& why)
    {
        QMetaObject::invokeMethod(this, [this, why] { finish(why); }, Qt::QueuedConnection);
    }

    // Polling stops; the reply to the last message, when one is still on its
    // way, is waited for a moment so that the counts end on a whole exchange.
    void finish(const QString& why)
    {
        if (finished_ || stopping_)
            return;
        stopping_ = true;
        endedBy_ = why;
        endTimer_.stop();
        session_->suspend();
        if (portError_ || !session_->portReady() || session_->replyReceived()) {
            close();
            return;
        }
        connect(session_.get(), &PollSession::replyChecked, this, [this] { close(); });
        connect(session_.get(), &PollSession::portFailed, this, [this] { close(); });
        QTimer::singleShot(LastReplyWaitMs, this, [this] { close(); });
    }

    void close()
    {
        if (finished_)
            return;
        finished_ = true;
        progressTimer_.stop();
        session_->closePort();
        stopRecording(this);
        ended_ = QDateTime::currentDateTime();
        // The line on a terminal ends on the run's last figures.
        if (onTerminal_ && !portError_)
            progressTick();
        if (progressShown_)
            put(stderr, QStringLiteral("\n"));

        const Conditions met = occurred() & options_.failOn;
        status_ = portError_ ? ExitPortFailed : met.any() ? ExitConditionMet : ExitCompleted;
        if (met.any())
            tell(QStringLiteral("failed on %1").arg(conditionNames(met).join(QStringLiteral(", "))));

        // A file of the run that was not written whole is a failed run.
        const bool filesFailed = !recordError_.isEmpty() || !summaryError_.isEmpty();
        if (filesFailed && status_ != ExitPortFailed)
            status_ = ExitReportFailed;
        if (!options_.report.isEmpty()) {
            QString why;
            if (!writeReport(&why)) {
                tell(QStringLiteral("the report was not written: %1").arg(why));
                if (status_ != ExitPortFailed)
                    status_ = ExitReportFailed;
            }
        } else {
            put(stdout, summaryText());
        }
        QCoreApplication::exit(status_);
    }

    // How the run was set up and how it ended, beside the statistics.
    QJsonObject runJson() const
    {
        QJsonArray channels;
        for (int c = 1; c <= frames::ChannelCount; ++c)
            if (setup_.channels[std::size_t(c - 1)])
                channels.append(c);
        QJsonObject run{
            {QStringLiteral("program"), VersionText},
            {QStringLiteral("device"), deviceShown()},
            {QStringLiteral("port"), setup_.port},
            {QStringLiteral("poll_rate_ms"), setup_.pollPeriod},
            {QStringLiteral("mode"), modeName(setup_.mode)},
            {QStringLiteral("escrow"), setup_.escrow},
            {QStringLiteral("channels"), channels},
            {QStringLiteral("ended"), isoTime(ended_)},
            {QStringLiteral("ended_by"), endedBy_},
            {QStringLiteral("fail_on"), QJsonArray::fromStringList(conditionNames(options_.failOn))},
            {QStringLiteral("failed_on"), QJsonArray::fromStringList(conditionNames(occurred() & options_.failOn))},
            {QStringLiteral("exit_status"), status_},
        };
        if (portError_)
            run.insert(QStringLiteral("port_error"), portError_);
        if (!options_.record.isEmpty())
            run.insert(QStringLiteral("record"), options_.record);
        if (!recordError_.isEmpty())
            run.insert(QStringLiteral("record_error"), recordError_);
        if (!summaryError_.isEmpty())
            run.insert(QStringLiteral("summary_error"), summaryError_);
        return run;
    }

    // The run's statistics as a record's summary keeps them, and the run.
    QJsonObject reportJson() const
    {
        QJsonObject report = stats().toJson();
        report.insert(QStringLiteral("run"), runJson());
        return report;
    }

    bool writeReport(QString* why) const
    {
        return files::replaceWhole(options_.report, QJsonDocument(reportJson()).toJson(QJsonDocument::Indented), why);
    }

    // The statistics' own lines between the run's, in the same columns.
    QString summaryText() const
    {
        auto line = [](const char* label, const QString& value) {
            return QStringLiteral("%1 %2\n").arg(QLatin1String(label), -18).arg(value);
        };
        const auto counts = conditionCounts(stats(), std::max<qint64>(powerUpsAtStart_, 0));
        QStringList seen;
        for (int i = 0; i < ConditionCount; ++i)
            if (counts[std::size_t(i)] > 0)
                seen << QStringLiteral("%1 %2").arg(conditionName(Condition(i))).arg(counts[std::size_t(i)]);
        const Conditions met = occurred() & options_.failOn;

        QString text = QStringLiteral("%1, unattended run on %2\n").arg(VersionText, deviceShown());
        text += line("settings", QStringLiteral("poll rate %1 ms, %2, escrow %3, channels %4")
                                     .arg(setup_.pollPeriod)
                                     .arg(modeName(setup_.mode),
                                          setup_.escrow ? QStringLiteral("on") : QStringLiteral("off"),
                                          channelList(setup_.channels)));
        text += line("started", isoTime(stats().startedAt()));
        text += line("ended", QStringLiteral("%1 (%2)").arg(isoTime(ended_), endedBy_));
        text += stats().toText();
        text += line("conditions", seen.isEmpty() ? QStringLiteral("none") : seen.join(QStringLiteral(", ")));
        if (options_.failOn.any())
            text += line("failed on",
                         met.any() ? conditionNames(met).join(QStringLiteral(", ")) : QStringLiteral("nothing"));
        if (!recordError_.isEmpty())
            text += line("record error", recordError_);
        if (!summaryError_.isEmpty())
            text += line("summary error", summaryError_);
        text += line("exit status", QString::number(status_));
        return text;
    }

    const Options& options_;
    RunSetup setup_;
    QString programDir_;
    std::unique_ptr<PollSession> session_;
    StopRequests stops_;
    QTimer endTimer_;
    QTimer progressTimer_;
    QElapsedTimer clock_;
    QDateTime ended_;
    QString endedBy_;
    QString recordError_;   // why the record stopped early
    QString summaryError_;  // why the record's summary was not written
    bool onTerminal_ = false;
    bool progressShown_ = false;
    qsizetype lastWidth_ = 0;
    qint64 ticks_ = 0;
    int portError_ = 0;
    qint64 powerUpsAtStart_ = -1;  // power-ups counted by the first good reply; -1 before it
    bool stopping_ = false;
    bool finished_ = false;
    int status_ = ExitCompleted;
};

// Every file the run will write, checked before the night is spent: no two
// on one path, none on the serial line, and each a regular file or a new
// one. Empty when all is well, or the one line that says what is wrong.
QString outputsProblem(const Options& options, const RunSetup& setup, const QString& programDir)
{
    const QString device = !setup.device.isEmpty() ? setup.device : portDeviceName(setup.port, programDir);
    const QString summary = options.record.isEmpty() ? QString() : SessionRecord::summaryPath(options.record);
    const struct {
        const char* option;
        QString path;
    } outputs[] = {{"--record", options.record}, {"--report", options.report}};
    for (const auto& out : outputs) {
        if (out.path.isEmpty())
            continue;
        if (!device.isEmpty() && files::samePlace(out.path, device))
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
        d.port = 1;
        d.pollRate = QStringLiteral("100");
        for (int i = 0; i < 7; ++i)
            d.channels[std::size_t(i)] = true;
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
    if (!text.contains(QLatin1StringView("Sys.Color")))
        return firstRun();
    StoredSettings s;
    const settings::LoadedSettings loaded = settings::parseSettings(text);
    s.port = loaded.comPort.value_or(0);
    s.pollRate = loaded.pollRate.value_or(QString());
    for (int i = 0; i < frames::ChannelCount; ++i)
        s.channels[std::size_t(i)] = loaded.channels[std::size_t(i)].value_or(0) == 1;
    if (loaded.failedLine != 0) {
        s.problem = QStringLiteral("line %1: %2").arg(loaded.failedLine).arg(loaded.failure);
        for (int i = 7; i < frames::ChannelCount; ++i)
            s.channels[std::size_t(i)] = false;
    }
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

    Run run(options, setup, programDir);
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
    put(stderr, QStringLiteral("pollbench: %1\n\n%2").arg(options.error, helpText()));
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
