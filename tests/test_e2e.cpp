// The tester window on its real serial port, talking over a pseudo-terminal
// to the real pollbench-sim program.
#include "link/frames.h"
#include "modal.h"
#include "simprocess.h"
#include "tester/main64k.h"

#include <QCheckBox>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <memory>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

constexpr int Long = SimProcess::Long;

// Captions that live for a poll or two, caught as they pass: a fast timer
// looks at the window between the events of the link.
class Watcher : public QObject {
public:
    QSet<QString> commands;     // Label14
    QSet<QString> events;       // Label13
    QSet<QString> eventTexts;   // EventText
    QSet<QString> hostCodes;    // last three characters of host trace lines
    bool noResponse = false;    // a no-response line in the reply pane
    bool repeatAfterSilence = false;  // ... followed by the same host line again

    explicit Watcher(MAIN64K& w) : w_(w)
    {
        timer_.setInterval(1);
        connect(&timer_, &QTimer::timeout, this, [this] { look(); });
        timer_.start();
    }
    void reset()
    {
        commands.clear();
        events.clear();
        eventTexts.clear();
        hostCodes.clear();
        noResponse = repeatAfterSilence = false;
    }

private:
    void look()
    {
        commands.insert(w_.Label14->caption());
        events.insert(w_.Label13->caption());
        eventTexts.insert(w_.session()->decoding().eventText);
        for (int k = 0; k < 16; ++k) {
            const QString host = w_.Label18[k]->caption();
            if (!host.isEmpty())
                hostCodes.insert(host.right(3));
            if (w_.Label20[k]->caption() == frames::NoResponseLine) {
                noResponse = true;
                if (k < 15 && !host.isEmpty() && w_.Label18[k + 1]->caption() == host)
                    repeatAfterSilence = true;
            }
        }
    }
    MAIN64K& w_;
    QTimer timer_;
};

}  // namespace

class TestE2e : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void noteStacked();
    void noteReturnedWhenChannelDisabledInEscrow();
    void noteRejectedOnDisabledChannel();
    void silenceRepeatsTheFrame();
    void lineFaults_data();
    void lineFaults();
    void signalEndsTheRun();
    void lineFreedAfterATesterDied();

private:
    bool startPolling();
    void step();

    std::unique_ptr<QTemporaryDir> dir_;
    std::unique_ptr<SimProcess> sim_;
    std::unique_ptr<MAIN64K> w_;
    std::unique_ptr<Watcher> watch_;
    std::unique_ptr<ModalCloser> boxes_;
    QString link_;
};

void TestE2e::init()
{
    dir_ = std::make_unique<QTemporaryDir>();
    QVERIFY(dir_->isValid());
    link_ = dir_->filePath(QStringLiteral("COM1"));
    sim_ = std::make_unique<SimProcess>();
    QVERIFY(sim_->start(link_, {QStringLiteral("--stage-polls"), QStringLiteral("1"), QStringLiteral("--log"),
                                dir_->filePath(QStringLiteral("frames.log"))}));
    boxes_ = std::make_unique<ModalCloser>();
    w_ = std::make_unique<MAIN64K>(dir_->path(), nullptr);
    w_->Form_Load();
    watch_ = std::make_unique<Watcher>(*w_);
}

void TestE2e::cleanup()
{
    // The window first: a simulator gone while the port is open is a port failure.
    watch_.reset();
    w_.reset();
    QVERIFY(sim_->finish());
    QVERIFY(!QFileInfo(link_).isSymLink());
    QCOMPARE(boxes_->texts, QStringList());
    boxes_.reset();
    sim_.reset();
    dir_.reset();
}

// No settings file: port 1, poll rate 100, channels 1 to 7, escrow ticked.
bool TestE2e::startPolling()
{
    if (w_->Text1->text() != QLatin1String("1") || w_->Text2->text() != QLatin1String("100")
        || checkValue(w_->Check6) != 1 || int(w_->session()->mode()) != 1)
        return false;
    setCheckValue(w_->Check1[2], 1);
    setCheckValue(w_->Check4, 1);
    return w_->session()->portReady();
}

// One "Step Into" press and its reply.
void TestE2e::step()
{
    setCheckValue(w_->Check4, 1);
    QTRY_VERIFY_WITH_TIMEOUT(w_->session()->replyReceived(), Long);
}

