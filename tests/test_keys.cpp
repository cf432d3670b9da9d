// The tester window and its companions from the keyboard, and the record
// dialog's folder and file name.
#include "run/record.h"
#include "modal.h"
#include "settings/benchfile.h"
#include "startup/colorsheme.h"
#include "tester/main64k.h"
#include "tester/statistics.h"
#include "windowbench.h"

#include <QCheckBox>
#include <QDateTime>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QStandardPaths>
#include <QTest>

namespace {

// Closes whatever popup is open, and says which menu it was.
QString closePopup()
{
    QWidget* popup = QApplication::activePopupWidget();
    if (!popup)
        return {};
    const QString name = popup->objectName();
    popup->close();
    QApplication::processEvents();
    return name;
}

}  // namespace

class TestKeys : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }
    void menuOpensFromTheKeyboard_data();
    void menuOpensFromTheKeyboard();
    void statisticsClosesFromTheKeyboard_data();
    void statisticsClosesFromTheKeyboard();
    void chooserAnswersEnter_data();
    void chooserAnswersEnter();
    void recordDialogFolderAndName();
    void windowPlacedOnScreen_data();
    void windowPlacedOnScreen();
};

void TestKeys::menuOpensFromTheKeyboard_data()
{
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("modifiers");
    QTest::addColumn<bool>("opens");
    QTest::newRow("Menu") << int(Qt::Key_Menu) << int(Qt::NoModifier) << true;
    QTest::newRow("Shift+F10") << int(Qt::Key_F10) << int(Qt::ShiftModifier) << true;
    QTest::newRow("F10 alone") << int(Qt::Key_F10) << int(Qt::NoModifier) << false;
    QTest::newRow("Ctrl+F10") << int(Qt::Key_F10) << int(Qt::ControlModifier) << false;
}

void TestKeys::menuOpensFromTheKeyboard()
{
    QFETCH(int, key);
    QFETCH(int, modifiers);
    QFETCH(bool, opens);
    WindowBench b;
    b.w->show();
    QVERIFY(QTest::qWaitForWindowExposed(b.w.get()));
    // From whichever control has the focus: the key reaches the window.
    for (QWidget* focus : std::initializer_list<QWidget*>{b.w->Check4, b.w->Command1, b.w->Check1[0]}) {
        focus->setFocus();
        QTest::keyClick(focus, Qt::Key(key), Qt::KeyboardModifiers(modifiers));
        QCOMPARE(closePopup(), opens ? QStringLiteral("TraceMenu") : QString());
    }
    if (!opens)
        return;
    // A platform that also sends a context menu event for the key opens it once.
    QTest::keyClick(b.w->Check4, Qt::Key(key), Qt::KeyboardModifiers(modifiers));
    QMenu* first = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    QVERIFY(first);
    QContextMenuEvent event(QContextMenuEvent::Keyboard, QPoint(0, 0), QPoint(0, 0));
    QApplication::sendEvent(b.w.get(), &event);
    QCOMPARE(QApplication::activePopupWidget(), first);
    // Its first entry is ready for Enter.
    QCOMPARE(first->activeAction()->text(), QStringLiteral("Start record..."));
    closePopup();
}

void TestKeys::statisticsClosesFromTheKeyboard_data()
{
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("modifiers");
    QTest::addColumn<bool>("closes");
    QTest::newRow("Escape") << int(Qt::Key_Escape) << int(Qt::NoModifier) << true;
    QTest::newRow("Ctrl+W") << int(Qt::Key_W) << int(Qt::ControlModifier) << true;
    QTest::newRow("W") << int(Qt::Key_W) << int(Qt::NoModifier) << false;
}

void TestKeys::statisticsClosesFromTheKeyboard()
{
    QFETCH(int, key);
    QFETCH(int, modifiers);
    QFETCH(bool, closes);
    WindowBench b;
    b.w->show();
    StatisticsWindow* s = b.w->showStatistics();
    QVERIFY(QTest::qWaitForWindowActive(s));
    QTest::keyClick(s, Qt::Key(key), Qt::KeyboardModifiers(modifiers));
    QCOMPARE(s->isVisible(), !closes);
    QVERIFY(b.w->isVisible());  // the tester window stays
    // F2 brings it back.
    b.w->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(b.w.get()));
    QTest::keyClick(b.w.get(), Qt::Key_F2);
    QVERIFY(s->isVisible());
}

