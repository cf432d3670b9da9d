// Replies off the line: when the handler acts, what it decodes, what it
// shows in the state and event boxes, what it counts, and how it drops a
// line that is out of step.
#include "windowbench.h"
#include "link/frames.h"
#include "tester/main64k.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <memory>

namespace {

std::uint8_t channelBits(int channel)
{
    return std::uint8_t(channel << 3);
}

// A window polling on a fake port in "Normal Poll", one frame sent.
struct Bench : WindowBench {
    Bench() { setCheckValue(w->Check4, 1); }
    void reply(Status status, bool good = true) { fake->arrive(replyBytes(status, good)); }
    QString count(int channel) const { return w->Label9[channel - 1]->caption(); }
};

}  // namespace

class TestReception : public QObject {
    Q_OBJECT
private slots:
    void statusBits_data();
    void statusBits();
    void idlingExample();
    void escrowedExample();
    void textsPersist();
    void eventClearedOnChannelChange();
    void channelNameBound_data();
    void channelNameBound();
    void counting_data();
    void counting();
    void badChecksumStillDecoded();
    void ignoredEvents_data();
    void ignoredEvents();
    void splitArrival_data();
    void splitArrival();
    void twoRepliesInOneRead();
    void resynchronisation();
    void resynchronisationRestartsIdleTimer();
    void badFramesBehindStrayBytesNotCounted();
    void eventDuringPauseNotNested();
};

void TestReception::statusBits_data()
{
    QTest::addColumn<int>("s0");
    QTest::addColumn<int>("s1");
    QTest::addColumn<int>("s2");
    QTest::addColumn<QString>("stateText");
    QTest::addColumn<QString>("stateCode");
    QTest::addColumn<QString>("eventText");
    QTest::addColumn<QString>("eventCode");

    const QString none = QStringLiteral("   ");
    // One bit at a time.
    QTest::newRow("idling") << 0x01 << 0 << 0 << "IDLING" << none << "" << none;
    QTest::newRow("accepting") << 0x02 << 0 << 0 << "ACCEPTING" << "ACC" << "" << none;
    QTest::newRow("escrowed") << 0x04 << 0 << 0 << "ESCROWED" << "ESC" << "" << none;
    QTest::newRow("stacking") << 0x08 << 0 << 0 << "STACKING" << "STK" << "" << none;
    QTest::newRow("stacked") << 0x10 << 0 << 0 << "" << none << "STACKED" << "STD";
    QTest::newRow("returning") << 0x20 << 0 << 0 << "RETURNING" << "RTN" << "" << none;
    QTest::newRow("returned") << 0x40 << 0 << 0 << "" << none << "RETURNED" << "RTD";
    QTest::newRow("cheated") << 0 << 0x01 << 0 << "" << none << "CHEATED" << "CHT";
    QTest::newRow("rejected") << 0 << 0x02 << 0 << "" << none << "REJECTED" << "REJ";
    QTest::newRow("jammed") << 0 << 0x04 << 0 << "JAMMED" << "JAM" << "" << none;
    QTest::newRow("stacker full") << 0 << 0x08 << 0 << "STACKER FULL" << none << "" << none;
    QTest::newRow("calibration") << 0 << 0x40 << 0 << "CALIBRATION" << "CAL" << "" << none;
    QTest::newRow("power up") << 0 << 0 << 0x01 << "" << none << "POWER UP" << "PWR";
    QTest::newRow("invalid command") << 0 << 0 << 0x02 << "" << none << "INVALID CMD" << "INV";
    QTest::newRow("failure") << 0 << 0 << 0x04 << "" << none << "FAILURE" << none;
    // Bits nobody reads.
    QTest::newRow("unread bits") << 0x00 << 0x30 << 0x00 << "" << none << "" << none;
    // Several at once: the later row of the table wins.
    QTest::newRow("escrowed + stacker full") << 0x04 << 0x08 << 0 << "STACKER FULL" << "ESC" << "" << none;
    QTest::newRow("idling + accepting") << 0x03 << 0 << 0 << "ACCEPTING" << "ACC" << "" << none;
    QTest::newRow("idling + stacker full") << 0x01 << 0x08 << 0 << "STACKER FULL" << none << "" << none;
    QTest::newRow("jammed + calibration") << 0 << 0x44 << 0 << "CALIBRATION" << "CAL" << "" << none;
    QTest::newRow("stacked + rejected") << 0x10 << 0x02 << 0 << "" << none << "REJECTED" << "REJ";
    QTest::newRow("stacked + failure") << 0x10 << 0 << 0x04 << "" << none << "STACKED" << "STD";
    QTest::newRow("stacked + invalid") << 0x10 << 0 << 0x02 << "" << none << "INVALID CMD" << "INV";
    QTest::newRow("stacking + stacked") << 0x18 << 0 << 0 << "STACKING" << "STK" << "STACKED" << "STD";
}

