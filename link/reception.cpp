// A reply off the line: checked, acknowledged and decoded; a line out of
// step is drained and left to the next poll.
#include "link/pollsession.h"

#include <QCoreApplication>

void PollSession::MSComm1_OnComm()
{
    if (port_->commEvent() != CommEventReceive || !portReady_)
        return;
    if (resynchronising_) {
        // Handled once the pause is over, never as a nested drain.
        commDeferred_ = true;
        return;
    }
    if (port_->inBufferCount() <= 10)
        return;
    QByteArray bytes;
    try {
        bytes = port_->input();
        lastReadNs_ = clockNs();
    } catch (const PortError& e) {
        portFailure(e.number());
        return;
    }
    if (bytes.isEmpty() || std::uint8_t(bytes[0]) != frames::STX) {
        resynchronise(bytes);
        return;
    }

    // Only the first 11 bytes count; a second reply in the same read is dropped.
    reply_ = frames::ValidatorReply::fromBytes(bytes);
    const bool good = reply_.checksumOk();
    if (good)
        replyReceived_ = true;

    frames::StatusDecoding d = frames::decodeStatus(reply_, decoding_.stateText, decoding_.eventText);
    // An event belongs to its note: a new channel text blanks it.
    if (lastChannelText_ != d.channelText)
        d.eventText.clear();
    lastChannelText_ = d.channelText;
    decoding_ = std::move(d);

    emit replyChecked(reply_, good, decoding_);

    if (decoding_.eventCode == QLatin1StringView("STD") && mode_ != PollMode::NegativeAck)
        emit noteStacked(decoding_.channelNumber);
}

void PollSession::resynchronise(const QByteArray& dropped)
{
    PollTime.setEnabled(false);
    resynchronising_ = true;
    // A short pause that keeps the event loop turning; whatever the line
    // carries meanwhile is dropped below.
    for (int i = 0; i <= 1000; ++i)
        QCoreApplication::processEvents();
    resynchronising_ = false;
    QByteArray all = dropped;
    if (port_->portOpen()) {
        try {
            all += port_->input();
        } catch (const PortError&) {
            // The failure is reported by the port itself.
        }
    }
    port_->discardInput();
    emit bytesDiscarded(all);
    PollTime.setEnabled(true);
    if (commDeferred_) {
        commDeferred_ = false;
        MSComm1_OnComm();
    }
}
