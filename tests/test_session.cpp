// The poll session on its own, under a bare QCoreApplication: what it writes
// to the line and what it reports, with no window to paint either.
#include "fakeport.h"
#include "link/frames.h"
#include "link/pollsession.h"
#include "run/runstats.h"
#include "replies.h"

#include <QSignalSpy>
#include <QElapsedTimer>
#include <QTest>
#include <QTimer>

#include <memory>

// The session must not need a window: this target links the link library only.
#if defined(QT_GUI_LIB) || defined(QT_WIDGETS_LIB)
#error "test_session must not link Qt Gui or Qt Widgets"
#endif

namespace {

const QByteArray Idle = replyBytes({0x01, 0, 0, 0, 0, 0});
// No STX anywhere in it, so no part of it can pass for a reply.
const QByteArray Noise(11, '\x06');

// A session on a fake port: port 1, channels 1 to 7 enabled, escrow off,
// "Normal Poll". Everything it reports goes into one log, in order.
struct Rig {
    FakePort* port = nullptr;
    std::unique_ptr<PollSession> s;
    std::unique_ptr<RunStatistics> stats;
    QStringList log;
    QByteArray discarded;  // every byte reported dropped, in order

    explicit Rig(int period = 100)
    {
        auto p = std::make_unique<FakePort>();
        port = p.get();
        s = std::make_unique<PollSession>(std::move(p));
        stats = std::make_unique<RunStatistics>(*s);
        s->setPortNumber(1);
        s->setPollPeriod(period);
        for (int c = 1; c <= 7; ++c)
            s->setChannelEnabled(c, true);

        PollSession* ps = s.get();
        QObject::connect(ps, &PollSession::messageSent, [this](const SentMessage& m) {
            log << (m.repeated ? QStringLiteral("again ") : QStringLiteral("new ")) + hex(m.message.control());
        });
        QObject::connect(ps, &PollSession::noResponse, [this] { log << QStringLiteral("none"); });
        QObject::connect(ps, &PollSession::replyChecked, [this](const CheckedReply& c) {
            log << (c.checksumOk ? QStringLiteral("reply") : QStringLiteral("bad reply"));
        });
        QObject::connect(ps, &PollSession::bytesDiscarded, [this](const QByteArray& b) {
            log << QStringLiteral("discarded %1").arg(b.size());
            discarded += b;
        });
        QObject::connect(ps, &PollSession::noteStacked,
                         [this](int channel) { log << QStringLiteral("stacked %1").arg(channel); });
        QObject::connect(ps, &PollSession::started, [this] { log << QStringLiteral("started"); });
        QObject::connect(ps, &PollSession::stopped, [this] { log << QStringLiteral("stopped"); });
        QObject::connect(ps, &PollSession::portFailed,
                         [this](int number) { log << QStringLiteral("failed %1").arg(number); });
    }

    static QString hex(int byte) { return QString::number(byte, 16).rightJustified(2, u'0'); }
    void tick() { s->PollTime_Timer(); }
    // Lets a resynchronisation pause run out, however late its timer fires.
    bool settle()
    {
        QTest::qWait(PollSession::ResyncPauseMs * 6);
        return QTest::qWaitFor([this] { return !s->resynchronising(); }, 5000);
    }
    int frameCount() const { return int(port->frames.size()); }
    QByteArray frame(int i) const { return port->frames.at(i).toHex(' '); }
    QByteArray lastFrame() const { return port->frames.empty() ? QByteArray() : port->frames.back().toHex(' '); }
    QString takeLog()
    {
        const QString l = log.join(QStringLiteral(", "));
        log.clear();
        return l;
    }

    // Answers every message with an idle reply at the next turn of the event
    // loop, as a validator on the line would.
    void answerEveryMessage()
    {
        QObject::connect(s.get(), &PollSession::messageSent, s.get(),
                         [this] { QTimer::singleShot(0, s.get(), [this] { port->arrive(Idle); }); });
    }

    // One message built, answered, and polling released: the state a switch
    // to "Step Into" or "Interrupt Mode" starts from.
    void answeredThenSuspended()
    {
        s->start();
        port->arrive(Idle);
        s->suspend();
        log.clear();
    }
};

// The bytes of a message from channels 1 to 7 with escrow off, by control byte.
QByteArray plainFrame(const QString& control)
{
    return control == QLatin1String("10") ? QByteArray("02 08 10 7f 00 00 03 67") : QByteArray("02 08 11 7f 00 00 03 66");
}

}  // namespace

class TestSession : public QObject {
    Q_OBJECT
private slots:
    void acknowledge_data();
    void acknowledge();
    void noResponseOnlyAfterASend_data();
    void noResponseOnlyAfterASend();
    void normalRunsTheClock();
    void stepIntoOnePollPerStart();
    void interruptOnePollPerStart();
    void interruptPollsOnARunningClock();
    void negativeAckRepeats();
    void escrowDecision_data();
    void escrowDecision();
    void decodingPersists_data();
    void decodingPersists();

