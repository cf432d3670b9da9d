// The record of a run against the real simulator program: everything its
// frame log says went over the line is in the record, in order, and the
// statistics agree with its counts.
#include "csvread.h"
#include "run/runstats.h"
#include "modal.h"
#include "simprocess.h"
#include "tester/main64k.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <map>
#include <optional>

namespace {

constexpr int Long = SimProcess::Long;

QByteArray fromHex(const QString& text)
{
    return QByteArray::fromHex(text.toLatin1());
}

// Whether whole is the bytes of a and of b, each in its own order, interleaved.
bool interleaves(const QByteArray& whole, const QByteArray& a, const QByteArray& b)
{
    if (whole.size() != a.size() + b.size())
        return false;
    const qsizetype n = a.size(), m = b.size();
    std::vector<char> ok(std::size_t((n + 1) * (m + 1)), 0);
    const auto at = [&](qsizetype i, qsizetype j) -> char& { return ok[std::size_t(i * (m + 1) + j)]; };
    at(0, 0) = 1;
    for (qsizetype i = 0; i <= n; ++i)
        for (qsizetype j = 0; j <= m; ++j) {
            if (i > 0 && at(i - 1, j) && a[i - 1] == whole[i + j - 1])
                at(i, j) = 1;
            if (j > 0 && at(i, j - 1) && b[j - 1] == whole[i + j - 1])
                at(i, j) = 1;
        }
    return at(n, m);
}

// The lower middle sample, the one the statistics call the median.
double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[(v.size() - 1) / 2];
}

}  // namespace

class TestRecordE2e : public QObject {
    Q_OBJECT
private slots:
    void everythingOnTheLineIsRecorded();
};

