#include "tester/main64k.h"

#include "link/qtport.h"
#include "tester/historymodel.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>

MAIN64K::MAIN64K(QString programDir, std::unique_ptr<CommPort> port, QWidget* parent)
    : QWidget(parent), ProgramDir(std::move(programDir))
{
    if (!port)
        port = std::make_unique<QtPort>(ProgramDir);
    session_ = std::make_unique<PollSession>(std::move(port));
    runStats_ = std::make_unique<RunStatistics>(*session_);

    createControls();

    // A blink a millisecond longer or shorter looks the same: Qt's own timer,
    // with no kernel timer to arm, read and disarm at every poll.
    LEDBlink = new IntervalTimer(24, false, Qt::CoarseTimer, this);
    LEDBlink->onTimer = [this] { LEDBlink_Timer(); };

    connect(Command1, &QPushButton::clicked, this, [this] { Command1_Click(); });
    connect(Check4, &QPushButton::toggled, this, [this] { Check4_Click(); });
    connect(Command2, &QPushButton::clicked, this, [this] { Command2_Click(); });
    connect(Text1, &QLineEdit::textChanged, this, [this] { showPortDevice(); });
    connectSession();
    setUpRecord();
    setUpHistory();
}

MAIN64K::~MAIN64K()
{
    // The record ends before the session it watches, telling the window nothing.
    record_->disconnect(this);
    record_.reset();
    runStats_.reset();
    // The session goes first: nothing it reports may reach half-destroyed controls.
    session_->disconnect(this);
    session_->disconnect(history_);
    session_.reset();
}

void MAIN64K::connectSession()
{
    PollSession* s = session_.get();
    // What the operator sets reaches the session as it changes.
    for (int i = 0; i < frames::ChannelCount; ++i) {
        QCheckBox* box = Check1[i];
        s->setChannelEnabled(i + 1, checkValue(box) == 1);
        connect(box, &QCheckBox::stateChanged, this, [s, i](int state) { s->setChannelEnabled(i + 1, state == Qt::Checked); });
    }
    s->setEscrow(checkValue(Check6) == 1);
    connect(Check6, &QPushButton::toggled, this, [s](bool on) { s->setEscrow(on); });

    connect(s, &PollSession::pollBegins, this, [this] {
        Shape2[0]->setFillColor(Lamp::Lit);
        LEDBlink->setEnabled(true);
    });
    connect(s, &PollSession::messageBuilt, this, [this](const frames::HostMessage& m) {
        switch (m.request()) {
        case frames::Request::Stack:
            Label14->setCaption(QStringLiteral(" STACK BILL"));
            break;
        case frames::Request::Return:
            Label14->setCaption(QStringLiteral(" RETURN BILL"));
            break;
        default:
            Label14->setCaption(QStringLiteral(" RUNNING"));
            break;
        }
    });
    connect(s, &PollSession::messageSent, this, &MAIN64K::ShowHostMessage);
    connect(s, &PollSession::replyChecked, this, &MAIN64K::replyChecked);
    connect(s, &PollSession::noteStacked, this, &MAIN64K::CountStackedNote);
    // START POLL springs back when the session stops by itself.
    connect(s, &PollSession::stopped, this, [this] { setCheckValue(Check4, 0); });
    connect(s, &PollSession::portFailed, this, [this](int number) { portFailed(number); });
}

void MAIN64K::usePortDevice(const QString& device)
{
    if (auto* port = dynamic_cast<QtPort*>(&session_->port()))
        port->setDeviceOverride(device);
    Text1->setEnabled(false);
    Text1->setToolTip(device);
    session_->requestReopen();
}

void MAIN64K::useBuiltInDevice(const QString& name)
{
    Text1->setEnabled(false);
    Text1->setToolTip(name);
    // The program's own title stays first; a record's name follows.
    title_ = QStringLiteral("%1 - %2").arg(title_.section(QStringLiteral(" - "), 0, 0), name);
    showRecordTitle();
}

void MAIN64K::closeEvent(QCloseEvent* event)
{
    if (!unloaded_) {
        unloaded_ = true;
        Form_Unload();
    }
    event->accept();
}

void MAIN64K::PollTime_Timer()
{
    session_->PollTime_Timer();
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

// The port could not be set up or died while polling: the operator is told
// once and the port box is ready for another number.
void MAIN64K::portFailed(int number)
{
    showPortError(number);
    Text1->setFocus();
    Text1->setSelection(0, int(Text1->text().size()));
}
