// The window's own timer and label: a timer that is off never ticks, not
// even for an expiration that was waiting when it was stopped; a restart
// counts from zero; a tick never runs inside itself. A label drawn from its
// cache of finished looks shows what it was last given.
#include "link/intervaltimer.h"
#include "tester/widgets.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QImage>
#include <QScreen>
#include <QTest>
#include <QThread>

namespace {

struct Counted {
    IntervalTimer timer;
    int ticks = 0;
    explicit Counted(Qt::TimerType type, int interval = 0) : timer(interval, false, type)
    {
        timer.onTimer = [this] { ++ticks; };
    }
};

// Events only, no waiting: what is due now is delivered.
void deliver()
{
    for (int i = 0; i < 5; ++i)
        QCoreApplication::processEvents();
}

QImage look(QWidget& w)
{
    return w.grab().toImage().convertToFormat(QImage::Format_RGB32);
}

// What a shown window has on screen now: only what was repainted since it
// was first drawn is new.
QImage onScreen(QWidget& w)
{
    deliver();
    return w.screen()->grabWindow(w.winId()).toImage().convertToFormat(QImage::Format_RGB32);
}

}  // namespace

class TestWidgets : public QObject {
    Q_OBJECT
private slots:
    void timerTicksAtItsInterval_data();
    void timerTicksAtItsInterval();
    void stoppedTimerDropsWaitingTick_data();
    void stoppedTimerDropsWaitingTick();
    void restartCountsFromZero_data();
    void restartCountsFromZero();
    void tickNeverNests_data();
    void tickNeverNests();
    void labelShowsItsLastCaption();
    void labelsOfOneCaptionKeepTheirOwnColours();
    void paneDrawsLabelsAsTheyDrawThemselves_data();
    void paneDrawsLabelsAsTheyDrawThemselves();
    void lampOnItsBackdropLooksTheSame();
};

static void timerTypes()
{
    QTest::addColumn<int>("type");
    QTest::newRow("precise") << int(Qt::PreciseTimer);
    QTest::newRow("coarse") << int(Qt::CoarseTimer);
}

void TestWidgets::timerTicksAtItsInterval_data()
{
    timerTypes();
}

void TestWidgets::timerTicksAtItsInterval()
{
    QFETCH(int, type);
    Counted c(Qt::TimerType(type), 30);
    c.timer.setEnabled(true);
    QVERIFY(c.timer.isTicking());
    QTRY_VERIFY_WITH_TIMEOUT(c.ticks >= 3, 5000);
    c.timer.setEnabled(false);
    QVERIFY(!c.timer.isTicking());

    // Interval 0: enabled, and still silent.
    Counted zero(Qt::TimerType(type), 0);
    zero.timer.setEnabled(true);
    QVERIFY(!zero.timer.isTicking());
    QTest::qWait(60);
    QCOMPARE(zero.ticks, 0);
}

void TestWidgets::stoppedTimerDropsWaitingTick_data()
{
    timerTypes();
}

void TestWidgets::stoppedTimerDropsWaitingTick()
{
    QFETCH(int, type);
    Counted c(Qt::TimerType(type), 10);
    c.timer.setEnabled(true);
    QThread::msleep(40);  // expirations wait, undelivered
    c.timer.setEnabled(false);
    deliver();
    QTest::qWait(50);
    QCOMPARE(c.ticks, 0);
}

void TestWidgets::restartCountsFromZero_data()
{
    timerTypes();
}

void TestWidgets::restartCountsFromZero()
{
    QFETCH(int, type);
    Counted c(Qt::TimerType(type), 400);
    c.timer.setEnabled(true);
    QThread::msleep(300);
    c.timer.setInterval(400);  // a new count of 400 ms from here
    QElapsedTimer since;
    since.start();
    QThread::msleep(150);
    deliver();
    if (since.elapsed() < 350)  // a machine too slow to tell is no failure
        QCOMPARE(c.ticks, 0);
    QTRY_COMPARE_WITH_TIMEOUT(c.ticks, 1, 5000);
}

void TestWidgets::tickNeverNests_data()
{
    timerTypes();
}

void TestWidgets::tickNeverNests()
{
    QFETCH(int, type);
    IntervalTimer timer(10, false, Qt::TimerType(type));
    int depth = 0, deepest = 0, ticks = 0;
    timer.onTimer = [&] {
        ++ticks;
        ++depth;
        deepest = std::max(deepest, depth);
        if (ticks == 1) {
            // A handler that lets the event loop run, as a message box does.
            QEventLoop loop;
            QTimer::singleShot(80, &loop, &QEventLoop::quit);
            loop.exec();
        }
        --depth;
    };
    timer.setEnabled(true);
    QTRY_VERIFY_WITH_TIMEOUT(ticks >= 3, 5000);
    timer.setEnabled(false);
    QCOMPARE(deepest, 1);
}

