// A run's figures against scripted sequences of the session's reports: no
// port, no session, no window. Each step is a word; the figures that are not
// zero come out as one line.
#include "link/events.h"
#include "run/figures.h"
#include "run/runstats.h"

#include <QJsonObject>
#include <QTest>

#if defined(QT_GUI_LIB) || defined(QT_WIDGETS_LIB)
#error "the figures must not need a window"
#endif

namespace {

constexpr std::int64_t Ms = 1'000'000;

// Plays words on a RunStatistics of its own clock:
//   start            polling starts
//   new, again       a new message, or the last one again, goes out
//   none             the session says the last message drew no reply
//   idle, bad        a good idle reply, or one with a bad checksum
//   stacked:N returned:N rejected:N escrowed:N   a good reply with that event on channel N
//   jam full cheated failure powerup invalid     a good reply with that bit
//   discard:N        N bytes dropped
//   fail             the port failed
//   +N               N ms pass
//   reset            Reset Totals
struct Script {
    std::int64_t clock = 0;
    RunStatistics stats{[this] { return clock; }};
    bool answered = true;
    std::int64_t lastWrite = 0;

    void play(const QString& words)
    {
        for (const QString& w : words.split(u' ', Qt::SkipEmptyParts))
            step(w);
    }

    void step(const QString& w)
    {
        const QString name = w.section(u':', 0, 0);
        const int n = w.section(u':', 1, 1).toInt();
        if (w.startsWith(u'+')) {
            clock += w.mid(1).toLongLong() * Ms;
        } else if (name == u"start") {
            stats.started(clock);
        } else if (name == u"new" || name == u"again") {
            const bool repeated = name == u"again";
            if (!repeated)
                stats.built();
            frames::HostRequest request;
            stats.sent(SentMessage{frames::buildHostMessage(request), repeated, answered, clock});
            answered = false;
            lastWrite = clock;
        } else if (name == u"none") {
            stats.noResponse();
        } else if (name == u"discard") {
            stats.discarded(QByteArray(n, '\x06'));
        } else if (name == u"fail") {
            stats.portFailed();
        } else if (name == u"reset") {
            stats.reset();
        } else {
            reply(name, n);
        }
    }

    void reply(const QString& name, int channel)
    {
        std::array<std::uint8_t, 6> s{0x01, 0, 0, 0, 0, 0};  // idling
        const auto at = [&s](int byte, std::uint8_t bit) { s[std::size_t(byte)] |= bit; };
        if (name == u"stacked")
            at(0, 0x10);
        else if (name == u"returned")
            at(0, 0x40);
        else if (name == u"rejected")
            at(1, 0x02);
        else if (name == u"escrowed")
            at(0, frames::EscrowedBit);
        else if (name == u"jam")
            at(1, frames::JammedBit);
        else if (name == u"full")
            at(1, frames::StackerFullBit);
        else if (name == u"cheated")
            at(1, frames::CheatedBit);
        else if (name == u"failure")
            at(2, frames::FailureBit);
        else if (name == u"powerup")
            at(2, frames::PowerUpBit);
        else if (name == u"invalid")
            at(2, frames::InvalidCommandBit);
        else
            QVERIFY2(name == u"idle" || name == u"bad", qPrintable(name));
        s[2] |= std::uint8_t(channel << 3);
        CheckedReply c;
        c.reply = frames::makeReply(0x10, s);
        c.checksumOk = name != u"bad";
        answered = answered || c.checksumOk;
        c.messageAnswered = answered;
        c.decoding = frames::decodeStatus(c.reply, QString(), QString());
        c.replyEventText = frames::replyEventText(c.reply);
        c.readNs = clock;
        c.sinceWriteNs = clock - lastWrite;
        stats.replied(c);
    }
};

// The figures that are not zero, in a fixed order.
QString summary(const Figures& f)
{
    QStringList out;
    const auto add = [&out](const char* name, std::int64_t v) {
        if (v)
            out << QStringLiteral("%1=%2").arg(QLatin1String(name)).arg(v);
    };
    add("polls", f.pollsSent);
    add("repeats", f.repeats);
    add("good", f.repliesGood);
    add("bad", f.repliesBadChecksum);
    add("none", f.noResponses);
    add("longest", f.longestWithoutGoodReply);
    add("resync", f.resynchronisations);
    add("discarded", f.bytesDiscarded);
    add("failures", f.portFailures);
    add("times", f.replyTimes.count());
    for (const auto& [channel, n] : f.notes) {
        const QString c = QString::number(channel);
        add(qPrintable(QStringLiteral("esc%1").arg(c)), n.escrowed);
        add(qPrintable(QStringLiteral("std%1").arg(c)), n.stacked);
        add(qPrintable(QStringLiteral("rtd%1").arg(c)), n.returned);
        add(qPrintable(QStringLiteral("rej%1").arg(c)), n.rejected);
    }
    add("cheated", f.events.cheated);
    add("failure", f.events.failure);
    add("powerup", f.events.powerUp);
    add("invalid", f.events.invalidCommand);
    add("jam", f.events.jam);
    add("full", f.events.stackerFull);
    return out.join(u' ');
}

}  // namespace

