// The Statistics window keeps its size while polling fills it, marks its
// count axis at readable steps, and centres each channel's bars on it.
#include "link/events.h"
#include "run/runstats.h"
#include "tester/main64k.h"
#include "tester/statistics.h"
#include "windowbench.h"

#include <QLabel>
#include <QTest>

class TestStatChart : public QObject {
    Q_OBJECT
private slots:
    void ticks_data();
    void ticks();
    void barsCentredOnTheirChannel();
    void windowKeepsItsSize();
};

void TestStatChart::ticks_data()
{
    QTest::addColumn<qint64>("top");
    QTest::addColumn<QList<qint64>>("marks");
    QTest::newRow("nothing yet") << qint64(0) << QList<qint64>{0, 1};
    QTest::newRow("one") << qint64(1) << QList<qint64>{0, 1};
    QTest::newRow("five") << qint64(5) << QList<qint64>{0, 1, 2, 3, 4, 5};
    QTest::newRow("seven") << qint64(7) << QList<qint64>{0, 2, 4, 6, 8};
    QTest::newRow("37") << qint64(37) << QList<qint64>{0, 10, 20, 30, 40};
    QTest::newRow("1000") << qint64(1000) << QList<qint64>{0, 200, 400, 600, 800, 1000};
    QTest::newRow("1001") << qint64(1001) << QList<qint64>{0, 500, 1000, 1500};
}

void TestStatChart::ticks()
{
    QFETCH(qint64, top);
    QFETCH(QList<qint64>, marks);
    const std::vector<std::int64_t> got = NoteChart::ticks(top);
    QCOMPARE(QList<qint64>(got.begin(), got.end()), marks);
}

void TestStatChart::barsCentredOnTheirChannel()
{
    for (const int width : {420, 560, 1400}) {
        for (const int groups : {13, 14, 20}) {
            NoteChart chart;
            chart.resize(width, 220);
            const std::vector<NoteChart::Group> g(static_cast<std::size_t>(groups));
            chart.setGroups(g);
            for (std::size_t i = 0; i < g.size(); ++i) {
                const QRectF slot = chart.slotOf(i);
                const QRectF first = chart.barOf(i, 0), last = chart.barOf(i, 2);
                QVERIFY(std::abs((first.left() + last.right()) / 2 - slot.center().x()) < 0.01);
                QVERIFY(first.left() >= slot.left() && last.right() <= slot.right());
            }
        }
    }
}

void TestStatChart::windowKeepsItsSize()
{
    WindowBench b;
    StatisticsWindow* s = b.w->showStatistics();
    const QSize before = s->size();
    QCOMPARE(s->minimumSize(), s->maximumSize());
    // Polling starts and notes arrive on many channels: more lines of figures.
    RunStatistics& st = b.w->statistics();
    st.reset();
    for (int c = 0; c <= 15; ++c) {  // every channel a reply can name
        // A new message, then a good reply to it: idling, stacked on channel c.
        st.built();
        st.sent(SentMessage{frames::buildHostMessage(frames::HostRequest{}), false, c > 0, 0});
        const std::array<std::uint8_t, 6> status{0x11, 0, std::uint8_t(c << 3), 0, 0, 0};
        CheckedReply r;
        r.reply = frames::makeReply(0x10, status);
        r.checksumOk = true;
        r.messageAnswered = true;
        r.decoding = frames::decodeStatus(r.reply, QString(), QString());
        r.replyEventText = frames::replyEventText(r.reply);
        st.replied(r);
    }
    s->refresh();
    QApplication::processEvents();
    QCOMPARE(s->size(), before);
    QVERIFY(s->figures()->text().contains(QStringLiteral("channel  15")));
}

QTEST_MAIN(TestStatChart)
#include "test_statchart.moc"