void TestWidgets::labelShowsItsLastCaption()
{
    Label l;
    l.resize(200, 16);
    l.setColors(Qt::black, QColor(0xC0, 0xC0, 0xFF));
    l.setCaption(QStringLiteral("02 08 10 7F 00 00 03 67"));
    const QImage first = look(l);
    l.setCaption(QStringLiteral("02 08 11 7F 00 00 03 66"));
    const QImage second = look(l);
    QVERIFY(first != second);
    l.setCaption(QStringLiteral("02 08 10 7F 00 00 03 67"));
    QCOMPARE(look(l), first);
    l.setCaption(QString());
    const QImage empty = look(l);
    QCOMPARE(QColor(empty.pixel(100, 8)), QColor(0xC0, 0xC0, 0xFF));
    QVERIFY(empty != first);

    // Its size and alignment count: the same caption elsewhere in a wider label.
    l.resize(300, 16);
    l.setCaption(QStringLiteral("02 08 10 7F 00 00 03 67"));
    l.setAlignment(Qt::AlignRight | Qt::AlignTop);
    const QImage right = look(l);
    QCOMPARE(right.size(), QSize(300, 16));
    QCOMPARE(QColor(right.pixel(5, 8)), QColor(0xC0, 0xC0, 0xFF));
}

void TestWidgets::labelsOfOneCaptionKeepTheirOwnColours()
{
    const QString caption = QStringLiteral("NO RESPONSE!  TIMEOUT");
    Label even, odd;
    for (Label* l : {&even, &odd}) {
        l->resize(200, 16);
        l->setCaption(caption);
    }
    even.setColors(Qt::black, QColor(0xC0, 0xC0, 0xFF));
    odd.setColors(Qt::black, QColor(0xE0, 0xE0, 0xE0));
    QCOMPARE(QColor(look(even).pixel(198, 1)), QColor(0xC0, 0xC0, 0xFF));
    QCOMPARE(QColor(look(odd).pixel(198, 1)), QColor(0xE0, 0xE0, 0xE0));
    // A new text colour on the same caption shows.
    odd.setColors(Qt::red, QColor(0xE0, 0xE0, 0xE0));
    const QImage red = look(odd);
    bool anyRed = false;
    for (int y = 0; y < red.height() && !anyRed; ++y)
        for (int x = 0; x < red.width() && !anyRed; ++x)
            anyRed = QColor(red.pixel(x, y)).red() > 200 && QColor(red.pixel(x, y)).green() < 100;
    QVERIFY(anyRed);
}

// Rows as the trace lays them out: overlapping by a pixel, each row's second
// label over its first, alternating colours, in a monospaced font.
struct Rows {
    QWidget parent;
    std::vector<Label*> labels;
    LabelPane* pane = nullptr;

    Rows(bool withPane, bool boxed)
    {
        parent.resize(300, 80);
        QFont mono(QStringLiteral("Liberation Mono"));
        mono.setPixelSize(12);
        for (int k = 0; k < 4; ++k) {
            for (int c = 0; c < 2; ++c) {
                auto* l = new Label(&parent);
                l->setGeometry(c == 0 ? 10 : 129, k == 0 ? 5 : 20 + 15 * (k - 1), 120, 16);
                l->setColors(Qt::black, k % 2 ? QColor(0xE0, 0xE0, 0xE0) : QColor(0xC0, 0xC0, 0xFF));
                l->setFont(mono);
                if (boxed) {
                    l->setFrameStyle(QFrame::Box | QFrame::Plain);
                    l->setLineWidth(1);
                }
                labels.push_back(l);
            }
        }
        if (withPane) {
            pane = new LabelPane(&parent);
            for (Label* l : labels)
                pane->addLabel(l);
        }
        parent.show();
    }
    void play(const QStringList& captions)
    {
        for (int i = 0; i < captions.size() && i < int(labels.size()); ++i)
            labels[std::size_t(i)]->setCaption(captions[i]);
        deliver();
    }
};

void TestWidgets::paneDrawsLabelsAsTheyDrawThemselves_data()
{
    QTest::addColumn<bool>("boxed");
    QTest::addColumn<QStringList>("first");
    QTest::addColumn<QStringList>("then");  // changed afterwards, drawn again

    const QStringList lines{" 02 08 10 7F 00 00 03 67    ", " 02 0B 20 01 00 00 00 00 00 03 2A",
                            " 02 08 11 7F 00 00 03 66    ", " NO RESPONSE!  TIMEOUT"};
    QTest::newRow("trace rows") << false << lines << QStringList{"", "", " 02 08 10 7F 10 00 03 77 STK"};
    QTest::newRow("empty, then filled") << false << QStringList{} << lines;
    QTest::newRow("boxed") << true << lines << QStringList{" RUNNING", " IDLING"};
    // A trace scrolls: each row takes the next one's line, a few digits apart.
    QTest::newRow("digits apart") << false << lines
                                  << QStringList{" 02 08 11 7F 00 00 03 66    ", " 02 0B 21 01 00 00 00 00 00 03 2B",
                                                 " 02 08 10 7F 00 00 03 67 STK", " NO RESPONSE!"};
    QTest::newRow("longer and shorter") << false << lines
                                        << QStringList{" 02 08 10 7F 00 00 03 67    x", " 02 0B",
                                                       "x 02 08 11 7F 00 00 03 66    ", " NO RESPONSE!  TIMEOUT!!"};
}

