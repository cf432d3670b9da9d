// The trace history through the real window: every line of a run against
// the simulator in order and equal to a record of it, following and holding
// still, find and filter, and a million rows within the memory it states.
#include "csvread.h"
#include "run/runstats.h"
#include "modal.h"
#include "simprocess.h"
#include "tester/historymodel.h"
#include "tester/historywindow.h"
#include "tester/main64k.h"
#include "windowbench.h"

#include <QApplication>
#include <QClipboard>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QScrollBar>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

namespace {

constexpr int Long = SimProcess::Long;

// Resident memory of this process in bytes.
// AddressSanitizer pads and quarantines every allocation: the process's
// growth says nothing of the history's own there.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool ResidentIsMeaningful = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool ResidentIsMeaningful = false;
#else
constexpr bool ResidentIsMeaningful = true;
#endif
#else
constexpr bool ResidentIsMeaningful = true;
#endif

std::size_t residentBytes()
{
    QFile f(QStringLiteral("/proc/self/statm"));
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> fields = f.readAll().split(' ');
    return fields.size() > 1 ? std::size_t(fields[1].toULongLong()) * std::size_t(sysconf(_SC_PAGESIZE)) : 0;
}

const frames::HostMessage Poll = frames::buildHostMessage({});
const frames::ValidatorReply Idle = frames::makeReply(0x20, {0x01, 0, 0, 0, 0, 0});
// Stacked on channel 3.
const frames::ValidatorReply Stacked = frames::makeReply(0x21, {0x11, 0, 0x18, 0, 0, 0});

frames::StatusDecoding decoded(const frames::ValidatorReply& r)
{
    return frames::decodeStatus(r, QString(), QString());
}

void addPolls(TraceHistory& h, int n, std::int64_t& ns)
{
    for (int i = 0; i < n; ++i) {
        h.addHost(ns += 1'000'000, Poll, false);
        h.addReply(ns += 1'000'000, Idle, true, decoded(Idle));
    }
}

}  // namespace

class TestHistory : public QObject {
    Q_OBJECT
private slots:
    void holdsEveryLineOfARunAsTheRecordDoes();
    void followsAndHoldsStill();
    void findFilterAndCopy();
    void dropsTheOldestBeyondItsLimit();
    void millionRowsWithinTheStatedMemory();
    void dropsReachTheViewsInSteps();
    void timeOfDayAsTheClockReads_data();
    void timeOfDayAsTheClockReads();
};

