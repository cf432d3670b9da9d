// The record and the statistics as the operator reaches them in the window:
// the trace panes' menu, Ctrl+R, F2 and the title.
#include "csvread.h"
#include "run/runstats.h"
#include "modal.h"
#include "tester/statistics.h"
#include "windowbench.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QFile>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QTest>

namespace {

const QByteArray Idle = replyBytes({0x01, 0, 0, 0, 0, 0});

QStringList actionTexts(QMenu* menu)
{
    QStringList t;
    for (QAction* a : menu->actions())
        if (!a->isSeparator())
            t << a->text();
    return t;
}

QAction* action(QMenu* menu, const QString& text)
{
    for (QAction* a : menu->actions())
        if (a->text() == text)
            return a;
    return nullptr;
}

}  // namespace

class TestRecordWindow : public QObject {
    Q_OBJECT
private slots:
    void titleWhileRecording();
    void recordThatCannotBeOpened();
    void traceMenu();
    void menuOnlyOverThePanes();
    void shortcuts();
    void statisticsLive();
    void closingEndsTheRecord();
    void writeFailureTold();
    void destroyedWhileRecording();
};

void TestRecordWindow::titleWhileRecording()
{
    WindowBench b;
    const QString path = b.dir.filePath(QStringLiteral("run.csv"));
    QCOMPARE(b.w->windowTitle(), QStringLiteral("Pollbench 3.0.0"));
    QString error;
    QVERIFY2(b.w->startRecord(path, true, &error), qPrintable(error));
    QCOMPARE(b.w->windowTitle(), QStringLiteral("Pollbench 3.0.0 - recording ") + QDir::toNativeSeparators(path));
    b.w->stopRecord();
    QCOMPARE(b.w->windowTitle(), QStringLiteral("Pollbench 3.0.0"));
}

void TestRecordWindow::recordThatCannotBeOpened()
{
    WindowBench b;
    setCheckValue(b.w->Check4, 1);
    QString error;
    QVERIFY(!b.w->startRecord(b.dir.filePath(QStringLiteral("none/run.csv")), true, &error));
    QVERIFY(!error.isEmpty());
    QCOMPARE(b.w->windowTitle(), QStringLiteral("Pollbench 3.0.0"));
    QVERIFY(b.w->session()->isRunning());
    b.fake->arrive(Idle);
    b.w->PollTime_Timer();
    QCOMPARE(b.fake->frames.size(), std::size_t(2));
}

void TestRecordWindow::traceMenu()
{
    WindowBench b;
    setCheckValue(b.w->Check4, 1);
    b.fake->arrive(Idle);
    b.w->PollTime_Timer();

    std::unique_ptr<QMenu> menu(b.w->createTraceMenu(nullptr));
    QCOMPARE(actionTexts(menu.get()),
             (QStringList{"Start record...", "Stop record", "Copy trace", "Save trace as...", "Trace history", "Statistics",
                          "Choose port..."}));
    QVERIFY(action(menu.get(), QStringLiteral("Start record..."))->isEnabled());
    QVERIFY(!action(menu.get(), QStringLiteral("Stop record"))->isEnabled());

    // The trace as the panes show it, host line then reply line.
    action(menu.get(), QStringLiteral("Copy trace"))->trigger();
    const QStringList lines = QApplication::clipboard()->text().split(u'\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 2);
    QVERIFY(lines[0].startsWith(b.w->Label18[0]->caption().trimmed()));
    QVERIFY(lines[0].endsWith(b.w->Label20[0]->caption().trimmed()));
    QCOMPARE(lines[1], b.w->Label18[1]->caption().trimmed());
    const QString saved = b.dir.filePath(QStringLiteral("trace.txt"));
    QVERIFY(b.w->saveTrace(saved, nullptr));
    QFile f(saved);
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(QString::fromUtf8(f.readAll()), QApplication::clipboard()->text());
    QString error;
    QVERIFY(!b.w->saveTrace(b.dir.filePath(QStringLiteral("none/trace.txt")), &error));
    QVERIFY(!error.isEmpty());

    QVERIFY(b.w->startRecord(b.dir.filePath(QStringLiteral("run.csv")), false, nullptr));
    menu.reset(b.w->createTraceMenu(nullptr));
    QVERIFY(!action(menu.get(), QStringLiteral("Start record..."))->isEnabled());
    action(menu.get(), QStringLiteral("Stop record"))->trigger();
    QVERIFY(!b.w->record().isRecording());
    action(menu.get(), QStringLiteral("Statistics"))->trigger();
    QVERIFY(b.w->statisticsWindow() && b.w->statisticsWindow()->isVisible());
    QVERIFY(!b.w->statisticsWindow()->isModal());
}

// A right click on either pane opens the menu; elsewhere it does not.
void TestRecordWindow::menuOnlyOverThePanes()
{
    WindowBench b;
    b.w->show();
    QVERIFY(QTest::qWaitForWindowExposed(b.w.get()));
    const auto menuAt = [&b](QWidget* target, QPoint pos) {
        QContextMenuEvent e(QContextMenuEvent::Mouse, pos, target->mapToGlobal(pos));
        QApplication::sendEvent(target, &e);
        QMenu* menu = b.w->findChild<QMenu*>(QStringLiteral("TraceMenu"));
        const bool open = menu && menu->isVisible();
        if (menu) {
            menu->close();
            delete menu;
        }
        return open;
    };
    QVERIFY(menuAt(b.w->Label18[3], QPoint(5, 5)));
    QVERIFY(menuAt(b.w->Label20[15], QPoint(5, 5)));
    QVERIFY(!menuAt(b.w.get(), b.w->Command2->geometry().center()));
}

void TestRecordWindow::shortcuts()
{
    WindowBench b;
    b.w->show();
    b.w->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(b.w.get()));
    QVERIFY(b.w->startRecord(b.dir.filePath(QStringLiteral("run.csv")), false, nullptr));
    QTest::keyClick(b.w.get(), Qt::Key_R, Qt::ControlModifier);
    QVERIFY(!b.w->record().isRecording());
    QTest::keyClick(b.w.get(), Qt::Key_F2);
    QVERIFY(b.w->statisticsWindow() && b.w->statisticsWindow()->isVisible());
}