    void noiseDiscarded_data();
    void noiseDiscarded();
    void pollingGoesOnAfterNoise();
    void eventDuringPauseNotNested();
    void failureDuringPause();
    // The pause keeps the clock's grid, a frame behind stray bytes counts,
    // and an idle clock is started by getting back in step.
    void pauseKeepsTheClock();
    void frameAfterStrayBytes_data();
    void frameAfterStrayBytes();
    void partialFrameWaitsForTheRest();
    void badFrameBehindStrayBytes_data();
    void badFrameBehindStrayBytes();
    void pauseEnablesAnIdleClock();

    void portFailure_data();
    void portFailure();
    void setUpFailure();
    void pollPeriodChange();
    void resetIsANewSession_data();
    void resetIsANewSession();
};

void TestSession::acknowledge_data()
{
    // What arrives before each poll after the start: g good reply, b bad
    // checksum, n noise; "restart" releases and starts polling again.
    QTest::addColumn<QStringList>("answers");
    QTest::addColumn<QString>("expected");

    QTest::newRow("good every time") << QStringList{"g", "g", "g"}
                                     << "new 10, reply, new 11, reply, new 10, reply, new 11";
    QTest::newRow("silence") << QStringList{"", ""} << "new 10, none, again 10, none, again 10";
    QTest::newRow("bad checksum") << QStringList{"b", "b"}
                                  << "new 10, bad reply, none, again 10, bad reply, none, again 10";
    QTest::newRow("noise") << QStringList{"n"} << "new 10, discarded 11, none, again 10";
    QTest::newRow("good then bad") << QStringList{"gb"} << "new 10, reply, bad reply, new 11";
    QTest::newRow("bad then good") << QStringList{"bg"} << "new 10, bad reply, reply, new 11";
    QTest::newRow("two good to one poll") << QStringList{"gg", ""} << "new 10, reply, reply, new 11, none, again 11";
    QTest::newRow("silence then restart") << QStringList{"", "restart"}
                                          << "new 10, none, again 10, started, new 10";
    QTest::newRow("answered then restart") << QStringList{"g", "g", "restart"}
                                           << "new 10, reply, new 11, reply, new 10, started, new 10";
}

void TestSession::acknowledge()
{
    QFETCH(QStringList, answers);
    QFETCH(QString, expected);
    Rig r;
    QSignalSpy sent(r.s.get(), &PollSession::messageSent);
    r.s->start();
    r.log.removeOne(QStringLiteral("started"));
    for (const QString& a : answers) {
        if (a == QLatin1String("restart")) {
            r.s->suspend();
            r.s->start();
            continue;
        }
        for (QChar c : a) {
            if (c == u'g')
                r.port->arrive(Idle);
            else if (c == u'b')
                r.port->arrive(replyBytes({0x01, 0, 0, 0, 0, 0}, false));
            else if (c == u'n')
                r.port->arrive(Noise);
        }
        r.tick();
    }
    QCOMPARE(r.takeLog(), expected);

    // What is reported sent is what went on the line, and a repeat is the
    // very bytes of the message before it.
    QCOMPARE(r.frame(0), QByteArray("02 08 10 7f 00 00 03 67"));
    QCOMPARE(sent.count(), r.frameCount());
    for (int i = 0; i < r.frameCount(); ++i) {
        const auto m = sent.at(i).at(0).value<SentMessage>().message;
        QCOMPARE(m.toByteArray(), r.port->frames.at(i));
        QCOMPARE(r.frame(i), plainFrame(Rig::hex(m.control())));
    }
}

void TestSession::noResponseOnlyAfterASend_data()
{
    QTest::addColumn<PollMode>("mode");
    QTest::newRow("step into") << PollMode::StepInto;
    QTest::newRow("interrupt mode") << PollMode::Interrupt;
    QTest::newRow("negative ack") << PollMode::NegativeAck;
}

void TestSession::noResponseOnlyAfterASend()
{
    // Before any message has been built these modes have nothing to send,
    // so there is nothing to have gone unanswered.
    QFETCH(PollMode, mode);
    Rig r;
    r.s->setMode(mode);
    r.s->start();
    r.tick();
    r.s->start();
    r.tick();
    QCOMPARE(r.frameCount(), 0);
    QVERIFY(r.s->portReady());
    QVERIFY(!r.log.contains(QStringLiteral("none")));
}

void TestSession::normalRunsTheClock()
{
    Rig r(30);
    r.answerEveryMessage();
    r.s->start();
    QVERIFY(r.s->isRunning());
    QCOMPARE(r.s->pollTimer().interval(), 30);
    // A busy machine may let a tick overtake a reply; that poll repeats.
    QTRY_VERIFY_WITH_TIMEOUT(r.log.count(QStringLiteral("new 10")) >= 3 && r.log.count(QStringLiteral("new 11")) >= 2,
                             5000);
    r.s->suspend();
    QVERIFY(!r.s->isRunning());
    QVERIFY(!r.s->pollTimer().isTicking());
    const int sent = r.frameCount();
    QCOMPARE(r.frame(0), plainFrame(QStringLiteral("10")));
    QCOMPARE(r.frame(1), plainFrame(QStringLiteral("11")));

    QTest::qWait(150);  // five periods: nothing more once released
    QCOMPARE(r.frameCount(), sent);
}

