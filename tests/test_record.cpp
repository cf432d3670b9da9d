// The session record on its own: the CSV it writes from a session on a fake
// port, appending, and what happens when the file fails.
#include "csvread.h"
#include "fakeport.h"
#include "link/pollsession.h"
#include "run/record.h"
#include "run/runstats.h"
#include "replies.h"

#include <QDateTime>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

#ifdef Q_OS_LINUX
#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#endif

#if defined(QT_GUI_LIB) || defined(QT_WIDGETS_LIB)
#error "the record must not need a window"
#endif

namespace {

const QByteArray Idle = replyBytes({0x01, 0, 0, 0, 0, 0});
const QByteArray Noise(11, '\x06');

struct Rig {
    FakePort* port = nullptr;
    std::unique_ptr<PollSession> s;
    std::unique_ptr<RunStatistics> stats;
    std::unique_ptr<SessionRecord> record;

    Rig()
    {
        auto p = std::make_unique<FakePort>();
        port = p.get();
        s = std::make_unique<PollSession>(std::move(p));
        s->setPortNumber(1);
        s->setPollPeriod(100000);  // polls are driven by hand
        for (int c = 1; c <= 7; ++c)
            s->setChannelEnabled(c, true);
        stats = std::make_unique<RunStatistics>(*s);
        record = std::make_unique<SessionRecord>(*s);
    }
    void tick() { s->PollTime_Timer(); }
};

QStringList column(const std::vector<QStringList>& rows, int c)
{
    QStringList out;
    for (const QStringList& r : rows)
        out << r.value(c);
    return out;
}

}  // namespace

class TestRecord : public QObject {
    Q_OBJECT
private slots:
    void csvField_data();
    void csvField();
    void requestText_data();
    void requestText();
    void localStamp_data();
    void localStamp();
    void rowsOfASession();
    void summaryBesideTheRecord();
    void summaryCountsFromTheRecordsStart();
    void onlyWholeFramesCounted_data();
    void onlyWholeFramesCounted();
    void appendWithoutSecondHeader();
    void appendAfterACutOffRow();
    void overwriteTruncates();
    void cannotBeOpened_data();
    void cannotBeOpened();
    void writeFailsMidRecord();
};

void TestRecord::csvField_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("field");
    QTest::newRow("plain") << "polling stopped" << "polling stopped";
    QTest::newRow("empty") << "" << "";
    QTest::newRow("comma") << "a,b" << "\"a,b\"";
    QTest::newRow("quote") << "say \"hi\"" << "\"say \"\"hi\"\"\"";
    QTest::newRow("newline") << "one\ntwo" << "\"one\ntwo\"";
    QTest::newRow("carriage return") << "one\rtwo" << "\"one\rtwo\"";
    QTest::newRow("blanks kept") << "  x  " << "  x  ";
}

// Every field comes back as it went in through a reader that follows RFC 4180.
void TestRecord::csvField()
{
    QFETCH(QString, text);
    QFETCH(QString, field);
    QCOMPARE(SessionRecord::csvField(text), field);
    const QString line = QStringLiteral("x,") + SessionRecord::csvField(text) + QStringLiteral(",y\r\n");
    const auto rows = parseCsv(line);
    QCOMPARE(rows.size(), std::size_t(1));
    QCOMPARE(rows[0], (QStringList{QStringLiteral("x"), text, QStringLiteral("y")}));
}

void TestRecord::requestText_data()
{
    QTest::addColumn<bool>("ack");
    QTest::addColumn<bool>("stack");
    QTest::addColumn<bool>("returnNote");
    QTest::addColumn<QString>("text");
    QTest::newRow("poll 0") << false << false << false << "poll ack=0";
    QTest::newRow("poll 1") << true << false << false << "poll ack=1";
    QTest::newRow("stack") << true << true << false << "stack ack=1";
    QTest::newRow("return") << false << false << true << "return ack=0";
}

void TestRecord::requestText()
{
    QFETCH(bool, ack);
    QFETCH(bool, stack);
    QFETCH(bool, returnNote);
    QFETCH(QString, text);
    frames::HostRequest r;
    r.ack = ack;
    r.escrow = true;
    r.stack = stack;
    r.returnNote = returnNote;
    QCOMPARE(SessionRecord::requestText(frames::buildHostMessage(r)), text);
}

