// The files an unattended run writes (the record, its summary, the report),
// through the real program against the real pollbench-sim: what it refuses
// before polling, a disk that fills (a file-size limit set in the child),
// two runs on one record, and the signals that end a run.
#include "csvread.h"
#include "filebytes.h"
#include "outcome.h"
#include "simprocess.h"
#include "specialfiles.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#ifndef PROGRAM_PATH
#error "PROGRAM_PATH names the pollbench program"
#endif

namespace {

constexpr int Long = SimProcess::Long;

// The program with a file-size limit of its own (0: none) and SIGXFSZ as a
// process gets it by default, which ends it unless the program ignores it.
void startProgram(QProcess& p, const QStringList& args, rlim_t limit = 0)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("DISPLAY"));
    env.insert(QStringLiteral("TZ"), QStringLiteral("XST-2"));  // an offset that is not "Z"
    p.setProcessEnvironment(env);
    p.setChildProcessModifier([limit] {
        std::signal(SIGXFSZ, SIG_DFL);
        if (limit) {
            rlimit r{};
            getrlimit(RLIMIT_FSIZE, &r);
            r.rlim_cur = limit;
            setrlimit(RLIMIT_FSIZE, &r);
        }
    });
    p.start(QStringLiteral(PROGRAM_PATH), args);
}

Outcome run(const QStringList& args, rlim_t limit = 0)
{
    QProcess p;
    startProgram(p, args, limit);
    if (!p.waitForStarted(Long))
        return {};
    p.closeWriteChannel();
    return finished(p);
}

QString summaryOf(const QString& record)
{
    return record + QStringLiteral(".summary.json");
}

QJsonObject readJson(const QString& path)
{
    return QJsonDocument::fromJson(readAll(path)).object();
}

QStringList namesIn(const QString& dir)
{
    QStringList names = QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    names.sort();
    return names;
}

// Every row whole: ten fields, the last line ended.
QString csvProblem(const QString& path)
{
    const QByteArray bytes = readAll(path);
    if (!bytes.endsWith("\r\n"))
        return QStringLiteral("the last line is not ended");
    if (bytes.contains('\0'))
        return QStringLiteral("NUL bytes");
    const auto rows = readCsv(path);
    for (std::size_t i = 0; i < rows.size(); ++i)
        if (rows[i].size() != 10)
            return QStringLiteral("row %1 has %2 fields: %3").arg(i + 1).arg(rows[i].size()).arg(rows[i].join(u','));
    return {};
}

// A folder of its own with the simulator on its "validator" line.
struct OnSim {
    QTemporaryDir dir;
    SimProcess sim;
    const QString device = dir.filePath(QStringLiteral("validator"));

    bool start() { return sim.start(device); }
    QString file(const char* name) const { return dir.filePath(QString::fromLatin1(name)); }
    // An unattended run on it at 30 polls a second.
    QStringList headless(const QStringList& more) const
    {
        return QStringList{"--headless", "--device", device, "--rate", "30"} + more;
    }
};

const QRegularExpression IsoWithOffset(QStringLiteral(R"(^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}\+02:00$)"));

}  // namespace

class TestOutputs : public QObject {
    Q_OBJECT
private slots:
    void refusedBeforePolling_data();
    void refusedBeforePolling();
    void fullDiskKeepsTheReport();
    void recordStopsOnAFullDisk();
    void appendedRecord();
    void oneRunPerRecord();
    void signalsEndTheRun_data();
    void signalsEndTheRun();
    void readerOfStandardErrorQuits();
};