void TestSession::stepIntoOnePollPerStart()
{
    Rig r;
    r.answeredThenSuspended();
    r.s->setMode(PollMode::StepInto);

    r.s->start();
    QCOMPARE(r.takeLog(), QStringLiteral("started, new 11, stopped"));
    QVERIFY(!r.s->isRunning());
    QVERIFY(!r.s->pollTimer().isTicking());
    r.tick();  // a tick left over polls nothing
    QCOMPARE(r.frameCount(), 2);

    // Unanswered: the next start repeats it, and says so.
    r.s->start();
    QCOMPARE(r.takeLog(), QStringLiteral("started, none, again 11, stopped"));
    r.port->arrive(Idle);
    r.s->start();
    QCOMPARE(r.takeLog(), QStringLiteral("reply, started, new 10, stopped"));
    QCOMPARE(r.frameCount(), 4);
}

void TestSession::interruptOnePollPerStart()
{
    Rig r(30);
    r.answeredThenSuspended();
    r.s->setMode(PollMode::Interrupt);
    r.s->start();
    QCOMPARE(r.takeLog(), QStringLiteral("started, new 11"));
    // Polling stays on, but nothing drives the clock.
    QVERIFY(r.s->isRunning());
    QVERIFY(!r.s->pollTimer().isTicking());
    r.port->arrive(Idle);
    QTest::qWait(150);
    QCOMPARE(r.frameCount(), 2);

    // The next start polls once more, from the reply it got.
    r.s->start();
    QCOMPARE(r.takeLog(), QStringLiteral("reply, started, new 10"));
    QCOMPARE(r.frameCount(), 3);
}

void TestSession::interruptPollsOnARunningClock()
{
    // Switched over from "Normal Poll" while polling: the clock goes on and
    // its ticks poll in the new mode.
    Rig r(30);
    r.answerEveryMessage();
    r.s->start();
    r.s->setMode(PollMode::Interrupt);
    r.log.clear();
    // New messages, so the answers were taken as in "Normal Poll".
    QTRY_VERIFY_WITH_TIMEOUT(r.log.count(QStringLiteral("new 10")) >= 2 && r.log.count(QStringLiteral("new 11")) >= 2,
                             5000);
    r.s->suspend();
}

void TestSession::negativeAckRepeats()
{
    Rig r;
    r.answeredThenSuspended();
    const QByteArray built = r.lastFrame();

    r.s->setMode(PollMode::NegativeAck);
    r.s->setEscrow(true);
    r.s->setChannelEnabled(9, true);
    r.log.clear();
    r.s->start();
    QVERIFY(r.s->pollTimer().isTicking());
    // Stacked notes are decoded and reported checked, never as stacked.
    for (int i = 0; i < 3; ++i) {
        r.port->arrive(replyBytes({0x11, 0, 0x18, 0, 0, 0}));
        r.tick();
    }
    r.tick();
    QCOMPARE(r.takeLog(), QStringLiteral("started, again 10, reply, again 10, reply, again 10, reply, again 10, "
                                         "none, again 10"));
    QCOMPARE(r.frameCount(), 6);
    for (int i = 1; i < r.frameCount(); ++i)
        QCOMPARE(r.frame(i), built);
    QCOMPARE(r.s->decoding().eventCode, QStringLiteral("STD"));
}

void TestSession::escrowDecision_data()
{
    QTest::addColumn<bool>("escrow");
    QTest::addColumn<int>("status0");
    QTest::addColumn<int>("status2");
    QTest::addColumn<int>("status3");
    QTest::addColumn<int>("alsoEnable");  // a further channel to enable; 0 does not exist either
    QTest::addColumn<int>("data1");

    QTest::newRow("enabled channel 3") << true << 0x04 << 0x18 << 0 << 0 << 0x30;
    QTest::newRow("enabled channel 13") << true << 0x04 << 0x68 << 0 << 13 << 0x30;
    QTest::newRow("disabled channel 9") << true << 0x04 << 0x48 << 0 << 0 << 0x50;
    QTest::newRow("escrow off") << false << 0x04 << 0x18 << 0 << 0 << 0x00;
    QTest::newRow("channel 0, escrow off") << false << 0x04 << 0x00 << 0 << 0 << 0x40;
    QTest::newRow("channel 0, escrow on") << true << 0x04 << 0x00 << 0 << 0 << 0x50;
    // Channels the tester does not have: enabling them is refused, and the
    // note goes back.
    QTest::newRow("channel 14, tried to enable") << true << 0x04 << 0x70 << 0 << 14 << 0x50;
    QTest::newRow("channel 15") << true << 0x04 << 0x78 << 0 << 0 << 0x50;
    QTest::newRow("channel 157") << true << 0x04 << 0x78 << 0x7F << 0 << 0x50;
    QTest::newRow("channel 15, escrow off") << false << 0x04 << 0x78 << 0 << 0 << 0x00;
    QTest::newRow("not escrowed") << true << 0x11 << 0x18 << 0 << 0 << 0x10;
}

