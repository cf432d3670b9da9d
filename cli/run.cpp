#include "cli/run.h"

#include "cli/console.h"
#include "cli/portchoice.h"
#include "cli/recording.h"
#include "files/wholefile.h"
#include "link/qtport.h"
#include "run/record.h"

#include <QCoreApplication>
#include <QJsonDocument>

#include <algorithm>

namespace cli {

namespace {

// Longer than a reply takes on the line (11 bytes at 9600 baud, 12 ms) and a
// validator's answer time.
constexpr int LastReplyWaitMs = 200;
// The longest single wait of the end timer; a longer duration is waited out in these.
constexpr qint64 EndTimerStepMs = 3600 * 1000;
constexpr int ProgressTickMs = 1000;
// Into a file or a pipe the progress goes as a plain line every this many ticks.
constexpr int PlainProgressEveryTicks = 10;

}  // namespace

Run::Run(const Options& options, const RunSetup& setup, const QString& programDir, std::unique_ptr<CommPort> port)
    : options_(options), setup_(setup), programDir_(programDir)
{
    session_ = std::make_unique<PollSession>(std::move(port));
    stats_ = std::make_unique<RunStatistics>(*session_);

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

    connect(session_.get(), &PollSession::portFailed, this, [this](int number, std::int64_t) {
        portError_ = number;
        put(stderr, QStringLiteral("%1Communication Port Error (#:%2) on %3\n")
                        .arg(progressShown_ ? QStringLiteral("\n") : QString())
                        .arg(number)
                        .arg(deviceShown()));
        progressShown_ = false;
        finishSoon(QStringLiteral("port error"));
    });
    // Whether the last message has its answer, for a clean end.
    connect(session_.get(), &PollSession::messageSent, this, [this] { answered_ = false; });
    connect(session_.get(), &PollSession::replyChecked, this,
            [this](const CheckedReply& c) { answered_ = answered_ || c.messageAnswered; });
    // Told by the figures once they have counted, whatever the order the
    // session's reports reach their receivers in.
    connect(stats_.get(), &RunStatistics::changed, this, [this] {
        if (powerUpsAtStart_ >= 0 && !options_.notes)
            return;
        const Figures f = stats_->figures();
        // The first reply the figures count (a whole valid frame) says what
        // the validator started with.
        if (f.repliesGood > 0 && powerUpsAtStart_ < 0)
            powerUpsAtStart_ = f.events.powerUp;
        if (options_.notes && f.totalNotes().stacked >= *options_.notes)
            finishSoon(QStringLiteral("%1 notes stacked").arg(*options_.notes));
    });
    connect(&stops_, &StopRequests::requested, this, [this](const QString& what) { finishSoon(what); });

    endTimer_.setSingleShot(true);
    endTimer_.setTimerType(Qt::PreciseTimer);
    connect(&endTimer_, &QTimer::timeout, this, [this] { armEnd(); });
    progressTimer_.setInterval(ProgressTickMs);
    connect(&progressTimer_, &QTimer::timeout, this, [this] { progressTick(); });
    onTerminal_ = stderrIsTerminal();
}

Run::~Run() = default;

bool Run::begin(QString* why)
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

ConditionCounts Run::counts() const
{
    return conditionCounts(stats_->figures(), std::max<qint64>(powerUpsAtStart_, 0));
}

QString Run::deviceShown() const
{
    if (isBuiltInDevice(setup_.device))
        return BuiltInDeviceName;
    const QString device = portDeviceName(setup_.device, setup_.port, programDir_, setup_.bindings);
    return device.isEmpty() ? QStringLiteral("port %1").arg(setup_.port) : device;
}

// A line of its own, also when the progress line is up on a terminal.
void Run::tellBetweenProgress(const QString& text)
{
    if (progressShown_)
        put(stderr, QStringLiteral("\n"));
    progressShown_ = false;
    tell(text);
}

// The duration may exceed what one timer takes: it is waited out in hours.
void Run::armEnd()
{
    const qint64 left = *options_.durationMs - clock_.elapsed();
    if (left <= 0) {
        finish(QStringLiteral("duration reached"));
        return;
    }
    endTimer_.start(int(std::min<qint64>(left, EndTimerStepMs)));
}

// Each second on a terminal, in place; every ten seconds as plain lines
// into a file or a pipe.
void Run::progressTick()
{
    ++ticks_;
    const Progress figures = progressOf(clock_.elapsed(), stats_->figures());
    if (onTerminal_) {
        // A line as wide as the terminal wraps, and each rewrite then leaves
        // a line behind: one column is kept free. Read at each tick, so a
        // terminal made narrower is followed.
        const int columns = stderrColumns();
        const int room = columns > 1 ? columns - 1 : DefaultProgressWidth;
        QString line = progressLine(figures, room);
        const qsizetype width = line.size();
        const qsizetype clear = std::min<qsizetype>(lastWidth_, room);
        if (width < clear)
            line += QString(clear - width, QLatin1Char(' '));
        lastWidth_ = width;
        put(stderr, QLatin1Char('\r') + line);
        progressShown_ = true;
    } else if (ticks_ % PlainProgressEveryTicks == 0) {
        put(stderr, progressLine(figures, 0) + QLatin1Char('\n'));
    }
}

// The end is reached inside one of the session's reports: the port is
// closed once that report is done.
void Run::finishSoon(const QString& why)
{
    QMetaObject::invokeMethod(this, [this, why] { finish(why); }, Qt::QueuedConnection);
}

// Polling stops; the reply to the last message, when one is still on its
// way, is waited for a moment so that the counts end on a whole exchange.
void Run::finish(const QString& why)
{
    if (finished_ || stopping_)
        return;
    stopping_ = true;
    endedBy_ = why;
    endTimer_.stop();
    session_->suspend();
    if (portError_ || answered_) {
        close();
        return;
    }
    connect(session_.get(), &PollSession::replyChecked, this, [this] { close(); });
    connect(session_.get(), &PollSession::portFailed, this, [this] { close(); });
    QTimer::singleShot(LastReplyWaitMs, this, [this] { close(); });
}

void Run::close()
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

    const ConditionCounts seen = counts();
    const Conditions met = occurred(seen) & options_.failOn;
    status_ = portError_ ? ExitPortFailed : met.any() ? ExitConditionMet : ExitCompleted;
    if (met.any())
        tell(QStringLiteral("failed on %1").arg(conditionNames(met).join(QStringLiteral(", "))));

    // A file of the run that was not written whole is a failed run.
    if ((!recordError_.isEmpty() || !summaryError_.isEmpty()) && status_ != ExitPortFailed)
        status_ = ExitReportFailed;
    RunEnd end{deviceShown(), ended_, endedBy_, status_, portError_, options_.record, recordError_, summaryError_};
    if (!options_.report.isEmpty()) {
        QString why;
        if (!writeReport(end, &why)) {
            tell(QStringLiteral("the report was not written: %1").arg(why));
            if (status_ != ExitPortFailed)
                status_ = ExitReportFailed;
        }
    } else {
        put(stdout, summaryText(stats_->figures(), setup_, end, options_.failOn, seen));
    }
    QCoreApplication::exit(status_);
}

bool Run::writeReport(const RunEnd& end, QString* why) const
{
    // Replaced whole once every byte is on the disk: a full disk keeps the old report.
    return files::replaceWhole(
        options_.report,
        QJsonDocument(reportJson(stats_->figures(), setup_, end, options_.failOn, counts())).toJson(QJsonDocument::Indented), why);
}

}  // namespace cli
