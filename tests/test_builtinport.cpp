// The virtual validator built into the program, behind the real poll
// session and the real window: the acknowledge scheme, escrow, scripted
// faults, the line's timing, and what the window shows while it is in use.
#include "cli/portchoice.h"
#include "link/pollsession.h"
#include "modal.h"
#include "run/runstats.h"
#include "sim/builtinport.h"
#include "tester/main64k.h"

#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <memory>
#include <vector>

using sim::BuiltInOptions;
using sim::BuiltInPort;

namespace {

constexpr int Wait = 10000;  // ms; far more than any case needs

// 9600 baud, 10 bits a character: the host's 8 bytes, then the reply's 11.
constexpr double LineReplyMs = (8 + 11) * 10 * 1000.0 / 9600;

BuiltInOptions scripted(const QString& script, bool autoNotes = false)
{
    BuiltInOptions o;
    o.autoNotes = autoNotes;
    o.seed = 1;
    const auto steps = sim::parseScript(script);
    if (!steps)
        qFatal("bad test script");
    o.script = *steps;
    return o;
}

// A session polling the built-in device, as an unattended run sets it up.
// The period leaves a loaded machine plenty of room for each reply; how many
// times a late one makes the session repeat is not what these cases check.
struct Bench {
    explicit Bench(BuiltInOptions options, int channelsUpTo = 3, bool escrow = true, int periodMs = 100)
    {
        auto owned = std::make_unique<BuiltInPort>(std::move(options));
        port = owned.get();
        session = std::make_unique<PollSession>(std::move(owned));
        figures = std::make_unique<RunStatistics>(*session);
        session->setPortNumber(1);
        session->requestReopen();
        session->setPollPeriod(periodMs);
        session->setEscrow(escrow);
        for (int c = 1; c <= frames::ChannelCount; ++c)
            session->setChannelEnabled(c, c <= channelsUpTo);
        QObject::connect(session.get(), &PollSession::noteStacked, [this](int channel) { stacked.push_back(channel); });
        QObject::connect(session.get(), &PollSession::portFailed, [this](int number) { failures.push_back(number); });
        QObject::connect(session.get(), &PollSession::replyChecked, [this](const CheckedReply& c) {
            replyMs.push_back(double(c.sinceWriteNs) / 1e6);
        });
        session->start();
    }
    Figures stats() const { return figures->figures(); }
    const sim::VirtualValidator::Counts& device() const { return port->device().counts(); }