void TestRecord::localStamp_data()
{
    QTest::addColumn<QByteArray>("zone");
    QTest::addColumn<QDateTime>("from");  // UTC
    QTest::addColumn<QList<qint64>>("steps");  // milliseconds from `from`, rising

    const auto utc = [](int y, int mo, int d, int h, int mi, int s = 0, int ms = 0) {
        return QDateTime(QDate(y, mo, d), QTime(h, mi, s, ms), Qt::UTC);
    };
    QTest::newRow("UTC") << QByteArray("UTC") << utc(2026, 12, 7, 23, 59, 59, 990) << QList<qint64>{0, 9, 10, 70'000};
    // Summer time begins at 01:00 UTC: the offset changes between two rows a millisecond apart.
    QTest::newRow("Berlin, clocks forward") << QByteArray("Europe/Berlin") << utc(2026, 3, 29, 0, 59, 59, 998)
                                            << QList<qint64>{0, 1, 2, 3, 60'002, 3'600'002};
    QTest::newRow("Berlin, clocks back") << QByteArray("Europe/Berlin") << utc(2026, 10, 25, 0, 59, 0)
                                         << QList<qint64>{0, 59'999, 60'000, 3'600'000};
    // Half-hour offsets, and a half-hour change of them.
    QTest::newRow("Kolkata") << QByteArray("Asia/Kolkata") << utc(2026, 6, 1, 12, 0) << QList<qint64>{0, 1, 86'400'000};
    QTest::newRow("Lord Howe, half an hour back") << QByteArray("Australia/Lord_Howe") << utc(2026, 4, 4, 14, 59, 59)
                                                  << QList<qint64>{0, 999, 1'000, 1'800'000};
    QTest::newRow("west of Greenwich") << QByteArray("America/St_Johns") << utc(2026, 11, 1, 4, 29, 59, 999)
                                       << QList<qint64>{0, 1, 2};
}

void TestRecord::localStamp()
{
    QFETCH(QByteArray, zone);
    QFETCH(QDateTime, from);
    QFETCH(QList<qint64>, steps);
    if (zone != "UTC" && !QFile::exists(QStringLiteral("/usr/share/zoneinfo/") + QString::fromLatin1(zone)))
        QSKIP("no time-zone data for this zone here");
    const QByteArray before = qgetenv("TZ");
    const bool hadTz = qEnvironmentVariableIsSet("TZ");
    qputenv("TZ", zone);
    const auto restore = qScopeGuard([&] {
        if (hadTz)
            qputenv("TZ", before);
        else
            qunsetenv("TZ");
    });
    SessionRecord::LocalStamp stamp;
    for (qint64 step : steps) {
        const qint64 ms = from.toMSecsSinceEpoch() + step;
        // What the local clock read then, with its offset, by the time-zone database each time.
        const QDateTime local = QDateTime::fromMSecsSinceEpoch(ms, Qt::LocalTime);
        const QString want = local.toOffsetFromUtc(local.offsetFromUtc()).toString(Qt::ISODateWithMs);
        QCOMPARE(stamp(ms), want);
    }
}

// One row per event, in the order they happened, each decoded.
void TestRecord::rowsOfASession()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("run.csv"));
    Rig r;
    QString error;
    QVERIFY2(r.record->start(path, false, &error), qPrintable(error));
    r.s->setEscrow(true);
    r.s->setResyncPause(0);  // the noise below is drained at once, no event loop needed
    r.s->start();                                         // host 1
    r.port->arrive(replyBytes({0x04, 0, 0x18, 0, 0, 0}));  // escrowed on channel 3
    r.tick();                                             // host 2: stack
    r.port->arrive(replyBytes({0x10, 0, 0x18, 0, 0, 0}, false));  // bad checksum
    r.tick();                                             // host 3 repeated, after a timeout
    r.port->arrive(Noise);                                // discarded
    r.tick();                                             // host 4 repeated, after a timeout
    r.port->arrive(replyBytes({0x10, 0, 0x18, 0, 0, 0}));  // stacked
    r.s->setMode(PollMode::StepInto);
    r.port->pull(8020);
    r.record->stop();

    const auto rows = readCsv(path);
    QVERIFY(!rows.empty());
    QCOMPARE(rows[0].join(u','), QString::fromLatin1(SessionRecord::header()).trimmed());
    const std::vector<QStringList> body(rows.begin() + 1, rows.end());
    QCOMPARE(column(body, col::Dir),
             (QStringList{"operator", "operator", "host", "validator", "host", "validator", "timeout", "host",
                          "discarded", "timeout", "host", "validator", "operator", "operator", "error", "operator"}));
    QCOMPARE(column(body, col::Note),
             (QStringList{"record started", "polling started, Normal Poll", "", "", "", "", "no response", "repeated",
                          "11 bytes", "no response", "repeated", "", "mode Step Into", "polling stopped", "8020",
                          "record stopped"}));
    for (const QStringList& row : rows)
        QCOMPARE(row.size(), int(col::Count));

    const QStringList& first = body[2];
    QCOMPARE(first[col::Bytes], QString::fromLatin1(r.port->frames[0].toHex(' ').toUpper()));
    QCOMPARE(first[col::Request], QStringLiteral("poll ack=0"));
    QCOMPARE(body[4][col::Request], QStringLiteral("stack ack=1"));
    QCOMPARE(body[7][col::Request], QStringLiteral("stack ack=1"));

    const QStringList& escrowed = body[3];
    QCOMPARE(escrowed[col::Bytes], QString::fromLatin1(replyBytes({0x04, 0, 0x18, 0, 0, 0}).toHex(' ').toUpper()));
    QCOMPARE(escrowed[col::State], QStringLiteral("ESCROWED"));
    QCOMPARE(escrowed[col::Event], QString());
    QCOMPARE(escrowed[col::Channel], QStringLiteral("3"));
    QCOMPARE(escrowed[col::Checksum], QStringLiteral("ok"));
    QCOMPARE(body[5][col::Checksum], QStringLiteral("bad"));
    QCOMPARE(body[5][col::Event], QString());  // not decoded: the checksum does not vouch for it
    QCOMPARE(body[8][col::Bytes], QStringLiteral("06 06 06 06 06 06 06 06 06 06 06"));
    QCOMPARE(body[11][col::Event], QStringLiteral("STACKED"));
    QCOMPARE(body[11][col::Checksum], QStringLiteral("ok"));

    // Times: local ISO 8601 with milliseconds and offset; ms rising from 0.
    static const QRegularExpression iso(QStringLiteral(R"(^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}(Z|[+-]\d\d:\d\d)$)"));
    static const QRegularExpression ms(QStringLiteral(R"(^\d+\.\d{3}$)"));
    double last = 0;
    for (const QStringList& row : body) {
        QVERIFY2(iso.match(row[col::Time]).hasMatch(), qPrintable(row[col::Time]));
        QVERIFY2(ms.match(row[col::Ms]).hasMatch(), qPrintable(row[col::Ms]));
        QVERIFY(row[col::Ms].toDouble() >= 0);
        last = std::max(last, row[col::Ms].toDouble());
    }
    QVERIFY(last < 60000);
}

void TestRecord::summaryBesideTheRecord()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("run.csv"));
    Rig r;
    QVERIFY(r.record->start(path, false));
    r.s->start();
    r.port->arrive(Idle);
    r.tick();
    r.record.reset();  // the owner going away ends the record too

    QFile f(SessionRecord::summaryPath(path));
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QJsonObject o = QJsonDocument::fromJson(f.readAll()).object();
    QCOMPARE(o.value(QStringLiteral("record")).toString(), path);
    QVERIFY(!o.value(QStringLiteral("ended")).toString().isEmpty());
    QCOMPARE(o.value(QStringLiteral("polls")).toObject().value(QStringLiteral("sent")).toInt(), 2);
    QCOMPARE(o.value(QStringLiteral("replies")).toObject().value(QStringLiteral("good")).toInt(), 1);
    // Everything the statistics say, under their own keys.
    for (const QString& key : figuresJson(r.stats->figures()).keys())
        QVERIFY2(o.contains(key), qPrintable(key));
}