void TestOutputs::refusedBeforePolling_data()
{
    QTest::addColumn<QString>("make");   // what stands at "x" in the folder
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("said");
    const QStringList run{"--headless", "--device", "@/validator", "--duration", "5"};
    QTest::newRow("record on a FIFO") << "fifo" << run + QStringList{"--record", "@/x"} << "is not a regular file";
    QTest::newRow("report on a FIFO") << "fifo" << run + QStringList{"--report", "@/x"} << "is not a regular file";
    QTest::newRow("record on a device") << "device" << run + QStringList{"--record", "@/x"} << "is not a regular file";
    QTest::newRow("report on a device") << "device" << run + QStringList{"--report", "@/x"} << "is not a regular file";
    QTest::newRow("report on a link to a device")
        << "link to device" << run + QStringList{"--report", "@/x"} << "which is not a regular file";
    QTest::newRow("record on a link that loops") << "loop" << run + QStringList{"--record", "@/x"} << "loops";
    QTest::newRow("report on a link that loops") << "loop" << run + QStringList{"--report", "@/x"} << "loops";
    QTest::newRow("record and report on one file")
        << "file" << run + QStringList{"--record", "@/x", "--report", "@/x"} << "name one file";
    QTest::newRow("report through a link to the record")
        << "link to file" << run + QStringList{"--record", "@/target", "--report", "@/x"} << "name one file";
    QTest::newRow("report on the record's summary")
        << "file" << run + QStringList{"--record", "@/r.csv", "--report", "@/r.csv.summary.json"}
        << "where the record's summary goes";
    QTest::newRow("record on the serial line")
        << "file" << QStringList{"--headless", "--device", "@/x", "--record", "@/x"} << "serial line of this run";
}

// Refused with status 2 and one line, before the port is opened; whatever
// stood at the path is as it was, and nothing is added beside it.
void TestOutputs::refusedBeforePolling()
{
    QFETCH(QString, make);
    QFETCH(QStringList, args);
    QFETCH(QString, said);
    QTemporaryDir dir;
    const QString x = dir.filePath(QStringLiteral("x"));
    const QByteArray path = QFile::encodeName(x);
    if (make == "fifo") {
        QCOMPARE(::mkfifo(path.constData(), 0600), 0);
    } else if (make.endsWith("device")) {
        if (!isRoot())
            QSKIP("making a device node needs root");
        // The null device's numbers, in the temporary folder: nothing under /dev is at risk.
        const QByteArray node = make == "device" ? path : QFile::encodeName(dir.filePath("null"));
        QCOMPARE(::mknod(node.constData(), S_IFCHR | 0600, makedev(1, 3)), 0);
        if (make != "device")
            QVERIFY(QFile::link(dir.filePath("null"), x));
    } else if (make == "loop") {
        QVERIFY(QFile::link(QStringLiteral("x"), x));
    } else if (make == "file") {
        QVERIFY(writeFile(x, "an operator's file\n"));
    } else if (make == "link to file") {
        QVERIFY(writeFile(dir.filePath("target"), "time,ms\r\n"));
        QVERIFY(QFile::link(dir.filePath("target"), x));
    }
    for (QString& a : args)
        a.replace(QLatin1String("@"), dir.path());
    const QString before = describePath(x);
    const QStringList namesBefore = namesIn(dir.path());

    const Outcome o = run(args);
    QCOMPARE(o.status, 2);
    QVERIFY2(o.err.startsWith("pollbench: ") && o.err.count(u'\n') == 1 && o.err.contains(said), qPrintable(o.err));
    QCOMPARE(describePath(x), before);
    QCOMPARE(namesIn(dir.path()), namesBefore);
    if (make == "file")
        QCOMPARE(readAll(x), QByteArray("an operator's file\n"));
}

// The report cannot be written at the end: the old one stays, whole, no
// copy is left, and the run says so with status 4.
void TestOutputs::fullDiskKeepsTheReport()
{
    OnSim s;
    QVERIFY(s.start());
    const QString report = s.file("report.json");
    const QStringList args = s.headless({"--duration", "1", "--report", report});
    QCOMPARE(run(args).status, 0);
    const QByteArray good = readAll(report);
    QVERIFY(good.size() > 1000);

    const Outcome o = run(args, 600);
    QCOMPARE(o.status, 4);
    QVERIFY2(o.err.contains("the report was not written: ") && o.err.contains("File too large"), qPrintable(o.err));
    QCOMPARE(readAll(report), good);
    QCOMPARE(namesIn(s.dir.path()), QStringList({"report.json", "validator"}));
    QVERIFY(s.sim.finish());
}