void TestRecordE2e::everythingOnTheLineIsRecorded()
{
    QTemporaryDir dir;
    const QString link = dir.filePath(QStringLiteral("COM1"));
    const QString logPath = dir.filePath(QStringLiteral("frames.log"));
    const QString recordPath = dir.filePath(QStringLiteral("run.csv"));
    SimProcess sim;
    QVERIFY(sim.start(link, {QStringLiteral("--stage-polls"), QStringLiteral("1"), QStringLiteral("--log"), logPath}));
    ModalCloser boxes;
    auto w = std::make_unique<MAIN64K>(dir.path(), nullptr);
    w->Form_Load();
    QString error;
    // The session's clock and the simulator's both run on the monotonic
    // clock; the record's ms column counts from a moment within this call.
    const double recordStartFromUs = double(monotonicMicros());
    QVERIFY2(w->startRecord(recordPath, true, &error), qPrintable(error));
    const double recordStartToUs = double(monotonicMicros()) + 1;  // the microsecond begun

    // Port 1, every 100 ms, channels 1 to 7 and escrow on.
    setCheckValue(w->Check1[2], 1);
    setCheckValue(w->Check4, 1);
    QVERIFY(w->session()->portReady());
    // The loop runs without sleeping, so the reply times are the program's own.
    QVERIFY(runUntil([&] { return w->session()->decoding().stateText == QLatin1String("IDLING"); }, Long));

    const auto waitFor = [&sim](const QString& line) { return runUntil([&] { return sim.saw(line); }, Long); };
    const auto waitPolls = [&w](int n) {
        const auto sent = w->statistics().figures().pollsSent;
        return runUntil([&] { return w->statistics().figures().pollsSent >= sent + n; }, Long);
    };

    sim.send(QStringLiteral("insert 3"));
    QVERIFY(waitFor(QStringLiteral("stacked 3")));
    sim.send(QStringLiteral("insert 5"));
    QVERIFY(waitFor(QStringLiteral("stacked 5")));
    sim.send(QStringLiteral("insert 9"));  // not enabled: rejected
    QVERIFY(waitFor(QStringLiteral("rejected 9")));
    sim.send(QStringLiteral("jam"));
    QVERIFY(waitPolls(3));
    sim.send(QStringLiteral("clear"));
    QVERIFY(waitPolls(2));
    for (const QString& fault : {QStringLiteral("badsum"), QStringLiteral("garbage"), QStringLiteral("silence 3"),
                                QStringLiteral("split 15")}) {
        sim.send(fault);
        QVERIFY(waitPolls(5));
    }
    sim.send(QStringLiteral("insert 2"));
    QVERIFY(waitFor(QStringLiteral("stacked 2")));
    QVERIFY(waitPolls(2));

    setCheckValue(w->Check4, 0);
    // The last message's reply comes in: the line is quiet from here.
    QVERIFY(runUntil([&] { return w->session()->replyReceived(); }, Long));
    sim.said.clear();
    sim.send(QStringLiteral("stats"));
    QTRY_VERIFY_WITH_TIMEOUT(sim.said.contains(QStringLiteral("stats ")), Long);
    const QString stats = sim.said.mid(sim.said.indexOf(QStringLiteral("stats "))).section(u'\n', 0, 0);
    w->stopRecord();
    const Figures st = w->statistics().figures();

    // ---- notes per channel as the simulator counted them ----
    static const QRegularExpression statsLine(QStringLiteral(R"(^stats stacked (\d+) \[([^\]]*)\] returned (\d+) rejected (\d+))"));
    const auto m = statsLine.match(stats);
    QVERIFY2(m.hasMatch(), qPrintable(stats));
    std::map<int, std::int64_t> simStacked;
    for (const QString& pair : m.captured(2).split(u' ', Qt::SkipEmptyParts))
        simStacked[pair.section(u':', 0, 0).toInt()] = pair.section(u':', 1, 1).toLongLong();
    std::map<int, std::int64_t> ourStacked;
    for (const auto& [channel, n] : st.notes)
        if (n.stacked)
            ourStacked[channel] = n.stacked;
    QCOMPARE(ourStacked, simStacked);
    QCOMPARE(ourStacked, (std::map<int, std::int64_t>{{2, 1}, {3, 1}, {5, 1}}));
    QCOMPARE(st.totalNotes().returned, m.captured(3).toLongLong());
    QCOMPARE(st.totalNotes().rejected, m.captured(4).toLongLong());
    QCOMPARE(st.totalNotes().rejected, 1);
    QCOMPARE(st.events.jam, 1);
    QVERIFY(st.repliesBadChecksum >= 1);

    const double ourMedian = st.replyTimes.quantileMs(0.5), ourMax = st.replyTimes.maxMs();
    const qint64 timed = st.replyTimes.count();

    // ---- the record against the frame log ----
    QVERIFY(sim.finish());
    w.reset();
    const std::vector<LogLine> log = readFrameLog(logPath);
    const auto rows = readCsv(recordPath);
    QVERIFY(rows.size() > 20);
    QCOMPARE(rows[1][col::Note], QStringLiteral("record started"));
    QCOMPARE(rows.back()[col::Note], QStringLiteral("record stopped"));

    QList<QByteArray> simHost, ourHost;
    QByteArray simWrites, ourReplies, ourDiscarded;
    for (const LogLine& l : log) {
        if (l.dir == 'H' || l.dir == 'X')
            simHost << l.bytes;
        else if (l.dir == 'V')
            simWrites += l.bytes;
    }
    int timeouts = 0;
    bool jammed = false;
    for (std::size_t i = 1; i < rows.size(); ++i) {
        const QStringList& r = rows[i];
        if (r[col::Dir] == QLatin1String("host"))
            ourHost << fromHex(r[col::Bytes]);
        else if (r[col::Dir] == QLatin1String("validator"))
            ourReplies += fromHex(r[col::Bytes]);
        else if (r[col::Dir] == QLatin1String("discarded"))
            ourDiscarded += fromHex(r[col::Bytes]);
        timeouts += r[col::Dir] == QLatin1String("timeout");
        jammed |= r[col::State] == QLatin1String("JAMMED");
    }
    // Every host frame, byte for byte and in order.
    QCOMPARE(ourHost, simHost);
    // Every byte the simulator wrote, read as a reply or dropped, in order.
    QVERIFY2(interleaves(simWrites, ourReplies, ourDiscarded),
             qPrintable(QStringLiteral("%1 bytes written, %2 in replies, %3 discarded")
                            .arg(simWrites.size())
                            .arg(ourReplies.size())
                            .arg(ourDiscarded.size())));
    QVERIFY(ourDiscarded.size() >= 25);  // the garbage at least
    QVERIFY(jammed);

    // A time-out row stands before exactly the host rows whose previous
    // message drew no good reply.
    int expectedTimeouts = 0;
    std::vector<double> simTimes;
    for (std::size_t i = 0; i < log.size(); ++i) {
        if (log[i].dir != 'H')
            continue;
        QByteArray answer;
        double replyMs = -1;
        std::size_t j = i + 1;
        for (; j < log.size() && log[j].dir != 'H'; ++j) {
            answer += log[j].bytes;
            if (replyMs < 0 && answer.size() >= 11 && answer.startsWith('\x02'))
                replyMs = double(log[j].us - log[i].us) / 1000.0;
        }
        const auto reply = frames::ValidatorReply::fromBytes(answer);
        const bool good = answer.size() >= 11 && reply.startsWithStx() && reply.checksumOk();
        if (replyMs >= 0)
            simTimes.push_back(replyMs);
        if (!good && j < log.size())
            ++expectedTimeouts;
    }
    QCOMPARE(timeouts, expectedTimeouts);
    QVERIFY(timeouts >= 5);  // bad checksum, garbage, three silent

    // Reply times by the record's own stamps (the first reply row after each
    // host row): the same clock readings the statistics were given, so they
    // agree to the record's rounding and the statistics' bins.
    std::vector<double> recordTimes;
    for (std::size_t i = 1; i < rows.size(); ++i) {
        if (rows[i][col::Dir] != QLatin1String("host"))
            continue;
        for (std::size_t j = i + 1; j < rows.size() && rows[j][col::Dir] != QLatin1String("host"); ++j)
            if (rows[j][col::Dir] == QLatin1String("validator")) {
                recordTimes.push_back(rows[j][col::Ms].toDouble() - rows[i][col::Ms].toDouble());
                break;
            }
    }
    QCOMPARE(qint64(recordTimes.size()), timed);
    const double recordMax = *std::max_element(recordTimes.begin(), recordTimes.end());
    constexpr double RoundingMs = 0.001 + 1e-9;  // each of two stamps rounded to the microsecond
    constexpr double HalfBinMs = double(ReplyTimes::BinNs) / 2e6;
    QVERIFY2(std::abs(ourMax - recordMax) <= RoundingMs, qPrintable(QString::number(ourMax - recordMax)));
    QVERIFY2(std::abs(ourMedian - median(recordTimes)) <= HalfBinMs + RoundingMs,
             qPrintable(QString::number(ourMedian - median(recordTimes))));

    // Against the simulator's log, only what causality orders, however the
    // two processes are scheduled: it reads a frame after everything the
    // record shows before that frame, and the host reads a reply after
    // everything the log shows before the write that completed it. Each
    // program stamps after its read or write returns, so durations across the
    // two (its read to write against ours) may be cut by a preemption in
    // between. The record's zero is some moment within the call that started
    // it; one such moment must satisfy every order.
    // The log truncates to the microsecond and the record rounds; and the two
    // processors a virtual machine gives two processes may read the one
    // clock a few microseconds apart (3 us seen under AddressSanitizer).
    // Far below the fractions of a millisecond a stamp taken at the wrong
    // moment would be off.
    constexpr double ResolutionUs = 10;
    double zeroFrom = recordStartFromUs, zeroTo = recordStartToUs;
    QString narrowest;
    const auto notAfter = [&](double us, const QString& why) {
        if (us < zeroTo) {
            zeroTo = us;
            if (zeroTo < zeroFrom - ResolutionUs && narrowest.isEmpty())
                narrowest = why;
        }
    };
    const auto notBefore = [&](double us, const QString& why) {
        if (us > zeroFrom) {
            zeroFrom = us;
            if (zeroTo < zeroFrom - ResolutionUs && narrowest.isEmpty())
                narrowest = why;
        }
    };
    // The frames: the k-th host row is the k-th frame in the log.
    std::vector<double> writeLagMs;
    {
        double latestMs = 0;
        std::size_t k = 0;
        for (std::size_t i = 1; i < rows.size(); ++i) {
            if (rows[i][col::Dir] == QLatin1String("host")) {
                while (k < log.size() && log[k].dir != 'H')
                    ++k;
                QVERIFY(k < log.size());
                notAfter(double(log[k].us) - latestMs * 1000.0,
                         QStringLiteral("frame of row %1 read before the rows above it were stamped").arg(i));
                writeLagMs.push_back((double(log[k].us) - recordStartToUs) / 1000.0 - rows[i][col::Ms].toDouble());
                ++k;
            }
            latestMs = std::max(latestMs, rows[i][col::Ms].toDouble());
        }
    }
    // The replies: each reply byte at the earliest write that can hold it
    // (the bytes between were discarded), so the log line before that write
    // is no later than the true one.
    {
        std::size_t line = 0;
        qsizetype inLine = 0;
        const auto nextByte = [&]() -> std::optional<char> {
            while (line < log.size() && (log[line].dir != 'V' || inLine >= log[line].bytes.size())) {
                ++line;
                inLine = 0;
            }
            if (line == log.size())
                return std::nullopt;
            return log[line].bytes[inLine++];
        };
        for (std::size_t i = 1; i < rows.size(); ++i) {
            if (rows[i][col::Dir] != QLatin1String("validator"))
                continue;
            for (const char b : fromHex(rows[i][col::Bytes])) {
                std::optional<char> w;
                while ((w = nextByte()) && *w != b) {
                }
                QVERIFY(w);
            }
            if (line > 0)
                notBefore(double(log[line - 1].us) - rows[i][col::Ms].toDouble() * 1000.0,
                          QStringLiteral("reply of row %1 read before the log's line %2").arg(i).arg(line));
        }
    }

    const double simMedian = median(simTimes);
    qInfo("reply time median %.3f ms, max %.3f ms (%lld timed); by the record %.3f / %.3f ms; simulator's read to "
          "write %.3f ms median; host write to simulator read %.3f ms median; record's zero within %.3f ms",
          ourMedian, ourMax, timed, median(recordTimes), recordMax, simMedian, median(writeLagMs),
          (zeroTo - zeroFrom) / 1000.0);
    QVERIFY2(zeroFrom <= zeroTo + ResolutionUs,
             qPrintable(QStringLiteral("%1 (by %2 us)").arg(narrowest).arg(zeroFrom - zeroTo)));
    QCOMPARE(boxes.texts, QStringList());
}

QTEST_MAIN(TestRecordE2e)
#include "test_recorde2e.moc"
