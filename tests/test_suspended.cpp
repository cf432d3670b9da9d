// The line failing while polling is suspended: the port stays open between
// starts, so its failure is reported at once in the "Communication Port
// Error" box, and the next start sets the port up anew. Driven through the
// controls and the port only.
#include "modal.h"
#include "windowbench.h"
#include "tester/widgets.h"

#include <QLineEdit>
#include <QPushButton>
#include <QTest>

namespace {

const QString PortErrorText = QStringLiteral(
    "Communication Port Error (#:%1).  COM port maybe in use by other application(s) or does not exist.");

}  // namespace

class TestSuspended : public QObject {
    Q_OBJECT
private slots:
    void lineFailsWhileSuspended_data();
    void lineFailsWhileSuspended();
};

void TestSuspended::lineFailsWhileSuspended_data()
{
    QTest::addColumn<int>("modeClicks");  // on the poll-mode button: 1 is "Step Into"
    QTest::addColumn<int>("number");
    QTest::newRow("released, adapter pulled") << 0 << int(porterr::NoHardware);
    QTest::newRow("released, read failed") << 0 << int(porterr::ReadFailed);
    QTest::newRow("after a step, adapter pulled") << 1 << int(porterr::NoHardware);
}

void TestSuspended::lineFailsWhileSuspended()
{
    QFETCH(int, modeClicks);
    QFETCH(int, number);
    ModalCloser closer;
    WindowBench b;
    b.w->show();
    auto* start = b.w->findChild<QPushButton*>("Check4");
    auto* mode = b.w->findChild<QPushButton*>("Command1");
    auto* portBox = b.w->findChild<QLineEdit*>("Text1");
    auto* hostBox = b.w->findChild<Label*>("Label14");
    QVERIFY(start && mode && portBox && hostBox);
    b.w->findChild<QLineEdit*>("Text2")->setText(QStringLiteral("60000"));  // no poll ticks meanwhile

    for (int i = 0; i < modeClicks; ++i)
        QTest::mouseClick(mode, Qt::LeftButton);
    QTest::mouseClick(start, Qt::LeftButton);
    QCOMPARE(b.fake->opens, 1);
    b.fake->arrive(replyBytes({0x01, 0, 0, 0, 0, 0}));
    if (start->isChecked())
        QTest::mouseClick(start, Qt::LeftButton);  // a step springs back by itself
    QVERIFY(!start->isChecked());
    QVERIFY(b.fake->isOpen);  // kept open between starts
    QCOMPARE(closer.count(), 0);
    const std::size_t sent = b.fake->frames.size();

    b.fake->pull(number);
    QCOMPARE(closer.count(), 1);
    QCOMPARE(closer.titles.last(), QStringLiteral("System Error"));
    QCOMPARE(closer.texts.last(), PortErrorText.arg(number));
    QVERIFY(!start->isChecked());
    QCOMPARE(portBox->selectedText(), portBox->text());  // the port box, ready for a correction
    QCOMPARE(b.fake->frames.size(), sent);
    if (modeClicks == 0)
        QCOMPARE(hostBox->caption(), QStringLiteral(" SYSTEM SUSPENDED"));

    // The same failure reported again adds no box.
    b.fake->pull(number);
    QCOMPARE(closer.count(), 1);

    // The next start sets the port up anew and polls.
    QTest::mouseClick(start, Qt::LeftButton);
    QCOMPARE(closer.count(), 1);
    QCOMPARE(b.fake->opens, 2);
    QVERIFY(b.fake->isOpen);
    QCOMPARE(b.fake->frames.size(), sent + 1);
}

QTEST_MAIN(TestSuspended)
#include "test_suspended.moc"
