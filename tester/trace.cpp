// The two trace panes, the validator's status boxes and the link lamps.
#include "tester/main64k.h"

namespace {

constexpr int Rows = MAIN64K::TraceRows;
constexpr int LastRow = Rows - 1;

// Writes a line at row, scrolling the pane up by one when row is one past the last.
void putTraceLine(std::array<Label*, Rows>& pane, int row, const QString& line)
{
    if (row >= 0 && row <= LastRow) {
        pane[row]->setCaption(line);
    } else if (row == Rows) {
        for (int i = 0; i < LastRow; ++i)
            pane[i]->setCaption(pane[i + 1]->caption());
        pane[LastRow]->setCaption(line);
    }
}

}  // namespace

void MAIN64K::clearTrace()
{
    TraceRow = 0;
    for (int k = 0; k < Rows; ++k) {
        Label18[k]->setCaption(QString());
        Label20[k]->setCaption(QString());
    }
}

void MAIN64K::ShowHostMessage(const SentMessage& sent)
{
    if (!sent.previousAnswered)
        showNoResponse();
    const QString line = frames::hostTraceLine(sent.message);
    if (TraceRow == Rows + 1)
        TraceRow = Rows;
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
    Shape2[1]->setFillColor(Lamp::Lit);
    ShowValidatorReply(checked);
    const frames::StatusDecoding& d = checked.decoding;
    Label15->setCaption(QLatin1Char(' ') + d.stateText);
    // Only the named channels have a name worth showing with the event.
    if (!d.eventText.isEmpty() && d.channelNumber >= 1 && d.channelNumber <= NamedChannels)
        Label13->setCaption(QLatin1Char(' ') + d.eventText + QLatin1Char(' ') + Label8[d.channelNumber - 1]->caption());
    else
        Label13->setCaption(QLatin1Char(' ') + d.eventText);
}

void MAIN64K::LEDBlink_Timer()
{
    Shape2[0]->setFillColor(Lamp::Dim);
    Shape2[1]->setFillColor(Lamp::Dim);
    LEDBlink->setEnabled(false);
}
