#include "link/frames.h"

#include <algorithm>

namespace frames {

std::uint8_t channelEnables0(const std::array<bool, ChannelCount>& channels)
{
    std::uint8_t v = 0;
    for (int n = 0; n <= 6; ++n)
        if (channels[n])
            v |= std::uint8_t(1u << n);
    return v;
}

std::uint8_t channelEnables2(const std::array<bool, ChannelCount>& channels)
{
    // Channels 8..13 sit one bit above their place in the list: bit 0 stays clear.
    std::uint8_t v = 0;
    for (int n = 7; n <= 12; ++n)
        if (channels[n])
            v |= std::uint8_t(1u << (n - 6));
    return v;
}

HostMessage hostMessageFrom(std::uint8_t control, std::uint8_t data0, std::uint8_t data1, std::uint8_t data2)
{
    HostMessage m;
    m.bytes = {STX, 0x08, control, data0, data1, data2, ETX, 0};
    m.bytes[7] = std::uint8_t(0x08 ^ control ^ data0 ^ data1 ^ data2);
    return m;
}

HostMessage buildHostMessage(const HostRequest& r)
{
    const std::uint8_t control = r.ack ? 0x11 : 0x10;
    std::uint8_t data1 = 0;
    if (r.escrow)
        data1 |= EscrowEnabled;
    if (r.stack)
        data1 |= StackBit;
    if (r.returnNote)
        data1 |= ReturnBit;
    return hostMessageFrom(control, channelEnables0(r.channels), data1, channelEnables2(r.channels));
}

Request HostMessage::request() const
{
    if (isEmpty())
        return Request::None;
    if (data1() & StackBit)
        return Request::Stack;
    if (data1() & ReturnBit)
        return Request::Return;
    return Request::Plain;
}

QByteArray HostMessage::toByteArray() const
{
    if (isEmpty())
        return {};
    return QByteArray(reinterpret_cast<const char*>(bytes.data()), Size);
}

ValidatorReply ValidatorReply::fromBytes(const QByteArray& data)
{
    return fromBytes(std::span(reinterpret_cast<const std::uint8_t*>(data.constData()), std::size_t(data.size())));
}

QByteArray ValidatorReply::toByteArray() const
{
    return QByteArray(reinterpret_cast<const char*>(bytes.data()), Size);
}

ValidatorReply ValidatorReply::fromBytes(std::span<const std::uint8_t> data)
{
    ValidatorReply r;
    std::copy_n(data.begin(), std::min<std::size_t>(data.size(), Size), r.bytes.begin());
    return r;
}

std::uint8_t ValidatorReply::computedChecksum() const
{
    std::uint8_t x = 0;
    for (int i = 1; i <= 8; ++i)
        x ^= bytes[i];
    return x;
}

int ValidatorReply::channelNumber() const
{
    return frames::channelNumber(bytes[5], bytes[6]);
}

ValidatorReply makeReply(std::uint8_t control, std::array<std::uint8_t, 6> status)
{
    ValidatorReply r;
    r.bytes = {STX, 0x0B, control, status[0], status[1], status[2], status[3], status[4], status[5], ETX, 0};
    r.bytes[10] = r.computedChecksum();
    return r;
}

int channelNumber(std::uint8_t status2, std::uint8_t status3)
{
    const int base = (status2 & 0x78) >> 3;
    return status3 != 0 ? status3 + 15 + base : base;
}

StatusDecoding decodeStatus(const ValidatorReply& reply, const QString& previousStateText,
                            const QString& previousEventText)
{
    StatusDecoding d;
    d.stateText = previousStateText;
    d.eventText = previousEventText;
    d.channelNumber = reply.channelNumber();
    if (d.channelNumber != 0)
        d.channelText = QString::number(d.channelNumber);
    // The texts are the tables' own: a reply costs no copy of them.
    const auto text = [](QStringView v) { return QString::fromRawData(v.data(), v.size()); };
    for (const StatusRow& row : StateRows) {
        if (reply.status(row.statusByte) & row.mask) {
            d.stateText = text(row.text);
            if (!row.code.isEmpty())
                d.stateCode = text(row.code);
        }
    }
    for (const StatusRow& row : EventRows) {
        if (reply.status(row.statusByte) & row.mask) {
            d.eventText = text(row.text);
            if (!row.code.isEmpty())
                d.eventCode = text(row.code);
        }
    }
    return d;
}

QString replyEventText(const ValidatorReply& reply)
{
    QStringView text;
    for (const StatusRow& row : EventRows)
        if (reply.status(row.statusByte) & row.mask)
            text = row.text;
    return QString::fromRawData(text.data(), text.size());
}

QString ToHex(int value)
{
    static constexpr char digits[] = "0123456789ABCDEF";
    const int v = value & 0xFF;
    const char text[2] = {digits[v / 16], digits[v % 16]};
    return QString::fromLatin1(text, 2);
}

QString commandCode(Request request)
{
    switch (request) {
    case Request::Plain:
        return QStringLiteral("   ");
    case Request::Stack:
        return QStringLiteral("STK");
    case Request::Return:
        return QStringLiteral("RTN");
    case Request::None:
        break;
    }
    return {};
}

QString hostTraceLine(const HostMessage& m)
{
    QString line;
    line.reserve(32);
    line += QLatin1StringView(" 02 08 ");
    line += ToHex(m.control());
    line += QLatin1Char(' ');
    line += ToHex(m.data0());
    line += QLatin1Char(' ');
    line += ToHex(m.data1());
    line += QLatin1Char(' ');
    line += ToHex(m.data2());
    line += QLatin1StringView(" 03 ");
    line += ToHex(m.checksum());
    line += QLatin1Char(' ');
    line += commandCode(m.request());
    return line;
}

QString replyTraceLine(const ValidatorReply& reply, const QString& stateCode, const QString& channelText,
                       const QString& eventCode)
{
    QString line;
    line.reserve(48);
    line += QLatin1StringView(" 02");
    for (int i = 1; i < ValidatorReply::Size; ++i) {
        line += QLatin1Char(' ');
        line += ToHex(reply.bytes[i]);
    }
    line += QLatin1Char(' ');
    line += stateCode;
    line += QLatin1Char(' ');
    line += channelText;
    line += QLatin1Char(' ');
    line += eventCode;
    return line;
}

QString hexBytes(const QByteArray& bytes)
{
    QString text;
    text.reserve(bytes.size() * 3);
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        if (i)
            text += QLatin1Char(' ');
        text += ToHex(std::uint8_t(bytes[i]));
    }
    return text;
}

}  // namespace frames
