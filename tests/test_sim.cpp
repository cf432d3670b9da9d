// The virtual validator against the frame functions: what it answers, when
// it moves on, and how its faults look on the line.
#include "link/frames.h"
#include "sim/commands.h"
#include "sim/device.h"
#include "sim/splitter.h"

#include <QTest>

using frames::HostMessage;
using frames::ValidatorReply;
using sim::VirtualValidator;

namespace {

HostMessage message(bool ack, int enabledUpTo = 7, bool escrow = true, bool stack = false, bool giveBack = false)
{
    frames::HostRequest r;
    r.ack = ack;
    for (int n = 0; n < enabledUpTo && n < frames::ChannelCount; ++n)
        r.channels[n] = true;
    r.escrow = escrow;
    r.stack = stack;
    r.returnNote = giveBack;
    return frames::buildHostMessage(r);
}

ValidatorReply only(const std::vector<sim::Chunk>& chunks)
{
    if (chunks.size() != 1 || chunks[0].bytes.size() != ValidatorReply::Size) {
        qWarning("expected one clean reply, got %d writes", int(chunks.size()));
        return {};
    }
    return ValidatorReply::fromBytes(
        std::span(reinterpret_cast<const std::uint8_t*>(chunks[0].bytes.constData()), ValidatorReply::Size));
}

// A reply as the tester would read it on its own: "STATE+EVENT@channel".
QString describe(const ValidatorReply& r)
{
    const frames::StatusDecoding d = frames::decodeStatus(r, {}, {});
    QString s = d.stateText;
    if (!d.eventText.isEmpty())
        s += QLatin1Char('+') + d.eventText;
    if (d.channelNumber != 0)
        s += QLatin1Char('@') + QString::number(d.channelNumber);
    return s;
}

bool wellFormed(const ValidatorReply& r)
{
    for (std::uint8_t b : r.bytes)
        if (b >= 0x80)
            return false;
    return r.bytes[0] == frames::STX && r.bytes[1] == 0x0B && r.bytes[9] == frames::ETX && r.checksumOk();
}

// Plays the host: a new message per good reply, stacking or returning an
// escrowed note as told.
struct Host {
    VirtualValidator& device;
    int enabledUpTo = 7;
    bool escrow = true;
    QString decision = QStringLiteral("stack");
    bool ack = true;
    ValidatorReply last{};

    ValidatorReply poll()
    {
        ack = !ack;
        const bool escrowed = last.status(0) & frames::EscrowedBit;
        const bool stack = escrowed && decision == QLatin1StringView("stack");
        const bool giveBack = escrowed && decision == QLatin1StringView("return");
        last = only(device.hear(message(ack, enabledUpTo, escrow, stack, giveBack)));
        return last;
    }
    ValidatorReply repeat() { return only(device.hear(message(ack, enabledUpTo, escrow))); }
};

}  // namespace

class TestSim : public QObject {
    Q_OBJECT
private slots:
    void acknowledgeRule();
    void noteJourney_data();
    void noteJourney();
    void eventsHeldUntilAcknowledged();
    void conditions_data();
    void conditions();
    void jamHoldsTheNote();
    void malformedMessage();
    void channelEncoding_data();
    void channelEncoding();
    void lineFaults_data();
    void lineFaults();
    void silenceLosesMessages();
    void splitter_data();
    void splitter();
    void commands_data();
    void commands();
    void script();
    void scriptTimes_data();
    void scriptTimes();
};

void TestSim::acknowledgeRule()
{
    VirtualValidator v;
    Host h{v};
    const ValidatorReply first = h.poll();
    QVERIFY(wellFormed(first));
    QCOMPARE(describe(first), QStringLiteral("IDLING+POWER UP"));
    QCOMPARE(first.bytes[2], 0x20);  // answers a message with the bit clear

    // A repeat replays the reply byte for byte and moves nothing on, even
    // with a note inserted meanwhile.
    QVERIFY(v.insert(3));
    QCOMPARE(h.repeat().bytes, first.bytes);
    QCOMPARE(h.repeat().bytes, first.bytes);
    QCOMPARE(v.counts().repeats, 2);

    // The flipped bit acknowledges the power-up and advances the note.
    const ValidatorReply next = h.poll();
    QCOMPARE(describe(next), QStringLiteral("ACCEPTING"));
    QCOMPARE(next.bytes[2], 0x21);
}

