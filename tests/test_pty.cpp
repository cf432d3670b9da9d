// The window on a real serial device: a pseudo-terminal linked as COM1 in
// the program's directory, with the test playing the validator on the
// master side.
#include "link/frames.h"
#include "link/qtport.h"
#include "modal.h"
#include "tester/main64k.h"
#include "windowbench.h"

#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QPushButton>
#include <QSerialPort>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <ctime>
#include <fcntl.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

namespace {

const QString PortErrorText = QStringLiteral(
    "Communication Port Error (#:%1).  COM port maybe in use by other application(s) or does not exist.");

// The validator's end of the line.
class Peer {
public:
    Peer()
    {
        master_ = posix_openpt(O_RDWR | O_NOCTTY);
        if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0)
            return;
        slave_ = QString::fromLocal8Bit(ptsname(master_));
        fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
    }
    ~Peer() { hangUp(); }
    bool isValid() const { return master_ >= 0 && !slave_.isEmpty(); }
    const QString& slave() const { return slave_; }

    void send(const QByteArray& bytes) { QVERIFY(::write(master_, bytes.constData(), size_t(bytes.size())) == bytes.size()); }

    // Waits until n bytes came from the host and returns them; fewer on timeout.
    QByteArray take(int n, int timeoutMs = 3000)
    {
        [[maybe_unused]] const bool whole = QTest::qWaitFor(
            [&] {
                drain();
                return pending_.size() >= n;
            },
            timeoutMs);
        const QByteArray out = pending_.left(n);
        pending_.remove(0, out.size());
        return out;
    }
    // Whatever came within a short while.
    QByteArray takeAll(int waitMs = 100)
    {
        QTest::qWait(waitMs);
        drain();
        QByteArray out;
        out.swap(pending_);
        return out;
    }
    void hangUp()
    {
        if (master_ >= 0)
            ::close(master_);
        master_ = -1;
    }

private:
    void drain()
    {
        char buf[256];
        for (;;) {
            const ssize_t n = ::read(master_, buf, sizeof buf);
            if (n <= 0)
                break;  // EAGAIN, or EIO while no one has the slave open
            pending_.append(buf, int(n));
        }
    }

    int master_ = -1;
    QString slave_;
    QByteArray pending_;
};

// The far end gone reads as a failed read or as vanished hardware,
// depending on what the read returned; never as a port that is not open.
bool isLineGoneText(const QString& text)
{
    return text == PortErrorText.arg(porterr::ReadFailed) || text == PortErrorText.arg(porterr::NoHardware);
}

bool linkCom1(const QTemporaryDir& dir, const QString& target)
{
    const QString link = dir.filePath(QStringLiteral("COM1"));
    QFile::remove(link);
    return QFile::link(target, link);
}

// Descriptors of this process open on the given device.
int descriptorsOn(const QString& device)
{
    int n = 0;
    const QDir fds(QStringLiteral("/proc/self/fd"));
    for (const QFileInfo& fd : fds.entryInfoList(QDir::System | QDir::Files | QDir::NoDotAndDotDot))
        if (fd.symLinkTarget() == device)
            ++n;
    return n;
}

// A loaded window on port 1, channels 1 to 7, escrow off, "Normal Poll"
// with a poll rate so slow that the test does the polling.
void prepare(MAIN64K& w)
{
    w.Form_Load();
    setCheckValue(w.Check6, 0);
    w.Text2->setText(QStringLiteral("60000"));
}

// A fresh pseudo-terminal linked as COM1 and a prepared window on it that
// has been started, with message boxes closed as they come.
struct OnPty {
    std::unique_ptr<Peer> peer = std::make_unique<Peer>();
    QTemporaryDir dir;
    ModalCloser closer;
    std::unique_ptr<MAIN64K> window;

    bool start()
    {
        if (!peer->isValid() || !linkCom1(dir, peer->slave()))
            return false;
        window = std::make_unique<MAIN64K>(dir.path(), nullptr);
        prepare(*window);
        setCheckValue(window->Check4, 1);
        return true;
    }
};

}  // namespace