// A record started while polling has gone on for a while counts what it
// holds, not the session's totals; the session's own figures go on as they were.
void TestRecord::summaryCountsFromTheRecordsStart()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("late.csv"));
    Rig r;
    r.s->start();
    for (int i = 0; i < 5; ++i) {
        r.port->arrive(Idle);
        r.tick();
    }
    QVERIFY(r.record->start(path, false));
    for (int i = 0; i < 3; ++i) {
        r.port->arrive(Idle);
        r.tick();
    }
    r.record->stop();
    const auto rows = readCsv(path);
    qint64 hostRows = 0;
    for (const QStringList& row : rows)
        hostRows += row[col::Dir] == QLatin1String("host");
    QFile f(SessionRecord::summaryPath(path));
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QJsonObject o = QJsonDocument::fromJson(f.readAll()).object();
    QCOMPARE(hostRows, 3);
    QCOMPARE(o.value(QStringLiteral("polls")).toObject().value(QStringLiteral("sent")).toInteger(), hostRows);
    QCOMPARE(o.value(QStringLiteral("counts_from")).toString(), rows[1][col::Time]);
    QCOMPARE(o.value(QStringLiteral("appended")).toBool(), false);
    QCOMPARE(r.stats->figures().pollsSent, 9);
}

void TestRecord::onlyWholeFramesCounted_data()
{
    // A reply that begins with STX: jammed and stacked on channel 3, with one
    // part of the frame spoiled (the checksum made good again where it says so).
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<bool>("whole");
    QTest::addColumn<QString>("checksum");
    QTest::addColumn<QString>("note");
    const Status s{0x11, 0x04, 0x18, 0, 0, 0};
    QTest::newRow("whole") << replyBytes(s) << true << "ok" << "";
    QTest::newRow("bad checksum") << replyBytes(s, false) << false << "bad" << "";
    QTest::newRow("length byte 0C") << replyWithByte(s, 1, 0x0C) << false << "ok" << "malformed";
    QTest::newRow("length byte 00") << replyWithByte(s, 1, 0x00) << false << "ok" << "malformed";
    QTest::newRow("no ETX") << replyWithByte(s, 9, 0x02) << false << "ok" << "malformed";
}

