#include "sim/simulator.h"

#include <QFile>
#include <QSocketNotifier>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <unistd.h>

namespace sim {

qint64 monotonicMicros()
{
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return qint64(t.tv_sec) * 1000000 + t.tv_nsec / 1000;
}

const QStringList& randomFaultKinds()
{
    static const QStringList kinds{QStringLiteral("badsum"), QStringLiteral("garbage"), QStringLiteral("silence"),
                                   QStringLiteral("split"),  QStringLiteral("double"),  QStringLiteral("cheat"),
                                   QStringLiteral("failure"), QStringLiteral("invalid")};
    return kinds;
}

Simulator::Simulator(std::unique_ptr<Line> line, SimOptions options, QObject* parent)
    : QObject(parent), line_(std::move(line)), options_(std::move(options)), device_(options_.device)
{
    rng_.seed(options_.seed != 0 ? options_.seed : std::uint32_t(monotonicMicros()));
    device_.onNotice = [this](const QString& text) { say(text); };

    autoTimer_.setInterval(std::max(1, options_.autoIntervalMs));
    connect(&autoTimer_, &QTimer::timeout, this, &Simulator::autoTick);
    scriptTimer_.setSingleShot(true);
    connect(&scriptTimer_, &QTimer::timeout, this, &Simulator::scriptTick);
    sendTimer_.setSingleShot(true);
    sendTimer_.setTimerType(Qt::PreciseTimer);
    connect(&sendTimer_, &QTimer::timeout, this, &Simulator::flushOutgoing);
    // A tester that polls is alive; after two quiet seconds the one that had
    // the line may be gone, so the next may open it.
    quietTimer_.setInterval(1000);
    connect(&quietTimer_, &QTimer::timeout, this, [this] {
        if (clock_.nsecsElapsed() - lastHeardNs_ > 2000000000LL)
            line_->releaseExclusive();
    });
}

Simulator::~Simulator()
{
    if (log_)
        std::fclose(log_);
}

bool Simulator::start(QString* error)
{
    if (!options_.logPath.isEmpty()) {
        log_ = std::fopen(QFile::encodeName(options_.logPath).constData(), "w");
        if (!log_) {
            *error = QStringLiteral("cannot write the log %1").arg(options_.logPath);
            return false;
        }
    }
    clock_.start();
    lineNotifier_ = new QSocketNotifier(line_->fd(), QSocketNotifier::Read, this);
    connect(lineNotifier_, &QSocketNotifier::activated, this, &Simulator::lineReadable);
    if (options_.readStdin) {
        stdinNotifier_ = new QSocketNotifier(STDIN_FILENO, QSocketNotifier::Read, this);
        connect(stdinNotifier_, &QSocketNotifier::activated, this, &Simulator::stdinReadable);
    }
    quietTimer_.start();
    if (options_.autoNotes)
        autoTimer_.start();
    if (options_.noiseRate > 0) {
        noiseTimer_.setInterval(10);
        connect(&noiseTimer_, &QTimer::timeout, this, &Simulator::noiseTick);
        noiseSentNs_ = clock_.nsecsElapsed();
        noiseTimer_.start();
    }
    if (!options_.script.empty())
        scriptTimer_.start(int(std::max<qint64>(0, options_.script.front().atMs)));
    return true;
}

void Simulator::say(const QString& text)
{
    std::fputs(text.toLocal8Bit().constData(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

void Simulator::logFrame(char direction, const QByteArray& bytes, const QString& note)
{
    if (!log_ || bytes.isEmpty())
        return;
    const qint64 us = monotonicMicros();
    std::fprintf(log_, "%lld.%06lld %c", static_cast<long long>(us / 1000000), static_cast<long long>(us % 1000000),
                 direction);
    for (char c : bytes)
        std::fprintf(log_, " %02X", unsigned(std::uint8_t(c)));
    if (!note.isEmpty())
        std::fprintf(log_, " ; %s", note.toLocal8Bit().constData());
    std::fputc('\n', log_);
    std::fflush(log_);
}

void Simulator::lineReadable()
{
    bool closed = false;
    const QByteArray bytes = line_->readAvailable(&closed);
    if (!bytes.isEmpty()) {
        lastHeardNs_ = clock_.nsecsElapsed();
        const auto frames = splitter_.feed(bytes);
        logFrame('X', splitter_.droppedLast(), QStringLiteral("not a host frame"));
        for (const auto& m : frames) {
            logFrame('H', QByteArray(reinterpret_cast<const char*>(m.bytes.data()), frames::HostMessage::Size));
            maybeInjectFault();
            send(device_.hear(m));
        }
    }
    if (closed) {
        say(QStringLiteral("line closed"));
        stop();
    }
}

void Simulator::maybeInjectFault()
{
    if (!options_.faults || options_.faultKinds.isEmpty())
        return;
    if (int(rng_() % 100) >= options_.faultRatePercent)
        return;
    const QString kind = options_.faultKinds[int(rng_() % std::uint32_t(options_.faultKinds.size()))];
    QString line = kind;
    if (kind == QLatin1StringView("silence"))
        line += QStringLiteral(" %1").arg(1 + int(rng_() % 3));
    else if (kind == QLatin1StringView("split"))
        line += QStringLiteral(" %1").arg(int(rng_() % 25));
    say(QStringLiteral("fault ") + line);
    if (const auto c = parseCommand(line))
        applyCommand(device_, *c);
}

void Simulator::send(const std::vector<Chunk>& chunks)
{
    // Writes keep their order: a reply split with a pause delays those behind it.
    qint64 due = clock_.nsecsElapsed();
    if (!outgoing_.empty())
        due = std::max(due, outgoing_.back().dueNs);
    for (const Chunk& c : chunks) {
        due += qint64(c.delayMs) * 1000000;
        outgoing_.push_back({due, c.bytes, c.note});
    }
    if (options_.padByte >= 0 && !chunks.empty())
        outgoing_.push_back({due, QByteArray(1, char(options_.padByte)), QStringLiteral("pad")});
    flushOutgoing();
}

void Simulator::noiseTick()
{
    if (!line_)
        return;  // the run has ended and its line is closed
    // As many bytes as the rate owes since the noise began, in one write.
    const qint64 now = clock_.nsecsElapsed();
    const qint64 owed = (now - noiseSentNs_) / 1000 * options_.noiseRate / 1000000 - noiseBytes_;
    if (owed <= 0)
        return;
    QByteArray bytes(qsizetype(std::min<qint64>(owed, 65536)), char(options_.noiseByte));
    if (options_.noiseByte < 0)
        for (char& b : bytes)
            b = char(rng_() & 0x7F);  // what a 7-bit line can carry
    noiseBytes_ += owed;
    QString why;
    if (line_->write(bytes, &why))
        logFrame('V', bytes, QStringLiteral("noise"));
}

void Simulator::flushOutgoing()
{
    while (line_ && !outgoing_.empty()) {
        const qint64 wait = outgoing_.front().dueNs - clock_.nsecsElapsed();
        if (wait > 0) {
            sendTimer_.start(int((wait + 999999) / 1000000));
            return;
        }
        const Outgoing o = outgoing_.front();
        outgoing_.pop_front();
        QString why;
        if (line_->write(o.bytes, &why))
            logFrame('V', o.bytes, o.note);
        else
            logFrame('V', o.bytes, QStringLiteral("not written: ") + why);
    }
}

void Simulator::autoTick()
{
    insertAutoNote(device_, rng_);
}

void Simulator::scriptTick()
{
    while (scriptNext_ < options_.script.size()) {
        const ScriptStep& step = options_.script[scriptNext_];
        const qint64 wait = step.atMs - clock_.elapsed();
        if (wait > 0) {
            scriptTimer_.start(int(wait));
            return;
        }
        ++scriptNext_;
        if (!run(step.command))  // parsed when the script was read
            return;
    }
}

void Simulator::stdinReadable()
{
    char buf[16384];
    const ssize_t n = ::read(STDIN_FILENO, buf, sizeof buf);
    if (n < 0 && errno == EINTR)
        return;
    if (n <= 0) {
        stdinNotifier_->setEnabled(false);
        stop();
        return;
    }
    // Only the new bytes are searched, and a line that outgrows the limit is
    // dropped as it comes: endless input without a newline costs neither
    // memory nor a rescan.
    const char* p = buf;
    const char* const end = buf + n;
    while (p < end) {
        const char* eol = static_cast<const char*>(std::memchr(p, '\n', std::size_t(end - p)));
        const qsizetype length = (eol ? eol : end) - p;
        if (!stdinSkipping_) {
            if (stdinLine_.size() + length > MaxCommandLine) {
                std::fprintf(stderr, "pollbench-sim: line %lld of standard input is longer than %lld bytes; skipped\n",
                             static_cast<long long>(stdinLineNumber_ + 1), static_cast<long long>(MaxCommandLine));
                stdinSkipping_ = true;
                stdinLine_.clear();
            } else {
                stdinLine_.append(p, length);
            }
        }
        if (!eol)
            break;
        p = eol + 1;
        ++stdinLineNumber_;
        if (stdinSkipping_) {
            stdinSkipping_ = false;
            continue;
        }
        const QString line = QString::fromLocal8Bit(stdinLine_);
        stdinLine_.clear();
        if (!command(line))
            return;
    }
}

bool Simulator::command(const QString& text)
{
    if (quitting_)
        return false;
    QString error;
    const auto c = parseCommand(text, &error);
    if (!c) {
        say(QStringLiteral("error: ") + error);
        return true;
    }
    return run(*c);
}

bool Simulator::run(const Command& c)
{
    if (quitting_)
        return false;
    if (c.name.isEmpty())
        return true;
    if (c.name == QLatin1StringView("quit")) {
        stop();
        return false;
    }
    if (c.name == QLatin1StringView("help")) {
        say(commandHelp().trimmed());
    } else if (c.name == QLatin1StringView("stats")) {
        say(QStringLiteral("stats ") + countsLine(device_.counts()));
    } else if (c.name == QLatin1StringView("auto")) {
        if (autoTimer_.isActive())
            autoTimer_.stop();
        else
            autoTimer_.start();
        say(autoTimer_.isActive() ? QStringLiteral("auto on") : QStringLiteral("auto off"));
    } else if (const auto answer = applyCommand(device_, c); answer && !answer->isEmpty()) {
        say(*answer);
    }
    return true;
}

void Simulator::stop()
{
    if (quitting_)
        return;
    quitting_ = true;
    autoTimer_.stop();
    scriptTimer_.stop();
    sendTimer_.stop();
    quietTimer_.stop();
    noiseTimer_.stop();
    if (lineNotifier_)
        lineNotifier_->setEnabled(false);
    if (stdinNotifier_)
        stdinNotifier_->setEnabled(false);
    say(QStringLiteral("stats ") + countsLine(device_.counts()));
    line_.reset();
    emit finished();
}

}  // namespace sim