void TestE2e::noteStacked()
{
    QVERIFY(startPolling());
    QTRY_COMPARE_WITH_TIMEOUT(w_->session()->decoding().stateText, QStringLiteral("IDLING"), Long);
    sim_->send(QStringLiteral("insert 3"));

    QTRY_COMPARE_WITH_TIMEOUT(w_->Label9[2]->caption(), QStringLiteral("1"), Long);
    QVERIFY(watch_->commands.contains(QStringLiteral(" STACK BILL")));
    QVERIFY(watch_->hostCodes.contains(QStringLiteral("STK")));
    QVERIFY(watch_->eventTexts.contains(QStringLiteral("STACKED")));
    QVERIFY(watch_->events.contains(QStringLiteral(" STACKED CH3")));
    QTRY_VERIFY_WITH_TIMEOUT(sim_->saw(QStringLiteral("stacked 3")), Long);
    for (int i : {0, 1, 3, 4, 5, 6})
        QCOMPARE(w_->Label9[i]->caption(), QStringLiteral("0"));

    // Every frame of the run in the log, both ways, in the documented form.
    watch_.reset();
    w_.reset();
    QVERIFY(sim_->finish());
    QFile log(dir_->filePath(QStringLiteral("frames.log")));
    QVERIFY(log.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromLatin1(log.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    static const QRegularExpression host(QStringLiteral(R"(^\d+\.\d{6} H 02 08 1[01]( [0-7][0-9A-F]){5}$)"));
    static const QRegularExpression reply(QStringLiteral(R"(^\d+\.\d{6} V 02 0B 2[01]( [0-7][0-9A-F]){8}$)"));
    int hosts = 0, replies = 0;
    for (const QString& l : lines) {
        hosts += host.match(l).hasMatch();
        replies += reply.match(l).hasMatch();
    }
    QVERIFY2(hosts >= 5 && hosts == replies && hosts + replies == lines.size(), qPrintable(lines.join(QLatin1Char('\n'))));
    QVERIFY(lines.join(QLatin1Char('\n')).contains(QStringLiteral(" H 02 08 11 7F 30 00 03 56"))
            || lines.join(QLatin1Char('\n')).contains(QStringLiteral(" H 02 08 10 7F 30 00 03 57")));
}

void TestE2e::noteReturnedWhenChannelDisabledInEscrow()
{
    QVERIFY(startPolling());
    QTRY_COMPARE_WITH_TIMEOUT(w_->session()->decoding().stateText, QStringLiteral("IDLING"), Long);

    // "Step Into" from here, so the channel goes off while the note waits in escrow.
    w_->Command1_Click();
    QCOMPARE(int(w_->session()->mode()), 2);
    QTRY_COMPARE_WITH_TIMEOUT(checkValue(w_->Check4), 0, Long);
    QTRY_VERIFY_WITH_TIMEOUT(w_->session()->replyReceived(), Long);
    sim_->send(QStringLiteral("insert 3"));
    QTRY_VERIFY_WITH_TIMEOUT(sim_->saw(QStringLiteral("inserted 3")), Long);
    for (int i = 0; i < 10 && w_->session()->decoding().stateText != QLatin1String("ESCROWED"); ++i)
        step();
    QCOMPARE(w_->session()->decoding().stateText, QStringLiteral("ESCROWED"));
    QCOMPARE(w_->session()->decoding().channelNumber, 3);
    setCheckValue(w_->Check1[2], 0);

    // Back to "Normal Poll".
    for (int i = 0; i < 3; ++i)
        w_->Command1_Click();
    QCOMPARE(int(w_->session()->mode()), 1);
    watch_->reset();
    setCheckValue(w_->Check4, 1);
    QTRY_VERIFY_WITH_TIMEOUT(sim_->saw(QStringLiteral("returned 3")), Long);
    QTRY_VERIFY_WITH_TIMEOUT(watch_->eventTexts.contains(QStringLiteral("RETURNED")), Long);
    QVERIFY(watch_->commands.contains(QStringLiteral(" RETURN BILL")));
    QVERIFY(watch_->hostCodes.contains(QStringLiteral("RTN")));
    QVERIFY(watch_->events.contains(QStringLiteral(" RETURNED CH3")));
    QVERIFY(!watch_->commands.contains(QStringLiteral(" STACK BILL")));
    QCOMPARE(w_->Label9[2]->caption(), QStringLiteral("0"));
}

void TestE2e::noteRejectedOnDisabledChannel()
{
    QVERIFY(startPolling());
    setCheckValue(w_->Check1[2], 0);
    QTRY_COMPARE_WITH_TIMEOUT(w_->session()->decoding().stateText, QStringLiteral("IDLING"), Long);
    sim_->send(QStringLiteral("insert 3"));
    QTRY_VERIFY_WITH_TIMEOUT(watch_->eventTexts.contains(QStringLiteral("REJECTED")), Long);
    QVERIFY(watch_->events.contains(QStringLiteral(" REJECTED")));
    QVERIFY(!watch_->hostCodes.contains(QStringLiteral("STK")));
    QVERIFY(!watch_->hostCodes.contains(QStringLiteral("RTN")));
    QTRY_VERIFY_WITH_TIMEOUT(sim_->saw(QStringLiteral("rejected 3")), Long);
    QCOMPARE(w_->Label9[2]->caption(), QStringLiteral("0"));
}

void TestE2e::silenceRepeatsTheFrame()
{
    QVERIFY(startPolling());
    QTRY_VERIFY_WITH_TIMEOUT(w_->traceRow() >= 2 && w_->session()->decoding().stateText == QLatin1String("IDLING"), Long);
    QVERIFY(!watch_->noResponse);
    sim_->send(QStringLiteral("silence 3"));
    QTRY_VERIFY_WITH_TIMEOUT(watch_->repeatAfterSilence, Long);
    // and the line recovers: a note still goes through
    sim_->send(QStringLiteral("insert 3"));
    QTRY_COMPARE_WITH_TIMEOUT(w_->Label9[2]->caption(), QStringLiteral("1"), Long);
    sim_->send(QStringLiteral("stats"));
    QTRY_VERIFY_WITH_TIMEOUT(sim_->said.contains(QStringLiteral(" deaf 3 ")), Long);
}

void TestE2e::lineFaults_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<bool>("noResponse");

    QTest::newRow("bad checksum") << "badsum" << true;
    QTest::newRow("garbage") << "garbage" << true;
    QTest::newRow("split reply") << "split 15" << false;
    QTest::newRow("two replies at once") << "double" << false;
}

// The tester rides out a spoiled reply and the next note is counted once.
void TestE2e::lineFaults()
{
    QFETCH(QString, fault);
    QFETCH(bool, noResponse);

    QVERIFY(startPolling());
    QTRY_VERIFY_WITH_TIMEOUT(w_->traceRow() >= 2 && w_->session()->decoding().stateText == QLatin1String("IDLING"), Long);
    sim_->send(fault);
    const auto spoiled = [this] {
        sim_->send(QStringLiteral("stats"));
        return sim_->said.contains(QStringLiteral(" faults 1 "));
    };
    QTRY_VERIFY_WITH_TIMEOUT(spoiled(), Long);
    sim_->send(QStringLiteral("insert 3"));
    QTRY_COMPARE_WITH_TIMEOUT(w_->Label9[2]->caption(), QStringLiteral("1"), Long);
    QCOMPARE(watch_->noResponse, noResponse);
    QTest::qWait(300);
    QCOMPARE(w_->Label9[2]->caption(), QStringLiteral("1"));
}

void TestE2e::signalEndsTheRun()
{
    QVERIFY(startPolling());
    QTRY_COMPARE_WITH_TIMEOUT(w_->session()->decoding().stateText, QStringLiteral("IDLING"), Long);
    watch_.reset();
    w_.reset();
    sim_->process.terminate();
    QVERIFY(sim_->process.waitForFinished(Long));
    QCOMPARE(sim_->process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(sim_->process.exitCode(), 0);
    QVERIFY(sim_->said.contains(QStringLiteral("stats stacked 0")));
}

// A port that was taken for exclusive use and never given back, as by a
// tester that was killed, opens again once the line has been quiet.
void TestE2e::lineFreedAfterATesterDied()
{
    const QByteArray path = QFile::encodeName(link_);
    const int fd = ::open(path.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    QVERIFY(fd >= 0);
    QCOMPARE(::ioctl(fd, TIOCEXCL), 0);
    ::close(fd);
    const auto freed = [&path] {
        const int again = ::open(path.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (again < 0)
            return false;  // EBUSY unless we are root
        int exclusive = 1;
        const bool ok = ::ioctl(again, TIOCGEXCL, &exclusive) == 0 && exclusive == 0;
        ::close(again);
        return ok;
    };
    QTRY_VERIFY_WITH_TIMEOUT(freed(), Long);
}

QTEST_MAIN(TestE2e)
#include "test_e2e.moc"
