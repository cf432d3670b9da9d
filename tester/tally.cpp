// Stacked notes per channel, counted here and shown in the captions of Label9.
#include "tester/main64k.h"


#include <QCheckBox>


void MAIN64K::CountStackedNote(int channel)
{
    // A channel the tally does not have is not counted.
    if (channel < 1 || channel > frames::ChannelCount)
        return;
    const int i = channel - 1;
    ++StackedCounts[i];
    Label9[i]->setCaption(QString::number(StackedCounts[i]));
}

void MAIN64K::Command2_Click()
{
    runStats_->reset();
    StackedCounts.fill(0);
    for (Label* count : Label9)
        count->setCaption(QStringLiteral("0"));
}

void MAIN64K::ValueChg()
{
    for (int i = 0; i < NamedChannels; ++i)
        Label8[i]->setCaption(Check1[i]->text());
}
