// Arbitrary bytes in arbitrary chunks into the reply handling of a polling
// session on an in-memory port, with polls in between. No window: the
// session is all there is between the line and what a window would show.
#include "fakeport.h"
#include "link/pollsession.h"

#include <QCoreApplication>

#include <cstdint>
#include <cstdlib>
#include <memory>

// A line's worth of bytes per input is plenty: longer inputs only cost time.
constexpr std::size_t MaxInput = 4096;

// AddressSanitizer holds 256 MB of freed blocks back to catch late use; a
// smaller hold still covers everything one input frees.
extern "C" const char* __asan_default_options()
{
    return "quarantine_size_mb=32";
}

namespace {

void ensureApplication()
{
    static int argc = 1;
    static char name[] = "fuzz_reply";
    static char* argv[] = {name, nullptr};
    static QCoreApplication* app = new QCoreApplication(argc, argv);
    Q_UNUSED(app);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 2 || size > MaxInput)
        return 0;
    ensureApplication();
    // A session of its own for each input: inputs stay independent, and all
    // an input allocates is freed by its end, so the leak check that follows
    // an unbalanced input never has to run.
    auto port = std::make_unique<FakePort>();
    FakePort* line = port.get();
    PollSession s(std::move(port));
    s.setPortNumber(1);
    s.setPollPeriod(30);
    // No pause: every input reaches the end of a resynchronisation and what
    // follows it, without an event loop.
    s.setResyncPause(0);
    // What the session reports must stay in range whatever the line carries.
    QObject::connect(&s, &PollSession::noteStacked, [](int channel) {
        if (channel < 0 || channel > 255 + 15 + 15)
            std::abort();
    });
    QObject::connect(&s, &PollSession::replyChecked,
                     [](const frames::ValidatorReply& r, bool good, const frames::StatusDecoding& d) {
                         if (r.bytes[0] != frames::STX || good != r.checksumOk() || d.channelNumber != r.channelNumber())
                             std::abort();
                     });

    // The first byte picks the mode and the enables; the rest is the line,
    // cut into chunks whose lengths come from the data itself.
    const std::uint8_t setup = data[0];
    s.setMode(PollMode(1 + setup % 4));
    s.setEscrow((setup >> 2) & 1);
    for (int c = 1; c <= frames::ChannelCount; ++c)
        s.setChannelEnabled(c, (setup >> (c % 8)) & 1);
    s.start();
    std::size_t i = 1;
    while (i < size) {
        const std::size_t chunk = 1 + data[i] % 24;
        ++i;
        const std::size_t n = std::min(chunk, size - i);
        line->arrive(QByteArray(reinterpret_cast<const char*>(data + i), qsizetype(n)));
        i += n;
        if (n % 3 == 0)
            s.PollValidator();
        // Every frame the session writes is a whole, well-formed host message.
        for (const QByteArray& f : line->frames) {
            if (f.size() != frames::HostMessage::Size || f[0] != char(frames::STX) || f[6] != char(frames::ETX))
                std::abort();
        }
        line->frames.clear();
    }
    return 0;
}