void TestSession::escrowDecision()
{
    QFETCH(bool, escrow);
    QFETCH(int, status0);
    QFETCH(int, status2);
    QFETCH(int, status3);
    QFETCH(int, alsoEnable);
    QFETCH(int, data1);

    Rig r;
    r.s->setEscrow(escrow);
    r.s->setChannelEnabled(alsoEnable, true);
    QSignalSpy built(r.s.get(), &PollSession::messageBuilt);
    r.s->start();
    r.port->arrive(replyBytes({std::uint8_t(status0), 0, std::uint8_t(status2), std::uint8_t(status3), 0, 0}));
    r.tick();
    QCOMPARE(r.frameCount(), 2);
    QCOMPARE(int(std::uint8_t(r.port->frames.back()[4])), data1);
    QCOMPARE(built.count(), 2);
    const auto m = built.at(1).at(0).value<frames::HostMessage>();
    const frames::Request want = (data1 & frames::StackBit)    ? frames::Request::Stack
                                 : (data1 & frames::ReturnBit) ? frames::Request::Return
                                                               : frames::Request::Plain;
    QCOMPARE(int(m.request()), int(want));
    // Only real channels reach the enable bits.
    const std::uint8_t data2 = alsoEnable == 13 ? 0x40 : 0x00;
    QCOMPARE(std::uint8_t(r.port->frames.back()[5]), data2);
}

void TestSession::decodingPersists_data()
{
    // Replies as status 0 to status 3 in hex, " bad" for a wrong checksum;
    // after each, the state and event texts as "state|event".
    QTest::addColumn<QStringList>("replies");
    QTest::addColumn<QStringList>("texts");
    QTest::addColumn<QString>("stacked");  // the notes reported stacked, by channel

    QTest::newRow("state kept without a state bit")
        << QStringList{"02 00 18 00", "00 00 18 00"} << QStringList{"ACCEPTING|", "ACCEPTING|"} << "";
    QTest::newRow("event kept on the same channel")
        << QStringList{"01 00 18 00", "11 00 18 00", "01 00 18 00"}
        << QStringList{"IDLING|", "IDLING|STACKED", "IDLING|STACKED"} << "3";
    QTest::newRow("event cleared on channel change")
        << QStringList{"01 00 00 00", "11 00 18 00", "41 00 18 00", "01 00 00 00"}
        << QStringList{"IDLING|", "IDLING|", "IDLING|RETURNED", "IDLING|"} << "3";
    QTest::newRow("first reply's event cleared") << QStringList{"41 00 00 00"} << QStringList{"IDLING|"} << "";
    QTest::newRow("bad checksum decoded and counted")
        << QStringList{"02 00 18 00", "11 00 18 00 bad", "00 00 18 00"}
        << QStringList{"ACCEPTING|", "IDLING|STACKED", "IDLING|STACKED"} << "3";
    QTest::newRow("same report twice counts twice")
        << QStringList{"01 00 40 00", "11 00 40 00", "11 00 40 00"}
        << QStringList{"IDLING|", "IDLING|STACKED", "IDLING|STACKED"} << "8 8";
    QTest::newRow("channel above 13")
        << QStringList{"01 00 78 00", "41 00 78 00", "01 00 70 00"}
        << QStringList{"IDLING|", "IDLING|RETURNED", "IDLING|"} << "";
}

void TestSession::decodingPersists()
{
    QFETCH(QStringList, replies);
    QFETCH(QStringList, texts);
    QFETCH(QString, stacked);

    Rig r;
    QSignalSpy checked(r.s.get(), &PollSession::replyChecked);
    QSignalSpy counted(r.s.get(), &PollSession::noteStacked);
    r.s->start();
    for (int i = 0; i < replies.size(); ++i) {
        const QByteArray s = QByteArray::fromHex(replies[i].left(11).toLatin1());
        const bool good = !replies[i].endsWith(QLatin1String("bad"));
        r.port->arrive(replyBytes({std::uint8_t(s[0]), std::uint8_t(s[1]), std::uint8_t(s[2]), std::uint8_t(s[3]), 0, 0},
                                  good));
        QCOMPARE(checked.count(), i + 1);
        QCOMPARE(checked.last().at(0).value<CheckedReply>().checksumOk, good);
        const auto d = checked.last().at(0).value<CheckedReply>().decoding;
        QCOMPARE(d.stateText + u'|' + d.eventText, texts[i]);
        // What is reported is what the next reply builds on.
        QCOMPARE(r.s->decoding().stateText, d.stateText);
        QCOMPARE(r.s->decoding().eventText, d.eventText);
    }
    QStringList channels;
    for (const QList<QVariant>& args : counted)
        channels << QString::number(args.at(0).toInt());
    QCOMPARE(channels.join(u' '), stacked);
}

