// A reply off the line: checked, acknowledged and decoded. Bytes that do not
// begin a frame are dropped up to a whole valid frame behind them; a line
// carrying no such frame is drained after a short pause.
#include "link/pollsession.h"

void PollSession::MSComm1_OnComm()
{
    if (port_->commEvent() != CommEventReceive || !link_.portReady)
        return;
    if (link_.resynchronising)
        return;  // the end of the pause reads whatever came meanwhile
    if (link_.pending.size() + port_->inBufferCount() < frames::ValidatorReply::Size)
        return;
    QByteArray bytes;
    try {
        bytes = port_->input();
        link_.lastReadNs = clockNs();
    } catch (const PortError& e) {
        portFailure(e.number());
        return;
    }
    bytes.prepend(link_.pending);
    const bool behindStray = link_.pendingBehindStray;
    hold({});
    take(bytes, behindStray);
}

void PollSession::take(QByteArray bytes, bool behindStray)
{
    if (bytes.isEmpty())
        return;
    if (behindStray || std::uint8_t(bytes[0]) != frames::STX) {
        takeBehindStray(bytes);
        return;
    }
    if (bytes.size() < frames::ValidatorReply::Size) {
        hold(bytes);
        return;
    }
    decode(bytes);
    dropAfterReply(bytes);
}

void PollSession::takeBehindStray(const QByteArray& bytes)
{
    // Stray bytes before a frame (noise, a pad byte after the last reply):
    // the frame behind them counts only when it is whole and valid, since
    // noise holds an STX now and then and a checksum alone passes one time
    // in 128. The first such frame at any STX of the read is taken.
    for (qsizetype stx = bytes.indexOf(char(frames::STX)); stx >= 0;
         stx = bytes.indexOf(char(frames::STX), stx + 1)) {
        if (bytes.size() - stx < frames::ValidatorReply::Size) {
            // Too short to judge yet: the rest is waited for.
            if (stx > 0)
                emit bytesDiscarded(bytes.left(stx), clockNs());
            wakeIdleClock();
            hold(bytes.mid(stx), true);
            return;
        }
        if (!frames::ValidatorReply::fromBytes(bytes.mid(stx, frames::ValidatorReply::Size)).isWholeFrame())
            continue;
        if (stx > 0)
            emit bytesDiscarded(bytes.left(stx), clockNs());
        wakeIdleClock();
        const QByteArray frame = bytes.mid(stx);
        decode(frame);
        dropAfterReply(frame);
        return;
    }
    // No frame in it that the validator vouches for: all of it goes, as a
    // read that does not begin with STX always did.
    resynchronise(bytes);
}

void PollSession::dropAfterReply(const QByteArray& bytes)
{
    // A second reply in the same read is dropped, as is anything behind it.
    if (bytes.size() > frames::ValidatorReply::Size)
        emit bytesDiscarded(bytes.mid(frames::ValidatorReply::Size), clockNs());
}

void PollSession::decode(const QByteArray& bytes)
{
    link_.reply = frames::ValidatorReply::fromBytes(bytes);
    const bool good = link_.reply.checksumOk();
    if (good)
        link_.replyReceived = true;

    frames::StatusDecoding d = frames::decodeStatus(link_.reply, link_.decoding.stateText, link_.decoding.eventText);
    // An event belongs to its note: a new channel text blanks it.
    if (link_.lastChannelText != d.channelText)
        d.eventText.clear();
    link_.lastChannelText = d.channelText;
    link_.decoding = std::move(d);

    emit replyChecked(CheckedReply{link_.reply, good, link_.replyReceived, link_.decoding,
                                   frames::replyEventText(link_.reply), link_.lastReadNs,
                                   link_.lastReadNs - link_.lastWriteNs});

    if (link_.decoding.eventCode == frames::StackedCode && mode_ != PollMode::NegativeAck)
        emit noteStacked(link_.decoding.channelNumber);
}

void PollSession::hold(const QByteArray& partial, bool behindStray)
{
    // A frame begun but not complete waits here; meanwhile every byte that
    // arrives raises the port's event, since the port no longer holds them.
    const bool wasHolding = !link_.pending.isEmpty();
    link_.pending = partial;
    link_.pendingBehindStray = behindStray && !partial.isEmpty();
    if (link_.pending.isEmpty() == !wasHolding || !port_->portOpen())
        return;
    try {
        port_->setRThreshold(link_.pending.isEmpty() ? ReceiveThreshold : EveryByte);
    } catch (const PortError&) {
        // A port that cannot take it is failing; it reports that itself.
    }
}

void PollSession::resynchronise(const QByteArray& dropped)
{
    emit bytesDiscarded(dropped, clockNs());
    // A short pause that lets the rest of a burst arrive, on the event loop:
    // polls go out on their own time meanwhile, and a line full of noise
    // costs one drain per pause, not one per byte.
    link_.resynchronising = true;
    if (pause_.interval() > 0)
        pause_.start();
    else
        endPause();
}

void PollSession::endPause()
{
    link_.resynchronising = false;
    if (!link_.portReady || !port_->portOpen())
        return;
    QByteArray arrived;
    try {
        arrived = port_->input();
        if (!arrived.isEmpty())
            link_.lastReadNs = clockNs();
    } catch (const PortError&) {
        return;  // the port reports its own failure
    }
    // Everything that waited has been read: nothing is left to discard.
    wakeIdleClock();
    take(arrived);
}

void PollSession::wakeIdleClock()
{
    // Getting back in step starts a clock that was off (Interrupt Mode relies
    // on it); a running clock keeps its grid.
    if (!PollTime.isEnabled())
        PollTime.setEnabled(true);
}