class TestPty : public QObject {
    Q_OBJECT
private slots:
    void deviceNames();
    void exchange();
    void openErrors_data();
    void openErrors();
    void farEndGone();
    void pollBeforeFailureReport();
    void bytesWaitingBeforeOpen();
    void lineFlagsFound_data();
    void lineFlagsFound();
};

void TestPty::deviceNames()
{
    QTemporaryDir dir;
    QVERIFY(linkCom1(dir, QStringLiteral("/dev/null")));
    QCOMPARE(portDeviceName(1, dir.path()), dir.filePath(QStringLiteral("COM1")));
    QCOMPARE(portDeviceName(2, dir.path()), QStringLiteral("/dev/ttyS1"));
    QCOMPARE(portDeviceName(0, dir.path()), QString());
    // A link whose device is gone still names the port: the operator chose
    // it, and another serial port must not be taken in its place.
    QVERIFY(linkCom1(dir, dir.filePath(QStringLiteral("gone"))));
    QCOMPARE(portDeviceName(1, dir.path()), dir.filePath(QStringLiteral("COM1")));
}

void TestPty::exchange()
{
    OnPty pty;
    QVERIFY(pty.start());
    Peer& peer = *pty.peer;
    MAIN64K& w = *pty.window;
    ModalCloser& closer = pty.closer;

    QVERIFY(w.session()->portReady());
    QCOMPARE(w.session()->port().portOpen(), true);
    QCOMPARE(descriptorsOn(peer.slave()), 1);
    QCOMPARE(peer.take(8).toHex(' '), QByteArray("02 08 10 7f 00 00 03 67"));

    // A good reply: the next frame flips the acknowledge bit.
    peer.send(replyBytes({0x01, 0, 0, 0, 0, 0}));
    QTRY_VERIFY(w.session()->replyReceived());
    QCOMPARE(w.Label15->caption(), QStringLiteral(" IDLING"));
    w.PollTime_Timer();
    QCOMPARE(peer.take(8).toHex(' '), QByteArray("02 08 11 7f 00 00 03 66"));

    // A reply in two pieces is read once, when whole.
    const QByteArray stacked = replyBytes({0x11, 0, 0x18, 0, 0, 0});
    peer.send(stacked.left(8));
    QTest::qWait(50);
    QVERIFY(!w.session()->replyReceived());
    peer.send(stacked.mid(8));
    QTRY_VERIFY(w.session()->replyReceived());
    QCOMPARE(w.session()->decoding().channelText, QStringLiteral("3"));
    w.PollTime_Timer();
    QCOMPARE(peer.take(8).toHex(' '), QByteArray("02 08 10 7f 00 00 03 67"));

    // Silence: the next frame repeats and the trace shows the miss.
    QTest::qWait(50);
    QVERIFY(!w.session()->replyReceived());
    w.PollTime_Timer();
    QCOMPARE(peer.take(8).toHex(' '), QByteArray("02 08 10 7f 00 00 03 67"));
    QCOMPARE(w.Label20[2]->caption(), QStringLiteral("       NO RESPONSE!  TIMEOUT"));
    QCOMPARE(w.Label15->caption(), QStringLiteral(" "));
    QCOMPARE(closer.count(), 0);

    // Junk on the line is drained and the line goes on.
    peer.send(QByteArray(11, '\x06'));
    QTest::qWait(100);
    QVERIFY(w.session()->pollTimer().isEnabled());
    QCOMPARE(w.session()->port().inBufferCount(), 0);
    QVERIFY(!w.session()->replyReceived());
    peer.send(replyBytes({0x01, 0, 0, 0, 0, 0}));
    QTRY_VERIFY(w.session()->replyReceived());
    QCOMPARE(closer.count(), 0);

    w.Form_Unload();
    QVERIFY(!w.session()->port().portOpen());
    QCOMPARE(descriptorsOn(peer.slave()), 0);
}

