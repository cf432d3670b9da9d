// A reply off the line: checked, acknowledged and decoded. Bytes that do not
// begin a frame are dropped up to the next STX; a line carrying no frame at
// all is drained after a short pause.
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
    hold({});
    take(bytes);
}

void PollSession::take(QByteArray bytes)
{
    if (bytes.isEmpty())
        return;
    if (std::uint8_t(bytes[0]) != frames::STX) {
        const qsizetype stx = bytes.indexOf(char(frames::STX));
        if (stx < 0) {
            resynchronise(bytes);
            return;
        }
        // Stray bytes before a frame (noise, a pad byte after the last
        // reply): the frame that starts at the STX still counts.
        emit bytesDiscarded(bytes.left(stx), clockNs());
        bytes.remove(0, stx);
        wakeIdleClock();
    }
    if (bytes.size() < frames::ValidatorReply::Size) {
        hold(bytes);
        return;
    }
    decode(bytes);
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

void PollSession::hold(const QByteArray& partial)
{
    // A frame begun but not complete waits here; meanwhile every byte that
    // arrives raises the port's event, since the port no longer holds them.
    const bool wasHolding = !link_.pending.isEmpty();
    link_.pending = partial;
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