void TestHistory::holdsEveryLineOfARunAsTheRecordDoes()
{
    QTemporaryDir dir;
    SimProcess sim;
    QVERIFY(sim.start(dir.filePath(QStringLiteral("COM1")), {QStringLiteral("--stage-polls"), QStringLiteral("1")}));
    ModalCloser boxes;
    auto w = std::make_unique<MAIN64K>(dir.path(), nullptr);
    w->Form_Load();
    w->show();
    const QString recordPath = dir.filePath(QStringLiteral("run.csv"));
    QString error;
    QVERIFY2(w->startRecord(recordPath, false, &error), qPrintable(error));
    QVERIFY(QTest::qWaitForWindowActive(w.get()));
    QTest::keyClick(w.get(), Qt::Key_F3);
    HistoryWindow* hw = w->historyWindow();
    QVERIFY(hw && hw->isVisible());

    w->Text2->setText(QStringLiteral("30"));
    setCheckValue(w->Check1[2], 1);
    setCheckValue(w->Check4, 1);
    const auto polls = [&w] { return w->statistics().figures().pollsSent; };
    QVERIFY(runUntil([&] { return polls() >= 5; }, Long));
    sim.send(QStringLiteral("insert 3"));
    QVERIFY(runUntil([&] { return sim.saw(QStringLiteral("stacked 3")); }, Long));
    sim.send(QStringLiteral("garbage"));
    sim.send(QStringLiteral("silence 2"));
    QVERIFY(runUntil([&] { return polls() >= 40; }, Long));
    w->Command1_Click();  // a mode change is an operator row
    setCheckValue(w->Check4, 0);
    runUntil([] { return false; }, 200);  // the last reply comes in
    w->stopRecord();

    const QString historyPath = dir.filePath(QStringLiteral("history.csv"));
    QVERIFY2(hw->saveCsv(historyPath, &error), qPrintable(error));
    const std::vector<QStringList> record = readCsv(recordPath);
    const std::vector<QStringList> history = readCsv(historyPath);
    QCOMPARE(history.front(), record.front());  // the same header
    // The record adds its own start and stop rows around the run.
    QCOMPARE(record[1][col::Note], QStringLiteral("record started"));
    QCOMPARE(record.back()[col::Note], QStringLiteral("record stopped"));
    QCOMPARE(history.size(), record.size() - 2);
    // Frames carry the time the session stamped them with; the other rows
    // the time each reader asked the clock, microseconds apart.
    const auto firstHost = std::find_if(history.begin(), history.end(),
                                        [](const QStringList& h) { return h[col::Dir] == QLatin1String("host"); });
    QVERIFY(firstHost != history.end());
    const double offset = record[std::size_t(firstHost - history.begin()) + 1][col::Ms].toDouble()
                          - (*firstHost)[col::Ms].toDouble();
    const QStringList stamped{QStringLiteral("host"), QStringLiteral("validator"), QStringLiteral("timeout")};
    int hosts = 0, stacked = 0;
    double last = -1;
    for (std::size_t i = 1; i < history.size(); ++i) {
        const QStringList& h = history[i];
        const QStringList& r = record[i + 1];
        for (int c = col::Dir; c < col::Count; ++c)
            QCOMPARE(h[c], r[c]);
        // One clock for both, counted from each one's start.
        const double apart = std::abs(h[col::Ms].toDouble() + offset - r[col::Ms].toDouble());
        QVERIFY2(apart < (stamped.contains(h[col::Dir]) ? 0.0015 : 1.0), qPrintable(h.join(u',')));
        QVERIFY(h[col::Ms].toDouble() >= last);
        last = h[col::Ms].toDouble();
        QVERIFY(!h[col::Time].isEmpty());
        hosts += h[col::Dir] == QLatin1String("host");
        stacked += h[col::Event] == QLatin1String("STACKED");
    }
    QVERIFY2(hosts >= 40, qPrintable(QString::number(hosts)));
    QCOMPARE(stacked, 1);
    for (const char* dir : {"timeout", "discarded", "operator"})
        QVERIFY2(std::any_of(history.begin(), history.end(), [dir](const QStringList& h) { return h[col::Dir] == QLatin1String(dir); }), dir);
    // The table shows them all, the newest in sight.
    QCOMPARE(hw->view()->model()->rowCount(), int(history.size()) - 1);
    QCOMPARE(hw->view()->verticalScrollBar()->value(), hw->view()->verticalScrollBar()->maximum());
    QCOMPARE(boxes.count(), 0);
    w->close();
    QVERIFY(sim.finish());
}

void TestHistory::followsAndHoldsStill()
{
    WindowBench b;
    b.w->show();
    HistoryWindow* hw = b.w->showHistory();
    QVERIFY(QTest::qWaitForWindowExposed(hw));
    QScrollBar* scroll = hw->view()->verticalScrollBar();
    TraceHistory& h = b.w->history();
    std::int64_t ns = 0;
    const auto more = [&] {
        addPolls(h, 200, ns);
        h.flush();
        QApplication::processEvents();
    };
    more();
    QVERIFY(scroll->maximum() > 0);
    QCOMPARE(scroll->value(), scroll->maximum());
    QVERIFY(hw->following());

    // Scrolled up: the rows read stay where they are while more arrive.
    scroll->setValue(scroll->maximum() / 2);
    const int held = scroll->value();
    const QModelIndex top = hw->view()->indexAt(QPoint(1, 1));
    more();
    QCOMPARE(scroll->value(), held);
    QCOMPARE(hw->view()->indexAt(QPoint(1, 1)), top);
    QVERIFY(!hw->following());
    // Back at the bottom it follows again.
    scroll->setValue(scroll->maximum());
    more();
    QCOMPARE(scroll->value(), scroll->maximum());

    // Pause holds it at the bottom too, and letting go catches up.
    hw->pauseButton()->click();
    const int paused = scroll->value();
    more();
    QCOMPARE(scroll->value(), paused);
    QVERIFY(scroll->maximum() > paused);
    hw->pauseButton()->click();
    QApplication::processEvents();
    QCOMPARE(scroll->value(), scroll->maximum());

    // Escape closes it; F3 from the tester window brings it back.
    QTest::keyClick(hw, Qt::Key_Escape);
    QVERIFY(!hw->isVisible());
    std::unique_ptr<QMenu> menu(b.w->createTraceMenu(b.w.get()));
    for (QAction* a : menu->actions())
        if (a->text() == QLatin1String("Trace history"))
            a->trigger();
    QVERIFY(hw->isVisible());
}