void TestPty::openErrors_data()
{
    QTest::addColumn<QString>("setUp");
    QTest::addColumn<int>("number");
    QTest::newRow("no such device") << "none" << 8002;
    QTest::newRow("link to a device that is gone") << "dangling" << 8002;
    QTest::newRow("held by another program") << "held" << 8005;
}

void TestPty::openErrors()
{
    QFETCH(QString, setUp);
    QFETCH(int, number);
    Peer peer;
    QVERIFY(peer.isValid());
    QTemporaryDir dir;
    QSerialPort other;
    if (setUp == QLatin1String("dangling")) {
        QVERIFY(linkCom1(dir, dir.filePath(QStringLiteral("unplugged"))));
    } else if (setUp == QLatin1String("held")) {
        QVERIFY(linkCom1(dir, peer.slave()));
        other.setPortName(dir.filePath(QStringLiteral("COM1")));
        QVERIFY(other.open(QIODevice::ReadWrite));
    }

    ModalCloser closer;
    MAIN64K w(dir.path(), nullptr);
    prepare(w);
    if (setUp == QLatin1String("none"))
        w.Text1->setText(QStringLiteral("200"));  // no COM200 here, no /dev/ttyS199 anywhere

    setCheckValue(w.Check4, 1);
    QCOMPARE(closer.count(), 1);
    QCOMPARE(closer.titles.last(), QStringLiteral("System Error"));
    QCOMPARE(closer.texts.last(), PortErrorText.arg(number));
    QVERIFY(!w.session()->portReady());
    QVERIFY(w.session()->reopenPending());
    QCOMPARE(checkValue(w.Check4), 0);
    QVERIFY(!w.session()->port().portOpen());
    if (setUp == QLatin1String("held"))
        QCOMPARE(descriptorsOn(peer.slave()), 1);  // the other program's
    QCOMPARE(peer.takeAll(50), QByteArray());

    // Each attempt tries again and tells again.
    setCheckValue(w.Check4, 1);
    QCOMPARE(closer.count(), 2);
    QCOMPARE(closer.texts.last(), PortErrorText.arg(number));

    if (setUp == QLatin1String("held")) {
        other.close();
        setCheckValue(w.Check4, 1);
        QCOMPARE(closer.count(), 2);
        QVERIFY(w.session()->portReady());
        QCOMPARE(peer.take(8), QByteArray::fromHex("0208107f00000367"));
    }
}

void TestPty::farEndGone()
{
    OnPty pty;
    QVERIFY(pty.start());
    std::unique_ptr<Peer>& peer = pty.peer;
    MAIN64K& w = *pty.window;
    ModalCloser& closer = pty.closer;
    const QString firstSlave = peer->slave();

    QCOMPARE(peer->take(8).size(), 8);
    peer->send(replyBytes({0x01, 0, 0, 0, 0, 0}));
    QTRY_VERIFY(w.session()->replyReceived());

    // The validator's end goes away while polls run.
    peer->hangUp();
    QTRY_COMPARE(closer.count(), 1);
    QCOMPARE(closer.titles.last(), QStringLiteral("System Error"));
    QVERIFY(isLineGoneText(closer.texts.last()));
    QVERIFY(!w.session()->port().portOpen());
    QCOMPARE(descriptorsOn(firstSlave), 0);
    QVERIFY(!w.session()->portReady());
    QVERIFY(w.session()->reopenPending());
    QCOMPARE(checkValue(w.Check4), 0);
    QVERIFY(!w.session()->pollTimer().isEnabled());
    // One box, not one per error report; no poll meanwhile; and a dead
    // line left alone costs no processor time.
    const std::clock_t before = std::clock();
    QTest::qWait(300);
    QVERIFY2(std::clock() - before < CLOCKS_PER_SEC / 10, "the dead port is still being serviced");
    w.PollTime_Timer();
    QCOMPARE(closer.count(), 1);

    // A new line linked as COM1: the next start sets the port up again.
    peer = std::make_unique<Peer>();
    QVERIFY(peer->isValid());
    QVERIFY(linkCom1(pty.dir, peer->slave()));
    setCheckValue(w.Check4, 1);
    QVERIFY(w.session()->portReady());
    QCOMPARE(peer->take(8).toHex(' '), QByteArray("02 08 10 7f 00 00 03 67"));
    peer->send(replyBytes({0x01, 0, 0, 0, 0, 0}));
    QTRY_VERIFY(w.session()->replyReceived());
    w.PollTime_Timer();
    QCOMPARE(peer->take(8).toHex(' '), QByteArray("02 08 11 7f 00 00 03 66"));
    QCOMPARE(closer.count(), 1);
}

