// A tester window on an in-memory port, in a directory of its own, and the
// reply frames the tests feed it.
#pragma once

#include "fakeport.h"
#include "link/frames.h"
#include "tester/main64k.h"

#include <QByteArray>
#include <QTemporaryDir>

#include <array>
#include <cstdint>
#include <memory>

using Status = std::array<std::uint8_t, 6>;

inline QByteArray replyBytes(Status status, bool goodChecksum = true)
{
    frames::ValidatorReply r = frames::makeReply(0x10, status);
    if (!goodChecksum)
        r.bytes[10] ^= 0x01;
    return QByteArray(reinterpret_cast<const char*>(r.bytes.data()), frames::ValidatorReply::Size);
}

struct WindowBench {
    QTemporaryDir dir;
    FakePort* fake = nullptr;
    std::unique_ptr<MAIN64K> w;

    // Loaded without a settings file: port 1, poll rate 100, channels 1 to 7,
    // escrow ticked, "Normal Poll".
    explicit WindowBench(bool load = true)
    {
        auto port = std::make_unique<FakePort>();
        fake = port.get();
        w = std::make_unique<MAIN64K>(dir.path(), std::move(port));
        if (load)
            w->Form_Load();
    }
};