void TestRecordWindow::statisticsLive()
{
    WindowBench b;
    StatisticsWindow* s = b.w->showStatistics();
    QCOMPARE(s->chart()->groups().size(), std::size_t(frames::ChannelCount));
    setCheckValue(b.w->Check4, 1);
    // A note on channel 3 escrowed, stacked; one on channel 20 rejected.
    for (const QByteArray& reply : {replyBytes({0x04, 0, 0x18, 0, 0, 0}), replyBytes({0x10, 0, 0x18, 0, 0, 0}),
                                    replyBytes({0x01, 0, 0, 0, 0, 0}), replyBytes({0x01, 0x02, 0x08, 4, 0, 0})}) {
        b.fake->arrive(reply);
        b.w->PollTime_Timer();
    }
    // Not at once: at the next refresh.
    QTRY_VERIFY(s->figures()->text().contains(QStringLiteral("1 stacked")));
    const auto& g = s->chart()->groups();
    QCOMPARE(g.size(), std::size_t(frames::ChannelCount + 1));
    QCOMPARE(g[2].channel, 3);
    QCOMPARE(g[2].stacked, 1);
    QCOMPARE(g.back().channel, 20);
    QCOMPARE(g.back().rejected, 1);
    QVERIFY(!s->grab().isNull());
}

void TestRecordWindow::closingEndsTheRecord()
{
    WindowBench b;
    const QString path = b.dir.filePath(QStringLiteral("run.csv"));
    QVERIFY(b.w->startRecord(path, false, nullptr));
    setCheckValue(b.w->Check4, 1);
    b.fake->arrive(Idle);
    b.w->close();
    const auto rows = readCsv(path);
    QVERIFY(rows.size() >= 5);
    QCOMPARE(rows[rows.size() - 2][col::Note], QStringLiteral("polling stopped"));
    QCOMPARE(rows.back()[col::Note], QStringLiteral("record stopped"));
    QVERIFY(QFile::exists(SessionRecord::summaryPath(path)));
}

// The operator is told without a modal box in the middle of a poll.
void TestRecordWindow::writeFailureTold()
{
    WindowBench b;
    setCheckValue(b.w->Check4, 1);
    emit b.w->record().failed(QStringLiteral("The record x could not be written"));
    auto* box = b.w->findChild<QMessageBox*>(QStringLiteral("RecordErrorBox"));
    QVERIFY(box && box->isVisible());
    QVERIFY(!box->isModal());
    b.fake->arrive(Idle);
    b.w->PollTime_Timer();
    QCOMPARE(b.fake->frames.size(), std::size_t(2));
}

// A window destroyed without being closed still ends its record whole.
void TestRecordWindow::destroyedWhileRecording()
{
    WindowBench b;
    const QString path = b.dir.filePath(QStringLiteral("run.csv"));
    QVERIFY(b.w->startRecord(path, false, nullptr));
    b.w.reset();
    QCOMPARE(readCsv(path).back()[col::Note], QStringLiteral("record stopped"));
    QVERIFY(QFile::exists(SessionRecord::summaryPath(path)));
}

QTEST_MAIN(TestRecordWindow)
#include "test_recordwindow.moc"
