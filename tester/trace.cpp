// The two 16-row trace panes, the validator's status boxes and the link lamps.
#include "tester/main64k.h"

namespace {

// Writes a line at row, scrolling the pane up by one when row is 16.
void putTraceLine(std::array<Label*, 16>& pane, int row, const QString& line)
{
    if (row >= 0 && row <= 15) {
        pane[row]->setCaption(line);
    } else if (row == 16) {
        for (int i = 0; i <= 14; ++i)
            pane[i]->setCaption(pane[i + 1]->caption());
        pane[15]->setCaption(line);
    }
}

}  // namespace

void MAIN64K::clearTrace()
{
    TraceRow = 0;
    for (int k = 0; k <= 15; ++k) {
        Label18[k]->setCaption(QString());
        Label20[k]->setCaption(QString());
    }
}

void MAIN64K::ShowHostMessage()
{
    if (!session_->replyReceived())
        ShowValidatorReply();
    const QString line = frames::hostTraceLine(session_->lastMessage());
    if (TraceRow == 17)
        TraceRow = 16;
    putTraceLine(Label18, TraceRow, line);
    TraceRow = std::int16_t(TraceRow + 1);
}

void MAIN64K::ShowValidatorReply()
{
    QString line;
    if (session_->replyReceived()) {
        const frames::StatusDecoding& d = session_->decoding();
        line = frames::replyTraceLine(session_->lastReply(), d.stateCode, d.channelText, d.eventCode);
    } else {
        line = frames::NoResponseLine;
        Label15->setCaption(QStringLiteral(" "));
    }
    putTraceLine(Label20, TraceRow - 1, line);
}

void MAIN64K::replyChecked()
{
    Shape2[1]->setFillColor(255);
    ShowValidatorReply();
    const frames::StatusDecoding& d = session_->decoding();
    Label15->setCaption(QLatin1Char(' ') + d.stateText);
    // Only the first seven channels have a name worth showing with the event.
    if (!d.eventText.isEmpty() && d.channelNumber >= 1 && d.channelNumber <= 7)
        Label13->setCaption(QLatin1Char(' ') + d.eventText + QLatin1Char(' ') + Label8[d.channelNumber - 1]->caption());
    else
        Label13->setCaption(QLatin1Char(' ') + d.eventText);
}

void MAIN64K::LEDBlink_Timer()
{
    Shape2[0]->setFillColor(64);
    Shape2[1]->setFillColor(64);
    LEDBlink->setEnabled(false);
}