void TestSession::noiseDiscarded_data()
{
    QTest::addColumn<QByteArray>("noise");
    QTest::newRow("11 bytes") << Noise;
    QTest::newRow("25 bytes") << QByteArray(25, '\x06');
    QTest::newRow("zeros") << QByteArray(11, '\x00');
    QTest::newRow("a reply missing its STX") << Idle.mid(1) + QByteArray(1, '\x01');
}

void TestSession::noiseDiscarded()
{
    QFETCH(QByteArray, noise);
    QVERIFY(!noise.contains(char(frames::STX)));
    Rig r;
    r.s->start();
    r.port->arrive(replyBytes({0x02, 0, 0x18, 0, 0, 0}));
    r.tick();
    r.log.clear();

    r.port->arrive(noise);
    QVERIFY(r.settle());
    // Reported as dropped, every byte; nothing decoded from it.
    QCOMPARE(r.takeLog(), QStringLiteral("discarded %1").arg(noise.size()));
    QCOMPARE(r.discarded, noise);
    QVERIFY(r.port->buffer.isEmpty());
    QCOMPARE(r.s->decoding().stateText, QStringLiteral("ACCEPTING"));
    QCOMPARE(r.s->decoding().channelNumber, 3);
    QVERIFY(!r.s->replyReceived());
    // Polling goes on: the unanswered message goes out again.
    QVERIFY(r.s->isRunning());
    QVERIFY(r.s->pollTimer().isTicking());
    r.tick();
    QCOMPARE(r.takeLog(), QStringLiteral("none, again 11"));
    // And the line is heard again.
    r.port->arrive(Idle);
    r.tick();
    QCOMPARE(r.takeLog(), QStringLiteral("reply, new 10"));
}

void TestSession::pollingGoesOnAfterNoise()
{
    Rig r(30);
    r.answerEveryMessage();
    r.s->start();
    QTRY_VERIFY_WITH_TIMEOUT(r.frameCount() >= 2, 5000);
    r.port->arrive(Noise);
    const int after = r.frameCount();
    QTRY_VERIFY_WITH_TIMEOUT(r.frameCount() >= after + 3, 5000);
    r.s->suspend();
    QCOMPARE(r.discarded, Noise);
}

void TestSession::eventDuringPauseNotNested()
{
    Rig r;
    r.s->start();
    r.log.clear();
    const QByteArray more(12, '\x07');
    // More noise arrives while the first is being dropped: it is not handled
    // inside the pause, and nothing of it passes for a reply.
    r.port->arrive(Noise);
    r.port->arrive(more);
    QCOMPARE(r.takeLog(), QStringLiteral("discarded 11"));
    // The end of the pause reads it, and drops it in a pause of its own.
    QTRY_COMPARE(r.log, QStringList{QStringLiteral("discarded 12")});
    r.log.clear();
    QCOMPARE(r.discarded, Noise + more);
    QVERIFY(r.port->buffer.isEmpty());
    QTRY_VERIFY(!r.s->resynchronising());

    // After the pause the line is read as usual.
    r.port->arrive(Idle);
    QCOMPARE(r.takeLog(), QStringLiteral("reply"));
    QVERIFY(r.s->replyReceived());
}

void TestSession::failureDuringPause()
{
    Rig r(30);
    r.s->start();
    r.log.clear();
    QTimer::singleShot(0, [&] { r.port->pull(porterr::NoHardware); });
    r.port->arrive(Noise);
    QTRY_COMPARE(r.log.count(QStringLiteral("failed 8010")), 1);
    QTRY_COMPARE(r.discarded, Noise);
    // Whatever the pause does to the clock, nothing is polled on a dead port.
    QTest::qWait(150);
    QCOMPARE(r.log.count(QStringLiteral("stopped")), 1);
    QCOMPARE(r.log.count(QStringLiteral("failed 8010")), 1);
    QCOMPARE(r.discarded, Noise);
    QVERIFY(!r.s->isRunning());
    QCOMPARE(r.frameCount(), 1);
}

void TestSession::pauseKeepsTheClock()
{
    // Noise faster than the poll period must not push the next poll back:
    // the clock is never re-armed by a resynchronisation.
    Rig r(40);
    r.s->start();
    r.port->calls.clear();
    // Bursts every other pause, faster than the period: with a clock
    // restarted by each burst nothing would ever be polled. Five polls take
    // about 200 ms; the bound is only there to end a run that polls nothing.
    QElapsedTimer t;
    t.start();
    const int before = r.frameCount();
    while (r.frameCount() - before < 5 && t.elapsed() < 4000) {
        r.port->arrive(Noise);
        QTest::qWait(PollSession::ResyncPauseMs * 2);
        QVERIFY(r.s->pollTimer().isTicking());
    }
    const int sent = r.frameCount() - before;
    r.s->suspend();
    QVERIFY2(sent >= 5, qPrintable(QString::number(sent)));
    QVERIFY(!r.port->calls.contains(QStringLiteral("open")));
}

