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

void MAIN64K::ShowHostMessage(const SentMessage& sent)
{
    if (!sent.previousAnswered)
        showNoResponse();
    const QString line = frames::hostTraceLine(sent.message);
    if (TraceRow == 17)
        TraceRow = 16;
    putTraceLine(Label18, TraceRow, line);
    TraceRow = std::int16_t(TraceRow + 1);
}

void MAIN64K::showNoResponse()
{
    Label15->setCaption(QStringLiteral(" "));
    putTraceLine(Label20, TraceRow - 1, frames::NoResponseLine);
}

void MAIN64K::ShowValidatorReply(const CheckedReply& checked)
{
    // A bad reply to a message that has no good one is no answer to it.
    if (!checked.messageAnswered) {
        showNoResponse();
        return;
    }
    const frames::StatusDecoding& d = checked.decoding;
    putTraceLine(Label20, TraceRow - 1,
                 frames::replyTraceLine(checked.reply, d.stateCode, d.channelText, d.eventCode));
}

void MAIN64K::replyChecked(const CheckedReply& checked)
{
    Shape2[1]->setFillColor(255);
    ShowValidatorReply(checked);
    const frames::StatusDecoding& d = checked.decoding;
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
