// The tally of stacked notes: which count a stacked note adds to, what is
// not counted, the reset, and the channel names.
#include "windowbench.h"
#include "link/frames.h"
#include "tester/main64k.h"

#include <QApplication>
#include <QCheckBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace {

// A reply reporting a note stacked on a channel (1 to 15).
QByteArray stackedReply(int channel)
{
    return replyBytes({0x11, 0, std::uint8_t(channel << 3), 0, 0, 0});
}

struct Bench : WindowBench {
    QStringList counts() const
    {
        QStringList l;
        for (Label* c : w->Label9)
            l << c->caption();
        return l;
    }
};

QStringList zeros()
{
    return QStringList(13, QStringLiteral("0"));
}

QStringList with(int channel, const QString& count)
{
    QStringList l = zeros();
    l[channel - 1] = count;
    return l;
}

}  // namespace

class TestTally : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();

    void countStackedNote_data();
    void countStackedNote();
    void stackedReplies_data();
    void stackedReplies();
    void resetWhilePolling();
    void valueChg();
};

void TestTally::initTestCase()
{
    QApplication::setStyle(QStringLiteral("Fusion"));
}

void TestTally::countStackedNote_data()
{
    QTest::addColumn<int>("channel");
    QTest::addColumn<int>("times");
    QTest::addColumn<QStringList>("counts");

    QTest::newRow("channel 1") << 1 << 1 << with(1, "1");
    QTest::newRow("channel 2 three times") << 2 << 3 << with(2, "3");
    QTest::newRow("channel 7") << 7 << 1 << with(7, "1");
    QTest::newRow("channel 8") << 8 << 2 << with(8, "2");
    QTest::newRow("channel 13") << 13 << 1 << with(13, "1");
    QTest::newRow("channel 14: none") << 14 << 1 << zeros();
    QTest::newRow("channel 15: none") << 15 << 1 << zeros();
    QTest::newRow("channel 0: none") << 0 << 1 << zeros();
    QTest::newRow("two digits") << 5 << 10 << with(5, "10");
}

void TestTally::countStackedNote()
{
    QFETCH(int, channel);
    QFETCH(int, times);
    QFETCH(QStringList, counts);

    Bench b;
    setCheckValue(b.w->Check4, 1);
    for (int i = 0; i < times; ++i)
        b.fake->arrive(stackedReply(channel));
    QCOMPARE(b.counts(), counts);
    if (channel >= 1 && channel <= frames::ChannelCount)
        QCOMPARE(b.w->tally()[channel - 1], times);
}

// Stacked notes as the validator reports them, in each poll mode.
void TestTally::stackedReplies_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<int>("channel");
    QTest::addColumn<QStringList>("counts");

    QTest::newRow("Normal Poll, channel 2") << 1 << 2 << with(2, "3");
    QTest::newRow("Step Into, channel 2") << 2 << 2 << with(2, "3");
    QTest::newRow("Interrupt Mode, channel 13") << 3 << 13 << with(13, "3");
    QTest::newRow("Normal Poll, channel 14") << 1 << 14 << zeros();
    QTest::newRow("Negative ACK: not counted") << 4 << 2 << zeros();
}

void TestTally::stackedReplies()
{
    QFETCH(int, mode);
    QFETCH(int, channel);
    QFETCH(QStringList, counts);

    Bench b;
    while (int(b.w->session()->mode()) != mode)
        b.w->Command1_Click();
    setCheckValue(b.w->Check4, 1);
    QVERIFY(b.fake->isOpen);
    for (int i = 0; i < 3; ++i) {
        b.fake->arrive(stackedReply(channel));
        QCOMPARE(b.w->session()->decoding().eventCode, QStringLiteral("STD"));
        QCOMPARE(int(b.w->session()->decoding().channelNumber), channel);
        if (mode == 1)
            b.w->PollTime_Timer();
    }
    QCOMPARE(b.counts(), counts);
}

void TestTally::resetWhilePolling()
{
    Bench b;
    setCheckValue(b.w->Check4, 1);
    b.fake->arrive(stackedReply(2));
    b.fake->arrive(stackedReply(9));
    b.fake->arrive(stackedReply(9));
    QStringList before = zeros();
    before[1] = "1";
    before[8] = "2";
    QCOMPARE(b.counts(), before);
    const QString event = b.w->Label13->caption();
    const QString hostLine = b.w->Label18[0]->caption();

    QTest::mouseClick(b.w->Command2, Qt::LeftButton);
    QCOMPARE(b.counts(), zeros());
    // Only the counts: polling, names, status and trace go on as they were.
    QCOMPARE(checkValue(b.w->Check4), 1);
    QVERIFY(b.w->session()->pollTimer().isTicking());
    QCOMPARE(b.w->Label13->caption(), event);
    QCOMPARE(b.w->Label18[0]->caption(), hostLine);
    for (int i = 0; i < 13; ++i)
        QCOMPARE(b.w->Label8[i]->caption(), QStringLiteral("CH%1").arg(i + 1));

    const auto sent = b.fake->frames.size();
    QTRY_VERIFY(b.fake->frames.size() > sent);
    b.fake->arrive(stackedReply(9));
    QCOMPARE(b.counts(), with(9, "1"));
}

// The names of the first seven channels follow the enables' captions.
void TestTally::valueChg()
{
    Bench b;
    MAIN64K& w = *b.w;
    w.ValueChg();
    for (int i = 0; i < 13; ++i)
        QCOMPARE(w.Label8[i]->caption(), QStringLiteral("CH%1").arg(i + 1));

    for (int i = 0; i < 13; ++i)
        w.Check1[i]->setText(QStringLiteral("N%1").arg(i + 1));
    w.ValueChg();
    for (int i = 0; i <= 6; ++i)
        QCOMPARE(w.Label8[i]->caption(), QStringLiteral("N%1").arg(i + 1));
    for (int i = 7; i <= 12; ++i)
        QCOMPARE(w.Label8[i]->caption(), QStringLiteral("CH%1").arg(i + 1));
    // Counts are not names.
    for (Label* count : w.Label9)
        QCOMPARE(count->caption(), QStringLiteral("0"));
}

QTEST_MAIN(TestTally)
#include "test_tally.moc"
