// Line faults end to end: the tester window on its real serial port, polling
// the real pollbench-sim over a pseudo-terminal every 30 ms for a minute,
// with every fault the simulator has injected at random, notes of every
// kind, device conditions and the operator changing modes. Afterwards the
// simulator's frame log and what the window itself wrote and read must
// prove that the acknowledgement scheme held throughout.
//
// POLLBENCH_SOAK_SECONDS sets the length of the run (60; 25 with the
// sanitizers), POLLBENCH_SOAK_SEED its random choices.
#include "link/frames.h"
#include "link/qtport.h"
#include "modal.h"
#include "simprocess.h"
#include "tester/main64k.h"

#include <QCheckBox>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <functional>
#include <memory>
#include <random>

#if defined(__SANITIZE_ADDRESS__)
#define SOAK_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define SOAK_SANITIZED 1
#endif
#endif

namespace {

// What the window did on its port, in order.
struct PortEvent {
    enum Kind { Write, Read, Discard };
    Kind kind = Write;
    QByteArray bytes;
    int mode = 0;          // PollMode at a write
    bool restart = false;  // the first write of a start in "Normal Poll" or "Negative ACK"
};

// The window's real port with a recorder in front: it passes every call on
// and notes the frames written and the bytes read, one line each in a file,
// so that what it keeps does not count in the window's memory.
class RecordingPort final : public CommPort {
public:
    RecordingPort(const QString& programDir, const QString& recordPath) : inner_(programDir), record_(recordPath)
    {
        inner_.onComm = [this] {
            if (onComm)
                onComm();
        };
        inner_.onFailure = [this](int number) {
            if (onFailure)
                onFailure(number);
        };
        record_.open(QIODevice::WriteOnly);
    }

    const MAIN64K* window = nullptr;
    bool restartNext = false;

    bool portOpen() const override { return inner_.portOpen(); }
    void close() override { inner_.close(); }
    void setCommPort(int number) override { inner_.setCommPort(number); }
    void setSettings(const QString& settings) override { inner_.setSettings(settings); }
    void setInputLen(int length) override { inner_.setInputLen(length); }
    void setInputMode(int mode) override { inner_.setInputMode(mode); }
    void setRThreshold(int count) override { inner_.setRThreshold(count); }
    void setSThreshold(int count) override { inner_.setSThreshold(count); }
    void setDTREnable(bool on) override { inner_.setDTREnable(on); }
    void setRTSEnable(bool on) override { inner_.setRTSEnable(on); }
    void open() override { inner_.open(); }
    void output(const QByteArray& bytes) override
    {
        inner_.output(bytes);
        if (!bytes.isEmpty())
            note(QByteArray("W ") + char('0' + (window ? int(window->session()->mode()) : 0)) + (restartNext ? " s " : " - ") + bytes.toHex());
        restartNext = false;
    }
    int commEvent() const override { return inner_.commEvent(); }
    int inBufferCount() const override { return inner_.inBufferCount(); }
    void discardInput() override
    {
        inner_.discardInput();
        note("D");
    }
    QByteArray input() override
    {
        QByteArray bytes = inner_.input();
        note("R " + bytes.toHex());
        return bytes;
    }

    // Everything noted so far.
    static std::vector<PortEvent> readBack(const QString& recordPath)
    {
        std::vector<PortEvent> events;
        QFile f(recordPath);
        if (!f.open(QIODevice::ReadOnly))
            return events;
        for (const QByteArray& line : f.readAll().split('\n')) {
            const QList<QByteArray> w = line.split(' ');
            if (w[0] == "W" && w.size() == 4)
                events.push_back({PortEvent::Write, QByteArray::fromHex(w[3]), w[1].toInt(), w[2] == "s"});
            else if (w[0] == "R")
                events.push_back({PortEvent::Read, QByteArray::fromHex(w.value(1))});
            else if (w[0] == "D")
                events.push_back({PortEvent::Discard, {}});
        }
        return events;
    }
    void flush() { record_.flush(); }

private:
    void note(const QByteArray& line) { record_.write(line + '\n'); }

