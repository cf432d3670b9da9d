// The texts of an unattended run as pure functions of its set-up, its end
// and its figures: the progress line, the summary and the report.
#include "cli/runreport.h"
#include "run/figures.h"

#include <QJsonArray>
#include <QTest>

namespace {

Figures someFigures()
{
    Figures f;
    f.counting = true;
    f.startedAt = QDateTime(QDate(2026, 3, 1), QTime(8, 0), Qt::UTC);
    f.elapsedSeconds = 125.04;
    f.pollsSent = 1250;
    f.repeats = 4;
    f.repliesGood = 1240;
    f.repliesBadChecksum = 2;
    f.noResponses = 3;
    f.notes[3] = NoteCounts{2, 2, 0, 0};
    f.notes[9] = NoteCounts{0, 0, 0, 1};
    f.events.powerUp = 2;
    f.events.jam = 1;
    return f;
}

cli::RunSetup someSetup()
{
    cli::RunSetup s;
    s.port = 4;
    s.pollPeriod = 50;
    s.mode = PollMode::NegativeAck;
    s.escrow = false;
    for (int c : {1, 2, 3, 5, 13})
        s.channels[std::size_t(c - 1)] = true;
    return s;
}

cli::RunEnd someEnd(int status)
{
    return {QStringLiteral("/dev/ttyUSB0"), QDateTime(QDate(2026, 3, 1), QTime(8, 2, 5, 40), Qt::UTC),
            QStringLiteral("duration reached"), status, 0, {}, {}, {}};
}

}  // namespace

class TestRunReport : public QObject {
    Q_OBJECT
private slots:
    void clockText_data();
    void clockText();
    void channelList_data();
    void channelList();
    void conditions();
    void progressLine();
    void summary_data();
    void summary();
    void report();
};

void TestRunReport::clockText_data()
{
    QTest::addColumn<qint64>("ms");
    QTest::addColumn<QString>("text");
    QTest::newRow("start") << qint64(0) << "0:00:00";
    QTest::newRow("under a second") << qint64(999) << "0:00:00";
    QTest::newRow("an hour and a bit") << qint64(3725000) << "1:02:05";
    QTest::newRow("past a day") << qint64(90000000) << "25:00:00";
}

void TestRunReport::clockText()
{
    QFETCH(qint64, ms);
    QFETCH(QString, text);
    QCOMPARE(cli::clockText(ms), text);
}

void TestRunReport::channelList_data()
{
    QTest::addColumn<QList<int>>("on");
    QTest::addColumn<QString>("text");
    QTest::newRow("none") << QList<int>{} << "none";
    QTest::newRow("one") << QList<int>{13} << "13";
    QTest::newRow("a range and singles") << QList<int>{1, 2, 3, 5, 7, 8} << "1-3,5,7-8";
    QTest::newRow("all") << QList<int>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13} << "1-13";
}

void TestRunReport::channelList()
{
    QFETCH(QList<int>, on);
    QFETCH(QString, text);
    std::array<bool, frames::ChannelCount> channels{};
    for (int c : on)
        channels[std::size_t(c - 1)] = true;
    QCOMPARE(cli::channelList(channels), text);
}

void TestRunReport::conditions()
{
    const Figures f = someFigures();
    // The validator's power-up at the start of the run is no news; a second one is.
    const cli::ConditionCounts atStart = cli::conditionCounts(f, 2);
    QCOMPARE(atStart[std::size_t(cli::Condition::PowerUp)], 0);
    QCOMPARE(cli::conditionCounts(f, 1)[std::size_t(cli::Condition::PowerUp)], 1);
    QCOMPARE(atStart[std::size_t(cli::Condition::Timeout)], 3);
    QCOMPARE(atStart[std::size_t(cli::Condition::BadSum)], 2);
    QCOMPARE(atStart[std::size_t(cli::Condition::Rejected)], 1);
    QCOMPARE(atStart[std::size_t(cli::Condition::Jam)], 1);
    QCOMPARE(cli::conditionNames(cli::occurred(atStart)),
             (QStringList{QStringLiteral("timeout"), QStringLiteral("badsum"), QStringLiteral("rejected"),
                          QStringLiteral("jam")}));
}

void TestRunReport::progressLine()
{
    QCOMPARE(cli::progressLine(cli::progressOf(125040, someFigures()), 0),
             QStringLiteral("0:02:05  polls 1250  stacked 2  returned 0  rejected 1  time-outs 3  bad checksums 2"));
    QCOMPARE(cli::progressLine(cli::progressOf(0, Figures{}), 0),
             QStringLiteral("0:00:00  polls 0  stacked 0  returned 0  rejected 0  time-outs 0  bad checksums 0"));
}

