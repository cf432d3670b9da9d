// The poll cycle against a port in memory: which bytes go out, when the
// acknowledge bit flips, how notes in escrow are decided, and what a port
// that fails to open or dies while polling leaves behind.
#include "windowbench.h"
#include "link/frames.h"
#include "modal.h"
#include "tester/main64k.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace {

const QString PortErrorText = QStringLiteral(
    "Communication Port Error (#:%1).  COM port maybe in use by other application(s) or does not exist.");

// A loaded window on a fake port: port 1, poll rate 100, channels 1 to 7
// enabled, escrow off, "Normal Poll".
struct Bench : WindowBench {
    Bench() { setCheckValue(w->Check6, 0); }
    void start() { setCheckValue(w->Check4, 1); }
    void stop() { setCheckValue(w->Check4, 0); }
    void setMode(int mode)
    {
        while (int(w->session()->mode()) != mode)
            w->Command1_Click();
    }
    void goodReply(std::array<std::uint8_t, 6> status = {0x01, 0, 0, 0, 0, 0}) { fake->arrive(replyBytes(status)); }
    QByteArray lastFrame() const { return fake->frames.empty() ? QByteArray() : fake->frames.back().toHex(' '); }
    int frameCount() const { return int(fake->frames.size()); }
};

}  // namespace

class TestPollCycle : public QObject {
    Q_OBJECT
private slots:
    void firstFrame();
    void acknowledgeBit_data();
    void acknowledgeBit();
    void repetitionKeepsOldBytes();
    void negativeAckNeverBuilds();
    void emptyMessageWritesNothing();
    void stepIntoOnePollPerStart();
    void escrowDecision_data();
    void escrowDecision();
    void openCallOrder();
    void failedOpen();
    void failureWhilePolling_data();
    void failureWhilePolling();
};

void TestPollCycle::firstFrame()
{
    Bench b;
    b.start();
    QCOMPARE(b.frameCount(), 1);
    QCOMPARE(b.lastFrame(), QByteArray("02 08 10 7f 00 00 03 67"));
    QVERIFY(b.w->session()->portReady());
    QVERIFY(!b.w->session()->reopenPending());
    QVERIFY(!b.w->session()->replyReceived());
    QVERIFY(b.w->session()->pollTimer().isEnabled());
    QCOMPARE(b.w->session()->pollTimer().interval(), 100);
    QCOMPARE(b.w->Label14->caption(), QStringLiteral(" RUNNING"));
    QCOMPARE(b.w->Shape2[0]->fillColor(), 255);
    QVERIFY(b.w->LEDBlink->isEnabled());
}

void TestPollCycle::acknowledgeBit_data()
{
    // What answers each poll before the next one: g good reply, b bad
    // checksum, - nothing. One control byte per poll.
    QTest::addColumn<QString>("answers");
    QTest::addColumn<QByteArray>("controls");
    QTest::newRow("good every time") << "ggg" << QByteArray("10 11 10 11");
    QTest::newRow("silent") << "--" << QByteArray("10 10 10");
    QTest::newRow("bad checksum") << "bb" << QByteArray("10 10 10");
    QTest::newRow("mixed") << "g-bg-" << QByteArray("10 11 11 11 10 10");
    QTest::newRow("two replies to one poll") << "G" << QByteArray("10 11");
}

void TestPollCycle::acknowledgeBit()
{
    QFETCH(QString, answers);
    QFETCH(QByteArray, controls);
    Bench b;
    b.start();
    for (QChar a : answers) {
        if (a == u'g')
            b.goodReply();
        else if (a == u'G') {
            b.goodReply();
            b.goodReply();
        } else if (a == u'b')
            b.fake->arrive(replyBytes({0x01, 0, 0, 0, 0, 0}, false));
        b.w->PollTime_Timer();
    }
    QByteArray seen;
    for (const QByteArray& f : b.fake->frames) {
        QCOMPARE(f.size(), 8);
        // The checksum always matches the bytes sent.
        QCOMPARE(std::uint8_t(f[7]), std::uint8_t(f[1] ^ f[2] ^ f[3] ^ f[4] ^ f[5]));
        seen += QByteArray(1, f[2]).toHex() + ' ';
    }
    QCOMPARE(seen.trimmed(), controls);
}