void TestPty::pollBeforeFailureReport()
{
    // A poll that comes after the port closed itself but before the failure
    // was reported: one box, naming the failure, not the closed port.
    OnPty pty;
    QVERIFY(pty.start());
    Peer& peer = *pty.peer;
    MAIN64K& w = *pty.window;
    ModalCloser& closer = pty.closer;
    QCOMPARE(peer.take(8).size(), 8);

    peer.hangUp();
    QElapsedTimer clock;
    clock.start();
    // One pass of the event loop at a time: the report queued by the pass
    // that closes the port waits for the next one.
    while (w.session()->port().portOpen() && clock.elapsed() < 3000)
        QCoreApplication::processEvents();
    QVERIFY(!w.session()->port().portOpen());
    QCOMPARE(closer.count(), 0);  // the report is still on its way
    w.PollTime_Timer();
    QCOMPARE(closer.count(), 1);
    QVERIFY(isLineGoneText(closer.texts.last()));
    QTest::qWait(100);
    QCOMPARE(closer.count(), 1);
    QVERIFY(w.session()->reopenPending());
    QCOMPARE(descriptorsOn(peer.slave()), 0);
}

void TestPty::bytesWaitingBeforeOpen()
{
    // What the line carried before the port was opened answers no message
    // of this session: a reply left over from an earlier exchange must not
    // pass for the answer to the first poll.
    OnPty pty;
    Peer& peer = *pty.peer;
    QVERIFY(peer.isValid());
    // Raw already, as a line the tester had open before: no echo of what waits.
    const int slave = ::open(peer.slave().toLocal8Bit().constData(), O_RDWR | O_NOCTTY);
    QVERIFY(slave >= 0);
    termios raw{};
    QCOMPARE(tcgetattr(slave, &raw), 0);
    cfmakeraw(&raw);
    QCOMPARE(tcsetattr(slave, TCSANOW, &raw), 0);
    ::close(slave);
    peer.send(replyBytes({0x01, 0, 0, 0, 0, 0}));
    QVERIFY(pty.start());
    MAIN64K& w = *pty.window;
    QCOMPARE(peer.take(8).toHex(' '), QByteArray("02 08 10 7f 00 00 03 67"));
    QTest::qWait(100);
    QVERIFY(!w.session()->replyReceived());
    QCOMPARE(w.session()->port().inBufferCount(), 0);
    // Unanswered: the next frame repeats it.
    w.PollTime_Timer();
    QCOMPARE(peer.take(8).toHex(' '), QByteArray("02 08 10 7f 00 00 03 67"));
    QCOMPARE(w.Label20[0]->caption(), QStringLiteral("       NO RESPONSE!  TIMEOUT"));

    // The same after the port was closed and opened again while the
    // validator still answered.
    peer.send(replyBytes({0x01, 0, 0, 0, 0, 0}));
    QTRY_VERIFY(w.session()->replyReceived());
    setCheckValue(w.Check4, 0);
    w.Form_Unload();
    QVERIFY(!w.session()->port().portOpen());
    peer.send(replyBytes({0x01, 0, 0, 0, 0, 0}));
    prepare(w);
    setCheckValue(w.Check4, 1);
    QVERIFY(w.session()->port().portOpen());
    QCOMPARE(peer.take(8).toHex(' '), QByteArray("02 08 10 7f 00 00 03 67"));
    QTest::qWait(100);
    QVERIFY(!w.session()->replyReceived());
    QCOMPARE(pty.closer.count(), 0);
}

