// A tester window on an in-memory port, in a directory of its own; the
// reply frames the tests feed it come from replies.h.
#pragma once

#include "fakeport.h"
#include "link/frames.h"
#include "replies.h"
#include "tester/main64k.h"

#include <QTemporaryDir>

#include <memory>

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
