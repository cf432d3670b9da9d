// The poll-mode button and the START POLL switch: the mode cycle, what a
// start checks and takes over, what each mode does at a start, and the
// suspend branch.
#include "windowbench.h"
#include "link/frames.h"
#include "link/qtport.h"
#include "tester/main64k.h"

#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace {

QByteArray idleReply()
{
    return replyBytes({0x01, 0, 0, 0, 0, 0});
}

// A loaded window (port 1, poll rate 100, "Normal Poll") on a fake port,
// shown and active when focus matters.
struct Bench : WindowBench {
    explicit Bench(bool shown = false)
    {
        if (shown) {
            w->show();
            w->activateWindow();
            QVERIFY(QTest::qWaitForWindowActive(w.get()));
        }
    }
    void selectMode(int mode)
    {
        while (int(w->session()->mode()) != mode)
            w->Command1_Click();
    }
    void press() { setCheckValue(w->Check4, 1); }
    void release() { setCheckValue(w->Check4, 0); }
    int sent() const { return int(fake->frames.size()); }
};

}  // namespace

class TestControls : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();

    void modeCycle_data();
    void modeCycle();
    void modeChangeWhilePolling_data();
    void modeChangeWhilePolling();
    void startChecks_data();
    void startChecks();
    void operatorPress_data();
    void operatorPress();
    void portNumberChange_data();
    void portNumberChange();
    void startPerMode_data();
    void startPerMode();
    void stepIntoOnePollPerPress();
    void discardBeforeFirstOpen();
    void suspendLeavesTheRest();
};

void TestControls::initTestCase()
{
    QApplication::setStyle(QStringLiteral("Fusion"));
}

void TestControls::modeCycle_data()
{
    QTest::addColumn<int>("presses");
    QTest::addColumn<int>("mode");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QColor>("face");

    QTest::newRow("as loaded") << 0 << 1 << "Normal Poll" << QColor(0xFF8080);
    QTest::newRow("one press") << 1 << 2 << "Step Into" << QColor(0x00FF00);
    QTest::newRow("two presses") << 2 << 3 << "Interrupt Mode" << QColor(0x00FFFF);
    QTest::newRow("three presses") << 3 << 4 << "Negative ACK" << QColor(0xFF80FF);
    QTest::newRow("four presses: round") << 4 << 1 << "Normal Poll" << QColor(0xFF8080);
    QTest::newRow("five presses") << 5 << 2 << "Step Into" << QColor(0x00FF00);
}

void TestControls::modeCycle()
{
    QFETCH(int, presses);
    QFETCH(int, mode);
    QFETCH(QString, caption);
    QFETCH(QColor, face);

    Bench b(true);
    for (int i = 0; i < presses; ++i)
        QTest::mouseClick(b.w->Command1, Qt::LeftButton);
    QCOMPARE(int(b.w->session()->mode()), mode);
    QCOMPARE(b.w->Command1->text(), caption);
    QCOMPARE(b.w->Command1->palette().color(QPalette::Button), face);
    // The face shows the colour as set, not a shade of it.
    const QImage face3 = b.w->Command1->grab().toImage();
    QCOMPARE(QColor(face3.pixel(3, 3)).name(), face.name());
    // The button only selects: nothing is sent, nothing started.
    QCOMPARE(b.sent(), 0);
    QCOMPARE(checkValue(b.w->Check4), 0);
    QVERIFY(!b.w->session()->pollTimer().isTicking());
}

void TestControls::modeChangeWhilePolling_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<bool>("releasedAfterTick");

    QTest::newRow("Step Into: one more poll, then released") << 2 << true;
    QTest::newRow("Interrupt Mode: goes on") << 3 << false;
    QTest::newRow("Negative ACK: goes on") << 4 << false;
}

void TestControls::modeChangeWhilePolling()
{
    QFETCH(int, mode);
    QFETCH(bool, releasedAfterTick);

    Bench b;
    b.press();
    QCOMPARE(b.sent(), 1);
    QVERIFY(b.w->session()->pollTimer().isTicking());
    b.selectMode(mode);
    QVERIFY(b.w->session()->pollTimer().isTicking());
    QCOMPARE(checkValue(b.w->Check4), 1);
    QCOMPARE(b.sent(), 1);

    b.w->PollTime_Timer();
    QCOMPARE(b.sent(), 2);
    QCOMPARE(checkValue(b.w->Check4), releasedAfterTick ? 0 : 1);
    QCOMPARE(b.w->session()->pollTimer().isTicking(), !releasedAfterTick);
}

