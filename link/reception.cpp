// A reply off the line: checked, acknowledged, decoded and shown; a line out
// of step is drained and left to the next poll.
#include "link/frames.h"
#include "tester/main64k.h"

#include <QCoreApplication>

void MAIN64K::MSComm1_OnComm()
{
    if (MSComm1->commEvent() != CommEventReceive || !PortReady)
        return;
    if (resynchronising_) {
        // Handled once the pause is over, never as a nested drain.
        commDeferred_ = true;
        return;
    }
    if (MSComm1->inBufferCount() <= 10)
        return;
    QByteArray bytes;
    try {
        bytes = MSComm1->input();
    } catch (const PortError& e) {
        portFailed(e.number());
        return;
    }
    if (bytes.isEmpty() || std::uint8_t(bytes[0]) != frames::STX) {
        resynchronise();
        return;
    }

    Shape2[1]->setFillColor(255);

    // Only the first 11 bytes count; a second reply in the same read is dropped.
    const auto reply = frames::ValidatorReply::fromBytes(
        std::span(reinterpret_cast<const std::uint8_t*>(bytes.constData()), std::size_t(bytes.size())));
    for (int i = 0; i < 10; ++i)
        ReplyBytes[i] = reply.bytes[i + 1];
    if (reply.checksumOk())
        ReplyReceived = true;

    const frames::StatusDecoding d = frames::decodeStatus(reply, StateText, EventText);
    StateCode = d.stateCode;
    ChannelText = d.channelText;
    EventCode = d.eventCode;
    ChannelNumber = std::int16_t(d.channelNumber);
    StateText = d.stateText;
    EventText = d.eventText;

    ShowValidatorReply();
    Label15->setCaption(QLatin1Char(' ') + StateText);

    if (LastChannelText != ChannelText)
        EventText.clear();
    LastChannelText = ChannelText;

    if (!EventText.isEmpty() && ChannelNumber >= 1 && ChannelNumber <= 7)
        Label13->setCaption(QLatin1Char(' ') + EventText + QLatin1Char(' ') + Label8[ChannelNumber - 1]->caption());
    else
        Label13->setCaption(QLatin1Char(' ') + EventText);

    if (EventCode == QLatin1StringView("STD") && PollMode != 4)
        CountStackedNote();
}

void MAIN64K::resynchronise()
{
    PollTime->setEnabled(false);
    resynchronising_ = true;
    // A short pause that keeps the window answering; whatever the line
    // carries meanwhile is dropped below.
    for (int i = 0; i <= 1000; ++i)
        QCoreApplication::processEvents();
    resynchronising_ = false;
    MSComm1->discardInput();
    PollTime->setEnabled(true);
    if (commDeferred_) {
        commDeferred_ = false;
        MSComm1_OnComm();
    }
}