    QtPort inner_;
    QFile record_;
};

// STX and a good checksum in the 11 bytes from p.
bool goodReplyAt(const QByteArray& s, qsizetype p)
{
    if (p < 0 || p + frames::ValidatorReply::Size > s.size())
        return false;
    const auto r = frames::ValidatorReply::fromBytes(
        std::span(reinterpret_cast<const std::uint8_t*>(s.constData() + p), std::size_t(frames::ValidatorReply::Size)));
    return r.startsWithStx() && r.checksumOk();
}

struct Verdict {
    int polls = 0;        // host frames
    int built = 0;        // of those, new messages
    int repeats = 0;      // of those, the previous bytes again
    int restarts = 0;     // starts in "Normal Poll" or "Negative ACK"
    int reads = 0;        // reads of the window
    int goodReads = 0;    // ... that began with a good reply
    int lateReplies = 0;  // new messages whose good reply was written before the frame before
    QStringList violations;
};

// The acknowledgement scheme, proved twice.
//
// From the simulator's log alone: host frames follow each other unchanged,
// or with the acknowledge bit flipped; a new one (apart from a start, which
// begins again at control 0x10) needs a good reply the validator wrote
// before it, and each good reply acknowledges at most one message, so the
// n-th new message needs n good replies in the log before it; in "Negative
// ACK" the bytes never change. The window can read a good reply late (its
// poll timer may fire before the reply's notification), so a reply written
// before the previous host frame still counts; how often that happened is
// reported as lateReplies.
//
// From what the window wrote and read (the recorder): a message is new
// exactly when a read since the last write held a good reply (11 bytes from
// its STX when it begins with one, else a whole valid frame at any STX, with
// what an earlier read left of a begun frame in front),
// or after a start in "Normal Poll"; never in
// "Negative ACK"; its control byte alternates from 0x10 after each start.
// Everything the window read was written by the simulator, in order, and
// every frame it wrote is in the simulator's log, in order.
Verdict checkAcknowledgement(const std::vector<LogLine>& log, const std::vector<PortEvent>& events)
{
    Verdict v;
    auto violation = [&v](const QString& text) {
        if (v.violations.size() < 20)
            v.violations << text;
        else if (v.violations.size() == 20)
            v.violations << QStringLiteral("...");
    };

    std::vector<int> hostLine;
    QByteArray stream;        // every byte the validator wrote
    std::vector<int> byteLine;  // the log line of each
    for (int i = 0; i < int(log.size()); ++i) {
        const LogLine& l = log[i];
        if (l.dir == 'X')
            violation(QStringLiteral("log line %1: bytes from the tester that are no frame").arg(i + 1));
        else if (l.dir == 'H')
            hostLine.push_back(i);
        else if (l.dir == 'V' && !l.note.startsWith(QLatin1String("not written"))) {
            stream += l.bytes;
            byteLine.insert(byteLine.end(), std::size_t(l.bytes.size()), i);
        }
    }
    std::vector<int> replyEnds;  // log line that completed each good reply
    for (qsizetype p = 0; p + frames::ValidatorReply::Size <= stream.size(); ++p)
        if (goodReplyAt(stream, p))
            replyEnds.push_back(byteLine[std::size_t(p + frames::ValidatorReply::Size - 1)]);

    std::vector<const PortEvent*> writes;
    for (const PortEvent& e : events)
        if (e.kind == PortEvent::Write)
            writes.push_back(&e);
    if (writes.size() != hostLine.size())
        violation(QStringLiteral("%1 frames written, %2 in the log").arg(writes.size()).arg(hostLine.size()));
    const int n = int(std::min(writes.size(), hostLine.size()));
    v.polls = n;

    // The simulator's view.
    QByteArray previous;
    bool fromStart = false;  // the next new message begins again at 0x10
    bool hiddenBuild = false;  // ... and may have been built already, the same bytes again
    int needed = 0;          // new messages that need a good reply
    std::size_t before = 0;  // good replies completed before the current frame
    for (int k = 0; k < n; ++k) {
        const QByteArray& f = log[hostLine[k]].bytes;
        if (f != writes[k]->bytes) {
            violation(QStringLiteral("frame %1: logged %2, written %3")
                          .arg(k)
                          .arg(QString::fromLatin1(f.toHex(' ')), QString::fromLatin1(writes[k]->bytes.toHex(' '))));
            continue;
        }
        while (before < replyEnds.size() && replyEnds[before] < hostLine[k])
            ++before;
        const int mode = writes[k]->mode;
        if (writes[k]->restart) {
            ++v.restarts;
            if (mode == 1) {
                ++v.built;
                fromStart = false;
                if (std::uint8_t(f[2]) != 0x10)
                    violation(QStringLiteral("frame %1: a start sent control %2").arg(k).arg(std::uint8_t(f[2]), 2, 16));
            } else {
                fromStart = true;
                hiddenBuild = false;
                ++v.repeats;
                if (f != previous)
                    violation(QStringLiteral("frame %1: a start in Negative ACK changed the message").arg(k));
            }
            previous = f;
            continue;
        }
        if (k == 0) {
            violation(QStringLiteral("the first frame does not come from a start"));
            previous = f;
            continue;
        }
        if (f == previous) {
            ++v.repeats;
            // After a start in "Negative ACK" the first new message has control
            // 0x10, and so may the message it replaces: then it goes out as the
            // same bytes, and the next one flips the bit from there.
            hiddenBuild = hiddenBuild || (fromStart && std::uint8_t(f[2]) == 0x10);
            continue;
        }
        ++v.built;
        if (mode == 4)
            violation(QStringLiteral("frame %1: a new message in Negative ACK").arg(k));
        const std::uint8_t control = std::uint8_t(f[2]);
        const bool flipped = (control ^ std::uint8_t(previous[2])) == 0x01;
        if (fromStart ? !(control == 0x10 || (hiddenBuild && flipped)) : !flipped)
            violation(QStringLiteral("frame %1: new message %2 after %3 without the acknowledge bit flipped")
                          .arg(k)
                          .arg(QString::fromLatin1(f.toHex(' ')), QString::fromLatin1(previous.toHex(' '))));
        fromStart = false;
        ++needed;
        if (std::size_t(needed) > before)
            violation(QStringLiteral("frame %1 (log line %2): new message %3 without a good reply before it")
                          .arg(k)
                          .arg(hostLine[k] + 1)
                          .arg(QString::fromLatin1(f.toHex(' '))));
        const bool sinceLast = std::any_of(replyEnds.begin(), replyEnds.end(), [&](int line) {
            return line > hostLine[k - 1] && line < hostLine[k];
        });
        if (!sinceLast)
            ++v.lateReplies;
        previous = f;
    }

    // The window's view.
    bool good = false;
    bool ack = false;
    bool started = false;
    QByteArray held;  // a frame begun in one read, completed by the next
    bool heldBehindStray = false;  // ... after stray bytes: taken only whole and valid
    previous.clear();
    qsizetype consumed = 0;
    int w = 0;
    for (const PortEvent& e : events) {
        if (e.kind == PortEvent::Read) {
            ++v.reads;
            const qsizetype at = stream.indexOf(e.bytes, consumed);
            if (at < 0)
                violation(QStringLiteral("read %1: bytes the validator never wrote: %2")
                              .arg(v.reads)
                              .arg(QString::fromLatin1(e.bytes.toHex(' '))));
            else
                consumed = at + e.bytes.size();
            // What the window makes of it: a begun frame held from before
            // comes first; a read that begins with STX is a reply, taken
            // once whole; behind stray bytes only a whole valid frame is
            // taken, at any STX, and a frame begun but short waits for the
            // next read.
            const QByteArray frame = held + e.bytes;
            const bool behindStray = heldBehindStray || (!frame.isEmpty() && frame[0] != char(frames::STX));
            held.clear();
            heldBehindStray = false;
            if (!behindStray) {
                if (!frame.isEmpty() && frame.size() < frames::ValidatorReply::Size)
                    held = frame;
                else if (goodReplyAt(frame, 0)) {
                    ++v.goodReads;
                    good = true;
                }
                continue;
            }
            for (qsizetype stx = frame.indexOf(char(frames::STX)); stx >= 0;
                 stx = frame.indexOf(char(frames::STX), stx + 1)) {
                if (frame.size() - stx < frames::ValidatorReply::Size) {
                    held = frame.mid(stx);
                    heldBehindStray = true;
                    break;
                }
                if (frames::ValidatorReply::fromBytes(frame.mid(stx, frames::ValidatorReply::Size)).isWholeFrame()) {
                    ++v.goodReads;
                    good = true;
                    break;
                }
            }
            continue;
        }
        if (e.kind == PortEvent::Discard) {
            held.clear();  // a start empties the line, and what the window held of it
            heldBehindStray = false;
            continue;
        }
        if (e.kind != PortEvent::Write)
            continue;
        if (e.restart) {
            started = true;
            ack = true;
            good = true;
        }
        if (!started) {
            violation(QStringLiteral("write %1 before any start").arg(w));
        } else if (good && e.mode != 4) {
            ack = !ack;
            if (e.bytes.size() != frames::HostMessage::Size || std::uint8_t(e.bytes[2]) != (ack ? 0x11 : 0x10))
                violation(QStringLiteral("write %1: expected a new message with control %2, wrote %3")
                              .arg(w)
                              .arg(ack ? 0x11 : 0x10, 2, 16)
                              .arg(QString::fromLatin1(e.bytes.toHex(' '))));
        } else if (e.bytes != previous) {
            violation(QStringLiteral("write %1: %2 after %3 with no good reply read since (mode %4)")
                          .arg(w)
                          .arg(QString::fromLatin1(e.bytes.toHex(' ')), QString::fromLatin1(previous.toHex(' ')))
                          .arg(e.mode));
        }
        previous = e.bytes;
        good = false;
        ++w;
    }
    return v;
}

// Resident memory of this process, in kB.
long residentKb()
{
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : f.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    return -1;
}

int envInt(const char* name, int fallback)
{
    bool ok = false;
    const int v = qEnvironmentVariableIntValue(name, &ok);
    return ok ? v : fallback;
}

int soakSeconds()
{
#ifdef SOAK_SANITIZED
    return envInt("POLLBENCH_SOAK_SECONDS", 25);
#else
    return envInt("POLLBENCH_SOAK_SECONDS", 60);
#endif
}

QByteArray frameBytes(const frames::HostMessage& m)
{
    return QByteArray(reinterpret_cast<const char*>(m.bytes.data()), frames::HostMessage::Size);
}

QByteArray replyBytes(std::uint8_t status0, bool goodSum = true)
{
    frames::ValidatorReply r = frames::makeReply(0x20, {status0, 0, 0, 0, 0, 0});
    if (!goodSum)
        r.bytes[10] ^= 0x01;
    return QByteArray(reinterpret_cast<const char*>(r.bytes.data()), frames::ValidatorReply::Size);
}

// A run described in letters, written into a log and a recording as the
// simulator and the window would have them: s start, r the
// message again, n a new message (with a channel enable changed), m a new
// message with the same data, x new data with the acknowledge bit kept, g a
// good reply read, b a reply with a bad checksum read, w a good reply written
// and not read yet, d the replies written so far read at once, f a good reply
// read that was never written, 4 / 1 the mode for the writes that follow.
void playScript(const QString& script, std::vector<LogLine>& log, std::vector<PortEvent>& events)
{
    frames::HostRequest request;
    request.channels = {true, true, true};
    request.escrow = true;
    QByteArray last;
    QByteArray unread;
    int mode = 1;
    auto host = [&](const QByteArray& f, bool restart) {
        log.push_back({0, 'H', f, {}});
        events.push_back({PortEvent::Write, f, mode, restart});
        last = f;
    };
    for (const QChar c : script) {
        switch (c.toLatin1()) {
        case 's':
            // A start sets the toggle; in "Negative ACK" the message is not rebuilt.
            request.ack = mode == 4;
            host(mode == 4 ? last : frameBytes(frames::buildHostMessage(request)), true);
            break;
        case 'n':
            request.ack = !request.ack;
            request.channels[5] = !request.channels[5];  // new data too, so a kept bit shows
            host(frameBytes(frames::buildHostMessage(request)), false);
            break;
        case 'm':
            request.ack = !request.ack;
            host(frameBytes(frames::buildHostMessage(request)), false);
            break;
        case 'x':
            request.escrow = !request.escrow;
            host(frameBytes(frames::buildHostMessage(request)), false);
            break;
        case 'r':
            host(last, false);
            break;
        case 'g':
        case 'b':
            log.push_back({0, 'V', replyBytes(0x01, c == QLatin1Char('g')), {}});
            events.push_back({PortEvent::Read, log.back().bytes});
            break;
        case 'w':
            log.push_back({0, 'V', replyBytes(0x01), {}});
            unread += log.back().bytes;
            break;
        case 'd':
            events.push_back({PortEvent::Read, unread});
            unread.clear();
            break;
        case 'f':
            events.push_back({PortEvent::Read, replyBytes(0x40)});
            break;
        case '4':
            mode = 4;
            break;
        case '1':
            mode = 1;
            break;
        default:
            break;
        }
    }
}

}  // namespace

