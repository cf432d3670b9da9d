// The validator unplugged while polls run and plugged in again: the real
// pollbench-sim on a pseudo-terminal, killed or stopped under the window's
// feet, then started again on the same link.
//
// POLLBENCH_UNPLUG_CYCLES sets the number of cycles (6).
#include "modal.h"
#include "simprocess.h"
#include "tester/main64k.h"

#include <QCheckBox>
#include <QDir>
#include <QFileInfo>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <memory>

#ifndef HELPER_PATH
#error "HELPER_PATH names the helper program"
#endif

namespace {

const QString PortErrorText = QStringLiteral(
    "Communication Port Error (#:%1).  COM port maybe in use by other application(s) or does not exist.");

// Descriptors of this process open on the given device.
int descriptorsOn(const QString& device)
{
    int n = 0;
    const QDir fds(QStringLiteral("/proc/self/fd"));
    for (const QFileInfo& fd : fds.entryInfoList(QDir::System | QDir::Files | QDir::NoDotAndDotDot))
        n += fd.symLinkTarget() == device;
    return n;
}

// Host frames the simulator has heard so far, and how many of them were new
// messages (acknowledge bit flipped against the frame before).
struct Heard {
    int frames = 0;
    int acknowledged = 0;
};
Heard heard(const QString& logPath)
{
    Heard h;
    QByteArray last;
    for (const LogLine& l : readFrameLog(logPath)) {
        if (l.dir != 'H')
            continue;
        ++h.frames;
        if (!last.isEmpty() && ((l.bytes[2] ^ last[2]) & 0x01))
            ++h.acknowledged;
        last = l.bytes;
    }
    return h;
}

int envInt(const char* name, int fallback)
{
    bool ok = false;
    const int v = qEnvironmentVariableIntValue(name, &ok);
    return ok && v > 0 ? v : fallback;
}

}  // namespace

class TestUnplug : public QObject {
    Q_OBJECT
private slots:
    void unplugAndReplug();
    void portHeldByAnotherProgram();
};