void TestHistory::findFilterAndCopy()
{
    WindowBench b;
    HistoryWindow* hw = b.w->showHistory();
    TraceHistory& h = b.w->history();
    std::int64_t ns = 0;
    addPolls(h, 30, ns);
    h.addHost(ns += 1'000'000, Poll, false);
    h.addReply(ns += 1'000'000, Stacked, true, decoded(Stacked));  // row 61
    h.addTimeout(ns += 1'000'000);
    h.addDiscarded(ns += 1'000'000, QByteArray("\xAA\xBB", 2));
    addPolls(h, 30, ns);
    frames::ValidatorReply badSum = Stacked;
    badSum.bytes[10] ^= 0x01;
    h.addReply(ns += 1'000'000, badSum, false, decoded(badSum));  // a bad checksum: not decoded, still a row
    frames::ValidatorReply noEtx = Stacked;
    noEtx.bytes[9] = 0x00;
    noEtx.bytes[10] = noEtx.computedChecksum();  // a good checksum on a frame that is not whole
    h.addReply(ns += 1'000'000, noEtx, true, decoded(noEtx));
    h.flush();

    hw->findBox()->setText(QStringLiteral("stacked"));
    QVERIFY(hw->findNext());
    QCOMPARE(hw->view()->currentIndex().row(), 61);
    QVERIFY(!hw->following());  // a found row holds the table there
    QVERIFY(!hw->findNext());  // the replies after it are not decoded
    hw->findBox()->setText(QStringLiteral("malformed"));
    QVERIFY(hw->findNext());
    QCOMPARE(hw->view()->currentIndex().row(), 125);
    hw->findBox()->setText(QStringLiteral("bad"));
    QVERIFY(hw->findNext(false));
    QCOMPARE(hw->view()->currentIndex().row(), 124);
    hw->findBox()->setText(QStringLiteral("AA BB"));
    QVERIFY(hw->findNext(false));
    QCOMPARE(hw->view()->currentIndex().row(), 63);

    // Copy: the selected row as the record writes it, after its header.
    QTest::keySequence(hw->view(), QKeySequence::Copy);  // the table's own copy would take one cell
    const std::vector<QStringList> copied = parseCsv(QApplication::clipboard()->text());
    QCOMPARE(copied.size(), std::size_t(2));
    QCOMPARE(copied[1][col::Dir], QStringLiteral("discarded"));
    QCOMPARE(copied[1][col::Note], QStringLiteral("2 bytes"));

    struct Case {
        const char* direction;
        const char* event;
        int rows;
    };
    for (const Case& c : {Case{"validator", "All events", 63}, Case{"All directions", "STACKED", 1},
                          Case{"timeout", "All events", 1}, Case{"host", "Any event", 0},
                          Case{"All directions", "Any event", 1}, Case{"All directions", "All events", 126}}) {
        hw->directionFilter()->setCurrentText(QString::fromLatin1(c.direction));
        hw->eventFilter()->setCurrentText(QString::fromLatin1(c.event));
        QCOMPARE(hw->view()->model()->rowCount(), c.rows);
    }
    // Find and copy keep to the rows the filter shows.
    hw->eventFilter()->setCurrentText(QStringLiteral("STACKED"));
    hw->view()->clearSelection();
    hw->view()->setCurrentIndex({});
    hw->findBox()->setText(QStringLiteral("ok"));
    QVERIFY(hw->findNext());
    QCOMPARE(hw->view()->currentIndex().row(), 0);
    QVERIFY(!hw->findNext());
    const std::vector<QStringList> shown = parseCsv(hw->rowsAsCsv(false));
    QCOMPARE(shown.size(), std::size_t(2));
    QCOMPARE(shown[1][col::Checksum], QStringLiteral("ok"));
    QCOMPARE(shown[1][col::Channel], QStringLiteral("3"));
    // What a checksum did not vouch for, or a frame not whole, is shown undecoded.
    hw->eventFilter()->setCurrentText(QStringLiteral("All events"));
    hw->directionFilter()->setCurrentText(QStringLiteral("validator"));
    const std::vector<QStringList> replies = parseCsv(hw->rowsAsCsv(false));
    const QStringList bad = replies[replies.size() - 2], malformed = replies.back();
    QCOMPARE((QStringList{bad[col::State], bad[col::Event], bad[col::Channel], bad[col::Checksum], bad[col::Note]}),
             (QStringList{"", "", "", "bad", ""}));
    QCOMPARE((QStringList{malformed[col::State], malformed[col::Event], malformed[col::Channel],
                          malformed[col::Checksum], malformed[col::Note]}),
             (QStringList{"", "", "", "ok", "malformed"}));
}