void TestSession::frameAfterStrayBytes_data()
{
    QTest::addColumn<QByteArray>("first");
    QTest::addColumn<QByteArray>("duringPause");
    QTest::addColumn<QString>("log");
    const QByteArray stacked = replyBytes({0x11, 0, 0x18, 0, 0, 0});
    QTest::newRow("one stray byte") << QByteArray(1, '\x06') + stacked << QByteArray()
                                    << "discarded 1, reply, stacked 3";
    QTest::newRow("stray bytes, then a second reply") << QByteArray(3, '\x06') + stacked + Idle << QByteArray()
                                                      << "discarded 3, reply, stacked 3, discarded 11";
    QTest::newRow("a reply during the pause") << Noise << stacked << "discarded 11, reply, stacked 3";
    QTest::newRow("an STX in the noise before a reply") << QByteArray::fromHex("06020633") + stacked << QByteArray()
                                                        << "discarded 4, reply, stacked 3";
    QTest::newRow("noise around a reply during the pause")
        << Noise << QByteArray(2, '\x06') + stacked + QByteArray(1, '\x0d') << "discarded 11, discarded 2, reply, stacked 3, discarded 1";
}

void TestSession::frameAfterStrayBytes()
{
    QFETCH(QByteArray, first);
    QFETCH(QByteArray, duringPause);
    QFETCH(QString, log);
    Rig r;
    r.s->start();
    r.log.clear();
    r.port->arrive(first);
    if (!duringPause.isEmpty())
        r.port->arrive(duringPause);
    QVERIFY(r.settle());
    QCOMPARE(r.takeLog(), log);
    QVERIFY(r.s->replyReceived());
    QCOMPARE(r.s->decoding().channelNumber, 3);
    QVERIFY(r.port->buffer.isEmpty());
    // The reply acknowledged the message: the next one is new.
    r.tick();
    QCOMPARE(r.takeLog(), QStringLiteral("new 11"));
}

void TestSession::partialFrameWaitsForTheRest()
{
    // Stray bytes and the first part of a reply in one read: the part waits
    // for the rest, which comes in reads too short to raise the port's
    // event on their own.
    Rig r;
    r.s->start();
    r.log.clear();
    r.port->arrive(QByteArray(4, '\x06') + Idle.left(7));
    QCOMPARE(r.takeLog(), QStringLiteral("discarded 4"));
    for (int i = 7; i < Idle.size(); ++i)
        r.port->arrive(Idle.mid(i, 1));
    QCOMPARE(r.takeLog(), QStringLiteral("reply"));
    QVERIFY(r.s->replyReceived());
    // The port's threshold is back to a whole reply.
    QCOMPARE(r.port->rThreshold, 10);
}

void TestSession::badFrameBehindStrayBytes_data()
{
    // Each read: stray bytes, then an STX whose frame is not one the
    // validator vouches for. Nothing of it is a reply, all of it is dropped.
    QTest::addColumn<QByteArrayList>("reads");
    QTest::addColumn<QString>("log");
    const Status stacked3{0x11, 0, 0x18, 0, 0, 0};
    const QByteArray stray = QByteArray::fromHex("0633");
    QTest::newRow("wrong checksum") << QByteArrayList{stray + replyBytes(stacked3, false)} << "discarded 13";
    QTest::newRow("length byte not 0B") << QByteArrayList{stray + replyWithByte(stacked3, 1, 0x0C)} << "discarded 13";
    QTest::newRow("no ETX in its place") << QByteArrayList{stray + replyWithByte(stacked3, 9, 0x13)}
                                         << "discarded 13";
    QTest::newRow("in parts") << QByteArrayList{stray + replyBytes(stacked3, false).left(9),
                                                replyBytes(stacked3, false).mid(9)}
                              << "discarded 2, discarded 11";
    QTest::newRow("a second reply behind it")
        << QByteArrayList{stray + replyBytes(stacked3, false) + replyBytes({0x41, 0, 0x18, 0, 0, 0}, false)}
        << "discarded 24";
}

void TestSession::badFrameBehindStrayBytes()
{
    QFETCH(QByteArrayList, reads);
    QFETCH(QString, log);
    Rig r;
    r.s->start();
    r.log.clear();
    for (const QByteArray& read : reads)
        r.port->arrive(read);
    QCOMPARE(r.takeLog(), log);
    QCOMPARE(r.discarded, reads.join());
    QVERIFY(!r.s->replyReceived());
    QCOMPARE(r.s->decoding().channelNumber, 0);
    QTRY_VERIFY(!r.s->resynchronising());
    QVERIFY(r.port->buffer.isEmpty());
    // Unanswered, as after any noise; and the line is heard again.
    r.tick();
    QCOMPARE(r.takeLog(), QStringLiteral("none, again 10"));
    r.port->arrive(QByteArray(1, '\x06') + Idle);
    QCOMPARE(r.takeLog(), QStringLiteral("discarded 1, reply"));
}