void TestSim::noteJourney_data()
{
    QTest::addColumn<int>("channel");
    QTest::addColumn<int>("enabledUpTo");
    QTest::addColumn<bool>("escrow");
    QTest::addColumn<QString>("decision");
    QTest::addColumn<QStringList>("replies");
    QTest::addColumn<QString>("counts");

    const QString a = QStringLiteral("ACCEPTING");
    QTest::newRow("stacked on request")
        << 3 << 7 << true << "stack"
        << QStringList{a, a, "ESCROWED@3", "STACKING@3", "STACKING@3", "IDLING+STACKED@3", "IDLING"}
        << "stacked 1 [3:1] returned 0 rejected 0";
    QTest::newRow("returned on request")
        << 3 << 7 << true << "return"
        << QStringList{a, a, "ESCROWED@3", "RETURNING@3", "RETURNING@3", "IDLING+RETURNED@3", "IDLING"}
        << "stacked 0 [] returned 1 rejected 0";
    QTest::newRow("held in escrow until the host decides")
        << 5 << 7 << true << "none" << QStringList{a, a, "ESCROWED@5", "ESCROWED@5", "ESCROWED@5"}
        << "stacked 0 [] returned 0 rejected 0";
    QTest::newRow("escrow off: stacked without waiting")
        << 3 << 7 << false << "stack" << QStringList{a, a, "STACKING@3", "STACKING@3", "IDLING+STACKED@3", "IDLING"}
        << "stacked 1 [3:1] returned 0 rejected 0";
    QTest::newRow("channel 13 in the shifted bits")
        << 13 << 13 << false << "stack"
        << QStringList{a, a, "STACKING@13", "STACKING@13", "IDLING+STACKED@13", "IDLING"}
        << "stacked 1 [13:1] returned 0 rejected 0";
    QTest::newRow("disabled channel rejected, escrow on")
        << 8 << 7 << true << "stack" << QStringList{a, a, "IDLING+REJECTED", "IDLING"}
        << "stacked 0 [] returned 0 rejected 1";
    QTest::newRow("disabled channel rejected, escrow off")
        << 3 << 2 << false << "stack" << QStringList{a, a, "IDLING+REJECTED", "IDLING"}
        << "stacked 0 [] returned 0 rejected 1";
    QTest::newRow("no channel: escrowed without one")
        << 0 << 7 << true << "return" << QStringList{a, a, "ESCROWED", "RETURNING", "RETURNING", "IDLING+RETURNED"}
        << "stacked 0 [] returned 1 rejected 0";
    QTest::newRow("channel 16 through status 3")
        << 16 << 13 << true << "return" << QStringList{a, a, "ESCROWED@16", "RETURNING@16"}
        << "stacked 0 [] returned 0 rejected 0";
}

void TestSim::noteJourney()
{
    QFETCH(int, channel);
    QFETCH(int, enabledUpTo);
    QFETCH(bool, escrow);
    QFETCH(QString, decision);
    QFETCH(QStringList, replies);
    QFETCH(QString, counts);

    VirtualValidator v;
    Host h{v, enabledUpTo, escrow, decision};
    h.poll();
    h.poll();  // power-up acknowledged
    QVERIFY(v.insert(channel));
    QStringList seen;
    for (qsizetype i = 0; i < replies.size(); ++i) {
        const ValidatorReply r = h.poll();
        QVERIFY(wellFormed(r));
        seen << describe(r);
    }
    QCOMPARE(seen, replies);
    QVERIFY(sim::countsLine(v.counts()).startsWith(counts));
}

void TestSim::eventsHeldUntilAcknowledged()
{
    VirtualValidator v;
    Host h{v, 7, false};
    h.poll();
    h.poll();
    QVERIFY(v.insert(2));
    ValidatorReply r;
    do {
        r = h.poll();
    } while (!(r.status(0) & sim::StackedEvent) && v.counts().polls < 20);
    QCOMPARE(describe(r), QStringLiteral("IDLING+STACKED@2"));

    // Whatever happens meanwhile waits for the acknowledgement: the repeats
    // carry the stacked event and not the cheat.
    v.cheat();
    for (int i = 0; i < 3; ++i)
        QCOMPARE(h.repeat().bytes, r.bytes);
    v.badChecksum();
    QVERIFY(!h.repeat().checksumOk());
    QCOMPARE(v.counts().stackedBadChecksum, 1);  // a host may count this note twice
    QCOMPARE(describe(h.poll()), QStringLiteral("IDLING+CHEATED"));
    QCOMPARE(describe(h.poll()), QStringLiteral("IDLING"));
    QCOMPARE(v.counts().stacked.at(2), 1);
}

