// The poll-mode button and the START POLL switch.
#include "link/frames.h"
#include "settings/decimal.h"
#include "settings/rules.h"
#include "tester/main64k.h"

#include <QLineEdit>
#include <QPushButton>

#include <cmath>

namespace {

// The mode button's face colour, by mode (Normal Poll to Negative ACK).
constexpr QRgb ModeFaces[4] = {0xFF8080, 0x00FF00, 0x00FFFF, 0xFF80FF};

}  // namespace

void MAIN64K::Command1_Click()
{
    session_->setMode(nextPollMode(session_->mode()));
    showPollMode();
}

void MAIN64K::showPollMode()
{
    Command1->setText(pollModeCaption(session_->mode()));
    QPalette p = Command1->palette();
    p.setColor(QPalette::Button, QColor(ModeFaces[int(session_->mode()) - 1]));
    Command1->setPalette(p);
}

void MAIN64K::Check4_Click()
{
    if (checkValue(Check4) != 1) {
        session_->suspend();
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
    const auto portNumber = settings::portNumberFrom(Text1->text());
    if (!portNumber) {
        refuse(Text1);
        return;
    }
    // Too short a period is corrected below, however short; only one the
    // timer cannot take is refused.
    bool raised = false;
    const auto period = settings::pollPeriodFrom(Text2->text(), &raised);
    if (!period) {
        refuse(Text2);
        return;
    }

    // Any other number, even one that rounds to the same port, sets the port up anew.
    if (*parseDecimal(Text1->text()) != double(session_->portNumber())) {
        session_->requestReopen();
        session_->setPortNumber(*portNumber);
    }
    if (raised)
        Text2->setText(QString::number(settings::MinPollPeriod));
    session_->setPollPeriod(*period);

    if (reopenAtStart_) {
        reopenAtStart_ = false;
        session_->requestReopen();
    }

    // A start that runs the poll clock begins with empty panes.
    if (session_->mode() == PollMode::Normal || session_->mode() == PollMode::NegativeAck)
        clearTrace();
    session_->start();
}
