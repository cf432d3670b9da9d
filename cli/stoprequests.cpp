#include "cli/stoprequests.h"

#if defined(Q_OS_UNIX)
#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>
#endif

namespace cli {

#if defined(Q_OS_UNIX)

// A signal handler may only write to a descriptor: the number goes down a
// pipe that the event loop watches.
namespace {
int pipeFds[2] = {-1, -1};
struct sigaction previousInt {};
struct sigaction previousTerm {};

void onSignal(int number)
{
    const int saved = errno;
    const char c = char(number);
    [[maybe_unused]] const ssize_t n = ::write(pipeFds[1], &c, 1);
    errno = saved;
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
            what = c == SIGINT ? QStringLiteral("SIGINT") : QStringLiteral("SIGTERM");
        if (!what.isEmpty())
            emit requested(what);
    });
    struct sigaction sa {};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    sigaction(SIGINT, &sa, &previousInt);
    sigaction(SIGTERM, &sa, &previousTerm);
}

StopRequests::~StopRequests()
{
    if (!notifier_)
        return;
    sigaction(SIGINT, &previousInt, nullptr);
    sigaction(SIGTERM, &previousTerm, nullptr);
    delete notifier_;
    ::close(pipeFds[0]);
    ::close(pipeFds[1]);
    pipeFds[0] = pipeFds[1] = -1;
}

#elif !defined(Q_OS_WIN)  // Windows: stoprequests_win.cpp

// Elsewhere a signal ends the process as it always did.
StopRequests::StopRequests(QObject* parent) : QObject(parent) {}
StopRequests::~StopRequests() = default;

#endif

}  // namespace cli