void TestRunReport::summary_data()
{
    QTest::addColumn<QStringList>("failOn");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("failedOnLine");  // empty: no such line

    QTest::newRow("no --fail-on") << QStringList{} << 0 << QString();
    QTest::newRow("failed on a time-out") << QStringList{"timeout", "full"} << 1 << "failed on          timeout";
    QTest::newRow("nothing it fails on") << QStringList{"full"} << 0 << "failed on          nothing";
}

void TestRunReport::summary()
{
    QFETCH(QStringList, failOn);
    QFETCH(int, status);
    QFETCH(QString, failedOnLine);
    cli::Conditions fail;
    for (int i = 0; i < cli::ConditionCount; ++i)
        fail.set(std::size_t(i), failOn.contains(cli::conditionName(cli::Condition(i))));
    const Figures f = someFigures();
    const QString text = cli::summaryText(f, someSetup(), someEnd(status), fail, cli::conditionCounts(f, 2));
    const QStringList lines = text.split(u'\n');
    QCOMPARE(lines.first(), QStringLiteral("Pollbench 3.0.0, unattended run on /dev/ttyUSB0"));
    QCOMPARE(lines.at(1), QStringLiteral("settings           poll rate 50 ms, negative-ack, escrow off, channels 1-3,5,13"));
    QVERIFY(lines.at(2).startsWith(QStringLiteral("started            2026-03-01T")));
    QVERIFY2(lines.at(3).endsWith(QStringLiteral(" (duration reached)")), qPrintable(lines.at(3)));
    // The figures' own lines follow, unchanged.
    QVERIFY(text.contains(figuresText(f)));
    QVERIFY(lines.contains(QStringLiteral("conditions         timeout 3, badsum 2, rejected 1, jam 1")));
    if (!failedOnLine.isEmpty())
        QVERIFY2(lines.contains(failedOnLine), qPrintable(text));
    QCOMPARE(text.contains(QStringLiteral("failed on")), !failOn.isEmpty());
    QCOMPARE(lines.at(lines.size() - 2), QStringLiteral("exit status        %1").arg(status));
    QVERIFY(text.endsWith(u'\n'));
}

void TestRunReport::report()
{
    const Figures f = someFigures();
    cli::RunEnd end = someEnd(3);
    end.portError = 8002;
    cli::Conditions fail;
    fail.set(std::size_t(cli::Condition::Jam));
    const QJsonObject json = cli::reportJson(f, someSetup(), end, fail, cli::conditionCounts(f, 2));
    // The figures as a record's summary keeps them, and the run beside them.
    const QJsonObject figures = figuresJson(f);
    for (const QString& key : figures.keys())
        QCOMPARE(json[key], figures[key]);
    const QJsonObject run = json[QStringLiteral("run")].toObject();
    QCOMPARE(run[QStringLiteral("program")].toString(), QStringLiteral("Pollbench 3.0.0"));
    QCOMPARE(run[QStringLiteral("device")].toString(), QStringLiteral("/dev/ttyUSB0"));
    QCOMPARE(run[QStringLiteral("port")].toInt(), 4);
    QCOMPARE(run[QStringLiteral("poll_rate_ms")].toInt(), 50);
    QCOMPARE(run[QStringLiteral("mode")].toString(), QStringLiteral("negative-ack"));
    QCOMPARE(run[QStringLiteral("escrow")].toBool(), false);
    QCOMPARE(run[QStringLiteral("channels")].toArray(), (QJsonArray{1, 2, 3, 5, 13}));
    QCOMPARE(run[QStringLiteral("ended_by")].toString(), QStringLiteral("duration reached"));
    QCOMPARE(run[QStringLiteral("fail_on")].toArray(), QJsonArray{QStringLiteral("jam")});
    QCOMPARE(run[QStringLiteral("failed_on")].toArray(), QJsonArray{QStringLiteral("jam")});
    QCOMPARE(run[QStringLiteral("exit_status")].toInt(), 3);
    QCOMPARE(run[QStringLiteral("port_error")].toInt(), 8002);
    // No port error, no field.
    end.portError = 0;
    QVERIFY(!cli::reportJson(f, someSetup(), end, fail, cli::conditionCounts(f, 2))[QStringLiteral("run")]
                 .toObject()
                 .contains(QStringLiteral("port_error")));
}

QTEST_GUILESS_MAIN(TestRunReport)
#include "test_runreport.moc"
