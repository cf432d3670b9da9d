// The pollbench-sim program against hostile input: overlong and endless
// command lines, a --link path that is not its own, script times beyond a
// day, and the signals that end a run.
#include "simprocess.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

namespace {

constexpr int Long = SimProcess::Long;

struct Run {
    int exitCode = -1;
    QString out;
    QString err;
};

// The program with these arguments and no input, to its end.
Run runToEnd(const QStringList& args)
{
    QProcess p;
    p.start(QStringLiteral(SIM_PATH), args);
    p.closeWriteChannel();
    Run r;
    if (!p.waitForFinished(Long)) {
        p.kill();
        p.waitForFinished();
        return r;
    }
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = QString::fromLocal8Bit(p.readAllStandardOutput());
    r.err = QString::fromLocal8Bit(p.readAllStandardError());
    return r;
}

// What is at a path, without following a link: "link -> target", "file",
// "dir", "none" or "other".
QString whatIsAt(const QString& path)
{
    struct stat st {};
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0)
        return QStringLiteral("none");
    if (S_ISLNK(st.st_mode)) {
        char target[4096];
        const ssize_t n = ::readlink(QFile::encodeName(path).constData(), target, sizeof target);
        return QStringLiteral("link -> ") + QString::fromLocal8Bit(target, n < 0 ? 0 : n);
    }
    if (S_ISREG(st.st_mode)) {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? QStringLiteral("file ") + QString::fromLatin1(f.readAll())
                                           : QStringLiteral("file");
    }
    return S_ISDIR(st.st_mode) ? QStringLiteral("dir") : QStringLiteral("other");
}

#ifdef Q_OS_LINUX
// A field of /proc/PID/status in kB ("VmHWM": peak resident memory).
qint64 statusKb(qint64 pid, const char* field)
{
    QFile f(QStringLiteral("/proc/%1/status").arg(pid));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : f.readAll().split('\n'))
        if (line.startsWith(QByteArray(field) + ':'))
            return line.mid(qsizetype(std::strlen(field)) + 1).trimmed().split(' ').value(0).toLongLong();
    return -1;
}

// User and system processor time of a process, in ms.
qint64 cpuMs(qint64 pid)
{
    QFile f(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray all = f.readAll();
    const QList<QByteArray> fields = all.mid(all.lastIndexOf(')') + 2).split(' ');
    return (fields.value(11).toLongLong() + fields.value(12).toLongLong()) * 1000 / ::sysconf(_SC_CLK_TCK);
}
#endif

}  // namespace

class TestSimProgram : public QObject {
    Q_OBJECT
private slots:
    void longLines_data();
    void longLines();
    void endlessLineStaysBounded();
    void linkRefused_data();
    void linkRefused();
    void staleLinkReplaced();
    void signalRemovesTheLink_data();
    void signalRemovesTheLink();
    void scriptTimeRefused();
    void usage_data();
    void usage();
    void endsCleanlyWithNoise_data();
    void endsCleanlyWithNoise();
};

void TestSimProgram::longLines_data()
{
    QTest::addColumn<int>("length");  // of the line, without its newline
    QTest::addColumn<int>("pieces");  // writes it is sent in
    QTest::addColumn<bool>("taken");

    QTest::newRow("at the limit") << 4096 << 1 << true;
    QTest::newRow("at the limit, byte by byte") << 4096 << 4096 << true;
    QTest::newRow("one byte over") << 4097 << 1 << false;
    QTest::newRow("over, in pieces") << 5000 << 7 << false;
    QTest::newRow("a megabyte") << (1 << 20) << 3 << false;
}