void TestPollCycle::repetitionKeepsOldBytes()
{
    Bench b;
    b.start();
    const QByteArray first = b.lastFrame();
    // The operator changes enables and escrow; with no reply the poll
    // repeats the message built before the change.
    setCheckValue(b.w->Check1[8], 1);
    setCheckValue(b.w->Check1[0], 0);
    setCheckValue(b.w->Check6, 1);
    b.w->PollTime_Timer();
    QCOMPARE(b.lastFrame(), first);
    QCOMPARE(b.w->Label14->caption(), QStringLiteral(" RUNNING"));
    QCOMPARE(frames::commandCode(b.w->session()->lastMessage().request()), QStringLiteral("   "));
    b.goodReply();
    b.w->PollTime_Timer();
    QCOMPARE(b.lastFrame(), QByteArray("02 08 11 7e 10 04 03 73"));
}

void TestPollCycle::negativeAckNeverBuilds()
{
    Bench b;
    b.start();
    b.goodReply();
    b.w->PollTime_Timer();
    const QByteArray built = b.lastFrame();
    QCOMPARE(built, QByteArray("02 08 11 7f 00 00 03 66"));
    b.stop();
    b.setMode(4);
    b.start();  // a start in this mode also resets the acknowledgement state
    QVERIFY(b.w->session()->pollTimer().isEnabled());
    for (int i = 0; i < 4; ++i) {
        b.goodReply();
        setCheckValue(b.w->Check1[i + 8], 1);
        b.w->PollTime_Timer();
    }
    QCOMPARE(b.frameCount(), 7);
    for (int i = 1; i < b.frameCount(); ++i)
        QCOMPARE(b.fake->frames[i].toHex(' '), built);
}

void TestPollCycle::emptyMessageWritesNothing()
{
    // Straight after loading nothing has been built: a start in a mode that
    // does not build opens the port and sends no bytes.
    Bench b;
    b.setMode(4);
    b.start();
    QVERIFY(b.w->session()->portReady());
    QCOMPARE(b.frameCount(), 0);
    QCOMPARE(b.w->Label18[0]->caption(), QStringLiteral(" 02 08 00 00 00 00 03 00 "));
}

void TestPollCycle::stepIntoOnePollPerStart()
{
    Bench b;
    b.start();
    b.goodReply();
    b.stop();
    b.setMode(2);
    QVERIFY(!b.w->session()->pollTimer().isEnabled());

    b.start();
    QCOMPARE(b.frameCount(), 2);
    QCOMPARE(b.lastFrame(), QByteArray("02 08 11 7f 00 00 03 66"));
    QCOMPARE(checkValue(b.w->Check4), 0);
    QVERIFY(!b.w->session()->pollTimer().isEnabled());

    // No reply this time: the next start repeats the same frame, once.
    b.start();
    QCOMPARE(b.frameCount(), 3);
    QCOMPARE(b.lastFrame(), QByteArray("02 08 11 7f 00 00 03 66"));
    QCOMPARE(checkValue(b.w->Check4), 0);

    b.goodReply();
    b.start();
    QCOMPARE(b.frameCount(), 4);
    QCOMPARE(b.lastFrame(), QByteArray("02 08 10 7f 00 00 03 67"));
    QCOMPARE(checkValue(b.w->Check4), 0);
}