void TestSession::pauseEnablesAnIdleClock()
{
    // Suspended: the clock comes back on, but its ticks poll nothing.
    {
        Rig r(30);
        r.s->start();
        r.s->suspend();
        r.port->arrive(Noise);
        QTRY_VERIFY(r.s->pollTimer().isTicking());
        QTest::qWait(150);
        QCOMPARE(r.frameCount(), 1);
    }
    // "Interrupt Mode" polling: the clock the noise enabled polls from then on.
    {
        Rig r(30);
        r.answeredThenSuspended();
        r.s->setMode(PollMode::Interrupt);
        r.s->start();
        QVERIFY(!r.s->pollTimer().isTicking());
        r.port->arrive(Noise);
        QTRY_VERIFY_WITH_TIMEOUT(r.frameCount() >= 4, 5000);
        r.s->suspend();
    }
}

void TestSession::portFailure_data()
{
    QTest::addColumn<QString>("when");
    QTest::addColumn<QString>("how");
    QTest::addColumn<int>("number");
    QTest::addColumn<QString>("reported");

    QTest::newRow("pulled while polling") << "polling" << "pull" << int(porterr::NoHardware) << "stopped, failed 8010";
    QTest::newRow("read failed while polling") << "polling" << "pull" << int(porterr::ReadFailed) << "stopped, failed 8020";
    QTest::newRow("write refused while polling")
        << "polling" << "write" << int(porterr::WriteFailed) << "stopped, failed 8021";
    QTest::newRow("write refused at a start")
        << "suspended" << "write" << int(porterr::WriteFailed) << "started, stopped, failed 8021";
    QTest::newRow("pulled while suspended") << "suspended" << "pull" << int(porterr::NoHardware) << "failed 8010";
    QTest::newRow("pulled after a step") << "stepped" << "pull" << int(porterr::NoHardware) << "failed 8010";
}

void TestSession::portFailure()
{
    QFETCH(QString, when);
    QFETCH(QString, how);
    QFETCH(int, number);
    QFETCH(QString, reported);

    Rig r;
    r.s->start();
    r.port->arrive(Idle);
    if (when == QLatin1String("suspended")) {
        r.s->suspend();
    } else if (when == QLatin1String("stepped")) {
        r.s->suspend();
        r.s->setMode(PollMode::StepInto);
        r.s->start();
        QVERIFY(!r.s->isRunning());
    }
    const int sent = r.frameCount();
    r.log.clear();

    if (how == QLatin1String("pull")) {
        r.port->pull(number);
    } else {
        r.port->writeFailure = number;
        if (when == QLatin1String("polling"))
            r.tick();
        else
            r.s->start();
    }
    QCOMPARE(r.takeLog(), reported);
    QVERIFY(!r.s->isRunning());
    QVERIFY(!r.s->pollTimer().isTicking());
    QVERIFY(!r.s->portReady());
    QVERIFY(r.s->reopenPending());
    QVERIFY(!r.port->isOpen);

    // The same failure again, a late tick, a late event: nothing more.
    r.port->pull(number);
    r.tick();
    r.port->buffer = Idle;
    r.port->event = CommEventReceive;
    r.s->MSComm1_OnComm();
    QCOMPARE(r.takeLog(), QString());
    QCOMPARE(r.frameCount(), sent);

    // The next start sets the port up again and polls.
    r.port->writeFailure = 0;
    r.port->buffer.clear();
    r.s->setMode(PollMode::Normal);
    r.s->start();
    QCOMPARE(r.takeLog(), QStringLiteral("started, new 10"));
    QCOMPARE(r.port->opens, 2);
    QVERIFY(r.s->portReady());
    QCOMPARE(r.frameCount(), sent + 1);
}

void TestSession::setUpFailure()
{
    Rig r;
    r.port->openFailure = porterr::NoSuchPort;
    r.s->start();
    QCOMPARE(r.takeLog(), QStringLiteral("started, stopped, failed 8002"));
    QVERIFY(!r.s->isRunning());
    QVERIFY(!r.s->pollTimer().isTicking());
    QVERIFY(!r.s->portReady());
    QVERIFY(r.s->reopenPending());
    QCOMPARE(r.frameCount(), 0);
    r.tick();
    QCOMPARE(r.takeLog(), QString());

    // Each start tries the whole set-up again and reports each failure.
    r.port->openFailure = porterr::PortInUse;
    r.s->start();
    QCOMPARE(r.takeLog(), QStringLiteral("started, stopped, failed 8005"));
    QCOMPARE(r.port->calls.count(QStringLiteral("open")), 2);

    r.port->openFailure = 0;
    r.s->start();
    QCOMPARE(r.takeLog(), QStringLiteral("started, new 10"));
    QVERIFY(r.s->portReady());
    QVERIFY(!r.s->reopenPending());
    QVERIFY(r.s->pollTimer().isTicking());
}