void TestUnplug::unplugAndReplug()
{
    const int cycles = envInt("POLLBENCH_UNPLUG_CYCLES", 6);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString link = dir.filePath(QStringLiteral("COM1"));
    ModalCloser boxes(1000);  // each box stays up a second, long enough to see it idle
    MAIN64K w(dir.path(), nullptr);
    w.Form_Load();
    w.Text2->setText(QStringLiteral("30"));

    std::unique_ptr<SimProcess> sim;
    int survived = 0;
    int told = 0;  // boxes so far
    for (int cycle = 0; cycle < cycles; ++cycle) {
        const QString logPath = dir.filePath(QStringLiteral("frames%1.log").arg(cycle));
        sim = std::make_unique<SimProcess>();
        // A killed simulator leaves its link behind; by now another test's
        // simulator may have that pseudo-terminal, and a link to a terminal
        // in use is rightly not replaced. A bench operator would remove it too.
        if (QFileInfo(link).isSymLink())
            QVERIFY(QFile::remove(link));
        QVERIFY(sim->start(link, {QStringLiteral("--log"), logPath}));
        const QString device = QFileInfo(link).symLinkTarget();

        // Plugged in: the next start polls and the replies are acknowledged.
        setCheckValue(w.Check4, 1);
        QVERIFY(w.session()->portReady());
        QCOMPARE(descriptorsOn(device), 1);
        QTRY_VERIFY_WITH_TIMEOUT(heard(logPath).acknowledged >= 10, SimProcess::Long);
        QCOMPARE(boxes.count(), told);

        // Pulled out while polls run: killed outright (the kernel closes its
        // end), or stopped (it closes its end and takes the link away).
        const bool killed = cycle % 2 == 0;
        ::kill(pid_t(sim->process.processId()), killed ? SIGKILL : SIGTERM);
        QTRY_COMPARE_WITH_TIMEOUT(boxes.count(), told + 1, SimProcess::Long);
        ++told;
        QTRY_COMPARE_WITH_TIMEOUT(sim->process.state(), QProcess::NotRunning, SimProcess::Long);
        QCOMPARE(boxes.titles.last(), QStringLiteral("System Error"));
        QVERIFY2(boxes.texts.last() == PortErrorText.arg(8010) || boxes.texts.last() == PortErrorText.arg(8020),
                 qPrintable(boxes.texts.last()));
        QVERIFY2(boxes.cpuMsWhileUp.back() < 100, qPrintable(QStringLiteral("%1 ms of processor time in a second with the box up")
                                                                 .arg(boxes.cpuMsWhileUp.back())));
        QCOMPARE(checkValue(w.Check4), 0);
        QVERIFY(!w.session()->portReady());
        QVERIFY(w.session()->reopenPending());
        QVERIFY(!w.session()->port().portOpen());
        QVERIFY(!w.session()->pollTimer().isEnabled());
        QCOMPARE(descriptorsOn(device), 0);
        // Once, not a box per error report or per tick.
        QTest::qWait(300);
        QCOMPARE(boxes.count(), told);

        if (!killed) {
            // The link taken away with the device; left pointing at nothing, as
            // an adapter's name outlives the adapter, a start tells so once per press.
            QVERIFY(!QFileInfo(link).exists() && !QFileInfo(link).isSymLink());
            QVERIFY(QFile::link(dir.filePath(QStringLiteral("unplugged")), link));
            setCheckValue(w.Check4, 1);
            QCOMPARE(boxes.count(), ++told);
            QCOMPARE(boxes.texts.last(), PortErrorText.arg(8002));
            QCOMPARE(checkValue(w.Check4), 0);
            QCOMPARE(descriptorsOn(device), 0);
            // The simulator replaces no link but its own dead one.
            QVERIFY(QFile::remove(link));
        }
        ++survived;
    }

    // Back once more, and polls go on.
    sim = std::make_unique<SimProcess>();
    const QString logPath = dir.filePath(QStringLiteral("last.log"));
    QVERIFY(sim->start(link, {QStringLiteral("--log"), logPath}));
    setCheckValue(w.Check4, 1);
    QVERIFY(w.session()->portReady());
    QTRY_VERIFY_WITH_TIMEOUT(heard(logPath).acknowledged >= 10, SimProcess::Long);
    QCOMPARE(boxes.count(), told);
    setCheckValue(w.Check4, 0);
    w.Form_Unload();
    QVERIFY(sim->finish());
    qInfo("unplug: %d unplug and replug cycles survived, %d boxes, processor time with a box up: %s ms",
          survived, boxes.count(),
          qPrintable([&] {
              QStringList ms;
              for (double v : boxes.cpuMsWhileUp)
                  ms << QString::number(v, 'f', 1);
              return ms.join(QLatin1Char(' '));
          }()));
}

// Another program has the port: the start tells with 8005 and takes
// nothing; once the other lets go, the next start polls.
void TestUnplug::portHeldByAnotherProgram()
{
    QTemporaryDir dir;
    const QString link = dir.filePath(QStringLiteral("COM1"));
    SimProcess sim;
    const QString logPath = dir.filePath(QStringLiteral("frames.log"));
    QVERIFY(sim.start(link, {QStringLiteral("--log"), logPath}));
    const QString device = QFileInfo(link).symLinkTarget();

    QProcess other;
    other.start(QStringLiteral(HELPER_PATH), {QStringLiteral("hold"), link});
    QVERIFY(other.waitForReadyRead(SimProcess::Long));
    QCOMPARE(other.readAllStandardOutput(), QByteArray("held\n"));

    ModalCloser boxes;
    MAIN64K w(dir.path(), nullptr);
    w.Form_Load();
    w.Text2->setText(QStringLiteral("30"));
    setCheckValue(w.Check4, 1);
    QCOMPARE(boxes.count(), 1);
    QCOMPARE(boxes.texts.last(), PortErrorText.arg(8005));
    QCOMPARE(checkValue(w.Check4), 0);
    QVERIFY(!w.session()->portReady());
    QCOMPARE(descriptorsOn(device), 0);

    other.closeWriteChannel();
    QVERIFY(other.waitForFinished(SimProcess::Long));
    setCheckValue(w.Check4, 1);
    QVERIFY(w.session()->portReady());
    QTRY_VERIFY_WITH_TIMEOUT(heard(logPath).acknowledged >= 5, SimProcess::Long);
    QCOMPARE(boxes.count(), 1);
    setCheckValue(w.Check4, 0);
    w.Form_Unload();
    QVERIFY(sim.finish());
}

QTEST_MAIN(TestUnplug)
#include "test_unplug.moc"
