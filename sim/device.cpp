#include "sim/device.h"

#include <algorithm>

namespace sim {

ChannelBytes encodeChannel(int channel)
{
    channel = std::clamp(channel, 0, MaxChannel);
    if (channel <= 15)
        return {std::uint8_t(channel << 3), 0};
    // channel = status 3 + 15 + base; status 3 takes as much as 7 bits allow.
    const int base = std::max(0, channel - 15 - 0x7F);
    return {std::uint8_t(base << 3), std::uint8_t(channel - 15 - base)};
}

const char* stageName(Stage s)
{
    switch (s) {
    case Stage::Idle:
        return "idle";
    case Stage::Accepting:
        return "accepting";
    case Stage::Escrowed:
        return "escrowed";
    case Stage::Stacking:
        return "stacking";
    case Stage::Returning:
        return "returning";
    }
    return "?";
}

int VirtualValidator::Counts::stackedTotal() const
{
    int n = 0;
    for (const auto& [channel, count] : stacked)
        n += count;
    return n;
}

VirtualValidator::VirtualValidator() : VirtualValidator(Options{}) {}

VirtualValidator::VirtualValidator(Options options) : options_(options)
{
    powerUp();
}

void VirtualValidator::powerUp()
{
    last_.reset();
    lastReply_ = {};
    stage_ = Stage::Idle;
    noteChannel_ = 0;
    left_ = 0;
    pending_ = {};
    reported_ = {};
    eventChannel_ = 0;
    pending_[2] = PowerUpEvent;
}

void VirtualValidator::clear()
{
    jammed_ = false;
    full_ = false;
    calibrating_ = false;
    lineFaults_.clear();
    silentPolls_ = 0;
}

bool VirtualValidator::channelEnabled(int channel) const
{
    return channel >= 1 && channel <= frames::ChannelCount && enables_[channel - 1];
}

bool VirtualValidator::insert(int channel, QString* why)
{
    auto refuse = [why](const char* reason) {
        if (why)
            *why = QString::fromLatin1(reason);
        return false;
    };
    if (channel < 0 || channel > MaxChannel)
        return refuse("no such channel");
    if (stage_ != Stage::Idle)
        return refuse("busy with a note");
    if (jammed_)
        return refuse("jammed");
    noteChannel_ = channel;
    enter(Stage::Accepting);
    notice(QStringLiteral("inserted %1").arg(channel));
    return true;
}

void VirtualValidator::cheat()
{
    // The note on the string is pulled back out: it is gone, not counted.
    if (stage_ != Stage::Idle)
        notice(QStringLiteral("lost %1").arg(noteChannel_));
    stage_ = Stage::Idle;
    noteChannel_ = 0;
    raise(1, CheatedEvent);
}

void VirtualValidator::raise(int statusByte, std::uint8_t bit, int channel)
{
    pending_[statusByte] |= bit;
    if (channel != 0)
        eventChannel_ = channel;
}

void VirtualValidator::notice(const QString& text)
{
    if (onNotice)
        onNotice(text);
}

std::vector<Chunk> VirtualValidator::hear(const frames::HostMessage& message)
{
    ++counts_.polls;
    if (silentPolls_ > 0) {
        // Deaf, not mute: the message is lost, so its repeat counts as new.
        --silentPolls_;
        ++counts_.deaf;
        return {};
    }
    if (last_ && last_->ackBit() == message.ackBit()) {
        ++counts_.repeats;
        return transmit(lastReply_);
    }
    advance(message);
    last_ = message;
    lastReply_ = buildReply(std::uint8_t(0x20 | (message.control() & 0x01)));
    if (!jammed_ && (stage_ == Stage::Accepting || stage_ == Stage::Stacking || stage_ == Stage::Returning))
        --left_;
    return transmit(lastReply_);
}

void VirtualValidator::enter(Stage s)
{
    stage_ = s;
    left_ = std::max(0, options_.stagePolls);
}

bool VirtualValidator::refuses(int channel) const
{
    if (full_ || calibrating_)
        return true;
    // Only channels 1..13 have an enable bit; the rest are the host's to judge.
    return channel >= 1 && channel <= frames::ChannelCount && !channelEnabled(channel);
}

void VirtualValidator::finishStage()
{
    const int channel = noteChannel_;
    switch (stage_) {
    case Stage::Accepting:
        if (refuses(channel)) {
            // The denomination of a refused note means nothing to the host.
            stage_ = Stage::Idle;
            noteChannel_ = 0;
            raise(1, RejectedEvent);
            ++counts_.rejected;
            notice(QStringLiteral("rejected %1").arg(channel));
        } else if (escrow_) {
            stage_ = Stage::Escrowed;
            notice(QStringLiteral("escrowed %1").arg(channel));
        } else {
            enter(Stage::Stacking);
        }
        break;
    case Stage::Stacking:
        stage_ = Stage::Idle;
        noteChannel_ = 0;
        raise(0, StackedEvent, channel);
        ++counts_.stacked[channel];
        notice(QStringLiteral("stacked %1").arg(channel));
        break;
    case Stage::Returning:
        stage_ = Stage::Idle;
        noteChannel_ = 0;
        raise(0, ReturnedEvent, channel);
        ++counts_.returned;
        notice(QStringLiteral("returned %1").arg(channel));
        break;
    case Stage::Idle:
    case Stage::Escrowed:
        break;
    }
}

void VirtualValidator::advance(const frames::HostMessage& m)
{
    for (int n = 0; n < 7; ++n)
        enables_[n] = (m.data0() >> n) & 1;
    for (int n = 7; n < frames::ChannelCount; ++n)
        enables_[n] = (m.data2() >> (n - 6)) & 1;
    escrow_ = (m.data1() & frames::EscrowEnabled) != 0;

    // A new message acknowledges whatever the last reply reported.
    reported_ = {};
    if (!(pending_[0] & (StackedEvent | ReturnedEvent)))
        eventChannel_ = 0;

    const bool stack = m.data1() & frames::StackBit;
    const bool giveBack = m.data1() & frames::ReturnBit;
    const bool malformed = (m.control() & 0xFE) != 0x10 || (m.data0() & 0x80) || (m.data1() & 0x8F)
                           || (m.data2() & 0x81) || (stack && giveBack);
    if (malformed)
        raise(2, InvalidCommandEvent);

    if (jammed_)
        return;  // nothing moves until the jam is cleared
    if (stage_ == Stage::Escrowed && !malformed) {
        if (stack)
            enter(Stage::Stacking);
        else if (giveBack)
            enter(Stage::Returning);
    }
    while ((stage_ == Stage::Accepting || stage_ == Stage::Stacking || stage_ == Stage::Returning) && left_ <= 0)
        finishStage();
}

frames::ValidatorReply VirtualValidator::buildReply(std::uint8_t control)
{
    for (int i = 0; i < 3; ++i) {
        reported_[i] |= pending_[i];
        pending_[i] = 0;
    }
    std::array<std::uint8_t, 6> status{};
    switch (stage_) {
    case Stage::Idle:
        status[0] = Idling;
        break;
    case Stage::Accepting:
        status[0] = Accepting;
        break;
    case Stage::Escrowed:
        status[0] = Escrowed;
        break;
    case Stage::Stacking:
        status[0] = Stacking;
        break;
    case Stage::Returning:
        status[0] = Returning;
        break;
    }
    if (jammed_)
        status[1] |= Jammed;
    if (full_)
        status[1] |= StackerFull;
    if (calibrating_)
        status[1] |= Calibration;
    for (int i = 0; i < 3; ++i)
        status[i] |= reported_[i];

    // The note's channel while it is held; the event's once it is gone. An
    // accepting note is not recognised yet.
    int channel = 0;
    if (stage_ == Stage::Escrowed || stage_ == Stage::Stacking || stage_ == Stage::Returning)
        channel = noteChannel_;
    else if (reported_[0] & (StackedEvent | ReturnedEvent))
        channel = eventChannel_;
    const ChannelBytes c = encodeChannel(channel);
    status[2] |= c.status2;
    status[3] = c.status3;
    return frames::makeReply(control, status);
}

std::vector<Chunk> VirtualValidator::transmit(const frames::ValidatorReply& reply)
{
    QByteArray bytes(reinterpret_cast<const char*>(reply.bytes.data()), frames::ValidatorReply::Size);
    if (lineFaults_.empty())
        return {{0, bytes, {}}};
    const QueuedFault fault = lineFaults_.front();
    lineFaults_.erase(lineFaults_.begin());
    ++counts_.lineFaults;
    switch (fault.kind) {
    case LineFault::BadChecksum:
        bytes[10] = char(bytes[10] ^ 0x01);
        if (reply.status(0) & StackedEvent)
            ++counts_.stackedBadChecksum;
        return {{0, bytes, QStringLiteral("bad checksum")}};
    case LineFault::Garbage: {
        // Line noise: 7-bit bytes, never starting with STX.
        QByteArray noise(std::max(1, options_.garbageLength), '\0');
        noise[0] = char(0x06);
        for (int i = 1; i < noise.size(); ++i) {
            garbageSeed_ ^= garbageSeed_ << 13;
            garbageSeed_ ^= garbageSeed_ >> 17;
            garbageSeed_ ^= garbageSeed_ << 5;
            noise[i] = char(garbageSeed_ & 0x7F);
        }
        return {{0, noise, QStringLiteral("garbage")}};
    }
    case LineFault::Split: {
        const int at = std::clamp(options_.splitAt, 1, int(bytes.size()) - 1);
        const int pause = fault.arg >= 0 ? fault.arg : options_.splitPauseMs;
        return {{0, bytes.left(at), QStringLiteral("split 1/2")}, {pause, bytes.mid(at), QStringLiteral("split 2/2")}};
    }
    case LineFault::Double:
        return {{0, bytes + bytes, QStringLiteral("two replies")}};
    }
    return {{0, bytes, {}}};
}

}  // namespace sim
