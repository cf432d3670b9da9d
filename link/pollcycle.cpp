// One poll: set the port up when asked to, build a new host message after a
// good reply or send the last one again.
#include "link/pollsession.h"

PollMode nextPollMode(PollMode mode)
{
    switch (mode) {
    case PollMode::Normal:
        return PollMode::StepInto;
    case PollMode::StepInto:
        return PollMode::Interrupt;
    case PollMode::Interrupt:
        return PollMode::NegativeAck;
    case PollMode::NegativeAck:
        break;
    }
    return PollMode::Normal;
}

QString pollModeCaption(PollMode mode)
{
    switch (mode) {
    case PollMode::Normal:
        return QStringLiteral("Normal Poll");
    case PollMode::StepInto:
        return QStringLiteral("Step Into");
    case PollMode::Interrupt:
        return QStringLiteral("Interrupt Mode");
    case PollMode::NegativeAck:
        break;
    }
    return QStringLiteral("Negative ACK");
}

PollSession::PollSession(std::unique_ptr<CommPort> port, QObject* parent)
    : QObject(parent),
      port_(std::move(port)),
      // A precise poll clock: a coarse timer may slip 5 % of a 30 ms period.
      PollTime(0, true, Qt::PreciseTimer, this)
{
    PollTime.onTimer = [this] { PollTime_Timer(); };
    port_->onComm = [this] { MSComm1_OnComm(); };
    port_->onFailure = [this](int number) { portFailure(number); };
    // About five byte times at 9600 baud: the rest of a burst already on its way.
    pause_.setSingleShot(true);
    pause_.setInterval(ResyncPauseMs);
    pause_.setTimerType(Qt::PreciseTimer);
    connect(&pause_, &QTimer::timeout, this, &PollSession::endPause);
    clock_.start();
}

PollSession::~PollSession()
{
    port_->onComm = nullptr;
    port_->onFailure = nullptr;
    if (port_->portOpen())
        port_->close();
}

void PollSession::setPortNumber(std::int16_t number)
{
    if (number != portNumber_)
        link_.reopen = true;
    portNumber_ = number;
}

void PollSession::setMode(PollMode mode)
{
    if (mode == mode_)
        return;
    mode_ = mode;
    emit modeChanged(mode, clockNs());
}

void PollSession::setChannelEnabled(int channel, bool on)
{
    if (channel >= 1 && channel <= frames::ChannelCount)
        channels_[channel - 1] = on;
}

bool PollSession::channelEnabled(int channel) const
{
    return channel >= 1 && channel <= frames::ChannelCount && channels_[channel - 1];
}

void PollSession::start()
{
    link_.running = true;
    // A start in these modes runs the clock and acts as if the last message
    // had been answered, so the first message after it is new, control 0x10.
    if (mode_ == PollMode::Normal || mode_ == PollMode::NegativeAck) {
        PollTime.setInterval(period_);
        PollTime.setEnabled(true);
        link_.replyReceived = true;
        link_.ack = true;
        link_.awaitingReply = false;
    }
    emit started(mode_, clockNs());
    hold({});
    port_->discardInput();
    PollValidator();
}

void PollSession::suspend()
{
    PollTime.setEnabled(false);
    if (!link_.running)
        return;
    link_.running = false;
    emit suspended(clockNs());
}

void PollSession::closePort()
{
    suspend();
    hold({});
    link_.portReady = false;
    link_.reopen = true;
    if (port_->portOpen())
        port_->close();
}

void PollSession::reset()
{
    closePort();
    pause_.stop();
    link_ = LinkState{};
    emit sessionReset();
}

void PollSession::stopRunning()
{
    if (!link_.running)
        return;
    link_.running = false;
    PollTime.setEnabled(false);
    emit stopped(clockNs());
}

void PollSession::PollTime_Timer()
{
    if (link_.running)
        PollValidator();
}

void PollSession::OpenCommPort()
{
    try {
        if (port_->portOpen())
            port_->close();
        port_->setCommPort(portNumber_);
        port_->setSettings(LineSettingsText);
        port_->setInputLen(0);
        port_->setInputMode(1);
        port_->setRThreshold(ReceiveThreshold);
        port_->setSThreshold(1);
        port_->setDTREnable(true);
        port_->setRTSEnable(true);
        port_->open();
        link_.portReady = true;
    } catch (const PortError& e) {
        link_.portReady = false;
        stopRunning();
        emit portFailed(e.number(), clockNs());
    }
}

void PollSession::PollValidator()
{
    if (link_.reopen)
        OpenCommPort();
    if (!link_.portReady)
        return;
    link_.reopen = false;

    emit pollBegins();

    const bool build = link_.replyReceived && mode_ != PollMode::NegativeAck;
    if (build) {
        link_.ack = !link_.ack;
        frames::HostRequest request;
        request.ack = link_.ack;
        request.channels = channels_;
        request.escrow = escrow_;
        const bool escrowed = (link_.reply.status(0) & frames::EscrowedBit) != 0;
        const int channel = link_.decoding.channelNumber;
        if (escrowed && channel == 0) {
            request.returnNote = true;
        } else if (escrowed && escrow_) {
            // A channel the tester does not have cannot be enabled: the note goes back.
            if (channelEnabled(channel))
                request.stack = true;
            else
                request.returnNote = true;
        }
        link_.message = frames::buildHostMessage(request);
        emit messageBuilt(link_.message);
    }

    try {
        port_->output(link_.message.toByteArray());
        link_.lastWriteNs = clockNs();
    } catch (const PortError& e) {
        portFailure(e.number());
        return;
    }

    if (!link_.replyReceived && link_.awaitingReply)
        emit noResponse(link_.lastWriteNs);
    emit messageSent(SentMessage{link_.message, !build, link_.replyReceived, link_.lastWriteNs});
    link_.replyReceived = false;
    link_.awaitingReply = !link_.message.isEmpty();
    if (mode_ == PollMode::StepInto)
        stopRunning();
}

// The port died while polling (adapter pulled, far end gone, a write
// refused): the same as a set-up that failed, so the next start sets it up
// again. The port layer has closed the port already and reports once.
void PollSession::portFailure(int number)
{
    if (port_->portOpen())
        port_->close();
    const bool wasReady = link_.portReady;
    link_.portReady = false;
    link_.reopen = true;
    link_.pending.clear();
    link_.pendingBehindStray = false;
    if (!wasReady)
        return;  // this failure is being reported already
    stopRunning();
    emit portFailed(number, clockNs());
}
