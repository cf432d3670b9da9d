// The two 16-row trace panes and the link lamps.
#include "link/frames.h"
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

void MAIN64K::ShowHostMessage()
{
    if (!ReplyReceived)
        ShowValidatorReply();
    const QString line =
        frames::hostTraceLine(HostControl, HostData0, HostData1, HostData2, HostChecksum, HostCommandCode);
    if (TraceRow == 17)
        TraceRow = 16;
    putTraceLine(Label18, TraceRow, line);
    TraceRow = std::int16_t(TraceRow + 1);
}

void MAIN64K::ShowValidatorReply()
{
    QString line;
    if (ReplyReceived) {
        line = frames::replyTraceLine(std::span<const int, 10>(ReplyBytes), StateCode, ChannelText, EventCode);
    } else {
        line = frames::NoResponseLine;
        Label15->setCaption(QStringLiteral(" "));
    }
    putTraceLine(Label20, TraceRow - 1, line);
}

void MAIN64K::LEDBlink_Timer()
{
    Shape2[0]->setFillColor(64);
    Shape2[1]->setFillColor(64);
    LEDBlink->setEnabled(false);
}