    BuiltInPort* port = nullptr;
    std::unique_ptr<PollSession> session;
    std::unique_ptr<RunStatistics> figures;  // made before anything else connects, as a run does
    std::vector<int> stacked;
    std::vector<int> failures;
    std::vector<double> replyMs;
};

// Runs the event loop until done() holds or ms pass. Not QTRY: its waits
// sleep between turns of the loop, and a poll clock held up that way repeats
// messages on a line that is fine.
template <class Done>
bool runUntil(Done done, int ms = Wait)
{
    QEventLoop loop;
    QTimer check;
    QElapsedTimer since;
    since.start();
    QObject::connect(&check, &QTimer::timeout, [&] {
        if (done() || since.elapsed() > ms)
            loop.quit();
    });
    check.start(5);
    if (!done())
        loop.exec();
    return done();
}

void runFor(int ms)
{
    runUntil([] { return false; }, ms);
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

}  // namespace

class TestBuiltInPort : public QObject {
    Q_OBJECT
private slots:
    void characterTime_data();
    void characterTime();
    void acknowledgeScheme();
    void escrow_data();
    void escrow();
    void scriptedFaults_data();
    void scriptedFaults();
    void switchedOffByScript();
    void automaticNotes();
    void replyTiming();
    void closedPortLosesBytesOnTheWay();
    void scriptFiles_data();
    void scriptFiles();
    void windowTitleAndPane();
};

void TestBuiltInPort::characterTime_data()
{
    QTest::addColumn<QString>("settings");
    QTest::addColumn<qint64>("ns");
    QTest::newRow("7E1, the validator's") << "9600, E, 7, 1" << qint64(1'041'666);
    QTest::newRow("8N1") << "9600, N, 8, 1" << qint64(1'041'666);
    QTest::newRow("8E2") << "9600, E, 8, 2" << qint64(1'250'000);
    QTest::newRow("7O1.5 at 19200") << "19200, O, 7, 1.5" << qint64(546'875);
}

void TestBuiltInPort::characterTime()
{
    QFETCH(QString, settings);
    QFETCH(qint64, ns);
    BuiltInPort port;
    port.setSettings(settings);
    QCOMPARE(qint64(port.characterNs()), ns);
    QVERIFY_THROWS_EXCEPTION(PortError, port.setSettings(QStringLiteral("9600, X, 7, 1")));
}

void TestBuiltInPort::acknowledgeScheme()
{
    // A clean line: every message heard, every reply good, and a message the
    // session repeats (only ever after a reply it did not see in time) is a
    // repeat to the device too.
    Bench b(scripted({}));
    QVERIFY(runUntil([&] { return b.stats().repliesGood >= 12; }));
    b.session->suspend();
    runFor(150);  // the last reply on its way
    QCOMPARE(b.stats().repliesBadChecksum, 0);
    QCOMPARE(qint64(b.device().polls), b.stats().pollsSent);
    QCOMPARE(qint64(b.device().repeats), b.stats().repeats);
    QCOMPARE(b.stats().repliesGood, b.stats().pollsSent);
    // The power-up event of the first reply was acknowledged by the next message.
    QCOMPARE(b.stats().events.powerUp, 1);
}

void TestBuiltInPort::escrow_data()
{
    QTest::addColumn<QString>("script");
    QTest::addColumn<bool>("escrow");
    QTest::addColumn<int>("stackedChannel");  // 0: none stacked
    QTest::addColumn<int>("returned");
    QTest::addColumn<int>("rejected");

    QTest::newRow("enabled channel stacked") << "0 insert 2" << true << 2 << 0 << 0;
    QTest::newRow("no escrow, stacked at once") << "0 insert 3" << false << 3 << 0 << 0;
    QTest::newRow("channel the tester lacks returned") << "0 insert 14" << true << 0 << 1 << 0;
    QTest::newRow("no channel named, returned") << "0 channel0" << true << 0 << 1 << 0;
    QTest::newRow("disabled channel rejected") << "0 insert 5" << true << 0 << 0 << 1;
}

void TestBuiltInPort::escrow()
{
    QFETCH(QString, script);
    QFETCH(bool, escrow);
    QFETCH(int, stackedChannel);
    QFETCH(int, returned);
    QFETCH(int, rejected);

    Bench b(scripted(script), 3, escrow);
    QVERIFY(runUntil([&] {
        return b.port->scriptStepsRun() == 1 && b.port->device().stage() == sim::Stage::Idle
               && b.device().stackedTotal() + b.device().returned + b.device().rejected == 1;
    }));
    // The host sees the outcome in the next replies; three more leave room
    // for it to be counted twice, which it must not be.
    const auto good = b.stats().repliesGood;
    QVERIFY(runUntil([&] { return b.stats().repliesGood >= good + 3; }));
    QCOMPARE(b.device().stackedTotal(), stackedChannel ? 1 : 0);
    QCOMPARE(b.device().returned, returned);
    QCOMPARE(b.device().rejected, rejected);
    if (stackedChannel)
        QCOMPARE(b.device().stacked.begin()->first, stackedChannel);
    QCOMPARE(b.stacked.empty(), stackedChannel == 0);
    for (int channel : b.stacked)
        QCOMPARE(channel, stackedChannel);
    QCOMPARE(b.stats().totalNotes().returned, returned);
    QCOMPARE(b.stats().totalNotes().rejected, rejected);
}

void TestBuiltInPort::scriptedFaults_data()
{
    QTest::addColumn<QString>("script");
    QTest::addColumn<int>("badChecksums");
    QTest::addColumn<int>("noResponses");    // at least
    QTest::addColumn<bool>("discarded");     // bytes dropped to get back in step
    QTest::addColumn<int>("deviceRepeats");  // at least
    QTest::addColumn<int>("deaf");

    // A reply that fails its checksum is not taken: the message goes again.
    QTest::newRow("bad checksum") << "0 badsum" << 1 << 0 << false << 1 << 0;
    // A message the device did not hear draws no reply; its repeat is new to it.
    QTest::newRow("silence") << "0 silence 2" << 0 << 2 << false << 0 << 2;
    // Halves 10 ms apart still come within the poll.
    QTest::newRow("split reply") << "0 split 10" << 0 << 0 << false << 0 << 0;
    QTest::newRow("two replies in one write") << "0 double" << 0 << 0 << true << 0 << 0;
    QTest::newRow("noise instead of a reply") << "0 garbage" << 0 << 1 << true << 1 << 0;
}

void TestBuiltInPort::scriptedFaults()
{
    QFETCH(QString, script);
    QFETCH(int, badChecksums);
    QFETCH(int, noResponses);
    QFETCH(bool, discarded);
    QFETCH(int, deviceRepeats);
    QFETCH(int, deaf);

    Bench b(scripted(script));
    QVERIFY(runUntil([&] { return b.port->scriptStepsRun() == 1 && b.stats().repliesGood >= 8; }));
    b.session->suspend();
    runFor(150);
    QCOMPARE(b.stats().repliesBadChecksum, badChecksums);
    QVERIFY(b.stats().noResponses >= noResponses);
    QCOMPARE(b.stats().bytesDiscarded > 0, discarded);
    QVERIFY(b.device().repeats >= deviceRepeats);
    QCOMPARE(b.device().deaf, deaf);
    QCOMPARE(b.device().lineFaults, deaf ? 0 : 1);
    // Every message went out, and all but the faults' drew a good reply.
    QCOMPARE(qint64(b.device().polls), b.stats().pollsSent);
    QVERIFY(b.stats().repliesGood >= b.stats().pollsSent - deaf - 1);
    QVERIFY(b.failures.empty());
}

void TestBuiltInPort::switchedOffByScript()
{
    // "quit" takes the device off the line: the port fails once, as an
    // adapter pulled out does, and cannot be opened again.
    Bench b(scripted(QStringLiteral("200 quit")));
    QVERIFY(runUntil([&] { return !b.failures.empty(); }));
    QCOMPARE(b.failures.size(), std::size_t(1));
    QCOMPARE(b.failures.front(), porterr::NoHardware);
    QVERIFY(b.stats().repliesGood > 0);
    QVERIFY(!b.port->portOpen());
    QVERIFY_THROWS_EXCEPTION(PortError, b.port->open());
    runFor(100);
    QCOMPARE(b.failures.size(), std::size_t(1));
}

void TestBuiltInPort::automaticNotes()
{
    // Without a script a note comes every couple of seconds, only on an
    // enabled channel, and is stacked. The interval is shortened for the test.
    BuiltInOptions o;
    o.seed = 7;
    o.autoIntervalMs = 300;
    Bench b(o, 2, true, 30);
    QVERIFY(runUntil([&] { return b.stacked.size() >= 3; }));
    for (int channel : b.stacked)
        QVERIFY2(channel == 1 || channel == 2, qPrintable(QString::number(channel)));
    QCOMPARE(b.device().rejected, 0);
    QCOMPARE(b.device().returned, 0);
}

void TestBuiltInPort::replyTiming()
{
    // The session's own clock, from the message written to the reply read.
    // Load on the machine only makes a reply later; one earlier than the line
    // can carry the bytes would be the device's fault. How close it comes
    // to the line's figure is make bench's to judge.
    Bench b(scripted({}), 3, true, 30);
    QVERIFY(runUntil([&] { return b.replyMs.size() >= 100; }));
    const double m = median(b.replyMs);
    qInfo("reply time: median %.3f ms over %d polls; the line's %.3f ms", m, int(b.replyMs.size()), LineReplyMs);
    QVERIFY2(m >= LineReplyMs - 0.6, qPrintable(QString::number(m)));
}

void TestBuiltInPort::closedPortLosesBytesOnTheWay()
{
    // A reply still on the line when the port closes is gone: the port
    // opens again with nothing waiting.
    BuiltInPort port(scripted({}));
    port.setRThreshold(1);
    int events = 0;
    port.onComm = [&] { ++events; };
    port.open();
    frames::HostRequest r;
    port.output(frames::buildHostMessage(r).toByteArray());
    port.close();
    port.open();
    runFor(60);
    QCOMPARE(events, 0);
    QCOMPARE(port.inBufferCount(), 0);
    port.output(frames::buildHostMessage(r).toByteArray());
    QVERIFY(runUntil([&] { return port.inBufferCount() >= frames::ValidatorReply::Size; }));
    QCOMPARE(port.inBufferCount(), frames::ValidatorReply::Size);
    QCOMPARE(events, 1);
    QCOMPARE(port.input().size(), frames::ValidatorReply::Size);
    QCOMPARE(port.inBufferCount(), 0);
}

void TestBuiltInPort::scriptFiles_data()
{
    QTest::addColumn<QByteArray>("content");  // empty: no file at all
    QTest::addColumn<QString>("error");       // empty: the port is made

    QTest::newRow("script") << QByteArray("# faults\n100 jam\n+500 clear\n") << "";
    QTest::newRow("bad line") << QByteArray("100 jam\nsoon clear\n") << "line 2";
    QTest::newRow("unknown command") << QByteArray("0 explode\n") << "line 1";
    QTest::newRow("missing") << QByteArray() << "no file";
}

void TestBuiltInPort::scriptFiles()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, error);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("faults.txt"));
    if (!content.isEmpty()) {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(content);
    }
    QString why;
    const auto port = cli::makePort(QStringLiteral("sim:") + path, dir.path(), &why);
    QCOMPARE(port == nullptr, !error.isEmpty());
    if (port)
        QVERIFY(dynamic_cast<BuiltInPort*>(port.get()));
    else
        QVERIFY2(why.contains(error) && why.contains(path), qPrintable(why));
    // A directory is no script either.
    QVERIFY(!cli::makePort(QStringLiteral("sim:") + dir.path(), dir.path(), &why));
}