void TestSimProgram::longLines()
{
    QFETCH(int, length);
    QFETCH(int, pieces);
    QFETCH(bool, taken);

    QTemporaryDir dir;
    SimProcess sim;
    sim.keepErrors = true;
    QVERIFY(sim.start(dir.filePath(QStringLiteral("COM1"))));
    sim.send(QStringLiteral("# line 1"));
    const QByteArray line = "stats" + QByteArray(length - 5, ' ');
    const int step = (length + pieces - 1) / pieces;
    for (int at = 0; at < length; at += step) {
        sim.process.write(line.mid(at, step));
        QVERIFY(sim.process.waitForBytesWritten(Long));
    }
    sim.process.write("\n");
    sim.send(QStringLiteral("status"));  // the lines after it are read as before
    QTRY_VERIFY_WITH_TIMEOUT(sim.said.contains(QStringLiteral("stage idle")), Long);
    QCOMPARE(sim.linesStartingWith(QStringLiteral("stats ")), taken ? 1 : 0);
    QCOMPARE(sim.complained,
             taken ? QString()
                   : QStringLiteral("pollbench-sim: line 2 of standard input is longer than 4096 bytes; skipped\n"));
    QVERIFY(sim.finish());
}

// `cat /dev/zero | pollbench-sim`: half a gigabyte without a newline is
// dropped as it comes, told once, and the next line is still a command.
void TestSimProgram::endlessLineStaysBounded()
{
#ifndef Q_OS_LINUX
    QSKIP("reads the peak memory from /proc");
#else
    constexpr qint64 FloodBytes = qint64(512) << 20;
    // A pipe of our own as its input: QProcess would hold what we write.
    int fds[2];
    QCOMPARE(::pipe2(fds, O_CLOEXEC), 0);
    QTemporaryDir dir;
    SimProcess sim;
    sim.keepErrors = true;
    sim.process.setChildProcessModifier([in = fds[0]] { ::dup2(in, STDIN_FILENO); });
    QVERIFY(sim.start(dir.filePath(QStringLiteral("COM1"))));
    ::close(fds[0]);
    std::signal(SIGPIPE, SIG_IGN);  // a simulator gone fails the write, not the test program
    ::fcntl(fds[1], F_SETFL, O_NONBLOCK);
    QElapsedTimer clock;
    clock.start();
    qint64 sent = 0;
    // All of bytes unless the simulator stops taking them.
    const auto feed = [&](const char* bytes, qint64 size) {
        for (qint64 done = 0; done < size;) {
            const ssize_t n = ::write(fds[1], bytes + done, std::size_t(size - done));
            if (n > 0) {
                done += n;
                sent += n;
                continue;
            }
            if ((n < 0 && errno != EAGAIN) || clock.elapsed() > 4 * Long)
                return false;
            pollfd p{fds[1], POLLOUT, 0};
            ::poll(&p, 1, 100);
        }
        return true;
    };
    const std::vector<char> zeros(1 << 16, '\0');
    while (sent < FloodBytes)
        QVERIFY2(feed(zeros.data(), qint64(zeros.size())), qPrintable(QStringLiteral("only %1 MiB taken").arg(sent >> 20)));
    QVERIFY(feed("\nstats\n", 7));
    QTRY_VERIFY_WITH_TIMEOUT(sim.said.contains(QStringLiteral("stats stacked")), Long);
    const qint64 pid = sim.process.processId();
    const qint64 peakKb = statusKb(pid, "VmHWM");
    qInfo("after %lld MiB without a newline: peak resident memory %lld KiB, %lld ms of processor time",
          FloodBytes >> 20, peakKb, cpuMs(pid));
    QVERIFY(peakKb > 0);
    QVERIFY2(peakKb < (FloodBytes >> 10) / 4, qPrintable(QStringLiteral("%1 KiB").arg(peakKb)));
    QCOMPARE(sim.complained,
             QStringLiteral("pollbench-sim: line 1 of standard input is longer than 4096 bytes; skipped\n"));
    ::close(fds[1]);  // end of input ends the run
    QVERIFY(sim.process.waitForFinished(Long));
    QCOMPARE(sim.process.exitCode(), 0);
#endif
}

void TestSimProgram::linkRefused_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("why");

    const QString notALink = QStringLiteral("exists and is not a link");
    const QString notOurs = QStringLiteral("not one this simulator left");
    QTest::newRow("a file") << "file" << notALink;
    QTest::newRow("a directory") << "dir" << notALink;
    QTest::newRow("an operator's link to an adapter") << "adapter" << notOurs;
    QTest::newRow("a link to a device") << "device" << notOurs;
    QTest::newRow("a link loop") << "loop" << notOurs;
    QTest::newRow("a link to a pts-like name elsewhere") << "lookalike" << notOurs;
    QTest::newRow("a link to a pseudo-terminal in use") << "pty" << "a pseudo-terminal in use";
}

