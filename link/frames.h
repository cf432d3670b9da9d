// The two frames of the validator line, their checksums, status bits and
// the channel-number rule. Pure data handling: no window, no port.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringView>

#include <array>
#include <cstdint>
#include <span>

namespace frames {

inline constexpr std::uint8_t STX = 0x02;
inline constexpr std::uint8_t ETX = 0x03;
inline constexpr std::uint8_t ReplyLengthByte = 0x0B;  // a reply's length byte: its own size
inline constexpr int ChannelCount = 13;

// data 1 bits of a host message
inline constexpr std::uint8_t EscrowEnabled = 0x10;
inline constexpr std::uint8_t StackBit = 0x20;
inline constexpr std::uint8_t ReturnBit = 0x40;

// status 0 bit the poll cycle reads to stack or return a note
inline constexpr std::uint8_t EscrowedBit = 0x04;
// status 1 and 2 bits a run's figures count
inline constexpr std::uint8_t CheatedBit = 0x01;      // status 1
inline constexpr std::uint8_t JammedBit = 0x04;       // status 1
inline constexpr std::uint8_t StackerFullBit = 0x08;  // status 1
inline constexpr std::uint8_t PowerUpBit = 0x01;      // status 2
inline constexpr std::uint8_t InvalidCommandBit = 0x02;  // status 2
inline constexpr std::uint8_t FailureBit = 0x04;      // status 2

// The event codes of a note's outcome.
inline constexpr QStringView StackedCode = u"STD";
inline constexpr QStringView ReturnedCode = u"RTD";
inline constexpr QStringView RejectedCode = u"REJ";

// What a host message asks of the validator besides its status. None: no
// message has been built yet (all bytes zero).
enum class Request : std::uint8_t { None, Plain, Stack, Return };

// 8 bytes, host to validator.
struct HostMessage {
    static constexpr int Size = 8;
    std::array<std::uint8_t, Size> bytes{};

    bool isEmpty() const { return bytes[0] != STX; }
    Request request() const;
    // The bytes to write; empty before a message has been built.
    QByteArray toByteArray() const;
    std::uint8_t control() const { return bytes[2]; }
    std::uint8_t data0() const { return bytes[3]; }
    std::uint8_t data1() const { return bytes[4]; }
    std::uint8_t data2() const { return bytes[5]; }
    std::uint8_t checksum() const { return bytes[7]; }
    bool ackBit() const { return (bytes[2] & 0x01) != 0; }
};

// The operator's choices one host message carries.
struct HostRequest {
    bool ack = false;
    std::array<bool, ChannelCount> channels{};  // element n is channel n + 1
    bool escrow = false;
    bool stack = false;
    bool returnNote = false;
};

std::uint8_t channelEnables0(const std::array<bool, ChannelCount>& channels);  // channels 1..7
std::uint8_t channelEnables2(const std::array<bool, ChannelCount>& channels);  // channels 8..13, bits 1..6
HostMessage buildHostMessage(const HostRequest& request);
// Frame from the five values the tester keeps of its last message.
HostMessage hostMessageFrom(std::uint8_t control, std::uint8_t data0, std::uint8_t data1, std::uint8_t data2);

// 11 bytes, validator to host.
struct ValidatorReply {
    static constexpr int Size = 11;
    std::array<std::uint8_t, Size> bytes{};

    static ValidatorReply fromBytes(std::span<const std::uint8_t> data);  // first 11, zero-padded
    static ValidatorReply fromBytes(const QByteArray& data);
    QByteArray toByteArray() const;
    std::uint8_t status(int i) const { return bytes[3 + i]; }
    bool startsWithStx() const { return bytes[0] == STX; }
    std::uint8_t computedChecksum() const;  // XOR of bytes 1..8
    bool checksumOk() const { return computedChecksum() == bytes[10]; }
    // STX, the reply's length, ETX in its place and a good checksum. Random
    // bytes after an STX pass the checksum alone one time in 128; all four
    // together vouch that the validator sent this frame.
    bool isWholeFrame() const
    {
        return startsWithStx() && bytes[1] == ReplyLengthByte && bytes[9] == ETX && checksumOk();
    }
    int channelNumber() const;
};

// Builds a well-formed reply (length 0x0B, ETX, correct checksum).
ValidatorReply makeReply(std::uint8_t control, std::array<std::uint8_t, 6> status);

// 0 names no channel; may exceed 13 (157 at most).
int channelNumber(std::uint8_t status2, std::uint8_t status3);

// One row of the state or event table. An empty code leaves the code as it was.
struct StatusRow {
    int statusByte;  // 0..5
    std::uint8_t mask;
    QStringView text;
    QStringView code;
};

// In the order they are applied: the last matching row wins.
inline constexpr std::array<StatusRow, 8> StateRows{{
    {0, 0x01, u"IDLING", {}},
    {0, 0x02, u"ACCEPTING", u"ACC"},
    {0, 0x04, u"ESCROWED", u"ESC"},
    {0, 0x08, u"STACKING", u"STK"},
    {0, 0x20, u"RETURNING", u"RTN"},
    {1, JammedBit, u"JAMMED", u"JAM"},
    {1, StackerFullBit, u"STACKER FULL", {}},
    {1, 0x40, u"CALIBRATION", u"CAL"},
}};

inline constexpr std::array<StatusRow, 7> EventRows{{
    {2, FailureBit, u"FAILURE", {}},
    {0, 0x10, u"STACKED", StackedCode},
    {0, 0x40, u"RETURNED", ReturnedCode},
    {1, CheatedBit, u"CHEATED", u"CHT"},
    {1, 0x02, u"REJECTED", RejectedCode},
    {2, PowerUpBit, u"POWER UP", u"PWR"},
    {2, InvalidCommandBit, u"INVALID CMD", u"INV"},
}};

inline const QString NoCode = QStringLiteral("   ");

// What one reply says. Texts persist across replies, so the previous
// state and event texts go in; codes describe this reply only.
struct StatusDecoding {
    QString stateText;
    QString stateCode = NoCode;
    QString eventText;
    QString eventCode = NoCode;
    int channelNumber = 0;
    QString channelText = QStringLiteral(" ");
};

StatusDecoding decodeStatus(const ValidatorReply& reply, const QString& previousStateText,
                            const QString& previousEventText);
// The event this reply reports by itself, empty when none.
QString replyEventText(const ValidatorReply& reply);

// A byte as two upper-case hexadecimal digits.
QString ToHex(int value);

inline const QString NoResponseLine = QStringLiteral("       NO RESPONSE!  TIMEOUT");

// "   ", "STK", "RTN"; empty before a message has been built.
QString commandCode(Request request);

// The STX, length and ETX columns are fixed text, not taken from the frame.
QString hostTraceLine(const HostMessage& message);
QString replyTraceLine(const ValidatorReply& reply, const QString& stateCode, const QString& channelText,
                       const QString& eventCode);
// Bytes as two upper-case hexadecimal digits each, one blank between.
QString hexBytes(const QByteArray& bytes);

}  // namespace frames