void TestReception::statusBits()
{
    QFETCH(int, s0);
    QFETCH(int, s1);
    QFETCH(int, s2);
    QFETCH(QString, stateText);
    QFETCH(QString, stateCode);
    QFETCH(QString, eventText);
    QFETCH(QString, eventCode);

    Bench b;
    b.reply({0, 0, 0, 0, 0, 0});  // the first reply sets the channel text
    b.reply({std::uint8_t(s0), std::uint8_t(s1), std::uint8_t(s2), 0, 0, 0});
    QCOMPARE(b.w->session()->decoding().stateText, stateText);
    QCOMPARE(b.w->session()->decoding().stateCode, stateCode);
    QCOMPARE(b.w->session()->decoding().eventText, eventText);
    QCOMPARE(b.w->session()->decoding().eventCode, eventCode);
    QCOMPARE(b.w->Label15->caption(), QLatin1Char(' ') + stateText);
    QCOMPARE(b.w->Label13->caption(), QLatin1Char(' ') + eventText);
    QVERIFY(b.w->session()->replyReceived());
}

void TestReception::idlingExample()
{
    Bench b;
    b.fake->arrive(QByteArray::fromHex("020b10010000000000031a"));
    QCOMPARE(b.w->Label15->caption(), QStringLiteral(" IDLING"));
    QCOMPARE(b.w->session()->decoding().stateCode, QStringLiteral("   "));
    QCOMPARE(b.w->session()->decoding().channelText, QStringLiteral(" "));
    QCOMPARE(b.w->session()->decoding().eventCode, QStringLiteral("   "));
    QCOMPARE(b.w->session()->decoding().channelNumber, 0);
    QCOMPARE(b.w->Shape2[1]->fillColor(), 255);
    QVERIFY(b.w->session()->replyReceived());
}

void TestReception::escrowedExample()
{
    Bench b;
    b.reply({0x04, 0, 0x18, 0, 0, 0});
    QCOMPARE(b.w->session()->decoding().stateText, QStringLiteral("ESCROWED"));
    QCOMPARE(b.w->session()->decoding().stateCode, QStringLiteral("ESC"));
    QCOMPARE(b.w->session()->decoding().channelNumber, 3);
    QCOMPARE(b.w->session()->decoding().channelText, QStringLiteral("3"));
    // Every reply byte but STX is kept, the ETX as received.
    const std::array<std::uint8_t, 11> kept{0x02, 0x0B, 0x10, 0x04, 0x00, 0x18, 0x00, 0x00, 0x00, 0x03, 0x07};
    QCOMPARE(b.w->session()->lastReply().bytes, kept);
}

void TestReception::textsPersist()
{
    Bench b;
    b.reply({0x02, 0, 0x18, 0, 0, 0});
    b.reply({0x00, 0, 0x18, 0, 0, 0});
    QCOMPARE(b.w->session()->decoding().stateText, QStringLiteral("ACCEPTING"));
    QCOMPARE(b.w->session()->decoding().stateCode, QStringLiteral("   "));
    QCOMPARE(b.w->Label15->caption(), QStringLiteral(" ACCEPTING"));

    b.reply({0x11, 0, 0x18, 0, 0, 0});
    QCOMPARE(b.w->Label13->caption(), QStringLiteral(" STACKED CH3"));
    b.reply({0x01, 0, 0x18, 0, 0, 0});  // same channel, no event
    QCOMPARE(b.w->session()->decoding().eventText, QStringLiteral("STACKED"));
    QCOMPARE(b.w->session()->decoding().eventCode, QStringLiteral("   "));
    QCOMPARE(b.w->session()->decoding().stateText, QStringLiteral("IDLING"));
    QCOMPARE(b.w->Label13->caption(), QStringLiteral(" STACKED CH3"));
    QCOMPARE(b.count(3), QStringLiteral("1"));
}