void TestSession::pollPeriodChange()
{
    Rig r(100);
    r.s->start();
    QCOMPARE(r.s->pollTimer().interval(), 100);
    r.s->setPollPeriod(40);
    QCOMPARE(r.s->pollTimer().interval(), 100);
    QVERIFY(r.s->pollTimer().isTicking());
    r.tick();
    QCOMPARE(r.frameCount(), 2);
    r.s->suspend();
    r.s->start();
    QCOMPARE(r.s->pollTimer().interval(), 40);
    QVERIFY(r.s->pollTimer().isTicking());
}

// Steps on a rig, by word: what the operator does and what the line brings.
void play(Rig& r, const QString& script)
{
    const QByteArray escrowed3 = replyBytes({0x04, 0, 0x18, 0, 0, 0});
    const QByteArray stacked3 = replyBytes({0x11, 0, 0x18, 0, 0, 0});
    for (const QString& step : script.split(u' ', Qt::SkipEmptyParts)) {
        if (step == u"start")
            r.s->start();
        else if (step == u"suspend")
            r.s->suspend();
        else if (step == u"tick")
            r.s->PollValidator();
        else if (step == u"escrow")
            r.s->setEscrow(true);
        else if (step == u"negack")
            r.s->setMode(PollMode::NegativeAck);
        else if (step == u"idle")
            r.port->arrive(Idle);
        else if (step == u"escrowed")
            r.port->arrive(escrowed3);
        else if (step == u"stacked")
            r.port->arrive(stacked3);
        else if (step == u"bad")
            r.port->arrive(replyBytes({0x01, 0, 0, 0, 0, 0}, false));
        else if (step == u"half")
            r.port->arrive(stacked3.left(5));
        else if (step == u"noise")
            r.port->arrive(Noise);
        else if (step == u"pull")
            r.port->pull();
        else
            QFAIL(qPrintable(QStringLiteral("no step ") + step));
    }
}

void TestSession::resetIsANewSession_data()
{
    // What a session went through before its reset; afterwards it must
    // behave exactly as a new one, on the line and in what it reports.
    QTest::addColumn<QString>("before");
    QTest::addColumn<QString>("after");

    // The first message after a start is built from the last reply, so a
    // reply the reset missed would show in it.
    const QString after = QStringLiteral("escrow start tick escrowed tick stacked tick bad tick idle suspend");
    QTest::newRow("nothing") << QString() << after;
    QTest::newRow("a running session") << "start idle tick idle tick" << after;
    QTest::newRow("a note in escrow") << "escrow start escrowed tick escrowed" << after;
    QTest::newRow("a frame half read") << "start tick half" << after;
    QTest::newRow("no reply and a bad one") << "start tick tick bad" << after;
    QTest::newRow("suspended") << "start stacked suspend" << after;
    QTest::newRow("a failed port") << "start pull" << after;
    QTest::newRow("in a resynchronisation pause") << "start tick noise" << after;
    QTest::newRow("noise, then a second start") << "start noise start tick" << "start tick half idle suspend";
    QTest::newRow("Negative ACK") << "negack start idle tick" << "start idle tick tick suspend";
}

void TestSession::resetIsANewSession()
{
    QFETCH(QString, before);
    QFETCH(QString, after);

    Rig fresh, reused;
    play(reused, before);
    reused.s->reset();
    // From here the pause drains at once, as a fuzzer runs it; a pause the
    // reset left running would now end at the next turn of the loop.
    fresh.s->setResyncPause(0);
    reused.s->setResyncPause(0);
    // What the operator set stays; the mode is set again for the next run.
    reused.s->setMode(PollMode::Normal);
    reused.s->setEscrow(false);
    reused.port->buffer.clear();
    reused.port->frames.clear();
    reused.log.clear();
    reused.discarded.clear();
    QVERIFY(!reused.s->isRunning());
    QVERIFY(!reused.s->pollTimer().isTicking());
    QVERIFY(!reused.port->isOpen);
    QVERIFY(!reused.stats->counting());

    play(fresh, after);
    play(reused, after);
    QVERIFY(fresh.settle() && reused.settle());
    QCOMPARE(reused.s->pollTimer().isTicking(), fresh.s->pollTimer().isTicking());
    QCOMPARE(reused.log, fresh.log);
    QCOMPARE(reused.port->frames, fresh.port->frames);
    QCOMPARE(reused.discarded, fresh.discarded);
    QCOMPARE(reused.s->decoding().stateText, fresh.s->decoding().stateText);
    QCOMPARE(reused.s->decoding().eventText, fresh.s->decoding().eventText);
    QCOMPARE(reused.s->resynchronising(), fresh.s->resynchronising());
    const auto counts = [](const RunStatistics& stats) {
        const Figures st = stats.figures();
        const NoteCounts n = st.totalNotes();
        return QList<qint64>{st.pollsSent,         st.repeats,     st.repliesGood, st.repliesBadChecksum,
                             st.noResponses,       st.resynchronisations, st.bytesDiscarded,
                             st.longestWithoutGoodReply, st.replyTimes.count(), n.escrowed, n.stacked, n.returned};
    };
    QCOMPARE(counts(*reused.stats), counts(*fresh.stats));
}

QTEST_GUILESS_MAIN(TestSession)
#include "test_session.moc"
