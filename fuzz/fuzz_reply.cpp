// Arbitrary bytes in arbitrary chunks into the reply handler of a polling
// window on an in-memory port, with polls in between.
#include "fakeport.h"
#include "tester/main64k.h"

#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>

#include <cstdint>
#include <cstdlib>
#include <memory>

namespace {

struct Bench {
    QTemporaryDir dir;
    FakePort* port = nullptr;
    std::unique_ptr<MAIN64K> window;
};

Bench& bench()
{
    static Bench* b = [] {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        static int argc = 1;
        static char name[] = "fuzz_reply";
        static char* argv[] = {name, nullptr};
        new QApplication(argc, argv);
        auto* b = new Bench;
        auto port = std::make_unique<FakePort>();
        b->port = port.get();
        b->window = std::make_unique<MAIN64K>(b->dir.path(), std::move(port));
        b->window->Form_Load();
        return b;
    }();
    return *b;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    Bench& b = bench();
    MAIN64K& w = *b.window;
    if (size < 2)
        return 0;
    // The first byte picks the mode and the enables; the rest is the line,
    // cut into chunks whose lengths come from the data itself.
    const std::uint8_t setup = data[0];
    w.PollMode = std::int16_t(setup % 4);
    w.Command1_Click();
    setCheckValue(w.Check6, (setup >> 2) & 1);
    for (int i = 0; i < 13; ++i)
        setCheckValue(w.Check1[i], (setup >> (i % 8)) & 1);
    if (!w.PortReady) {
        w.Text1->setText(QStringLiteral("1"));
        w.Text2->setText(QStringLiteral("30"));
        setCheckValue(w.Check4, 1);
    }
    std::size_t i = 1;
    while (i < size) {
        const std::size_t chunk = 1 + data[i] % 24;
        ++i;
        const std::size_t n = std::min(chunk, size - i);
        b.port->arrive(QByteArray(reinterpret_cast<const char*>(data + i), qsizetype(n)));
        i += n;
        if (n % 3 == 0)
            w.PollValidator();
    }
    b.port->buffer.clear();
    b.port->frames.clear();
    return 0;
}