void TestReception::eventClearedOnChannelChange()
{
    Bench b;
    b.reply({0x01, 0, 0, 0, 0, 0});
    // None before, channel 3 now: the event is decoded, counted and then
    // cleared before it is shown.
    b.reply({0x11, 0, 0x18, 0, 0, 0});
    QCOMPARE(b.w->session()->decoding().eventCode, QStringLiteral("STD"));
    QCOMPARE(b.w->session()->decoding().eventText, QString());
    QCOMPARE(b.w->Label13->caption(), QStringLiteral(" "));
    QCOMPARE(b.count(3), QStringLiteral("1"));
    QCOMPARE(b.w->session()->decoding().channelText, QStringLiteral("3"));

    b.reply({0x41, 0, 0x18, 0, 0, 0});
    QCOMPARE(b.w->Label13->caption(), QStringLiteral(" RETURNED CH3"));
    // Back to none: cleared again.
    b.reply({0x01, 0, 0, 0, 0, 0});
    QCOMPARE(b.w->session()->decoding().eventText, QString());
    QCOMPARE(b.w->Label13->caption(), QStringLiteral(" "));
    QCOMPARE(b.w->session()->decoding().channelText, QStringLiteral(" "));
}

void TestReception::channelNameBound_data()
{
    QTest::addColumn<int>("channel");
    QTest::addColumn<QString>("shown");
    QTest::newRow("1") << 1 << " RETURNED Coin 1";
    QTest::newRow("3") << 3 << " RETURNED CH3";
    QTest::newRow("7") << 7 << " RETURNED CH7";
    QTest::newRow("8") << 8 << " RETURNED";
    QTest::newRow("9") << 9 << " RETURNED";
    QTest::newRow("13") << 13 << " RETURNED";
    QTest::newRow("15") << 15 << " RETURNED";
}

void TestReception::channelNameBound()
{
    QFETCH(int, channel);
    QFETCH(QString, shown);
    Bench b;
    b.w->Label8[0]->setCaption(QStringLiteral("Coin 1"));
    b.reply({0x01, 0, channelBits(channel), 0, 0, 0});
    b.reply({0x41, 0, channelBits(channel), 0, 0, 0});
    QCOMPARE(b.w->Label13->caption(), shown);
}

void TestReception::counting_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<int>("s0");
    QTest::addColumn<int>("s1");
    QTest::addColumn<QString>("count");
    QTest::newRow("normal poll") << 1 << 0x11 << 0 << "1";
    QTest::newRow("step into") << 2 << 0x11 << 0 << "1";
    QTest::newRow("interrupt mode") << 3 << 0x11 << 0 << "1";
    QTest::newRow("negative ack") << 4 << 0x11 << 0 << "0";
    QTest::newRow("stacked + rejected") << 1 << 0x11 << 0x02 << "0";
    QTest::newRow("stacked + cheated") << 1 << 0x11 << 0x01 << "0";
    QTest::newRow("returned") << 1 << 0x41 << 0 << "0";
}

void TestReception::counting()
{
    QFETCH(int, mode);
    QFETCH(int, s0);
    QFETCH(int, s1);
    QFETCH(QString, count);
    Bench b;
    b.w->session()->setMode(PollMode(mode));
    b.reply({0x01, 0, 0x18, 0, 0, 0});
    b.reply({std::uint8_t(s0), std::uint8_t(s1), 0x18, 0, 0, 0});
    QCOMPARE(b.count(3), count);
    for (int ch = 1; ch <= 13; ++ch)
        if (ch != 3)
            QCOMPARE(b.count(ch), QStringLiteral("0"));
}