// A record that hits the limit stops with whole rows, says why on standard
// error, in its last row, its summary and the report, and the run exits 4.
// SIGXFSZ does not end the program.
void TestOutputs::recordStopsOnAFullDisk()
{
    OnSim s;
    QVERIFY(s.start());
    const QString record = s.file("night.csv");
    const QString report = s.file("night.json");
    const Outcome o = run(s.headless({"--duration", "2", "--record", record, "--report", report}), 4000);
    QCOMPARE(o.status, 4);
    QVERIFY2(o.err.contains("The record " + record + " could not be written and has stopped: File too large"),
             qPrintable(o.err));
    QVERIFY2(csvProblem(record).isEmpty(), qPrintable(csvProblem(record)));
    QVERIFY(QFileInfo(record).size() <= 4000);
    const auto rows = readCsv(record);
    if (rows.back()[9].startsWith("record stopped"))
        QCOMPARE(rows.back()[9], QStringLiteral("record stopped: File too large"));
    const QJsonObject run = readJson(report).value("run").toObject();
    QCOMPARE(run.value("exit_status").toInt(), 4);
    QVERIFY(run.value("record_error").toString().endsWith("File too large"));
    QCOMPARE(readJson(summaryOf(record)).value("record_error").toString(), QStringLiteral("File too large"));
    QVERIFY(s.sim.finish());
}

// Appending to a record cut in the middle of a row: the cut row is ended,
// the new rows start on lines of their own, the summary says it was
// appended to and counts this run alone.
void TestOutputs::appendedRecord()
{
    OnSim s;
    QVERIFY(s.start());
    const QString record = s.file("night.csv");
    const QStringList args = s.headless({"--duration", "1", "--record", record});
    QCOMPARE(run(args).status, 0);
    QByteArray earlier = readAll(record);
    earlier.chop(20);  // a run killed in the middle of a row
    QVERIFY(writeFile(record, earlier));

    QCOMPARE(run(args).status, 0);
    QVERIFY(readAll(record).startsWith(earlier + "\r\n"));
    const auto rows = readCsv(record);
    int thisRun = -1;
    for (int i = 0; i < int(rows.size()); ++i)
        if (rows[std::size_t(i)].value(9) == QLatin1String("record started"))
            thisRun = i;
    QVERIFY(thisRun > 1);
    for (int i = thisRun; i < int(rows.size()); ++i)
        QCOMPARE(rows[std::size_t(i)].size(), qsizetype(10));
    qint64 hostRows = 0;
    for (int i = thisRun; i < int(rows.size()); ++i)
        hostRows += rows[std::size_t(i)][2] == QLatin1String("host");
    const QJsonObject summary = readJson(summaryOf(record));
    QCOMPARE(summary.value("appended").toBool(), true);
    QCOMPARE(summary.value("counts_from").toString(), rows[std::size_t(thisRun)][0]);
    QCOMPARE(summary.value("polls").toObject().value("sent").toInteger(), hostRows);
    for (const char* key : {"started", "ended", "counts_from"})
        QVERIFY2(IsoWithOffset.match(summary.value(key).toString()).hasMatch(), key);
    QVERIFY(s.sim.finish());
}