class TestSoak : public QObject {
    Q_OBJECT
public:
    TestSoak()
    {
        // Qt Test gives up on a test function after five minutes; a longer
        // soak asked for gets its length and two minutes more.
        if (soakSeconds() > 240 && qEnvironmentVariableIsEmpty("QTEST_FUNCTION_TIMEOUT"))
            qputenv("QTEST_FUNCTION_TIMEOUT", QByteArray::number((soakSeconds() + 120) * 1000));
    }

private slots:
    void checker_data();
    void checker();
    void lineFaults();
};

void TestSoak::checker_data()
{
    QTest::addColumn<QString>("script");
    QTest::addColumn<bool>("holds");
    QTest::addColumn<int>("late");

    QTest::newRow("acknowledged polls") << "sgngnbrwrgnr" << true << 0;
    QTest::newRow("a good reply read after the next poll") << "swrdn" << true << 1;
    QTest::newRow("two replies in one read acknowledge once") << "swwdnr" << true << 0;
    QTest::newRow("negative ack repeats") << "sgn4grgrgr1gn" << true << 0;
    QTest::newRow("start in negative ack, then a new message from 0x10") << "sgngn4sgr1gn" << true << 0;
    QTest::newRow("start in negative ack, then the same bytes built again") << "sgngm4sgr1gmgn" << true << 0;
    QTest::newRow("restart begins at 0x10") << "sgngs" << true << 0;
    QTest::newRow("new message without a reply") << "sgnn" << false << 0;
    QTest::newRow("new message after a bad checksum") << "sgnbn" << false << 0;
    QTest::newRow("new message after a reply that was never read") << "sgnwn" << false << 0;
    QTest::newRow("repeat after a good reply") << "sgr" << false << 0;
    QTest::newRow("acknowledge bit kept") << "sgx" << false << 0;
    QTest::newRow("new message in negative ack") << "sgn4gn" << false << 0;
    QTest::newRow("new message after a start in negative ack, no reply") << "sgngn4sr1n" << false << 0;
    QTest::newRow("a good reply that was never written") << "sfn" << false << 0;
}