void TestControls::startChecks_data()
{
    QTest::addColumn<QString>("port");
    QTest::addColumn<QString>("rate");
    QTest::addColumn<int>("mode");
    QTest::addColumn<QString>("refused");  // the box marked, or empty when polls start
    QTest::addColumn<QString>("rateAfter");
    QTest::addColumn<int>("interval");  // 0: not set
    QTest::addColumn<int>("comPort");

    // Entries that are no number, or a number the port or timer cannot take.
    QTest::newRow("port letters") << "COM" << "100" << 1 << "Text1" << "100" << 0 << 1;
    QTest::newRow("port empty") << "" << "100" << 1 << "Text1" << "100" << 0 << 1;
    QTest::newRow("port two points") << "1.2.3" << "100" << 1 << "Text1" << "100" << 0 << 1;
    QTest::newRow("port exponent") << "1e1" << "100" << 1 << "Text1" << "100" << 0 << 1;
    QTest::newRow("port hexadecimal") << "0x1" << "100" << 1 << "Text1" << "100" << 0 << 1;
    QTest::newRow("port above 16 bits") << "32768" << "100" << 1 << "Text1" << "100" << 0 << 1;
    QTest::newRow("port below 16 bits") << "-32769" << "100" << 1 << "Text1" << "100" << 0 << 1;
    QTest::newRow("port rounds above 16 bits") << "32767.5" << "100" << 1 << "Text1" << "100" << 0 << 1;
    QTest::newRow("rate letters") << "1" << "fast" << 1 << "Text2" << "fast" << 0 << 1;
    QTest::newRow("rate empty") << "1" << "" << 1 << "Text2" << "" << 0 << 1;
    QTest::newRow("rate thousands separator") << "1" << "1,000" << 1 << "Text2" << "1,000" << 0 << 1;
    QTest::newRow("rate above the timer") << "1" << "65536" << 1 << "Text2" << "65536" << 0 << 1;
    QTest::newRow("rate rounds above the timer") << "1" << "65535.5" << 1 << "Text2" << "65535.5" << 0 << 1;
    QTest::newRow("rate too long in Step Into") << "1" << "70000" << 2 << "Text2" << "70000" << 0 << 1;
    QTest::newRow("both wrong: port first") << "x" << "y" << 1 << "Text1" << "y" << 0 << 1;

    // Accepted; short periods corrected to 30, fractions rounded halves to even.
    QTest::newRow("defaults") << "1" << "100" << 1 << "" << "100" << 100 << 1;
    QTest::newRow("rate 10") << "1" << "10" << 1 << "" << "30" << 30 << 1;
    QTest::newRow("rate 29.9") << "1" << "29.9" << 1 << "" << "30" << 30 << 1;
    QTest::newRow("rate 30.4 kept") << "1" << "30.4" << 1 << "" << "30.4" << 30 << 1;
    QTest::newRow("rate 30.5 to even") << "1" << "30.5" << 1 << "" << "30.5" << 30 << 1;
    QTest::newRow("rate 31.5 to even") << "1" << "31.5" << 1 << "" << "31.5" << 32 << 1;
    QTest::newRow("rate negative") << "1" << "-500" << 1 << "" << "30" << 30 << 1;
    QTest::newRow("rate very negative") << "1" << "-99999999999" << 1 << "" << "30" << 30 << 1;
    QTest::newRow("rate largest") << "1" << "65535.4" << 4 << "" << "65535.4" << 65535 << 1;
    QTest::newRow("rate blanks and sign") << "1" << " +250 " << 1 << "" << " +250 " << 250 << 1;
    QTest::newRow("rate 10 in Step Into") << "1" << "10" << 2 << "" << "30" << 0 << 1;
    QTest::newRow("port blanks and sign") << " +2 " << "100" << 1 << "" << "100" << 100 << 2;
    QTest::newRow("port 2.5 to even") << "2.5" << "100" << 1 << "" << "100" << 100 << 2;
}