// A second run on a record that a run is writing is refused; once that run
// ends, or is killed, the record takes the next one.
void TestOutputs::oneRunPerRecord()
{
    OnSim s;
    QVERIFY(s.start());
    const QString record = s.file("night.csv");
    const QStringList args = s.headless({"--record", record});

    QProcess first;
    startProgram(first, args);
    QVERIFY(first.waitForStarted(Long));
    QTRY_VERIFY_WITH_TIMEOUT(readAll(record).count(",host,") >= 5, Long);
    const Outcome second = run(args + QStringList{"--duration", "1"});
    QCOMPARE(second.status, 2);
    QVERIFY2(second.err.contains("another run records to it (process " + QString::number(first.processId())),
             qPrintable(second.err));
    first.terminate();
    QCOMPARE(finished(first, Long).status, 0);
    QVERIFY2(csvProblem(record).isEmpty(), qPrintable(csvProblem(record)));
    QCOMPARE(readAll(record).count("record started"), 1);

    // Killed while it holds the record: its lock is taken over.
    QProcess killed;
    startProgram(killed, args);
    QVERIFY(killed.waitForStarted(Long));
    QTRY_VERIFY_WITH_TIMEOUT(readAll(record).count("record started") == 2, Long);
    killed.kill();
    QVERIFY(killed.waitForFinished(Long));
    QCOMPARE(run(args + QStringList{"--duration", "1"}).status, 0);
    QCOMPARE(readAll(record).count("record started"), 3);
    QCOMPARE(namesIn(s.dir.path()), QStringList({"night.csv", "night.csv.summary.json", "validator"}));
    QVERIFY(s.sim.finish());
}

void TestOutputs::signalsEndTheRun_data()
{
    QTest::addColumn<int>("number");
    QTest::addColumn<QString>("name");
    QTest::newRow("SIGHUP") << SIGHUP << "SIGHUP";
    QTest::newRow("SIGQUIT") << SIGQUIT << "SIGQUIT";
    QTest::newRow("SIGTERM") << SIGTERM << "SIGTERM";
}

// Each ends the run as SIGTERM does: the record's last row, its summary and
// the report, with the signal named.
void TestOutputs::signalsEndTheRun()
{
    QFETCH(int, number);
    QFETCH(QString, name);
    OnSim s;
    QVERIFY(s.start());
    const QString record = s.file("night.csv");
    const QString report = s.file("night.json");
    QProcess p;
    startProgram(p, s.headless({"--record", record, "--report", report}));
    QVERIFY(p.waitForStarted(Long));
    QTRY_VERIFY_WITH_TIMEOUT(readAll(record).count(",host,") >= 5, Long);
    ::kill(pid_t(p.processId()), number);
    const Outcome o = finished(p, Long);
    QVERIFY2(o.status == 0, qPrintable(QStringLiteral("status %1\n%2").arg(o.status).arg(o.err)));
    const QJsonObject json = readJson(report);
    const QJsonObject run = json.value("run").toObject();
    QCOMPARE(run.value("ended_by").toString(), name);
    QVERIFY2(IsoWithOffset.match(run.value("ended").toString()).hasMatch(), qPrintable(run.value("ended").toString()));
    QVERIFY(IsoWithOffset.match(json.value("started").toString()).hasMatch());
    QCOMPARE(readCsv(record).back()[9], QStringLiteral("record stopped"));
    QVERIFY(QFileInfo::exists(summaryOf(record)));
    QVERIFY(s.sim.finish());
}

// Standard error is a pipe whose reader has gone: the progress line fails
// to be written, and the run goes on to its end and its report.
void TestOutputs::readerOfStandardErrorQuits()
{
    OnSim s;
    QVERIFY(s.start());
    const QString report = s.file("night.json");
    QProcess p;
    // Past the first progress line, which goes out after ten seconds.
    startProgram(p, {"--headless", "--device", s.device, "--duration", "11", "--report", report});
    QVERIFY(p.waitForStarted(Long));
    p.closeReadChannel(QProcess::StandardError);
    QVERIFY(p.waitForFinished(4 * Long));
    QCOMPARE(p.exitStatus(), QProcess::NormalExit);
    QCOMPARE(p.exitCode(), 0);
    QCOMPARE(readJson(report).value("run").toObject().value("ended_by").toString(), QStringLiteral("duration reached"));
    QVERIFY(s.sim.finish());
}

QTEST_GUILESS_MAIN(TestOutputs)
#include "test_outputs.moc"
