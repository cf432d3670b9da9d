// Validator replies as they come off the line, for tests that feed a port.
#pragma once

#include "link/frames.h"

#include <QByteArray>

#include <array>
#include <cstdint>

using Status = std::array<std::uint8_t, 6>;

inline QByteArray replyBytes(Status status, bool goodChecksum = true)
{
    frames::ValidatorReply r = frames::makeReply(0x10, status);
    if (!goodChecksum)
        r.bytes[10] ^= 0x01;
    return QByteArray(reinterpret_cast<const char*>(r.bytes.data()), frames::ValidatorReply::Size);
}

// A reply with one byte changed and its checksum made good again: whether
// it passes then depends on that byte alone.
inline QByteArray replyWithByte(Status status, int index, std::uint8_t value)
{
    frames::ValidatorReply r = frames::makeReply(0x10, status);
    r.bytes[std::size_t(index)] = value;
    r.bytes[10] = r.computedChecksum();
    return QByteArray(reinterpret_cast<const char*>(r.bytes.data()), frames::ValidatorReply::Size);
}
