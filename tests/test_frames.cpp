// The two frames byte for byte, the channel rule and the hexadecimal text.
#include "link/frames.h"

#include <QTest>

using namespace frames;

namespace {

QByteArray bytesOf(const HostMessage& m)
{
    return QByteArray(reinterpret_cast<const char*>(m.bytes.data()), HostMessage::Size);
}

std::array<bool, ChannelCount> channelsUpTo(int last)
{
    std::array<bool, ChannelCount> c{};
    for (int n = 0; n < last; ++n)
        c[n] = true;
    return c;
}

ValidatorReply replyFrom(const QByteArray& hex)
{
    const QByteArray raw = QByteArray::fromHex(hex);
    return ValidatorReply::fromBytes(std::span(reinterpret_cast<const std::uint8_t*>(raw.constData()),
                                               std::size_t(raw.size())));
}

}  // namespace

class TestFrames : public QObject {
    Q_OBJECT
private slots:
    void hostMessage_data();
    void hostMessage();
    void singleChannel_data();
    void singleChannel();
    void framesFromKeptValues();
    void channelNumber_data();
    void channelNumber();
    void replyChecks_data();
    void replyChecks();
    void shortReadIsPadded();
    void toHex_data();
    void toHex();
    void traceLines();
};

void TestFrames::hostMessage_data()
{
    QTest::addColumn<bool>("ack");
    QTest::addColumn<int>("channels");  // channels 1..n enabled
    QTest::addColumn<bool>("escrow");
    QTest::addColumn<bool>("stack");
    QTest::addColumn<bool>("giveBack");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("first after start") << false << 7 << false << false << false << QByteArray("020810 7f0000 0367");
    QTest::newRow("ack, escrow, stack, all 13")
        << true << 13 << true << true << false << QByteArray("020811 7f307e 0328");
    QTest::newRow("all 13, no escrow") << false << 13 << false << false << false << QByteArray("020810 7f007e 0319");
    QTest::newRow("return, escrow on") << false << 7 << true << false << true << QByteArray("020810 7f5000 0337");
    QTest::newRow("return, escrow off") << true << 0 << false << false << true << QByteArray("020811 004000 0359");
    QTest::newRow("nothing enabled") << false << 0 << false << false << false << QByteArray("020810 000000 0318");
}

void TestFrames::hostMessage()
{
    QFETCH(bool, ack);
    QFETCH(int, channels);
    QFETCH(bool, escrow);
    QFETCH(bool, stack);
    QFETCH(bool, giveBack);
    QFETCH(QByteArray, expected);

    HostRequest r;
    r.ack = ack;
    r.channels = channelsUpTo(channels);
    r.escrow = escrow;
    r.stack = stack;
    r.returnNote = giveBack;
    const HostMessage m = buildHostMessage(r);
    QCOMPARE(bytesOf(m).toHex(' '), QByteArray::fromHex(expected).toHex(' '));
    QCOMPARE(m.ackBit(), ack);
    for (std::uint8_t b : m.bytes)
        QVERIFY(b < 0x80);  // seven data bits on the line
}

void TestFrames::singleChannel_data()
{
    QTest::addColumn<int>("channel");
    QTest::addColumn<int>("data0");
    QTest::addColumn<int>("data2");

    const int data0[] = {0x01, 0x02, 0x04, 0x08, 0x10, 0x20, 0x40};
    for (int ch = 1; ch <= 7; ++ch)
        QTest::addRow("channel %d", ch) << ch << data0[ch - 1] << 0;
    // Channels 8..13 sit one bit higher than their place: bit 0 stays clear.
    const int data2[] = {0x02, 0x04, 0x08, 0x10, 0x20, 0x40};
    for (int ch = 8; ch <= 13; ++ch)
        QTest::addRow("channel %d", ch) << ch << 0 << data2[ch - 8];
}

void TestFrames::singleChannel()
{
    QFETCH(int, channel);
    QFETCH(int, data0);
    QFETCH(int, data2);
    HostRequest r;
    r.channels[channel - 1] = true;
    const HostMessage m = buildHostMessage(r);
    QCOMPARE(int(m.data0()), data0);
    QCOMPARE(int(m.data2()), data2);
    QCOMPARE(int(m.checksum()), 0x08 ^ 0x10 ^ data0 ^ data2);
}

void TestFrames::framesFromKeptValues()
{
    const HostMessage m = hostMessageFrom(0x11, 0x7F, 0x00, 0x00);
    QCOMPARE(bytesOf(m).toHex(' '), QByteArray("02 08 11 7f 00 00 03 66"));
}

