// The hot paths of one poll and one reply, on their own.
#include "link/frames.h"
#include "tester/main64k.h"
#include "windowbench.h"

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>

#include <benchmark/benchmark.h>

namespace {

const frames::ValidatorReply Escrowed = frames::makeReply(0x10, {0x04, 0x00, 0x18, 0x00, 0x00, 0x00});

void BuildHostMessage(benchmark::State& state)
{
    frames::HostRequest r;
    r.channels.fill(true);
    r.escrow = true;
    for (auto _ : state) {
        r.ack = !r.ack;
        r.stack = r.ack;
        benchmark::DoNotOptimize(frames::buildHostMessage(r));
    }
}
BENCHMARK(BuildHostMessage);

void CheckAndDecodeReply(benchmark::State& state)
{
    const QString stateText = QStringLiteral("IDLING");
    const QString eventText;
    for (auto _ : state) {
        benchmark::DoNotOptimize(Escrowed.startsWithStx() && Escrowed.checksumOk());
        benchmark::DoNotOptimize(frames::decodeStatus(Escrowed, stateText, eventText));
    }
}
BENCHMARK(CheckAndDecodeReply);

void HostTraceLine(benchmark::State& state)
{
    const frames::HostMessage m = frames::hostMessageFrom(0x11, 0x7F, 0x30, 0x7E);
    for (auto _ : state)
        benchmark::DoNotOptimize(frames::hostTraceLine(m));
}
BENCHMARK(HostTraceLine);

void ReplyTraceLine(benchmark::State& state)
{
    const QString code = QStringLiteral("ESC"), channel = QStringLiteral("3"), none = QStringLiteral("   ");
    for (auto _ : state)
        benchmark::DoNotOptimize(frames::replyTraceLine(Escrowed, code, channel, none));
}
BENCHMARK(ReplyTraceLine);

// One poll and its reply through the window on an in-memory port, with the
// trace panes full so every line scrolls a pane; with `repaint` the window is
// drawn after each poll, as the event loop does, so 32 rows are repainted.
void pollWithFullPanes(benchmark::State& state, bool repaint, bool record = false)
{
    WindowBench b;
    b.w->show();
    // With the record on, every poll writes two rows to a real file.
    if (record && !b.w->startRecord(b.dir.filePath(QStringLiteral("bench.csv")), false, nullptr)) {
        state.SkipWithError("the record could not be started");
        return;
    }
    b.w->Text2->setText(QStringLiteral("65535"));
    setCheckValue(b.w->Check4, 1);
    const QByteArray reply(reinterpret_cast<const char*>(Escrowed.bytes.data()), frames::ValidatorReply::Size);
    const auto poll = [&] {
        b.fake->arrive(reply);
        b.w->session()->PollValidator();
        b.fake->frames.clear();
        if (repaint)
            QCoreApplication::processEvents();
    };
    for (int i = 0; i < 20; ++i)
        poll();
    for (auto _ : state)
        poll();
    QCoreApplication::processEvents();
}

void PollAndReception(benchmark::State& state)
{
    pollWithFullPanes(state, false);
}
BENCHMARK(PollAndReception);

void PollReceptionAndRepaint(benchmark::State& state)
{
    pollWithFullPanes(state, true);
}
BENCHMARK(PollReceptionAndRepaint);

// The cost of the record to one poll and its reply: compare with PollAndReception.
void PollAndReceptionRecorded(benchmark::State& state)
{
    pollWithFullPanes(state, false, true);
}
BENCHMARK(PollAndReceptionRecorded);

}  // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
