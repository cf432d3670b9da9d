#include "sim/builtinport.h"

#include "link/pollsession.h"
#include "link/qtport.h"

#include <QRandomGenerator>

#include <algorithm>

namespace sim {

namespace {

// A delivery up to half a millisecond early or late is the same to the
// host: timers count whole milliseconds, and rounding to the nearest keeps
// the replies centred on the line's time instead of always after it.
constexpr std::int64_t HalfMsNs = 500'000;
constexpr std::int64_t MsNs = 1'000'000;

std::int64_t characterTime(const LineSettings& line)
{
    int bits = 1 + int(line.dataBits) + (line.parity == QSerialPort::NoParity ? 0 : 1);
    // One and a half stop bits count in halves.
    int halfBits = 2 * bits;
    switch (line.stopBits) {
    case QSerialPort::OneStop:
        halfBits += 2;
        break;
    case QSerialPort::OneAndHalfStop:
        halfBits += 3;
        break;
    case QSerialPort::TwoStop:
        halfBits += 4;
        break;
    }
    return std::int64_t(halfBits) * 1'000'000'000 / (2 * std::int64_t(line.baud));
}

}  // namespace

BuiltInPort::BuiltInPort(BuiltInOptions options, QObject* parent)
    : QObject(parent), options_(std::move(options)), device_(options_.device), autoOn_(options_.autoNotes)
{
    rng_.seed(options_.seed != 0 ? options_.seed : QRandomGenerator::global()->generate());
    LineSettings line;
    parseLineSettings(LineSettingsText, line);
    characterNs_ = characterTime(line);
    clock_.start();

    deliverTimer_.setSingleShot(true);
    deliverTimer_.setTimerType(Qt::PreciseTimer);
    connect(&deliverTimer_, &QTimer::timeout, this, &BuiltInPort::deliverDue);
    autoTimer_.setInterval(std::max(1, options_.autoIntervalMs));
    connect(&autoTimer_, &QTimer::timeout, this, &BuiltInPort::autoTick);
    scriptTimer_.setSingleShot(true);
    connect(&scriptTimer_, &QTimer::timeout, this, &BuiltInPort::scriptTick);
}

BuiltInPort::~BuiltInPort()
{
    onComm = nullptr;
    onFailure = nullptr;
}

void BuiltInPort::setCommPort(int)
{
    // The number names no device here: any stored number will do.
    if (open_)
        throw PortError(porterr::PortInUse, QStringLiteral("port already open"));
}

void BuiltInPort::setSettings(const QString& settings)
{
    LineSettings line;
    if (!parseLineSettings(settings, line))
        throw PortError(porterr::SettingsRefused, QStringLiteral("invalid line settings"));
    characterNs_ = characterTime(line);
}

void BuiltInPort::open()
{
    if (open_)
        throw PortError(porterr::PortInUse, QStringLiteral("port already open"));
    if (gone_)
        throw PortError(porterr::NoSuchPort, QStringLiteral("the virtual validator was switched off"));
    open_ = true;
    event_ = 0;
    inBuffer_.clear();
    if (!scriptClock_.isValid()) {
        scriptClock_.start();
        if (!options_.script.empty())
            scriptTimer_.start(int(std::max<qint64>(0, options_.script.front().atMs)));
    }
    if (autoOn_)
        autoTimer_.start();
}

void BuiltInPort::close()
{
    // Bytes still on their way are lost with the line.
    open_ = false;
    event_ = 0;
    arrivals_.clear();
    inBuffer_.clear();
    deliverTimer_.stop();
    autoTimer_.stop();
}

void BuiltInPort::throwIfClosed() const
{
    if (!open_)
        throw PortError(gone_ ? porterr::NoHardware : porterr::PortNotOpen, QStringLiteral("port not open"));
}

void BuiltInPort::output(const QByteArray& bytes)
{
    throwIfClosed();
    if (bytes.isEmpty())
        return;
    // The bytes follow any still going out, one character time each; the
    // device hears a frame once its last byte is through.
    const std::int64_t start = std::max(nowNs(), hostLineFreeNs_);
    hostLineFreeNs_ = start + characterNs_ * bytes.size();
    for (const frames::HostMessage& m : splitter_.feed(bytes))
        answer(hostLineFreeNs_, m);
    arm();
}

void BuiltInPort::answer(std::int64_t heardNs, const frames::HostMessage& message)
{
    // The device answers at once; each write of its answer then takes the
    // line for its own bytes, after those before it.
    std::int64_t writeNs = heardNs;
    for (const Chunk& c : device_.hear(message)) {
        writeNs += c.delayMs * MsNs;
        const std::int64_t start = std::max(writeNs, replyLineFreeNs_);
        replyLineFreeNs_ = start + characterNs_ * c.bytes.size();
        arrivals_.push_back({replyLineFreeNs_, c.bytes});
    }
}

void BuiltInPort::arm()
{
    if (arrivals_.empty()) {
        deliverTimer_.stop();
        return;
    }
    const std::int64_t wait = std::max<std::int64_t>(0, arrivals_.front().dueNs - nowNs() + HalfMsNs) / MsNs;
    deliverTimer_.start(int(wait));
}

void BuiltInPort::deliverDue()
{
    while (open_ && !arrivals_.empty() && arrivals_.front().dueNs <= nowNs() + HalfMsNs) {
        inBuffer_ += arrivals_.front().bytes;
        arrivals_.pop_front();
        // As a serial port does: raised on every arrival while the
        // threshold is met; the handler may write, read or close.
        if (rThreshold_ > 0 && inBuffer_.size() >= rThreshold_) {
            event_ = CommEventReceive;
            if (onComm)
                onComm();
        }
    }
    if (open_)
        arm();
}

QByteArray BuiltInPort::input()
{
    throwIfClosed();
    QByteArray bytes;
    bytes.swap(inBuffer_);
    return bytes;
}

void BuiltInPort::autoTick()
{
    insertAutoNote(device_, rng_);
}

void BuiltInPort::scriptTick()
{
    while (scriptNext_ < options_.script.size() && !gone_) {
        const ScriptStep& step = options_.script[scriptNext_];
        const qint64 wait = step.atMs - scriptClock_.elapsed();
        if (wait > 0) {
            scriptTimer_.start(int(wait));
            return;
        }
        ++scriptNext_;
        run(step.command);
    }
}

void BuiltInPort::run(const Command& c)
{
    if (c.name == QLatin1StringView("quit")) {
        switchOff();
    } else if (c.name == QLatin1StringView("auto")) {
        autoOn_ = !autoOn_;
        if (autoOn_ && open_)
            autoTimer_.start();
        else
            autoTimer_.stop();
    } else {
        // What the device would say (help, stats, status) has nobody to read it.
        applyCommand(device_, c);
    }
}

void BuiltInPort::switchOff()
{
    // The device leaves the line as an unplugged adapter does: the port
    // closes and reports it once, from the event loop.
    gone_ = true;
    scriptTimer_.stop();
    if (!open_)
        return;
    close();
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (!open_ && onFailure)
                onFailure(porterr::NoHardware);
        },
        Qt::QueuedConnection);
}

}  // namespace sim