void TestFrames::channelNumber_data()
{
    QTest::addColumn<int>("status2");
    QTest::addColumn<int>("status3");
    QTest::addColumn<int>("channel");

    QTest::newRow("none") << 0x00 << 0 << 0;
    QTest::newRow("event bits only") << 0x07 << 0 << 0;
    QTest::newRow("3") << 0x18 << 0 << 3;
    QTest::newRow("3 with event bits") << 0x1F << 0 << 3;
    QTest::newRow("8") << 0x40 << 0 << 8;
    QTest::newRow("15") << 0x78 << 0 << 15;
    QTest::newRow("bit 7 ignored") << 0x80 << 0 << 0;
    QTest::newRow("16") << 0x00 << 1 << 16;
    QTest::newRow("19") << 0x18 << 1 << 19;
    QTest::newRow("largest") << 0x78 << 0x7F << 157;
}

void TestFrames::channelNumber()
{
    QFETCH(int, status2);
    QFETCH(int, status3);
    QFETCH(int, channel);
    QCOMPARE(frames::channelNumber(std::uint8_t(status2), std::uint8_t(status3)), channel);
    QCOMPARE(makeReply(0x10, {0, 0, std::uint8_t(status2), std::uint8_t(status3), 0, 0}).channelNumber(), channel);
}

void TestFrames::replyChecks_data()
{
    QTest::addColumn<QByteArray>("hex");
    QTest::addColumn<bool>("stx");
    QTest::addColumn<bool>("checksum");
    QTest::addColumn<bool>("whole");  // STX, length, ETX and checksum all in place

    // 0B ^ 10 ^ 01 = 1A
    QTest::newRow("good") << QByteArray("020b10010000000000031a") << true << true << true;
    QTest::newRow("bad checksum") << QByteArray("020b10010000000000031b") << true << false << false;
    QTest::newRow("no STX, checksum fine") << QByteArray("060b10010000000000031a") << false << true << false;
    QTest::newRow("neither") << QByteArray("000b1001000000000003ff") << false << false << false;
    // Length and ETX are shown, not compared by the two checks; a whole
    // frame has them in place.
    QTest::newRow("odd length byte") << QByteArray("020c10010000000000031d") << true << true << false;
    QTest::newRow("no ETX") << QByteArray("020b10010000000000001a") << true << true << false;
    // STX and ETX are outside the sum.
    QTest::newRow("ETX not summed") << QByteArray("020b10010000000000ff1a") << true << true << false;
}

void TestFrames::replyChecks()
{
    QFETCH(QByteArray, hex);
    QFETCH(bool, stx);
    QFETCH(bool, checksum);
    QFETCH(bool, whole);
    const ValidatorReply r = replyFrom(hex);
    QCOMPARE(r.startsWithStx(), stx);
    QCOMPARE(r.checksumOk(), checksum);
    QCOMPARE(r.isWholeFrame(), whole);
}

void TestFrames::shortReadIsPadded()
{
    const ValidatorReply longer = replyFrom("020b10010000000000031a020b");
    QCOMPARE(longer.bytes[10], std::uint8_t(0x1A));
    const ValidatorReply shorter = replyFrom("020b10");
    QCOMPARE(shorter.bytes[3], std::uint8_t(0));
    QCOMPARE(shorter.bytes[10], std::uint8_t(0));
}

void TestFrames::toHex_data()
{
    QTest::addColumn<int>("value");
    QTest::addColumn<QString>("text");
    QTest::newRow("0") << 0 << "00";
    QTest::newRow("10") << 10 << "0A";
    QTest::newRow("16") << 16 << "10";
    QTest::newRow("127") << 127 << "7F";
    QTest::newRow("171") << 171 << "AB";
    QTest::newRow("255") << 255 << "FF";
}

void TestFrames::toHex()
{
    QFETCH(int, value);
    QFETCH(QString, text);
    QCOMPARE(ToHex(value), text);
}

void TestFrames::traceLines()
{
    QCOMPARE(hostTraceLine(hostMessageFrom(0x10, 0x7F, 0, 0)), QStringLiteral(" 02 08 10 7F 00 00 03 67    "));
    QCOMPARE(hostTraceLine(hostMessageFrom(0x11, 0x7F, 0x30, 0x7E)), QStringLiteral(" 02 08 11 7F 30 7E 03 28 STK"));
    QCOMPARE(hostTraceLine(hostMessageFrom(0x10, 0x7F, 0x50, 0x00)), QStringLiteral(" 02 08 10 7F 50 00 03 37 RTN"));
    // Before a message has been built the line shows zeros and no command.
    QCOMPARE(hostTraceLine(HostMessage{}), QStringLiteral(" 02 08 00 00 00 00 03 00 "));
    const ValidatorReply reply = makeReply(0x10, {0x04, 0x00, 0x18, 0x00, 0x00, 0x00});
    QCOMPARE(replyTraceLine(reply, QStringLiteral("ESC"), QStringLiteral("3"), QStringLiteral("   ")),
             QStringLiteral(" 02 0B 10 04 00 18 00 00 00 03 07 ESC 3    "));
    QCOMPARE(hexBytes(QByteArray::fromHex("020b10ff")), QStringLiteral("02 0B 10 FF"));
    QCOMPARE(hexBytes(QByteArray()), QString());
}

QTEST_APPLESS_MAIN(TestFrames)
#include "test_frames.moc"