void TestSim::conditions_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("reply");
    QTest::addColumn<bool>("lasts");  // until clear, or one acknowledgement

    QTest::newRow("jam") << "jam" << "JAMMED" << true;
    QTest::newRow("stacker full") << "full" << "STACKER FULL" << true;
    QTest::newRow("calibration") << "calibrate" << "CALIBRATION" << true;
    QTest::newRow("cheat") << "cheat" << "IDLING+CHEATED" << false;
    QTest::newRow("failure") << "failure" << "IDLING+FAILURE" << false;
    QTest::newRow("invalid command") << "invalid" << "IDLING+INVALID CMD" << false;
    QTest::newRow("power cycle") << "reset" << "IDLING+POWER UP" << false;
}

void TestSim::conditions()
{
    QFETCH(QString, command);
    QFETCH(QString, reply);
    QFETCH(bool, lasts);

    VirtualValidator v;
    Host h{v};
    h.poll();
    h.poll();
    QVERIFY(sim::applyCommand(v, *sim::parseCommand(command)).has_value());
    QCOMPARE(describe(h.poll()), reply);
    QCOMPARE(describe(h.poll()), lasts ? reply : QStringLiteral("IDLING"));
    QVERIFY(sim::applyCommand(v, *sim::parseCommand(QStringLiteral("clear"))));
    QCOMPARE(describe(h.poll()), QStringLiteral("IDLING"));
}

void TestSim::jamHoldsTheNote()
{
    VirtualValidator v;
    Host h{v};
    h.poll();
    QVERIFY(v.insert(4));
    QCOMPARE(describe(h.poll()), QStringLiteral("ACCEPTING"));
    v.jam();
    QString why;
    for (int i = 0; i < 5; ++i)
        QCOMPARE(describe(h.poll()), QStringLiteral("JAMMED"));
    v.clear();
    QCOMPARE(describe(h.poll()), QStringLiteral("ACCEPTING"));
    QCOMPARE(describe(h.poll()), QStringLiteral("ESCROWED@4"));
    QVERIFY(!v.insert(5, &why));
    QCOMPARE(why, QStringLiteral("busy with a note"));

    // Notes are refused at the end of accepting while the stacker is full.
    VirtualValidator w;
    Host g{w, 7, false};
    g.poll();
    w.setStackerFull();
    QVERIFY(w.insert(1));
    QStringList seen;
    for (int i = 0; i < 3; ++i)
        seen << describe(g.poll());
    QCOMPARE(seen, (QStringList{"STACKER FULL", "STACKER FULL", "STACKER FULL+REJECTED"}));
}

void TestSim::malformedMessage()
{
    VirtualValidator v;
    Host h{v};
    h.poll();
    QVERIFY(v.insert(3));
    while (v.stage() != sim::Stage::Escrowed)
        h.poll();
    h.ack = !h.ack;
    const ValidatorReply r = only(v.hear(message(h.ack, 7, true, true, true)));  // stack and return at once
    QCOMPARE(describe(r), QStringLiteral("ESCROWED+INVALID CMD@3"));
    QCOMPARE(v.stage(), sim::Stage::Escrowed);

    // Bits outside the message's fields are refused the same way.
    h.ack = !h.ack;
    const HostMessage odd = frames::hostMessageFrom(std::uint8_t(0x12 | int(h.ack)), 0x7F, 0x10, 0x00);
    QCOMPARE(describe(only(v.hear(odd))), QStringLiteral("ESCROWED+INVALID CMD@3"));
}

void TestSim::channelEncoding_data()
{
    QTest::addColumn<int>("channel");
    for (int c : {0, 1, 3, 7, 8, 13, 15, 16, 19, 100, 142, 143, 157})
        QTest::addRow("%d", c) << c;
}

void TestSim::channelEncoding()
{
    QFETCH(int, channel);
    const sim::ChannelBytes b = sim::encodeChannel(channel);
    QVERIFY(b.status2 < 0x80 && b.status3 < 0x80);
    QCOMPARE(b.status2 & ~0x78, 0);
    QCOMPARE(frames::channelNumber(b.status2, b.status3), channel);
}