class TestFigures : public QObject {
    Q_OBJECT
private slots:
    void scripted_data();
    void scripted();
    void replyTimesAreFromTheWriteToTheFirstReply();
    void countingStartsAtTheFirstStartAndStopsOnForget();
    void acceptanceRate();
};

void TestFigures::scripted_data()
{
    QTest::addColumn<QString>("script");
    QTest::addColumn<QString>("figures");

    QTest::newRow("nothing before the start") << "new idle discard:3 fail" << "";
    QTest::newRow("a clean exchange") << "start new idle new idle" << "polls=2 good=2 times=2";
    QTest::newRow("a repeat after a miss")
        << "start new none again idle" << "polls=2 repeats=1 good=1 none=1 longest=1 times=1";
    QTest::newRow("misses in a row, then a good reply resets the run")
        << "start new again again again idle new again" << "polls=6 repeats=4 good=1 longest=3 times=1";
    QTest::newRow("a bad checksum is no answer")
        << "start new bad again idle" << "polls=2 repeats=1 good=1 bad=1 longest=1 times=2";
    // An event repeats until a new message acknowledges it: counted once.
    QTest::newRow("a stacked note repeated by the validator")
        << "start new stacked:3 again stacked:3 new stacked:3" << "polls=3 repeats=1 good=3 times=3 std3=2";
    QTest::newRow("outcomes per channel")
        << "start new returned:2 new rejected:5 new stacked:0"
        << "polls=3 good=3 times=3 std0=1 rtd2=1 rej5=1";
    QTest::newRow("an escrow counted as it begins")
        << "start new escrowed:4 new escrowed:4 new idle new escrowed:4" << "polls=4 good=4 times=4 esc4=2";
    QTest::newRow("a jam and a full stacker as they begin")
        << "start new jam again jam new idle new jam new full new full"
        << "polls=6 repeats=1 good=6 times=6 jam=2 full=1";
    QTest::newRow("device events once per new message")
        << "start new powerup again powerup new cheated new failure new invalid"
        << "polls=5 repeats=1 good=5 times=5 cheated=1 failure=1 powerup=1 invalid=1";
    QTest::newRow("a bad reply counts no event") << "start new bad" << "polls=1 bad=1 times=1";
    QTest::newRow("discards and failures") << "start discard:3 discard:11 fail" << "resync=2 discarded=14 failures=1";
    QTest::newRow("reset totals starts afresh")
        << "start new idle new stacked:1 reset new idle" << "polls=1 good=1 times=1";
    QTest::newRow("a second start goes on counting") << "start new idle start new idle" << "polls=2 good=2 times=2";
}

void TestFigures::scripted()
{
    QFETCH(QString, script);
    QFETCH(QString, figures);
    Script s;
    s.play(script);
    QCOMPARE(summary(s.stats.figures()), figures);
}

void TestFigures::replyTimesAreFromTheWriteToTheFirstReply()
{
    Script s;
    // 12 ms to the first reply; a second reply to the same message is not timed.
    s.play(QStringLiteral("start new +12 idle +5 idle new +30 bad +1 again +20 idle"));
    const Figures f = s.stats.figures();
    QCOMPARE(f.replyTimes.count(), 3);
    QCOMPARE(f.replyTimes.maxMs(), 30.0);
    QCOMPARE(f.replyTimes.quantileMs(0.5), 20.005);  // the middle of its 10 us bin
}

void TestFigures::countingStartsAtTheFirstStartAndStopsOnForget()
{
    Script s;
    s.play(QStringLiteral("+1000 start +2500"));
    Figures f = s.stats.figures();
    QVERIFY(f.counting);
    QCOMPARE(f.elapsedSeconds, 2.5);
    QVERIFY(f.startedAt.isValid());
    s.play(QStringLiteral("new idle"));
    s.stats.forget();
    f = s.stats.figures();
    QVERIFY(!f.counting);
    QCOMPARE(f.elapsedSeconds, 0.0);
    QVERIFY(!f.startedAt.isValid());
    QCOMPARE(summary(f), QString());
    QCOMPARE(statisticsWindowText(f), QStringLiteral("Polling has not started."));
}

void TestFigures::acceptanceRate()
{
    Script s;
    s.play(QStringLiteral("start"));
    QCOMPARE(s.stats.figures().acceptanceRate(), -1.0);
    QVERIFY(figuresJson(s.stats.figures())[QStringLiteral("notes")].toObject()[QStringLiteral("acceptance_rate")].isNull());
    s.play(QStringLiteral("new stacked:1 new stacked:2 new returned:1 new rejected:3 new escrowed:1"));
    QCOMPARE(s.stats.figures().acceptanceRate(), 0.5);
    QVERIFY(figuresText(s.stats.figures()).contains(QStringLiteral("acceptance 50.0 %")));
}

QTEST_GUILESS_MAIN(TestFigures)
#include "test_figures.moc"