void TestPty::lineFlagsFound_data()
{
    QTest::addColumn<bool>("raw");  // as a serial program leaves it: raw, 9600, no modem control
    QTest::addColumn<uint>("iflag");
    QTest::addColumn<uint>("oflag");
    QTest::addColumn<uint>("lflag");
    // What a run that was killed leaves on the line: parity errors ignored.
    QTest::newRow("left by a killed run") << true << uint(IGNPAR) << 0u << 0u;
    // A terminal program's line: cooked, echoing, translating.
    QTest::newRow("a terminal's") << false << uint(IGNPAR | INPCK | ISTRIP | ICRNL | IXON | IUCLC)
                                  << uint(OPOST | ONLCR) << uint(ICANON | ECHO | ISIG | IEXTEN);
}

void TestPty::lineFlagsFound()
{
    // Whatever the previous owner left, the port opens and reads whole
    // replies; a normal close leaves the line as it was found.
    QFETCH(bool, raw);
    QFETCH(uint, iflag);
    QFETCH(uint, oflag);
    QFETCH(uint, lflag);
    OnPty pty;
    Peer& peer = *pty.peer;
    QVERIFY(peer.isValid());
    auto flagsOnLine = [&peer](termios* t) {
        const int fd = ::open(peer.slave().toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        const bool ok = fd >= 0 && tcgetattr(fd, t) == 0;
        if (fd >= 0)
            ::close(fd);
        return ok;
    };
    {
        const int fd = ::open(peer.slave().toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        QVERIFY(fd >= 0);
        termios t{};
        QCOMPARE(tcgetattr(fd, &t), 0);
        if (raw) {
            cfmakeraw(&t);
            cfsetspeed(&t, B9600);
            t.c_cflag |= CLOCAL;
            t.c_iflag |= iflag;
        } else {
            t.c_iflag = iflag;
            t.c_oflag = oflag;
            t.c_lflag = lflag;
        }
        QCOMPARE(tcsetattr(fd, TCSANOW, &t), 0);
        ::close(fd);
    }
    termios before{};
    QVERIFY(flagsOnLine(&before));
    QVERIFY((before.c_iflag & IGNPAR) != 0);

    QVERIFY(pty.start());
    MAIN64K& w = *pty.window;
    QCOMPARE(pty.closer.count(), 0);
    QVERIFY(w.session()->portReady());
    QCOMPARE(peer.take(8).toHex(' '), QByteArray("02 08 10 7f 00 00 03 67"));
    // CR and upper-case letters would be translated on a cooked line.
    const QByteArray reply = replyBytes({0x01, 0, 0x0D, 0x41, 0, 0});
    peer.send(reply);
    QTRY_VERIFY(w.session()->replyReceived());
    QCOMPARE(w.session()->lastReply().toByteArray(), reply);
    QCOMPARE(peer.takeAll(50), QByteArray());  // nothing echoed back

    w.Form_Unload();
    QVERIFY(!w.session()->port().portOpen());
    termios after{};
    QVERIFY(flagsOnLine(&after));
    QCOMPARE(uint(after.c_iflag), uint(before.c_iflag));
    QCOMPARE(uint(after.c_oflag), uint(before.c_oflag));
    QCOMPARE(uint(after.c_lflag), uint(before.c_lflag));
    QCOMPARE(uint(after.c_cflag), uint(before.c_cflag));
    QCOMPARE(descriptorsOn(peer.slave()), 0);
}

QTEST_MAIN(TestPty)
#include "test_pty.moc"