void TestSim::lineFaults_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<int>("writes");
    QTest::addColumn<int>("length");  // of all writes together
    QTest::addColumn<bool>("startsWithStx");
    QTest::addColumn<bool>("checksumOk");

    QTest::newRow("bad checksum") << "badsum" << 1 << 11 << true << false;
    QTest::newRow("garbage") << "garbage" << 1 << 25 << false << false;
    QTest::newRow("split") << "split 40" << 2 << 11 << true << true;
    QTest::newRow("two replies in one write") << "double" << 1 << 22 << true << true;
}

void TestSim::lineFaults()
{
    QFETCH(QString, command);
    QFETCH(int, writes);
    QFETCH(int, length);
    QFETCH(bool, startsWithStx);
    QFETCH(bool, checksumOk);

    VirtualValidator v;
    Host h{v};
    const ValidatorReply good = h.poll();
    QVERIFY(sim::applyCommand(v, *sim::parseCommand(command)));
    const auto chunks = v.hear(message(h.ack));  // a repeat: the same reply, spoiled once
    QCOMPARE(int(chunks.size()), writes);
    QByteArray all;
    for (const auto& c : chunks) {
        all += c.bytes;
        QVERIFY(!c.note.isEmpty());
        for (char b : c.bytes)
            QVERIFY(std::uint8_t(b) < 0x80);
    }
    QCOMPARE(int(all.size()), length);
    if (writes == 2)
        QCOMPARE(chunks[1].delayMs, 40);
    const auto spoiled = ValidatorReply::fromBytes(std::span(reinterpret_cast<const std::uint8_t*>(all.constData()),
                                                             std::size_t(all.size())));
    QCOMPARE(spoiled.startsWithStx(), startsWithStx);
    QCOMPARE(spoiled.checksumOk(), checksumOk);
    if (checksumOk)
        QCOMPARE(spoiled.bytes, good.bytes);
    QCOMPARE(v.counts().lineFaults, 1);

    // One answer only: the next repeat is clean again.
    QCOMPARE(h.repeat().bytes, good.bytes);
}

void TestSim::silenceLosesMessages()
{
    VirtualValidator v;
    Host h{v};
    h.poll();
    QVERIFY(v.insert(3));
    v.silence(2);
    h.ack = !h.ack;
    QVERIFY(v.hear(message(h.ack)).empty());
    QVERIFY(v.hear(message(h.ack)).empty());
    // Never heard, so the third try counts as new and the note moves on.
    QCOMPARE(describe(only(v.hear(message(h.ack)))), QStringLiteral("ACCEPTING"));
    QCOMPARE(v.counts().deaf, 2);
    QCOMPARE(v.counts().repeats, 0);
}

void TestSim::splitter_data()
{
    QTest::addColumn<QStringList>("pieces");  // hexadecimal, fed one by one
    QTest::addColumn<int>("frames");
    QTest::addColumn<int>("dropped");

    const QString f = QStringLiteral("02 08 10 7F 00 00 03 67");
    const QString g = QStringLiteral("02 08 11 7F 30 7E 03 28");
    QTest::newRow("one frame") << QStringList{f} << 1 << 0;
    QTest::newRow("byte by byte") << f.split(QLatin1Char(' ')) << 1 << 0;
    QTest::newRow("two in one read") << QStringList{f + " " + g} << 2 << 0;
    QTest::newRow("noise before") << QStringList{"41 42 00 7F", f} << 1 << 4;
    QTest::newRow("STX in the noise") << QStringList{"02 41 02 08 10", f} << 1 << 5;
    QTest::newRow("bad checksum skipped") << QStringList{"02 08 10 7F 00 00 03 66", g} << 1 << 8;
    QTest::newRow("ETX missing") << QStringList{"02 08 10 7F 00 00 04 67", g} << 1 << 8;
    QTest::newRow("broken frame then a whole one") << QStringList{"02 08 10", f} << 1 << 3;
    QTest::newRow("a reply is no host frame") << QStringList{"02 0B 20 01 00 00 00 00 00 03 2A"} << 0 << 11;
    QTest::newRow("half a frame waits") << QStringList{"02 08 10 7F"} << 0 << 0;
}

void TestSim::splitter()
{
    QFETCH(QStringList, pieces);
    QFETCH(int, frames);
    QFETCH(int, dropped);

    sim::HostFrameSplitter s;
    std::vector<HostMessage> got;
    for (const QString& p : pieces) {
        const auto out = s.feed(QByteArray::fromHex(p.toLatin1()));
        got.insert(got.end(), out.begin(), out.end());
    }
    QCOMPARE(int(got.size()), frames);
    QCOMPARE(int(s.droppedTotal()), dropped);
    for (const HostMessage& m : got)
        QVERIFY(sim::isHostFrame(reinterpret_cast<const char*>(m.bytes.data())));
}