void TestReception::badChecksumStillDecoded()
{
    Bench b;
    b.reply({0x01, 0, 0x18, 0, 0, 0});
    QVERIFY(b.w->session()->replyReceived());
    b.w->PollTime_Timer();
    QVERIFY(!b.w->session()->replyReceived());
    // Decoded, shown and counted; only the acknowledgement is withheld.
    b.reply({0x11, 0, 0x18, 0, 0, 0}, false);
    QVERIFY(!b.w->session()->replyReceived());
    QCOMPARE(b.w->session()->decoding().eventCode, QStringLiteral("STD"));
    QCOMPARE(b.w->Label13->caption(), QStringLiteral(" STACKED CH3"));
    QCOMPARE(b.w->Label15->caption(), QStringLiteral(" IDLING"));
    QCOMPARE(b.count(3), QStringLiteral("1"));
    // The same report again is counted again.
    b.reply({0x11, 0, 0x18, 0, 0, 0});
    QVERIFY(b.w->session()->replyReceived());
    QCOMPARE(b.count(3), QStringLiteral("2"));
}

void TestReception::ignoredEvents_data()
{
    QTest::addColumn<int>("event");
    QTest::addColumn<bool>("ready");
    QTest::newRow("send event") << 1 << true;
    QTest::newRow("other event") << 3 << true;
    QTest::newRow("port not ready") << int(CommEventReceive) << false;
}

void TestReception::ignoredEvents()
{
    QFETCH(int, event);
    QFETCH(bool, ready);
    Bench b;
    QVERIFY(!b.w->session()->replyReceived());
    if (!ready)
        b.w->session()->closePort();
    b.fake->buffer = replyBytes({0x11, 0, 0x18, 0, 0, 0});
    b.fake->event = event;
    b.w->session()->MSComm1_OnComm();
    QCOMPARE(b.fake->buffer.size(), 11);
    QVERIFY(!b.w->session()->replyReceived());
    QCOMPARE(b.w->session()->decoding().stateText, QString());
    QCOMPARE(b.w->Shape2[1]->fillColor(), 64);
}

void TestReception::splitArrival_data()
{
    QTest::addColumn<int>("first");
    QTest::newRow("8 then 3") << 8;
    QTest::newRow("10 then 1") << 10;
    QTest::newRow("1 then 10") << 1;
}

void TestReception::splitArrival()
{
    QFETCH(int, first);
    Bench b;
    b.reply({0x01, 0, 0x18, 0, 0, 0});
    b.w->PollTime_Timer();
    const QByteArray stacked = replyBytes({0x11, 0, 0x18, 0, 0, 0});
    b.fake->arrive(stacked.left(first));
    QVERIFY(!b.w->session()->replyReceived());
    QCOMPARE(b.w->session()->decoding().eventCode, QStringLiteral("   "));
    QCOMPARE(b.fake->buffer.size(), first);
    b.fake->arrive(stacked.mid(first));
    QVERIFY(b.w->session()->replyReceived());
    QCOMPARE(b.w->session()->decoding().eventCode, QStringLiteral("STD"));
    QCOMPARE(b.count(3), QStringLiteral("1"));
    QVERIFY(b.fake->buffer.isEmpty());
    QCOMPARE(b.w->Label20[1]->caption(), QStringLiteral(" 02 0B 10 11 00 18 00 00 00 03 12     3 STD"));
}

void TestReception::twoRepliesInOneRead()
{
    Bench b;
    b.reply({0x01, 0, 0x18, 0, 0, 0});
    b.fake->arrive(replyBytes({0x11, 0, 0x18, 0, 0, 0}) + replyBytes({0x41, 0, 0x18, 0, 0, 0}));
    QCOMPARE(b.w->session()->decoding().eventText, QStringLiteral("STACKED"));
    QCOMPARE(b.count(3), QStringLiteral("1"));
    QVERIFY(b.fake->buffer.isEmpty());
}