// The figures and the record's decoded columns take only a frame the
// validator vouches for whole; the session goes on as the window's does.
void TestRecord::onlyWholeFramesCounted()
{
    QFETCH(QByteArray, reply);
    QFETCH(bool, whole);
    QFETCH(QString, checksum);
    QFETCH(QString, note);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("run.csv"));
    Rig r;
    QVERIFY(r.record->start(path, false));
    QSignalSpy stacked(r.s.get(), &PollSession::noteStacked);
    r.s->start();
    r.port->arrive(reply);
    r.record->stop();

    QCOMPARE(stacked.count(), 1);  // the window counts it, as it always has
    const Figures f = r.stats->figures();
    QCOMPARE(f.repliesGood, whole ? 1 : 0);
    QCOMPARE(f.repliesBadChecksum, checksum == QLatin1String("bad") ? 1 : 0);
    QCOMPARE(f.repliesMalformed, note == QLatin1String("malformed") ? 1 : 0);
    QCOMPARE(f.events.jam, whole ? 1 : 0);
    QCOMPARE(f.totalNotes().stacked, whole ? 1 : 0);
    QCOMPARE(f.notes.count(3), std::size_t(whole ? 1 : 0));

    const auto rows = readCsv(path);
    const auto row = std::find_if(rows.begin(), rows.end(),
                                  [](const QStringList& l) { return l.value(col::Dir) == QLatin1String("validator"); });
    QVERIFY(row != rows.end());
    QCOMPARE((*row)[col::Checksum], checksum);
    QCOMPARE((*row)[col::Note], note);
    QCOMPARE((*row)[col::State], whole ? QStringLiteral("JAMMED") : QString());
    QCOMPARE((*row)[col::Event], whole ? QStringLiteral("STACKED") : QString());
    QCOMPARE((*row)[col::Channel], whole ? QStringLiteral("3") : QString());
}

void TestRecord::appendWithoutSecondHeader()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("run.csv"));
    Rig r;
    for (int run = 0; run < 3; ++run) {
        QVERIFY(r.record->start(path, true));
        r.record->stop();
    }
    const auto rows = readCsv(path);
    QCOMPARE(column(rows, col::Dir),
             (QStringList{"dir", "operator", "operator", "operator", "operator", "operator", "operator"}));
    QCOMPARE(column(rows, col::Note).count(QStringLiteral("record started")), 3);
}