void TestPollCycle::escrowDecision_data()
{
    QTest::addColumn<bool>("escrow");
    QTest::addColumn<int>("status0");
    QTest::addColumn<int>("status2");
    QTest::addColumn<int>("status3");
    QTest::addColumn<int>("alsoEnable");  // a channel above 7 to tick, 0 for none
    QTest::addColumn<int>("data1");
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("code");

    const QString stack = QStringLiteral(" STACK BILL"), give = QStringLiteral(" RETURN BILL"),
                  run = QStringLiteral(" RUNNING");
    QTest::newRow("enabled channel 3") << true << 0x04 << 0x18 << 0 << 0 << 0x30 << stack << "STK";
    QTest::newRow("enabled channel 13") << true << 0x04 << 0x68 << 0 << 13 << 0x30 << stack << "STK";
    QTest::newRow("disabled channel 9") << true << 0x04 << 0x48 << 0 << 0 << 0x50 << give << "RTN";
    QTest::newRow("escrow off") << false << 0x04 << 0x18 << 0 << 0 << 0x00 << run << "   ";
    QTest::newRow("channel 0, escrow off") << false << 0x04 << 0x00 << 0 << 0 << 0x40 << give << "RTN";
    QTest::newRow("channel 0, escrow on") << true << 0x04 << 0x00 << 0 << 0 << 0x50 << give << "RTN";
    QTest::newRow("channel 14, escrow on") << true << 0x04 << 0x70 << 0 << 0 << 0x50 << give << "RTN";
    QTest::newRow("channel 15, escrow on") << true << 0x04 << 0x78 << 0 << 0 << 0x50 << give << "RTN";
    QTest::newRow("channel 19, escrow on") << true << 0x04 << 0x18 << 1 << 0 << 0x50 << give << "RTN";
    QTest::newRow("channel 15, escrow off") << false << 0x04 << 0x78 << 0 << 0 << 0x00 << run << "   ";
    QTest::newRow("not escrowed") << true << 0x11 << 0x18 << 0 << 0 << 0x10 << run << "   ";
    QTest::newRow("escrowed among others") << true << 0x0F << 0x18 << 0 << 0 << 0x30 << stack << "STK";
}

void TestPollCycle::escrowDecision()
{
    QFETCH(bool, escrow);
    QFETCH(int, status0);
    QFETCH(int, status2);
    QFETCH(int, status3);
    QFETCH(int, alsoEnable);
    QFETCH(int, data1);
    QFETCH(QString, command);
    QFETCH(QString, code);

    Bench b;
    setCheckValue(b.w->Check6, escrow ? 1 : 0);
    if (alsoEnable)
        setCheckValue(b.w->Check1[alsoEnable - 1], 1);
    b.start();
    b.goodReply({std::uint8_t(status0), 0, std::uint8_t(status2), std::uint8_t(status3), 0, 0});
    b.w->PollTime_Timer();
    QCOMPARE(b.frameCount(), 2);
    QCOMPARE(int(std::uint8_t(b.fake->frames.back()[4])), data1);
    QCOMPARE(b.w->Label14->caption(), command);
    QCOMPARE(frames::commandCode(b.w->session()->lastMessage().request()), code);
    QCOMPARE((b.w->session()->lastMessage().request() == frames::Request::Stack), code == QLatin1String("STK"));
    QCOMPARE((b.w->session()->lastMessage().request() == frames::Request::Return), code == QLatin1String("RTN"));
    QVERIFY(b.w->Label18[1]->caption().endsWith(QLatin1Char(' ') + code));
}

void TestPollCycle::openCallOrder()
{
    const QStringList setUp{QStringLiteral("commport"),   QStringLiteral("settings"),   QStringLiteral("inputlen"),
                            QStringLiteral("inputmode"),  QStringLiteral("rthreshold"), QStringLiteral("sthreshold"),
                            QStringLiteral("dtr"),        QStringLiteral("rts"),        QStringLiteral("open")};
    Bench b;
    b.fake->calls.clear();
    b.start();
    QCOMPARE(b.fake->calls, QStringList{QStringLiteral("discard")} + setUp);
    QCOMPARE(b.fake->number, 1);
    QCOMPARE(b.fake->settings, QStringLiteral("9600, E, 7, 1"));
    QCOMPARE(b.fake->rThreshold, 10);
    QCOMPARE(b.fake->sThreshold, 1);
    QVERIFY(b.fake->dtr);
    QVERIFY(b.fake->rts);

    // Same number again: the open port is kept.
    b.stop();
    b.fake->calls.clear();
    b.start();
    QCOMPARE(b.fake->calls, QStringList{QStringLiteral("discard")});

    // A new number closes the old port before the new one is selected.
    b.stop();
    b.w->Text1->setText(QStringLiteral("4"));
    b.fake->calls.clear();
    b.start();
    QCOMPARE(b.fake->calls, QStringList({QStringLiteral("discard"), QStringLiteral("close")}) + setUp);
    QCOMPARE(b.fake->number, 4);
    QCOMPARE(b.frameCount(), 3);
}