void TestSimProgram::linkRefused()
{
    QFETCH(QString, kind);
    QFETCH(QString, why);

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("COM1"));
    int master = -1;
    if (kind == QLatin1StringView("file")) {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("notes");
    } else if (kind == QLatin1StringView("dir")) {
        QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("COM1")));
    } else if (kind == QLatin1StringView("adapter")) {
        QVERIFY(QFile::link(QStringLiteral("/dev/ttyUSB0"), path));
    } else if (kind == QLatin1StringView("device")) {
        QVERIFY(QFile::link(QStringLiteral("/dev/null"), path));
    } else if (kind == QLatin1StringView("loop")) {
        QVERIFY(QFile::link(path, path));
    } else if (kind == QLatin1StringView("lookalike")) {
        QVERIFY(QFile::link(dir.filePath(QStringLiteral("dev/pts/7")), path));
    } else {
        master = ::posix_openpt(O_RDWR | O_NOCTTY);
        QVERIFY(master >= 0 && ::grantpt(master) == 0 && ::unlockpt(master) == 0);
        QVERIFY(QFile::link(QString::fromLocal8Bit(::ptsname(master)), path));
    }
    const QString before = whatIsAt(path);

    const Run r = runToEnd({QStringLiteral("--link"), path});
    if (master >= 0)
        ::close(master);
    QCOMPARE(r.exitCode, 2);
    QVERIFY2(r.err.startsWith(QStringLiteral("pollbench-sim: ") + path) && r.err.contains(why)
                 && r.err.contains(QStringLiteral("not replacing it")),
             qPrintable(r.err));
    QVERIFY(!r.out.contains(QStringLiteral("ready")));
    QCOMPARE(whatIsAt(path), before);
}

// A run killed outright leaves its link behind, pointing at a pseudo-terminal
// that went with it; the next run takes the name over and removes it at the end.
void TestSimProgram::staleLinkReplaced()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("COM1"));
    {
        SimProcess killed;
        QVERIFY(killed.start(path));
        ::kill(pid_t(killed.process.processId()), SIGKILL);
        QVERIFY(killed.process.waitForFinished(Long));
    }
    QVERIFY(QFileInfo(path).isSymLink());
    QVERIFY(!QFileInfo(path).exists());  // dangling

    SimProcess next;
    next.keepErrors = true;
    QVERIFY2(next.start(path), qPrintable(next.complained));
    QVERIFY(QFileInfo(path).exists());
    QVERIFY(next.finish());
    QCOMPARE(whatIsAt(path), QStringLiteral("none"));
}

void TestSimProgram::signalRemovesTheLink_data()
{
    QTest::addColumn<int>("signal");
    QTest::newRow("SIGINT") << int(SIGINT);
    QTest::newRow("SIGTERM") << int(SIGTERM);
    QTest::newRow("SIGHUP") << int(SIGHUP);
    QTest::newRow("SIGQUIT") << int(SIGQUIT);
}

void TestSimProgram::signalRemovesTheLink()
{
    QFETCH(int, signal);

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("COM1"));
    SimProcess sim;
    QVERIFY(sim.start(path));
    QVERIFY(QFileInfo(path).exists());
    ::kill(pid_t(sim.process.processId()), signal);
    QVERIFY(sim.process.waitForFinished(Long));
    QCOMPARE(sim.process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(sim.process.exitCode(), 0);
    QTRY_VERIFY(sim.said.contains(QStringLiteral("stats stacked 0")));
    QCOMPARE(whatIsAt(path), QStringLiteral("none"));
}

