// The poll-mode button and the START POLL switch.
#include "link/frames.h"
#include "settings/decimal.h"
#include "tester/main64k.h"

#include <QLineEdit>
#include <QPushButton>

#include <cmath>

namespace {

struct Mode {
    const char* caption;
    QRgb face;
};
constexpr Mode Modes[4] = {
    {"Normal Poll", 0xFF8080},
    {"Step Into", 0x00FF00},
    {"Interrupt Mode", 0x00FFFF},
    {"Negative ACK", 0xFF80FF},
};

// Longest period the poll timer takes.
constexpr double MaxPollPeriod = 65535;
constexpr int MinPollPeriod = 30;

}  // namespace

void MAIN64K::Command1_Click()
{
    PollMode = std::int16_t(PollMode + 1);
    if (PollMode == 5)
        PollMode = 1;
    if (PollMode < 1 || PollMode > 4)
        return;  // no mode of the button's; it keeps its face
    const Mode& m = Modes[PollMode - 1];
    Command1->setText(QString::fromLatin1(m.caption));
    QPalette p = Command1->palette();
    p.setColor(QPalette::Button, QColor(m.face));
    Command1->setPalette(p);
}

void MAIN64K::Check4_Click()
{
    if (checkValue(Check4) != 1) {
        PollTime->setEnabled(false);
        Label14->setCaption(QStringLiteral(" SYSTEM SUSPENDED"));
        return;
    }

    auto refuse = [this](QLineEdit* box) {
        box->setFocus();
        box->setSelection(0, int(box->text().size()));
        setCheckValue(Check4, 0);
    };
    // Numbers that do not fit the port number or the timer are refused like
    // text that is no number at all.
    const auto port = parseDecimal(Text1->text());
    if (!port || !roundToInt16(*port)) {
        refuse(Text1);
        return;
    }
    // Too short a period is corrected below, however short; only one the
    // timer cannot take is refused.
    const auto period = parseDecimal(Text2->text());
    if (!period || std::nearbyint(*period) > MaxPollPeriod) {
        refuse(Text2);
        return;
    }

    if (*port != double(ComPort)) {
        ReopenPort = true;
        ComPort = *roundToInt16(*port);
    }
    if (*period < MinPollPeriod)
        Text2->setText(QStringLiteral("30"));

    if (PollMode == 1 || PollMode == 4) {
        PollTime->setInterval(*toInt32(Text2->text()));
        PollTime->setEnabled(true);
        ReplyReceived = true;
        TraceRow = 0;
        AckToggle = true;
        for (int k = 0; k <= 15; ++k) {
            Label18[k]->setCaption(QString());
            Label20[k]->setCaption(QString());
        }
    }

    MSComm1->discardInput();
    PollValidator();
}