void TestHistory::dropsTheOldestBeyondItsLimit()
{
    TraceHistory h(4);
    QTableView view;
    view.setModel(&h);
    std::int64_t ns = 0;
    const QByteArray longRun(40, '\x55');
    h.addDiscarded(ns += 1'000'000, longRun);
    h.addOperator(ns += 1'000'000, QStringLiteral("polling started, Normal Poll"));
    h.flush();
    QCOMPARE(view.model()->rowCount(), 2);
    // Two batches' worth between flushes: the views learn of the drop at the next.
    for (int i = 0; i < 3; ++i)
        h.addHost(ns += 1'000'000, Poll, i > 0);
    h.addDiscarded(ns += 1'000'000, longRun + "\x01");
    QCOMPARE(h.dropped(), std::uint64_t(2));
    h.flush();
    QCOMPARE(view.model()->rowCount(), 4);
    SessionRecord::LocalStamp stamp;
    const std::vector<QStringList> rows = parseCsv(h.csvLine(0, stamp) + h.csvLine(1, stamp) + h.csvLine(3, stamp));
    QCOMPARE(rows[0][col::Note], QString());
    QCOMPARE(rows[1][col::Note], QStringLiteral("repeated"));
    QCOMPARE(rows[0][col::Ms], QStringLiteral("2.000"));  // still counted from the first row ever
    QCOMPARE(rows[2][col::Bytes], frames::hexBytes(longRun + "\x01"));
    QCOMPARE(rows[2][col::Note], QStringLiteral("41 bytes"));
}

