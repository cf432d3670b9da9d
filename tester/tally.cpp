// Stacked notes per channel; the captions of Label9 are the only store.
#include "settings/decimal.h"
#include "tester/main64k.h"

#include <QCheckBox>

#include <cmath>

void MAIN64K::CountStackedNote()
{
    // Each step gives up on its own: a channel the tally does not have, or a
    // count that does not read as a number, leaves every count as it was.
    if (ChannelNumber <= 0)
        return;
    const int i = ChannelNumber - 1;
    if (i >= int(Label9.size()))
        return;
    const auto count = parseDecimal(Label9[i]->caption());
    if (!count)
        return;
    const double next = *count + 1;
    Label9[i]->setCaption(std::abs(next) < 1e15 && next == std::floor(next) ? QString::number(qint64(next))
                                                                             : QString::number(next, 'g', 15));
}

void MAIN64K::Command2_Click()
{
    for (Label* count : Label9)
        count->setCaption(QStringLiteral("0"));
}

void MAIN64K::ValueChg()
{
    for (int i = 0; i <= 6; ++i)
        Label8[i]->setCaption(Check1[i]->text());
}