// The script is refused before the line is made, naming the line at fault.
void TestSimProgram::scriptTimeRefused()
{
    QTemporaryDir dir;
    const QString script = dir.filePath(QStringLiteral("run.txt"));
    QFile f(script);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("100 insert 3\n+9223372036854775807 jam\n+1 clear\n");
    f.close();
    const QString path = dir.filePath(QStringLiteral("COM1"));
    const Run r = runToEnd({QStringLiteral("--link"), path, QStringLiteral("--script"), script});
    QCOMPARE(r.exitCode, 2);
    QCOMPARE(r.err, QStringLiteral("pollbench-sim: %1: line 2: a time more than 24 hours (86400000 ms) after the start\n")
                        .arg(script));
    QCOMPARE(whatIsAt(path), QStringLiteral("none"));
}

void TestSimProgram::usage_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("out");
    QTest::addColumn<QString>("err");
    const QString tryHelp = QStringLiteral("Try 'pollbench-sim --help'\n");
    QTest::newRow("version") << QStringList{"--version"} << 0 << "pollbench-sim 3.0.0\n" << "";
    QTest::newRow("unknown option") << QStringList{"--link", "x", "--bogus"} << 2 << ""
                                    << "pollbench-sim: Unknown option 'bogus'.\n" + tryHelp;
    QTest::newRow("missing value") << QStringList{"--link"} << 2 << ""
                                   << "pollbench-sim: Missing value after '--link'.\n" + tryHelp;
    QTest::newRow("argument") << QStringList{"--link", "x", "COM1"} << 2 << ""
                              << "pollbench-sim: Unexpected argument 'COM1'.\n" + tryHelp;
    QTest::newRow("bad value") << QStringList{"--link", "x", "--noise", "lots"} << 2 << ""
                               << "pollbench-sim: --noise takes 0 to 10000000 bytes a second\n";
}

// Usage errors are status 2 and one line, as the tester's; no line is made.
void TestSimProgram::usage()
{
    QFETCH(QStringList, args);
    QFETCH(int, status);
    QFETCH(QString, out);
    QFETCH(QString, err);
    QTemporaryDir dir;
    args.replaceInStrings(QStringLiteral("x"), dir.filePath(QStringLiteral("COM1")));
    const Run r = runToEnd(args);
    QCOMPARE(r.exitCode, status);
    QCOMPARE(r.out, out);
    QCOMPARE(r.err, err);
    QCOMPARE(whatIsAt(dir.filePath(QStringLiteral("COM1"))), QStringLiteral("none"));
}

void TestSimProgram::endsCleanlyWithNoise_data()
{
    QTest::addColumn<QString>("end");
    QTest::newRow("quit") << QStringLiteral("quit");
    QTest::newRow("end of input") << QStringLiteral("eof");
    QTest::newRow("SIGTERM") << QStringLiteral("SIGTERM");
}

// The noise goes on up to the end of the run, which must not outlive the line.
void TestSimProgram::endsCleanlyWithNoise()
{
    QFETCH(QString, end);
    // The last tick and the end race: a few runs give the race its chances.
    for (int run = 0; run < 4; ++run) {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("COM1"));
        SimProcess sim;
        QVERIFY(sim.start(path, {QStringLiteral("--noise"), QStringLiteral("5000")}));
        // A tester's end, open and read, so that the noise keeps flowing.
        const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        QVERIFY(fd >= 0);
        qint64 heard = 0;
        auto drain = [&] {
            char buf[4096];
            for (ssize_t n; (n = ::read(fd, buf, sizeof buf)) > 0;)
                heard += n;
        };
        QVERIFY(QTest::qWaitFor([&] { drain(); return heard > 100; }, Long));
        if (end == QLatin1String("quit"))
            sim.send(QStringLiteral("quit"));
        else if (end == QLatin1String("eof"))
            sim.process.closeWriteChannel();
        else
            ::kill(pid_t(sim.process.processId()), SIGTERM);
        QVERIFY(QTest::qWaitFor([&] { drain(); return sim.process.state() == QProcess::NotRunning; }, Long));
        ::close(fd);
        QCOMPARE(sim.process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(sim.process.exitCode(), 0);
        QCOMPARE(whatIsAt(path), QStringLiteral("none"));
    }
}

QTEST_GUILESS_MAIN(TestSimProgram)
#include "test_simprogram.moc"
