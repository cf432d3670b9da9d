#include "cli/stoprequests.h"

#if defined(Q_OS_UNIX)
#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <iterator>
#include <unistd.h>
#endif

namespace cli {

#if defined(Q_OS_UNIX)

// A signal handler may only write to a descriptor: the number goes down a
// pipe that the event loop watches.
namespace {
int pipeFds[2] = {-1, -1};

// Each ends the run as SIGTERM does: the terminal hung up, or Ctrl+\.
constexpr int StopSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
// A reader of standard error that quit, and a file past the file-size
// limit, fail the write instead: the run goes on and says so.
constexpr int IgnoredSignals[] = {SIGPIPE, SIGXFSZ};
constexpr int SignalCount = int(std::size(StopSignals) + std::size(IgnoredSignals));
struct sigaction previous[SignalCount]{};

void onSignal(int number)
{
    const int saved = errno;
    const char c = char(number);
    [[maybe_unused]] const ssize_t n = ::write(pipeFds[1], &c, 1);
    errno = saved;
}

QString signalName(int number)
{
    switch (number) {
    case SIGINT:
        return QStringLiteral("SIGINT");
    case SIGHUP:
        return QStringLiteral("SIGHUP");
    case SIGQUIT:
        return QStringLiteral("SIGQUIT");
    default:
        return QStringLiteral("SIGTERM");
    }
}
}  // namespace

StopRequests::StopRequests(QObject* parent) : QObject(parent)
{
    if (::pipe(pipeFds) != 0)
        return;  // no way to hear signals: they end the process as before
    for (int fd : pipeFds) {
        ::fcntl(fd, F_SETFD, FD_CLOEXEC);
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    }
    notifier_ = new QSocketNotifier(pipeFds[0], QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, [this] {
        char c = 0;
        QString what;
        while (::read(pipeFds[0], &c, 1) == 1)
            what = signalName(c);
        if (!what.isEmpty())
            emit requested(what);
    });
    struct sigaction sa {};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    int i = 0;
    for (int number : StopSignals)
        sigaction(number, &sa, &previous[i++]);
    sa.sa_handler = SIG_IGN;
    for (int number : IgnoredSignals)
        sigaction(number, &sa, &previous[i++]);
}

StopRequests::~StopRequests()
{
    if (!notifier_)
        return;
    int i = 0;
    for (int number : StopSignals)
        sigaction(number, &previous[i++], nullptr);
    for (int number : IgnoredSignals)
        sigaction(number, &previous[i++], nullptr);
    delete notifier_;
    ::close(pipeFds[0]);
    ::close(pipeFds[1]);
    pipeFds[0] = pipeFds[1] = -1;
}

void ignoreFileSizeSignal()
{
    std::signal(SIGXFSZ, SIG_IGN);
}

#elif !defined(Q_OS_WIN)  // Windows: stoprequests_win.cpp

// Elsewhere a signal ends the process as it always did.
void ignoreFileSizeSignal() {}
StopRequests::StopRequests(QObject* parent) : QObject(parent) {}
StopRequests::~StopRequests() = default;

#endif

}  // namespace cli