void TestBuiltInPort::windowTitleAndPane()
{
    QTemporaryDir dir;
    ModalCloser boxes;
    MAIN64K w(dir.path(), std::make_unique<BuiltInPort>(scripted({})));
    w.Form_Load();
    w.useBuiltInDevice(cli::BuiltInDeviceName);
    QCOMPARE(w.windowTitle(), QStringLiteral("Pollbench 3.0.0 - virtual validator"));
    QVERIFY(!w.Text1->isEnabled());

    const QString record = dir.filePath(QStringLiteral("run.csv"));
    QString why;
    QVERIFY2(w.startRecord(record, false, &why), qPrintable(why));
    QCOMPARE(w.windowTitle(),
             QStringLiteral("Pollbench 3.0.0 - virtual validator - recording %1").arg(QDir::toNativeSeparators(record)));

    // START POLL as the operator presses it: the validator pane fills.
    w.Check4->click();
    QVERIFY(runUntil([&] { return !w.Label20[5]->caption().isEmpty(); }));
    for (int k = 0; k <= 5; ++k)
        QVERIFY2(w.Label20[k]->caption().startsWith(QStringLiteral(" 02 0B")), qPrintable(w.Label20[k]->caption()));
    w.stopRecord();
    QCOMPARE(w.windowTitle(), QStringLiteral("Pollbench 3.0.0 - virtual validator"));
    w.Check4->click();
    QCOMPARE(boxes.texts, QStringList());
}

QTEST_MAIN(TestBuiltInPort)
#include "test_builtinport.moc"