// A record cut off in the middle of a row loses that row only.
void TestRecord::appendAfterACutOffRow()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("run.csv"));
    {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(SessionRecord::header());
        f.write("2024-01-01T00:00:00.000+00:00,1.000,ho");
    }
    Rig r;
    QVERIFY(r.record->start(path, true));
    r.record->stop();
    const auto rows = readCsv(path);
    QCOMPARE(rows.size(), std::size_t(4));
    QCOMPARE(rows[2][col::Note], QStringLiteral("record started"));
}

void TestRecord::overwriteTruncates()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("run.csv"));
    Rig r;
    QVERIFY(r.record->start(path, false));
    r.record->stop();
    QVERIFY(r.record->start(path, false));
    r.record->stop();
    QCOMPARE(readCsv(path).size(), std::size_t(3));
}

void TestRecord::cannotBeOpened_data()
{
    QTest::addColumn<QString>("path");
    QTest::newRow("no such folder") << QStringLiteral("no/such/folder/run.csv");
    QTest::newRow("a folder") << QStringLiteral(".");
#ifdef Q_OS_LINUX
    // Never opened: a FIFO without a reader would hold the open for ever.
    QTest::newRow("FIFO") << QStringLiteral("fifo");
#endif
}

// The caller is told why; polling is not touched and nothing records.
void TestRecord::cannotBeOpened()
{
    QFETCH(QString, path);
    QTemporaryDir dir;
    const QString where = path.startsWith(u'/') ? path : dir.filePath(path);
#ifdef Q_OS_LINUX
    if (path == QLatin1String("fifo"))
        QCOMPARE(::mkfifo(QFile::encodeName(where).constData(), 0600), 0);
#endif
    Rig r;
    r.s->start();
    QSignalSpy failed(r.record.get(), &SessionRecord::failed);
    QString error;
    QVERIFY(!r.record->start(where, true, &error));
    QVERIFY2(error.startsWith(where + QStringLiteral(": ")) || error.startsWith(where + QStringLiteral(" is ")),
             qPrintable(error));
    QVERIFY(!r.record->isRecording());
    QCOMPARE(failed.count(), 0);
    QVERIFY(r.s->isRunning());
    r.port->arrive(Idle);
    r.tick();
    QCOMPARE(r.port->frames.size(), std::size_t(2));
    QVERIFY(!QFile::exists(SessionRecord::summaryPath(where)));
}

// The disk fills while recording: polling goes on, the operator is told
// once and the rows up to the failure are kept.
void TestRecord::writeFailsMidRecord()
{
#ifndef Q_OS_LINUX
    QSKIP("needs a file size limit");
#else
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("run.csv"));
    Rig r;
    r.s->start();
    QVERIFY(r.record->start(path, false));
    QSignalSpy failed(r.record.get(), &SessionRecord::failed);

    // A file size limit fails writes past it, as a full disk does.
    rlimit before{};
    QCOMPARE(getrlimit(RLIMIT_FSIZE, &before), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = before;
    small.rlim_cur = 2000;
    QCOMPARE(setrlimit(RLIMIT_FSIZE, &small), 0);
    for (int i = 0; i < 40; ++i) {
        r.port->arrive(Idle);
        r.tick();
    }
    QCOMPARE(setrlimit(RLIMIT_FSIZE, &before), 0);
    std::signal(SIGXFSZ, oldHandler);

    QCOMPARE(failed.count(), 1);
    QVERIFY(failed.at(0).at(0).toString().contains(path));
    QVERIFY(!r.record->isRecording());
    QVERIFY(r.s->isRunning());
    QCOMPARE(r.port->frames.size(), std::size_t(41));
    // Whole rows up to the limit, then nothing.
    QFile f(path);
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QByteArray text = f.readAll();
    QVERIFY(text.size() <= 2000 && text.size() > 1000);
    QVERIFY(text.endsWith("\r\n"));
    // The reason is the last row when there was still room for it.
    const qsizetype stopRow = text.indexOf("record stopped");
    QVERIFY(stopRow < 0 || text.mid(stopRow) == "record stopped: File too large\r\n");
    QVERIFY2(failed.at(0).at(0).toString().endsWith(": File too large"), qPrintable(failed.at(0).at(0).toString()));
    r.record->stop();
    QCOMPARE(failed.count(), 1);
#endif
}

QTEST_GUILESS_MAIN(TestRecord)
#include "test_record.moc"