void TestWidgets::paneDrawsLabelsAsTheyDrawThemselves()
{
    QFETCH(bool, boxed);
    QFETCH(QStringList, first);
    QFETCH(QStringList, then);

    Rows own(false, boxed), drawn(true, boxed);
    QVERIFY(QTest::qWaitForWindowExposed(&own.parent));
    QVERIFY(QTest::qWaitForWindowExposed(&drawn.parent));
    // Each step is compared as drawn afresh and as repainted on the screen.
    const auto same = [&] {
        const QImage want = look(own.parent);
        QCOMPARE(onScreen(own.parent), want);
        QCOMPARE(look(drawn.parent), want);
        QCOMPARE(onScreen(drawn.parent), want);
    };
    same();
    own.play(first);
    drawn.play(first);
    same();
    own.play(then);
    drawn.play(then);
    same();
    // A new colour on a drawn label shows too.
    own.labels[3]->setColors(Qt::red, QColor(0xFF, 0xFF, 0xFF));
    drawn.labels[3]->setColors(Qt::red, QColor(0xFF, 0xFF, 0xFF));
    same();
    // A wider font: the cells that change are the new font's.
    QFont wide(QStringLiteral("Liberation Mono"));
    wide.setPixelSize(15);
    for (Rows* r : {&own, &drawn}) {
        for (Label* l : r->labels)
            l->setFont(wide);
        r->play(QStringList(8, QStringLiteral(" 02 08 10 7F")));
    }
    same();
    for (Rows* r : {&own, &drawn})
        r->play(QStringList(8, QStringLiteral(" 02 08 11 7F")));
    same();
    // The labels stay what they were for everything but their drawing.
    for (Label* l : drawn.labels)
        QVERIFY(l->isVisible() && l->isOpaque());
    QVERIFY(drawn.pane->testAttribute(Qt::WA_TransparentForMouseEvents));
}

// A lamp half over a dark strip and a row below, as the trace's lamps sit:
// drawing the strip itself must change no pixel, lit or dim.
void TestWidgets::lampOnItsBackdropLooksTheSame()
{
    struct Scene {
        QWidget parent;
        Label* strip = new Label(&parent);
        Label* row = new Label(&parent);
        Lamp* lamp = new Lamp(&parent);
        explicit Scene(bool backdrop)
        {
            parent.resize(60, 40);
            strip->setGeometry(0, 8, 60, 16);
            strip->setColors(Qt::white, Qt::black);
            strip->setCaption(QStringLiteral("HOST HOST HOST"));
            row->setGeometry(0, 25, 60, 16);
            row->setColors(Qt::black, QColor(0xC0, 0xC0, 0xFF));
            row->setCaption(QStringLiteral("02 08"));
            lamp->setGeometry(20, 10, 11, 16);  // two rows over the row beneath
            if (backdrop)
                lamp->setBackdrop(strip);
            parent.show();
        }
    } plain(false), drawn(true);
    QVERIFY(QTest::qWaitForWindowExposed(&drawn.parent));
    for (int fill : {Lamp::Dim, 255, Lamp::Dim}) {
        plain.lamp->setFillColor(fill);
        drawn.lamp->setFillColor(fill);
        const QImage want = look(plain.parent);
        QCOMPARE(onScreen(drawn.parent), want);
        QCOMPARE(look(drawn.parent), want);
    }
    drawn.row->setCaption(QStringLiteral("02 0B"));
    plain.row->setCaption(QStringLiteral("02 0B"));
    QCOMPARE(onScreen(drawn.parent), look(plain.parent));
    // A new backdrop beneath the lamp shows through it, lit or dim.
    for (int fill : {255, Lamp::Dim}) {
        for (Scene* s : {&plain, &drawn}) {
            s->strip->setCaption(fill == 255 ? QStringLiteral("VVVVVVVVVVVVVV") : QStringLiteral("..............."));
            s->lamp->setFillColor(fill);
        }
        QCOMPARE(onScreen(drawn.parent), look(plain.parent));
        QCOMPARE(look(drawn.parent), look(plain.parent));
    }
}

QTEST_MAIN(TestWidgets)
#include "test_widgets.moc"