void TestHistory::millionRowsWithinTheStatedMemory()
{
    const std::size_t before = residentBytes();
    auto h = std::make_unique<TraceHistory>();
    QCOMPARE(h->limit(), std::size_t(1'000'000));
    std::int64_t ns = 0;
    const std::size_t extra = 5'000;
    for (std::size_t i = 0; i < (h->limit() + extra) / 2; ++i) {
        h->addHost(ns += 1'000'000, Poll, false);
        h->addReply(ns += 1'000'000, Idle, true, decoded(Idle));
    }
    h->flush();
    QCOMPARE(std::size_t(h->rowCount()), h->limit());
    QCOMPARE(h->dropped(), std::uint64_t(extra));
    const std::size_t stated = TraceHistory::bytesForRows(h->limit());
    QVERIFY2(stated <= 34'000'000, qPrintable(QString::number(stated)));
    QVERIFY2(h->memoryBytes() <= stated + 4096, qPrintable(QString::number(h->memoryBytes())));
    // What the process grew by, allocator's share included.
    const std::size_t rows = residentBytes() - before;
    if (ResidentIsMeaningful)
        QVERIFY2(rows <= stated * 11 / 10, qPrintable(QString::number(rows)));

    // A table showing them keeps a little of its own for each row.
    QTableView view;
    view.setModel(h.get());
    view.show();
    view.scrollToBottom();
    QApplication::processEvents();
    const std::size_t shown = residentBytes() - before;
    const std::size_t statedShown = TraceHistory::bytesForRows(h->limit(), true);
    qInfo("a million rows: %zu bytes by the history's count, %zu resident; %zu with a table (stated %zu)",
          h->memoryBytes(), rows, shown, statedShown);
    if (ResidentIsMeaningful)
        QVERIFY2(shown <= statedShown * 11 / 10, qPrintable(QString::number(shown)));
    QCOMPARE(view.indexAt(QPoint(1, view.viewport()->height() - 2)).row() > 999'000, true);
}

void TestHistory::dropsReachTheViewsInSteps()
{
    // Full at 200 rows: the views drop the oldest two at a time.
    TraceHistory h(200);
    QTableView view;
    view.setModel(&h);
    std::int64_t ns = 0;
    addPolls(h, 100, ns);
    h.flush();
    QCOMPARE(view.model()->rowCount(), 200);

    h.addOperator(ns += 1'000'000, QStringLiteral("polling stopped"));
    QCOMPARE(h.dropped(), std::uint64_t(1));
    // The batch adds the new row; the dropped one stays a blank row on top.
    QTRY_COMPARE(view.model()->rowCount(), 201);
    SessionRecord::LocalStamp stamp;
    QCOMPARE(h.csvLine(0, stamp), QString());
    const std::vector<QStringList> oldest = parseCsv(h.csvLine(1, stamp));
    QCOMPARE(oldest[0][col::Dir], QStringLiteral("validator"));  // the first poll's host row went
    QCOMPARE(oldest[0][col::Ms], QStringLiteral("1.000"));
    QCOMPARE(parseCsv(h.csvLine(200, stamp))[0][col::Note], QStringLiteral("polling stopped"));

    h.addOperator(ns += 1'000'000, QStringLiteral("polling started, Normal Poll"));
    QTRY_COMPARE(view.model()->rowCount(), 200);
    QCOMPARE(parseCsv(h.csvLine(0, stamp))[0][col::Dir], QStringLiteral("host"));
    QCOMPARE(parseCsv(h.csvLine(199, stamp))[0][col::Note], QStringLiteral("polling started, Normal Poll"));

    // A flush tells the views of every drop at once.
    h.addOperator(ns += 1'000'000, QStringLiteral("polling stopped"));
    h.flush();
    QCOMPARE(view.model()->rowCount(), 200);
    QCOMPARE(h.dropped(), std::uint64_t(3));
}

void TestHistory::timeOfDayAsTheClockReads_data()
{
    QTest::addColumn<qint64>("afterMs");
    QTest::newRow("the first row") << qint64(0);
    QTest::newRow("a millisecond on") << qint64(1);
    QTest::newRow("across a minute") << qint64(61'001);
    QTest::newRow("an hour on") << qint64(3'600'000);
    QTest::newRow("a day on") << qint64(86'400'007);
    QTest::newRow("half a year on") << qint64(183) * 86'400'000 + 12'345;
}

void TestHistory::timeOfDayAsTheClockReads()
{
    // The table's clock column is the tool tip's local date and time, cut to the time of day.
    QFETCH(qint64, afterMs);
    TraceHistory h;
    h.addOperator(0, QStringLiteral("polling started, Normal Poll"));
    h.addOperator(afterMs * 1'000'000, QStringLiteral("polling stopped"));
    h.flush();
    const QModelIndex at = h.index(1, TraceHistory::TimeColumn);
    const QDateTime full = QDateTime::fromString(h.data(at, Qt::ToolTipRole).toString(), Qt::ISODateWithMs);
    QVERIFY(full.isValid());
    QCOMPARE(h.data(at).toString(), full.toLocalTime().toString(QStringLiteral("HH:mm:ss.zzz")));
}

QTEST_MAIN(TestHistory)
#include "test_history.moc"
