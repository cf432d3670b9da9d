#include "tester/main64k.h"

#include "link/qtport.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>

MAIN64K::MAIN64K(QString programDir, std::unique_ptr<CommPort> port, QWidget* parent)
    : QWidget(parent), ProgramDir(std::move(programDir)), port_(std::move(port))
{
    if (!port_)
        port_ = std::make_unique<QtPort>(ProgramDir);
    MSComm1 = port_.get();
    MSComm1->onComm = [this] { MSComm1_OnComm(); };
    MSComm1->onFailure = [this](int number) { portFailed(number); };

    createControls();

    // A precise poll clock: a coarse timer may slip 5 % of a 30 ms period.
    PollTime = new IntervalTimer(0, true, Qt::PreciseTimer, this);
    PollTime->onTimer = [this] { PollTime_Timer(); };
    LEDBlink = new IntervalTimer(24, false, Qt::PreciseTimer, this);
    LEDBlink->onTimer = [this] { LEDBlink_Timer(); };

    connect(Command1, &QPushButton::clicked, this, [this] { Command1_Click(); });
    connect(Check4, &QPushButton::toggled, this, [this] { Check4_Click(); });
    connect(Command2, &QPushButton::clicked, this, [this] { Command2_Click(); });
}

MAIN64K::~MAIN64K()
{
    MSComm1->onComm = nullptr;
    MSComm1->onFailure = nullptr;
}

void MAIN64K::closeEvent(QCloseEvent* event)
{
    if (!unloaded_) {
        unloaded_ = true;
        Form_Unload();
    }
    event->accept();
}

void MAIN64K::showPortError(int number)
{
    QMessageBox box(QMessageBox::Critical, QStringLiteral("System Error"),
                    QStringLiteral("Communication Port Error (#:%1).  COM port maybe in use by other "
                                   "application(s) or does not exist.")
                        .arg(number),
                    QMessageBox::Ok, this);
    box.setObjectName(QStringLiteral("PortErrorBox"));
    box.exec();
}

// The port died while polling (adapter pulled, far end gone, a write
// refused): the same as a set-up that failed, so the next start sets it up
// again. The port layer has closed the port already and reports once.
void MAIN64K::portFailed(int number)
{
    if (MSComm1->portOpen())
        MSComm1->close();
    const bool wasReady = PortReady;
    PortReady = false;
    ReopenPort = true;
    if (!wasReady)
        return;  // this failure is being reported already
    setCheckValue(Check4, 0);
    showPortError(number);
    Text1->setFocus();
    Text1->setSelection(0, int(Text1->text().size()));
}