// The checker catches what it is there to catch.
void TestSoak::checker()
{
    QFETCH(QString, script);
    QFETCH(bool, holds);
    QFETCH(int, late);
    std::vector<LogLine> log;
    std::vector<PortEvent> events;
    playScript(script, log, events);
    const Verdict v = checkAcknowledgement(log, events);
    QVERIFY2(v.violations.isEmpty() == holds, qPrintable(v.violations.join(QLatin1Char('\n'))));
    if (holds)
        QCOMPARE(v.lateReplies, late);
}

void TestSoak::lineFaults()
{
    const int seconds = soakSeconds();
    const quint32 seed = quint32(envInt("POLLBENCH_SOAK_SEED", int(monotonicMicros() & 0x7FFFFFFF)));
    qInfo("soak: %d s, seed %u", seconds, seed);
    std::mt19937 rng(seed);
    auto pick = [&rng](int lo, int hi) { return lo + int(rng() % std::uint32_t(hi - lo + 1)); };

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString link = dir.filePath(QStringLiteral("COM1"));
    const QString logPath = dir.filePath(QStringLiteral("frames.log"));
    SimProcess sim;
    QVERIFY(sim.start(link, {QStringLiteral("--log"), logPath, QStringLiteral("--faults"), QStringLiteral("--fault-rate"),
                             QStringLiteral("10"), QStringLiteral("--fault-kinds"),
                             QStringLiteral("badsum,garbage,silence,split,double,cheat,failure,invalid"),
                             QStringLiteral("--seed"), QString::number(seed), QStringLiteral("--auto"),
                             QStringLiteral("--auto-interval"), QStringLiteral("700")}));

    ModalCloser boxes;
    const QString recordPath = dir.filePath(QStringLiteral("port.record"));
    auto port = std::make_unique<RecordingPort>(dir.path(), recordPath);
    RecordingPort* recorder = port.get();
    auto w = std::make_unique<MAIN64K>(dir.path(), std::move(port));
    recorder->window = w.get();
    w->Form_Load();
    w->Text2->setText(QStringLiteral("30"));

    // The operator's hands.
    int commands = 0;
    auto say = [&](const QString& command) {
        sim.send(command);
        ++commands;
    };
    auto setMode = [&](int mode) {
        while (int(w->session()->mode()) != mode)
            w->Command1_Click();  // no event in between: the modes passed send nothing
    };
    auto start = [&] {
        if (checkValue(w->Check4) == 1)
            setCheckValue(w->Check4, 0);  // a press on a running switch would send nothing
        recorder->restartNext = int(w->session()->mode()) == 1 || int(w->session()->mode()) == 4;
        setCheckValue(w->Check4, 1);
    };
    auto stop = [&] { setCheckValue(w->Check4, 0); };
    auto channel = [&](int n, int on) { setCheckValue(w->Check1[n - 1], on); };

    // A tour that shows every status bit, channel 0 and channels past 13, every
    // line fault and every mode; random actions after it.
    std::vector<std::pair<int, std::function<void()>>> plan = {
        {0, [&] { start(); }},
        {300, [&] { say(QStringLiteral("insert 3")); }},
        {900, [&] { say(QStringLiteral("insert 0")); }},
        {1500, [&] { say(QStringLiteral("insert 14")); }},
        {2100, [&] { say(QStringLiteral("insert 157")); }},
        {2700, [&] { channel(5, 0); }},
        {2750, [&] { say(QStringLiteral("insert 5")); }},
        {3200, [&] { channel(5, 1); }},
        {3300, [&] { say(QStringLiteral("jam")); }},
        {3900, [&] { say(QStringLiteral("clear")); }},
        {4000, [&] { say(QStringLiteral("full")); }},
        {4100, [&] { say(QStringLiteral("insert 2")); }},
        {4600, [&] { say(QStringLiteral("clear")); }},
        {4700, [&] { say(QStringLiteral("calibrate")); }},
        {5200, [&] { say(QStringLiteral("clear")); }},
        {5300, [&] { say(QStringLiteral("insert 1")); }},
        {5400, [&] { say(QStringLiteral("cheat")); }},
        {5700, [&] { say(QStringLiteral("failure")); }},
        {5900, [&] { say(QStringLiteral("invalid")); }},
        {6100, [&] { say(QStringLiteral("reset")); }},
        {6400, [&] { setCheckValue(w->Check6, 0); }},
        {6500, [&] { say(QStringLiteral("insert 6")); }},
        {7200, [&] { setCheckValue(w->Check6, 1); }},
        {7300, [&] { say(QStringLiteral("badsum")); }},
        {7500, [&] { say(QStringLiteral("garbage")); }},
        {7700, [&] { say(QStringLiteral("silence 3")); }},
        {8000, [&] { say(QStringLiteral("split 5")); }},
        {8300, [&] { say(QStringLiteral("split 45")); }},
        {8600, [&] { say(QStringLiteral("double")); }},
        {9000, [&] { setMode(4); }},
        {9200, [&] { say(QStringLiteral("insert 3")); }},
        {10500, [&] { setMode(1); }},
        {11000, [&] { setMode(3); }},
        {12000, [&] { setMode(1); }},
        {12500, [&] { setMode(2); }},
    };
    for (int i = 0; i < 8; ++i)
        plan.push_back({12700 + 80 * i, [&] { setCheckValue(w->Check4, 1); }});
    plan.push_back({13500, [&] {
                        setMode(1);
                        start();
                    }});
    plan.push_back({14000, stop});
    plan.push_back({14150, start});
    plan.push_back({14500, [&] { setMode(4); }});
    plan.push_back({14700, stop});
    plan.push_back({14850, start});
    plan.push_back({15500, [&] { setMode(1); }});
    // Once more each, should a fault have spoilt the first.
    plan.push_back({15700, [&] { say(QStringLiteral("insert 0")); }});
    plan.push_back({16400, [&] { say(QStringLiteral("insert 14")); }});
    const int tourEnd = 17000;

    const int runMs = seconds * 1000;
    int busyUntil = 0;  // no new mode stretch before this
    for (int t = tourEnd; t < runMs - 1000; t += 250) {
        const int roll = pick(0, 99);
        if (roll < 35) {
            const int kind = pick(0, 99);
            const int ch = kind < 60 ? pick(1, 13) : kind < 75 ? 0 : pick(14, 157);
            plan.push_back({t, [&, ch] { say(QStringLiteral("insert %1").arg(ch)); }});
        } else if (roll < 45) {
            const int ch = pick(1, 13);
            plan.push_back({t, [&, ch] { channel(ch, checkValue(w->Check1[ch - 1]) == 1 ? 0 : 1); }});
        } else if (roll < 50) {
            plan.push_back({t, [&] { setCheckValue(w->Check6, checkValue(w->Check6) == 1 ? 0 : 1); }});
        } else if (roll < 65) {
            QString command;
            switch (pick(0, 4)) {
            case 0:
                command = QStringLiteral("badsum");
                break;
            case 1:
                command = QStringLiteral("garbage");
                break;
            case 2:
                command = QStringLiteral("silence %1").arg(pick(1, 4));
                break;
            case 3:
                command = QStringLiteral("split %1").arg(pick(0, 60));  // up to two polls late
                break;
            default:
                command = QStringLiteral("double");
                break;
            }
            plan.push_back({t, [&, command] { say(command); }});
        } else if (roll < 75) {
            static const char* const conditions[] = {"jam", "full", "calibrate"};
            const QString c = QString::fromLatin1(conditions[pick(0, 2)]);
            plan.push_back({t, [&, c] { say(c); }});
            plan.push_back({t + pick(500, 1500), [&] { say(QStringLiteral("clear")); }});
        } else if (roll < 83) {
            static const char* const happenings[] = {"cheat", "failure", "invalid", "reset"};
            const QString e = QString::fromLatin1(happenings[pick(0, 3)]);
            plan.push_back({t, [&, e] { say(e); }});
        } else if (t >= busyUntil) {
            const int stretch = pick(0, 4);
            const int length = pick(1000, 2000);
            if (stretch == 0 || stretch == 1) {  // "Negative ACK" or "Interrupt Mode"
                const int mode = stretch == 0 ? 4 : 3;
                plan.push_back({t, [&, mode] { setMode(mode); }});
                plan.push_back({t + length, [&] { setMode(1); }});
            } else if (stretch == 2) {  // "Step Into"
                plan.push_back({t, [&] { setMode(2); }});
                for (int i = 1; i <= 8; ++i)
                    plan.push_back({t + 100 * i, [&] { setCheckValue(w->Check4, 1); }});
                plan.push_back({t + 1000, [&] {
                                    setMode(1);
                                    start();
                                }});
            } else if (stretch == 3) {  // stop and start again
                plan.push_back({t, stop});
                plan.push_back({t + 200, start});
            } else {  // a start in "Negative ACK"
                plan.push_back({t, [&] { setMode(4); }});
                plan.push_back({t + 300, stop});
                plan.push_back({t + 500, start});
                plan.push_back({t + length, [&] { setMode(1); }});
            }
            busyUntil = t + length + 300;
        }
    }
    std::stable_sort(plan.begin(), plan.end(), [](const auto& a, const auto& b) { return a.first < b.first; });

    // The window must keep answering: a queued call runs promptly all along.
    qint64 worstLatencyUs = 0;
    int probes = 0;
    QTimer probe;
    probe.setInterval(100);
    QObject context;
    QObject::connect(&probe, &QTimer::timeout, &context, [&] {
        const qint64 posted = monotonicMicros();
        QMetaObject::invokeMethod(
            &context,
            [&, posted] {
                worstLatencyUs = std::max(worstLatencyUs, monotonicMicros() - posted);
                ++probes;
            },
            Qt::QueuedConnection);
    });

    // The plan, carried out by a timer, so the operator can also act while
    // the window pauses to resynchronise.
    QElapsedTimer clock;
    std::size_t next = 0;
    QTimer driver;
    driver.setInterval(5);
    driver.setTimerType(Qt::PreciseTimer);
    QObject::connect(&driver, &QTimer::timeout, &context, [&] {
        while (next < plan.size() && plan[next].first <= clock.elapsed())
            plan[next++].second();  // NOLINT: the step may run nested in a pause; next moves first
    });

    clock.start();
    driver.start();
    probe.start();
    long rssStart = -1;
    QStringList rssTrend;  // every 10 s
    int randomFaults = 0;
    while (clock.elapsed() < runMs) {
        QTest::qWait(50);
        // What the simulator says is counted and let go as it comes.
        const qsizetype end = sim.said.lastIndexOf(QLatin1Char('\n')) + 1;
        randomFaults += sim.said.left(end).count(QStringLiteral("fault "));
        sim.said.remove(0, end);
        if (rssStart < 0 && clock.elapsed() >= 2000)
            rssStart = residentKb();
        if (clock.elapsed() >= 10000 * (rssTrend.size() + 1))
            rssTrend << QString::number(residentKb());
        QVERIFY2(sim.running(), "the simulator ended");
    }
    driver.stop();
    probe.stop();
    const long rssEnd = residentKb();

    stop();
    QTest::qWait(300);  // the last replies, a split one included
    QCOMPARE(boxes.count(), 0);
    w.reset();
    const std::vector<PortEvent> events = RecordingPort::readBack(recordPath);
    sim.send(QStringLiteral("stats"));
    QVERIFY(sim.finish());
    randomFaults += sim.linesStartingWith(QStringLiteral("fault "));

    const std::vector<LogLine> log = readFrameLog(logPath);
    const Verdict v = checkAcknowledgement(log, events);

    // Every status bit reached the window in a good reply, and so did
    // channel 0 and channels past 13.
    std::array<std::uint8_t, 3> seen{};
    bool channel0Held = false, channelPast13 = false;
    for (const PortEvent& e : events) {
        if (e.kind != PortEvent::Read || !goodReplyAt(e.bytes, 0))
            continue;
        const auto r = frames::ValidatorReply::fromBytes(
            std::span(reinterpret_cast<const std::uint8_t*>(e.bytes.constData()), std::size_t(e.bytes.size())));
        for (int i = 0; i < 3; ++i)
            seen[i] |= r.status(i);
        channel0Held = channel0Held || ((r.status(0) & frames::EscrowedBit) && r.channelNumber() == 0);
        channelPast13 = channelPast13 || r.channelNumber() > frames::ChannelCount;
    }
    QStringList missing;
    for (const auto& rows : {std::span<const frames::StatusRow>(frames::StateRows), std::span<const frames::StatusRow>(frames::EventRows)})
        for (const frames::StatusRow& row : rows)
            if (!(seen[row.statusByte] & row.mask))
                missing << row.text.toString();

    const QString stats = sim.said.section(QStringLiteral("stats "), -1).section(QLatin1Char('\n'), 0, 0);
    qInfo("soak: %d polls (%d new, %d repeated, %d starts), %d reads (%d good), %d late replies",
          v.polls, v.built, v.repeats, v.restarts, v.reads, v.goodReads, v.lateReplies);
    qInfo("soak: %d random faults, %d commands of the operator's, simulator: %s", randomFaults, commands,
          qPrintable(stats));
    qInfo("soak: %d violations, %d boxes, longest wait of a queued call %lld ms over %d probes",
          int(v.violations.size()), boxes.count(), worstLatencyUs / 1000, probes);
    qInfo("soak: resident memory %ld kB after 2 s, %ld kB at the end", rssStart, rssEnd);
    qInfo("soak: resident memory every 10 s (kB): %s", qPrintable(rssTrend.join(QLatin1Char(' '))));

    QVERIFY2(v.violations.isEmpty(), qPrintable(v.violations.join(QLatin1Char('\n'))));
    QVERIFY2(missing.isEmpty(), qPrintable(QStringLiteral("never seen: ") + missing.join(QStringLiteral(", "))));
    QVERIFY(channel0Held);
    QVERIFY(channelPast13);
    // Progress, not pace: 33 polls and 10 probes a second at full pace, and a
    // tenth of that is left even on a loaded machine unless the window stalls.
    QVERIFY(v.polls > seconds * 3);
    QVERIFY(randomFaults > 0);
    QVERIFY(probes > seconds);
    QVERIFY2(worstLatencyUs < 2000000, "the window stopped answering");
#ifndef SOAK_SANITIZED
    // Flat: a minute of polling may settle caches, not grow with the polls.
    QVERIFY2(rssEnd - rssStart < 4 * 1024, "resident memory grew");
#endif
}

QTEST_MAIN(TestSoak)
#include "test_soak.moc"
