// Arbitrary bytes in arbitrary chunks into the reply handling of a polling
// session on an in-memory port, with polls in between. No window: the
// session is all there is between the line and what a window would show.
#include "fakeport.h"
#include "link/pollsession.h"

#include <QCoreApplication>

#include <cstdint>
#include <cstdlib>
#include <memory>

// A handful of replies, whole or in pieces, with noise between: enough to
// reach every state of the session. Coverage after 10 s is the same with
// 4,096 bytes, at well under half the inputs a second.
constexpr std::size_t MaxInput = 64;

// AddressSanitizer holds 256 MB of freed blocks back to catch late use; a
// smaller hold still covers everything one input frees.
//
// It also keeps the call stack of every allocation, walked by frame
// pointers. Qt's libraries have none, so past a Qt frame the walk reads stale
// stack words, and nearly every such "stack" is new: memory grew by some
// 70 bytes an input, past 200 MB within 30 s. Two frames (the allocator and
// its caller) are all that is reliable; replay a crashing input with
// ASAN_OPTIONS=malloc_context_size=30 for the whole story.
extern "C" const char* __asan_default_options()
{
    return "quarantine_size_mb=32:malloc_context_size=2";
}

namespace {

// One session for the whole run, reset after every input: every input still
// starts from a new session, without paying for building one each time.
struct Bench {
    FakePort* line = nullptr;
    std::unique_ptr<PollSession> session;

    Bench()
    {
        static int argc = 1;
        static char name[] = "fuzz_reply";
        static char* argv[] = {name, nullptr};
        static QCoreApplication app(argc, argv);

        auto port = std::make_unique<FakePort>();
        line = port.get();
        line->recordCalls = false;
        session = std::make_unique<PollSession>(std::move(port));
        PollSession& s = *session;
        s.setPortNumber(1);
        // The harness calls for each poll itself; with no period the poll
        // clock never runs, so an input costs no kernel timer.
        s.setPollPeriod(0);
        // No pause: every input reaches the end of a resynchronisation and
        // what follows it, without an event loop.
        s.setResyncPause(0);
        // What the session reports must stay in range whatever the line carries.
        QObject::connect(&s, &PollSession::noteStacked, [](int channel) {
            if (channel < 0 || channel > 255 + 15 + 15)
                std::abort();
        });
        QObject::connect(&s, &PollSession::replyChecked, [](const CheckedReply& c) {
            if (c.reply.bytes[0] != frames::STX || c.checksumOk != c.reply.checksumOk()
                || c.decoding.channelNumber != c.reply.channelNumber())
                std::abort();
        });
    }

    // Everything an input left behind is freed before it ends, so libFuzzer
    // sees each input free what it allocates and never suspects a leak.
    void forget()
    {
        session->reset();
        line->buffer = QByteArray();
        line->frames = {};
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 2 || size > MaxInput)
        return 0;
    static Bench bench;
    PollSession& s = *bench.session;
    FakePort* line = bench.line;

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
        line->arrive(QByteArray::fromRawData(reinterpret_cast<const char*>(data + i), qsizetype(n)));
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
    bench.forget();
    return 0;
}