void TestControls::startChecks()
{
    QFETCH(QString, port);
    QFETCH(QString, rate);
    QFETCH(int, mode);
    QFETCH(QString, refused);
    QFETCH(QString, rateAfter);
    QFETCH(int, interval);
    QFETCH(int, comPort);

    Bench b(true);
    MAIN64K& w = *b.w;
    b.selectMode(mode);
    w.Text1->setText(port);
    w.Text2->setText(rate);
    w.Command1->setFocus();
    b.press();

    QCOMPARE(w.Text1->text(), port);
    QCOMPARE(w.Text2->text(), rateAfter);
    QCOMPARE(int(w.session()->portNumber()), comPort);
    if (!refused.isEmpty()) {
        QLineEdit* box = refused == QLatin1String("Text1") ? w.Text1 : w.Text2;
        QVERIFY(box->hasFocus());
        QCOMPARE(box->selectedText(), box->text());
        if (!box->text().isEmpty())
            QCOMPARE(box->selectionStart(), 0);
        QCOMPARE(checkValue(w.Check4), 0);
        QCOMPARE(w.Label14->caption(), QStringLiteral(" SYSTEM SUSPENDED"));
        QVERIFY(!w.session()->pollTimer().isEnabled());
        QCOMPARE(b.fake->opens, 0);
        QVERIFY(!b.fake->calls.contains(QStringLiteral("discard")));
        return;
    }
    QCOMPARE(b.fake->opens, 1);
    QCOMPARE(b.fake->number, comPort);
    QCOMPARE(w.session()->pollTimer().interval(), interval);
    if (interval != 0) {
        QVERIFY(w.session()->pollTimer().isTicking());
        QCOMPARE(checkValue(w.Check4), 1);
    } else {
        QVERIFY(!w.session()->pollTimer().isTicking());
    }
}

// The operator's press runs the same handler as a press from code.
void TestControls::operatorPress_data()
{
    QTest::addColumn<QString>("port");
    QTest::addColumn<bool>("polling");

    QTest::newRow("valid") << "1" << true;
    QTest::newRow("letters") << "one" << false;
}

void TestControls::operatorPress()
{
    QFETCH(QString, port);
    QFETCH(bool, polling);

    Bench b(true);
    b.w->Text1->setText(port);
    QTest::mouseClick(b.w->Check4, Qt::LeftButton);
    QCOMPARE(checkValue(b.w->Check4), polling ? 1 : 0);
    QCOMPARE(b.sent(), polling ? 1 : 0);
    QCOMPARE(b.w->Text1->hasFocus(), !polling);
    QCOMPARE(b.w->Label14->caption(), polling ? QStringLiteral(" RUNNING") : QStringLiteral(" SYSTEM SUSPENDED"));
    if (polling) {
        QTest::mouseClick(b.w->Check4, Qt::LeftButton);
        QCOMPARE(checkValue(b.w->Check4), 0);
        QCOMPARE(b.w->Label14->caption(), QStringLiteral(" SYSTEM SUSPENDED"));
    }
}

void TestControls::portNumberChange_data()
{
    QTest::addColumn<QString>("port");
    QTest::addColumn<bool>("reopened");
    QTest::addColumn<int>("comPort");

    QTest::newRow("unchanged") << "1" << false << 1;
    QTest::newRow("unchanged with blanks") << " 1 " << false << 1;
    QTest::newRow("unchanged with point") << "1.0" << false << 1;
    QTest::newRow("1.5 opens port 2") << "1.5" << true << 2;
    QTest::newRow("0.5 rounds to 0") << "0.5" << true << 0;
    QTest::newRow("another port") << "7" << true << 7;
}

void TestControls::portNumberChange()
{
    QFETCH(QString, port);
    QFETCH(bool, reopened);
    QFETCH(int, comPort);

    Bench b;
    b.press();
    b.release();
    QCOMPARE(b.fake->opens, 1);
    b.w->Text1->setText(port);
    b.press();
    QCOMPARE(b.fake->opens, reopened ? 2 : 1);
    QCOMPARE(b.fake->calls.count(QStringLiteral("close")), reopened ? 1 : 0);
    QCOMPARE(int(b.w->session()->portNumber()), comPort);
    QCOMPARE(b.fake->number, comPort);
    QCOMPARE(b.w->Text1->text(), port);  // the box shows what was typed
    // Either way the input is emptied and one poll goes out at once.
    QCOMPARE(b.fake->calls.count(QStringLiteral("discard")), 2);
    QCOMPARE(b.sent(), 2);
}

// What a start does to the timer, the acknowledge state and the trace.
void TestControls::startPerMode_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<bool>("resets");
    QTest::addColumn<bool>("newMessage");
    QTest::addColumn<int>("interval");
    QTest::addColumn<int>("pressedAfter");

    QTest::newRow("Normal Poll") << 1 << true << true << 250 << 1;
    QTest::newRow("Step Into") << 2 << false << false << 100 << 0;
    QTest::newRow("Interrupt Mode") << 3 << false << false << 100 << 1;
    QTest::newRow("Negative ACK") << 4 << true << false << 250 << 1;
}