void TestReception::resynchronisation()
{
    // 25 bytes waiting, starting with 0x06: the stray byte is dropped, the
    // reply behind it is decoded, shown and counted, the second reply and
    // the rest of the read are dropped; the poll clock keeps running.
    Bench b;
    QVERIFY(b.w->session()->pollTimer().isEnabled());
    QVERIFY(!b.w->session()->replyReceived());
    b.fake->calls.clear();

    QByteArray junk(1, '\x06');
    junk += replyBytes({0x11, 0, 0x18, 0, 0, 0}) + replyBytes({0x11, 0, 0x18, 0, 0, 0}) + QByteArray(2, 0x02);
    QCOMPARE(junk.size(), 25);
    b.fake->arrive(junk);

    QVERIFY(b.w->session()->pollTimer().isTicking());
    QVERIFY(b.fake->buffer.isEmpty());
    QVERIFY(b.w->session()->replyReceived());
    QCOMPARE(b.w->Label20[0]->caption(), QStringLiteral(" 02 0B 10 11 00 18 00 00 00 03 12     3 STD"));
    QCOMPARE(b.w->Shape2[1]->fillColor(), 255);
    QCOMPARE(b.count(3), QStringLiteral("1"));

    // A line with no frame at all: nothing is shown, and the next poll shows
    // the miss and repeats its message.
    b.w->PollTime_Timer();
    const QByteArray sent = b.fake->frames.back();
    const QString row1 = b.w->Label20[1]->caption();
    b.fake->arrive(QByteArray(25, '\x06'));
    QTRY_VERIFY(!b.w->session()->resynchronising());
    QVERIFY(b.fake->buffer.isEmpty());
    QVERIFY(!b.w->session()->replyReceived());
    QCOMPARE(b.w->Label20[1]->caption(), row1);
    QCOMPARE(b.count(3), QStringLiteral("1"));
    b.w->PollTime_Timer();
    QCOMPARE(b.fake->frames.back(), sent);
    QCOMPARE(b.w->Label20[1]->caption(), frames::NoResponseLine);
}

void TestReception::badFramesBehindStrayBytesNotCounted()
{
    // Noise with a stacked-on-channel-3 frame in it whose checksum is wrong,
    // twelve times: none of it is shown or counted. A whole good frame behind
    // a stray byte still is.
    Bench b;
    const QByteArray noise = QByteArray::fromHex("0633") + replyBytes({0x11, 0, 0x18, 0, 0, 0}, false);
    for (int i = 0; i < 12; ++i) {
        b.fake->arrive(noise);
        QTRY_VERIFY(!b.w->session()->resynchronising());
    }
    QCOMPARE(b.count(3), QStringLiteral("0"));
    for (int row = 0; row < 16; ++row)
        QVERIFY(!b.w->Label20[row]->caption().contains(QStringLiteral("02 0B")));
    QCOMPARE(b.w->session()->decoding().channelNumber, 0);
    QVERIFY(!b.w->session()->replyReceived());

    b.fake->arrive(QByteArray(1, '\x06') + replyBytes({0x11, 0, 0x18, 0, 0, 0}));
    QCOMPARE(b.count(3), QStringLiteral("1"));
    QVERIFY(b.w->session()->replyReceived());
}

void TestReception::resynchronisationRestartsIdleTimer()
{
    // The timer comes back on even when polls were not running on it.
    Bench b;
    setCheckValue(b.w->Check4, 0);
    QVERIFY(!b.w->session()->pollTimer().isEnabled());
    b.fake->arrive(QByteArray(11, '\x00'));
    QTRY_VERIFY(b.w->session()->pollTimer().isEnabled());
    const auto sent = b.fake->frames.size();
    b.w->PollTime_Timer();  // its ticks poll only while START POLL is down
    QCOMPARE(b.fake->frames.size(), sent);
}

void TestReception::eventDuringPauseNotNested()
{
    Bench b;
    QVERIFY(!b.w->session()->replyReceived());
    // During the pause more junk comes: it starts no second drain inside the
    // first and is dropped at the end of the pause.
    b.fake->arrive(QByteArray(11, '\x06'));
    b.fake->arrive(QByteArray(12, '\x06'));
    QTRY_VERIFY(!b.w->session()->resynchronising());
    QVERIFY(b.fake->buffer.isEmpty());
    QVERIFY(b.w->session()->pollTimer().isEnabled());
    QVERIFY(!b.w->session()->replyReceived());
    QCOMPARE(b.count(3), QStringLiteral("0"));
    QTest::qWait(PollSession::ResyncPauseMs * 6);

    // Bytes that come after the pause are handled as usual.
    b.reply({0x01, 0, 0, 0, 0, 0});
    QVERIFY(b.w->session()->replyReceived());
    QCOMPARE(b.w->Label15->caption(), QStringLiteral(" IDLING"));
}

QTEST_MAIN(TestReception)
#include "test_reception.moc"