void TestPollCycle::failedOpen()
{
    ModalCloser closer;
    Bench b;
    b.fake->openFailure = porterr::NoSuchPort;
    b.w->Text1->setText(QStringLiteral("1"));

    b.start();
    QCOMPARE(closer.count(), 1);
    QCOMPARE(closer.titles.last(), QStringLiteral("System Error"));
    QCOMPARE(closer.texts.last(), PortErrorText.arg(8002));
    QCOMPARE(checkValue(b.w->Check4), 0);
    QVERIFY(!b.w->session()->pollTimer().isEnabled());
    QVERIFY(!b.w->session()->portReady());
    QVERIFY(b.w->session()->reopenPending());
    QCOMPARE(b.w->Text1->selectedText(), QStringLiteral("1"));
    QCOMPARE(b.frameCount(), 0);
    QCOMPARE(b.w->Label18[0]->caption(), QString());
    // A tick left over from before changes nothing.
    b.w->PollTime_Timer();
    QCOMPARE(closer.count(), 1);

    // The next start tries the whole set-up again: one box per attempt.
    b.fake->openFailure = porterr::PortInUse;
    b.start();
    QCOMPARE(closer.count(), 2);
    QCOMPARE(closer.texts.last(), PortErrorText.arg(8005));
    QCOMPARE(b.fake->calls.count(QStringLiteral("open")), 2);
    QCOMPARE(b.frameCount(), 0);

    b.fake->openFailure = 0;
    b.start();
    QCOMPARE(closer.count(), 2);
    QVERIFY(b.w->session()->portReady());
    QVERIFY(!b.w->session()->reopenPending());
    QCOMPARE(b.frameCount(), 1);
    QCOMPARE(checkValue(b.w->Check4), 1);
}

void TestPollCycle::failureWhilePolling_data()
{
    QTest::addColumn<bool>("pulled");  // else the write is refused
    QTest::addColumn<int>("number");
    QTest::newRow("adapter pulled") << true << int(porterr::NoHardware);
    QTest::newRow("read failed") << true << int(porterr::ReadFailed);
    QTest::newRow("write refused") << false << int(porterr::WriteFailed);
}

void TestPollCycle::failureWhilePolling()
{
    QFETCH(bool, pulled);
    QFETCH(int, number);
    ModalCloser closer;
    Bench b;
    b.start();
    b.goodReply();
    QCOMPARE(b.frameCount(), 1);

    if (pulled) {
        b.fake->pull(number);
    } else {
        b.fake->writeFailure = number;
        b.w->PollTime_Timer();
    }
    QCOMPARE(closer.count(), 1);
    QCOMPARE(closer.titles.last(), QStringLiteral("System Error"));
    QCOMPARE(closer.texts.last(), PortErrorText.arg(number));
    QCOMPARE(checkValue(b.w->Check4), 0);
    QVERIFY(!b.w->session()->pollTimer().isEnabled());
    QVERIFY(!b.w->session()->portReady());
    QVERIFY(b.w->session()->reopenPending());
    QVERIFY(!b.fake->isOpen);
    QCOMPARE(b.frameCount(), 1);

    // Further reports of the same failure and stray events add no box.
    b.fake->pull(number);
    b.fake->arrive(replyBytes({0x01, 0, 0, 0, 0, 0}));
    b.w->PollTime_Timer();
    QCOMPARE(closer.count(), 1);
    QCOMPARE(b.frameCount(), 1);

    // The next start sets the port up again and polls.
    b.fake->writeFailure = 0;
    b.start();
    QCOMPARE(closer.count(), 1);
    QCOMPARE(b.fake->opens, 2);
    QVERIFY(b.w->session()->portReady());
    QCOMPARE(b.frameCount(), 2);
    QCOMPARE(checkValue(b.w->Check4), 1);
}

QTEST_MAIN(TestPollCycle)
#include "test_pollcycle.moc"
