#include "link/lineflags.h"

#include <QFile>

#ifndef Q_OS_WIN
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>
#endif

#ifdef Q_OS_WIN

// A Windows port keeps no line flags between owners: each open sets the
// whole line anew.
struct LineFlags::Found {};

LineFlags::LineFlags() = default;
LineFlags::~LineFlags() = default;
void LineFlags::beforeOpen(const QString&) {}
void LineFlags::opened(bool) {}
void LineFlags::beforeClose(const QSerialPort&) {}
void LineFlags::afterClose() {}
void LineFlags::forget() {}

#else

struct LineFlags::Found {
    termios flags{};
    bool known = false;
    int fd = -1;  // held across the port's own open or close
};

namespace {

// Raw bytes both ways, parity errors neither ignored nor marked, no flow
// control, the receiver on and the modem lines not waited for. Speed,
// character size and parity are the port's to set.
termios linkFlags(termios t)
{
    t.c_iflag = 0;
    t.c_oflag = 0;
    t.c_lflag = 0;
    t.c_cflag &= ~tcflag_t(CRTSCTS);
#ifdef CMSPAR
    t.c_cflag &= ~tcflag_t(CMSPAR);  // with it, even parity would be space parity
#endif
    t.c_cflag |= CREAD | CLOCAL;
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    return t;
}

void closeFd(int& fd)
{
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

}  // namespace

LineFlags::LineFlags() : found_(std::make_unique<Found>()) {}

LineFlags::~LineFlags()
{
    closeFd(found_->fd);
}

void LineFlags::beforeOpen(const QString& device)
{
    forget();
    // Not blocking on a modem line without carrier; a device another
    // program holds exclusively refuses this, and the port's open says so.
    const int fd = ::open(QFile::encodeName(device).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return;
    termios t{};
    if (::tcgetattr(fd, &t) != 0) {
        ::close(fd);
        return;
    }
    found_->flags = t;
    found_->known = true;
    found_->fd = fd;
    const termios ours = linkFlags(t);
    ::tcsetattr(fd, TCSANOW, &ours);
}

void LineFlags::opened(bool ok)
{
    if (!ok && found_->known && found_->fd >= 0)
        ::tcsetattr(found_->fd, TCSANOW, &found_->flags);
    // The port's own descriptor keeps the line up now.
    closeFd(found_->fd);
    if (!ok)
        forget();
}

void LineFlags::beforeClose(const QSerialPort& port)
{
    closeFd(found_->fd);
    if (found_->known && port.handle() >= 0)
        found_->fd = ::fcntl(port.handle(), F_DUPFD_CLOEXEC, 0);
}

void LineFlags::afterClose()
{
    // The port has put back what it saw at its open, which are our flags;
    // the last close of the line follows here, with the flags found.
    if (found_->known && found_->fd >= 0)
        ::tcsetattr(found_->fd, TCSANOW, &found_->flags);
    forget();
}

void LineFlags::forget()
{
    closeFd(found_->fd);
    found_->known = false;
}

#endif
