// Arbitrary bytes in arbitrary chunks into the reply handling of a polling
// session on an in-memory port, with polls in between. No window: the
// session is all there is between the line and what a window would show.
#include "fakeport.h"
#include "link/pollsession.h"

#include <QCoreApplication>

#include <cstdint>
#include <cstdlib>
#include <memory>

namespace {

struct Bench {
    FakePort* port = nullptr;
    std::unique_ptr<PollSession> session;
    int stacked = 0;
};

Bench& bench()
{
    static Bench* b = [] {
        static int argc = 1;
        static char name[] = "fuzz_reply";
        static char* argv[] = {name, nullptr};
        new QCoreApplication(argc, argv);
        auto* b = new Bench;
        auto port = std::make_unique<FakePort>();
        b->port = port.get();
        b->session = std::make_unique<PollSession>(std::move(port));
        b->session->setPortNumber(1);
        b->session->setPollPeriod(30);
        // What the session reports must stay in range whatever the line carries.
        QObject::connect(b->session.get(), &PollSession::noteStacked, [b](int channel) {
            if (channel < 0 || channel > 255 + 15 + 15)
                std::abort();
            ++b->stacked;
        });
        QObject::connect(b->session.get(), &PollSession::replyChecked,
                         [](const frames::ValidatorReply& r, bool good, const frames::StatusDecoding& d) {
                             if (r.bytes[0] != frames::STX || good != r.checksumOk()
                                 || d.channelNumber != r.channelNumber())
                                 std::abort();
                         });
        return b;
    }();
    return *b;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    Bench& b = bench();
    PollSession& s = *b.session;
    if (size < 2)
        return 0;
    // The first byte picks the mode and the enables; the rest is the line,
    // cut into chunks whose lengths come from the data itself.
    const std::uint8_t setup = data[0];
    s.setMode(PollMode(1 + setup % 4));
    s.setEscrow((setup >> 2) & 1);
    for (int c = 1; c <= frames::ChannelCount; ++c)
        s.setChannelEnabled(c, (setup >> (c % 8)) & 1);
    if (!s.isRunning())
        s.start();
    std::size_t i = 1;
    while (i < size) {
        const std::size_t chunk = 1 + data[i] % 24;
        ++i;
        const std::size_t n = std::min(chunk, size - i);
        b.port->arrive(QByteArray(reinterpret_cast<const char*>(data + i), qsizetype(n)));
        i += n;
        if (n % 3 == 0)
            s.PollValidator();
        // Every frame the session writes is a whole, well-formed host message.
        for (const QByteArray& f : b.port->frames) {
            if (f.size() != frames::HostMessage::Size || f[0] != char(frames::STX) || f[6] != char(frames::ETX))
                std::abort();
        }
        b.port->frames.clear();
    }
    // Nothing of one input is kept for the next: memory stays bounded.
    b.port->buffer.clear();
    b.port->frames.clear();
    b.port->calls.clear();
    return 0;
}