void TestSim::commands_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("arg");

    QTest::newRow("insert") << "insert 3" << true << "insert" << 3;
    QTest::newRow("blanks and case") << "  INSERT   13 " << true << "insert" << 13;
    QTest::newRow("highest channel") << "channel 157" << true << "channel" << 157;
    QTest::newRow("channel out of range") << "insert 158" << false << "" << -1;
    QTest::newRow("missing number") << "insert" << false << "" << -1;
    QTest::newRow("not a number") << "silence x" << false << "" << -1;
    QTest::newRow("silence 0") << "silence 0" << false << "" << -1;
    QTest::newRow("optional pause") << "split" << true << "split" << -1;
    QTest::newRow("pause given") << "split 30" << true << "split" << 30;
    QTest::newRow("stray number") << "jam 1" << false << "" << -1;
    QTest::newRow("unknown") << "dance" << false << "" << -1;
    QTest::newRow("comment") << "# nothing" << true << "" << -1;
    QTest::newRow("empty") << "" << true << "" << -1;
}

void TestSim::commands()
{
    QFETCH(QString, line);
    QFETCH(bool, ok);
    QFETCH(QString, name);
    QFETCH(int, arg);

    QString why;
    const auto c = sim::parseCommand(line, &why);
    QCOMPARE(c.has_value(), ok);
    if (ok) {
        QCOMPARE(c->name, name);
        QCOMPARE(c->arg, arg);
    } else {
        QVERIFY(!why.isEmpty());
    }
}

void TestSim::script()
{
    QString why;
    const auto steps = sim::parseScript(QStringLiteral("# a note, then noise\n"
                                                       "500 insert 3\n"
                                                       "\n"
                                                       "+250 garbage\n"
                                                       "+0 silence 2\n"
                                                       "2000 quit\n"),
                                        &why);
    QVERIFY2(steps, qPrintable(why));
    QCOMPARE(int(steps->size()), 4);
    QCOMPARE((*steps)[0].atMs, 500);
    QCOMPARE((*steps)[1].atMs, 750);
    QCOMPARE((*steps)[2].atMs, 750);
    QCOMPARE((*steps)[2].command.arg, 2);
    QCOMPARE((*steps)[3].atMs, 2000);
    QCOMPARE((*steps)[3].line, 6);

    QVERIFY(!sim::parseScript(QStringLiteral("100 insert 3\nsoon jam\n"), &why));
    QVERIFY(why.startsWith(QStringLiteral("line 2")));
    QVERIFY(!sim::parseScript(QStringLiteral("100 insert 99999\n"), &why));
    QVERIFY(!sim::parseScript(QStringLiteral("100\n"), &why));
}

void TestSim::scriptTimes_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("refusedAt");  // line number, 0: taken
    QTest::addColumn<qint64>("lastMs");

    QTest::newRow("a day exactly") << "86400000 quit" << 0 << sim::MaxScriptMs;
    QTest::newRow("a day, reached by steps") << "43200000 jam\n+43200000 quit" << 0 << sim::MaxScriptMs;
    QTest::newRow("past a day") << "86400001 quit" << 1 << qint64(0);
    QTest::newRow("past a day by steps") << "1 jam\n# wait\n+86400000 clear" << 3 << qint64(0);
    QTest::newRow("2^31 ms") << "2147483648 jam" << 1 << qint64(0);
    QTest::newRow("largest relative, then more") << "+9223372036854775807 jam\n+1 clear" << 1 << qint64(0);
    QTest::newRow("beyond 64 bits") << "1 jam\n99999999999999999999 clear" << 2 << qint64(0);
}

void TestSim::scriptTimes()
{
    QFETCH(QString, text);
    QFETCH(int, refusedAt);
    QFETCH(qint64, lastMs);

    QString why;
    const auto steps = sim::parseScript(text, &why);
    QCOMPARE(steps.has_value(), refusedAt == 0);
    if (steps)
        QCOMPARE(steps->back().atMs, lastMs);
    else
        QVERIFY2(why.startsWith(QStringLiteral("line %1: ").arg(refusedAt)), qPrintable(why));
}

QTEST_APPLESS_MAIN(TestSim)
#include "test_sim.moc"