void TestKeys::chooserAnswersEnter_data()
{
    QTest::addColumn<int>("focused");
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("scheme");
    QTest::newRow("Return on the first") << 0 << int(Qt::Key_Return) << 1;
    QTest::newRow("Enter on the second") << 1 << int(Qt::Key_Enter) << 2;
    QTest::newRow("Space on the second") << 1 << int(Qt::Key_Space) << 2;
    QTest::newRow("Escape answers nothing") << 0 << int(Qt::Key_Escape) << 0;
}

void TestKeys::chooserAnswersEnter()
{
    QFETCH(int, focused);
    QFETCH(int, key);
    QFETCH(int, scheme);
    ColorSheme chooser;
    int answer = 0;
    chooser.onAnswer = [&](int s) { answer = s; };
    chooser.show();
    QVERIFY(QTest::qWaitForWindowActive(&chooser));
    chooser.Command1[focused]->setFocus();
    QTest::keyClick(chooser.Command1[focused], Qt::Key(key));
    QCOMPARE(answer, scheme);
    QCOMPARE(chooser.isVisible(), scheme == 0);
}

void TestKeys::recordDialogFolderAndName()
{
    WindowBench b;
    ModalCloser boxes;
    QTemporaryDir runs;
    struct Seen {
        QString folder, name;
    };
    // Types name (without a suffix) into the next record dialog and accepts it.
    auto answer = [](const QString& folder, const QString& name, Seen* seen) {
        QTimer::singleShot(0, [=] {
            auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            if (!dialog)
                return;
            seen->folder = dialog->directory().absolutePath();
            seen->name = QFileInfo(dialog->selectedFiles().value(0)).fileName();
            dialog->setDirectory(folder);
            dialog->selectFile(name);
            static_cast<QDialog*>(dialog)->accept();
        });
    };

    // The first record: the documents folder, a name that says when.
    Seen first;
    const QDateTime before = QDateTime::currentDateTime();
    answer(runs.path(), QStringLiteral("bench run"), &first);
    b.w->startRecordAsked();
    const QDateTime after = QDateTime::currentDateTime();
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    QCOMPARE(first.folder, QDir(QFileInfo(documents).isDir() ? documents : QDir::homePath()).absolutePath());
    QVERIFY2(first.name == MAIN64K::suggestedRecordName(before) || first.name == MAIN64K::suggestedRecordName(after),
             qPrintable(first.name));
    QVERIFY(b.w->record().isRecording());
    QCOMPARE(b.w->record().path(), runs.filePath(QStringLiteral("bench run.csv")));
    b.w->stopRecord();
    QVERIFY(QFileInfo(runs.filePath(QStringLiteral("bench run.csv"))).isFile());

    // The next one opens where the last went; a suffix typed stays.
    Seen second;
    answer(runs.path(), QStringLiteral("run.log"), &second);
    b.w->startRecordAsked();
    QCOMPARE(second.folder, QDir(runs.path()).absolutePath());
    QCOMPARE(b.w->record().path(), runs.filePath(QStringLiteral("run.log")));
    b.w->stopRecord();
    // Kept for this user beside the settings, for the next window too.
    QCOMPARE(settings::readBenchFile(b.w->benchPath()).recordFolder, QDir(runs.path()).absolutePath());
    QCOMPARE(boxes.count(), 0);

    QCOMPARE(MAIN64K::suggestedRecordName(QDateTime(QDate(2026, 3, 4), QTime(5, 6, 7))),
             QStringLiteral("pollbench-20260304-050607.csv"));
}

void TestKeys::windowPlacedOnScreen_data()
{
    QTest::addColumn<QRect>("available");
    QTest::addColumn<QPoint>("at");
    // The window's frame: 740 x 479 client and a title bar.
    QTest::newRow("1024x768") << QRect(0, 0, 1024, 740) << QPoint(142, 121);
    QTest::newRow("2x scale on 1024x768") << QRect(0, 0, 512, 356) << QPoint(0, 0);
    QTest::newRow("2x, panel on top") << QRect(0, 28, 512, 356) << QPoint(0, 28);
    QTest::newRow("taller than the screen only") << QRect(100, 10, 1200, 400) << QPoint(100, 10);
    QTest::newRow("second screen") << QRect(1920, 0, 1920, 1040) << QPoint(2510, 271);
}

void TestKeys::windowPlacedOnScreen()
{
    QFETCH(QRect, available);
    QFETCH(QPoint, at);
    const QRect frame(0, 0, 740, 498);
    QCOMPARE(placeOnScreen(frame, available), at);
}

QTEST_MAIN(TestKeys)
#include "test_keys.moc"