void TestControls::startPerMode()
{
    QFETCH(int, mode);
    QFETCH(bool, resets);
    QFETCH(bool, newMessage);
    QFETCH(int, interval);
    QFETCH(int, pressedAfter);

    Bench b;
    MAIN64K& w = *b.w;
    // A first message in "Normal Poll", answered, so the second one sets the
    // toggle; then four polls without a reply bring the trace to row 6.
    b.press();
    b.fake->arrive(replyBytes({0x01, 0, 0, 0, 0, 0}));
    for (int i = 0; i < 5; ++i)
        w.PollTime_Timer();
    b.release();
    QCOMPARE(b.sent(), 6);
    QVERIFY(w.session()->ackToggle());
    QVERIFY(!w.session()->replyReceived());
    QCOMPARE(w.traceRow(), 6);
    const QByteArray last = b.fake->frames.back();
    // A new message would differ from the last one in its enables, and a
    // start that runs the clock takes the new rate.
    w.Label18[2]->setCaption(QStringLiteral("host line"));
    w.Label20[2]->setCaption(QStringLiteral("reply line"));
    setCheckValue(w.Check1[0], 0);
    w.Text2->setText(QStringLiteral("250"));
    b.selectMode(mode);

    b.press();
    QCOMPARE(b.sent(), 7);
    QCOMPARE(b.fake->frames.back() != last, newMessage);
    QCOMPARE(w.session()->ackToggle(), !resets || mode == 4);  // mode 4 resets, then only repeats
    QCOMPARE(int(w.traceRow()), resets ? 1 : 7);
    QCOMPARE(w.Label18[2]->caption(), resets ? QString() : QStringLiteral("host line"));
    QCOMPARE(w.Label20[2]->caption(), resets ? QString() : QStringLiteral("reply line"));
    QCOMPARE(w.session()->pollTimer().interval(), interval);
    QCOMPARE(w.session()->pollTimer().isTicking(), resets);
    QCOMPARE(checkValue(w.Check4), pressedAfter);
}

// Each press in "Step Into" sends one message and springs back; a reply in
// between makes the next press send a new message, none repeats the last.
void TestControls::stepIntoOnePollPerPress()
{
    Bench b(true);
    b.press();
    b.release();
    b.selectMode(2);
    QCOMPARE(b.sent(), 1);

    for (int press = 1; press <= 3; ++press) {
        if (press == 2)
            b.fake->arrive(idleReply());
        const QByteArray before = b.fake->frames.back();
        QTest::mouseClick(b.w->Check4, Qt::LeftButton);
        QCOMPARE(b.sent(), 1 + press);
        QCOMPARE(b.fake->frames.back() != before, press == 2);
        QCOMPARE(checkValue(b.w->Check4), 0);
        QCOMPARE(b.w->Label14->caption(), QStringLiteral(" SYSTEM SUSPENDED"));
        QVERIFY(!b.w->session()->pollTimer().isTicking());
    }
    QTest::qWait(150);
    QCOMPARE(b.sent(), 4);
}

// The first start empties the input of a port that is not open yet.
void TestControls::discardBeforeFirstOpen()
{
    Bench b;
    QVERIFY(!b.fake->isOpen);
    b.press();
    const qsizetype discard = b.fake->calls.indexOf(QStringLiteral("discard"));
    QVERIFY(discard >= 0);
    QVERIFY(discard < b.fake->calls.indexOf(QStringLiteral("open")));
    QCOMPARE(b.sent(), 1);

    // The serial port proper takes it as calmly.
    QTemporaryDir dir;
    QtPort port(dir.path());
    QVERIFY(!port.portOpen());
    port.discardInput();
    QCOMPARE(port.inBufferCount(), 0);
}

void TestControls::suspendLeavesTheRest()
{
    Bench b;
    MAIN64K& w = *b.w;
    b.press();
    b.fake->arrive(idleReply());
    const QString state = w.Label15->caption();
    const QString hostLine = w.Label18[0]->caption();
    const QString replyLine = w.Label20[0]->caption();
    QVERIFY(!hostLine.isEmpty());
    QVERIFY(!replyLine.isEmpty());
    const bool reopen = w.session()->reopenPending();
    const bool replied = w.session()->replyReceived();

    b.release();
    QCOMPARE(w.Label14->caption(), QStringLiteral(" SYSTEM SUSPENDED"));
    QVERIFY(!w.session()->pollTimer().isEnabled());
    QCOMPARE(w.session()->pollTimer().interval(), 100);
    QVERIFY(b.fake->isOpen);
    QCOMPARE(w.Label15->caption(), state);
    QCOMPARE(w.Label18[0]->caption(), hostLine);
    QCOMPARE(w.Label20[0]->caption(), replyLine);
    QCOMPARE(w.session()->reopenPending(), reopen);
    QCOMPARE(w.session()->replyReceived(), replied);
    QCOMPARE(b.sent(), 1);
}

QTEST_MAIN(TestControls)
#include "test_controls.moc"
