#include "sim/line.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace sim {

namespace {

QString systemError(const char* what)
{
    return QStringLiteral("%1: %2").arg(QLatin1StringView(what), QString::fromLocal8Bit(std::strerror(errno)));
}

// Raw bytes at 9600 7E1, no flow control.
bool setRawLine(int fd)
{
    termios t{};
    if (tcgetattr(fd, &t) != 0)
        return false;
    cfmakeraw(&t);
    t.c_cflag &= ~(CSIZE | CSTOPB | PARODD | CRTSCTS);
    t.c_cflag |= CS7 | PARENB | CREAD | CLOCAL;
    t.c_iflag &= ~(IXON | IXOFF | IXANY | INPCK | ISTRIP);
    t.c_cc[VMIN] = 1;  // with O_NONBLOCK an empty line reads as EAGAIN, not as 0
    t.c_cc[VTIME] = 0;
    cfsetispeed(&t, B9600);
    cfsetospeed(&t, B9600);
    return tcsetattr(fd, TCSANOW, &t) == 0;
}

// The names ptsname gives on Linux and the BSDs.
bool isPtySlaveName(const QString& path)
{
    const QLatin1StringView dir("/dev/pts/");
    if (!path.startsWith(dir) || path.size() == dir.size())
        return false;
    for (qsizetype i = dir.size(); i < path.size(); ++i)
        if (!path[i].isDigit())
            return false;
    return true;
}

// Makes room for our link. The only thing replaced is a link that a killed
// run left behind: one to a pseudo-terminal slave that went away with its
// master (or that the kernel has just handed to us, which proves the old one
// gone). Anything else may be the operator's, say COM1 -> /dev/ttyUSB0, and
// is refused.
bool clearLinkPath(const QString& linkPath, const QString& ourSlave, QString* error)
{
    const QByteArray path = QFile::encodeName(linkPath);
    struct stat st {};
    if (::lstat(path.constData(), &st) != 0) {
        if (errno == ENOENT)
            return true;
        *error = systemError(path.constData());
        return false;
    }
    if (!S_ISLNK(st.st_mode)) {
        *error = QStringLiteral("%1 exists and is not a link; not replacing it").arg(linkPath);
        return false;
    }
    char buf[4096];
    const ssize_t n = ::readlink(path.constData(), buf, sizeof buf);
    if (n < 0 || n == ssize_t(sizeof buf)) {
        *error = systemError(path.constData());
        return false;
    }
    const QByteArray target(buf, n);
    const QString targetName = QFile::decodeName(target);
    if (!isPtySlaveName(targetName)) {
        *error = QStringLiteral("%1 is a link to %2, not one this simulator left; not replacing it")
                     .arg(linkPath, targetName);
        return false;
    }
    struct stat ts {};
    const bool gone = ::stat(target.constData(), &ts) != 0 && errno == ENOENT;
    if (!gone && targetName != ourSlave) {
        *error = QStringLiteral("%1 is a link to %2, a pseudo-terminal in use; not replacing it")
                     .arg(linkPath, targetName);
        return false;
    }
    if (::unlink(path.constData()) != 0 && errno != ENOENT) {
        *error = systemError(path.constData());
        return false;
    }
    return true;
}

}  // namespace

std::unique_ptr<Line> Line::openPty(const QString& linkPath, QString* error)
{
    std::unique_ptr<Line> line(new Line);
    line->fd_ = posix_openpt(O_RDWR | O_NOCTTY);
    if (line->fd_ < 0 || grantpt(line->fd_) != 0 || unlockpt(line->fd_) != 0) {
        *error = systemError("pseudo-terminal");
        return nullptr;
    }
    char name[128];
    if (ptsname_r(line->fd_, name, sizeof name) != 0) {
        *error = systemError("ptsname");
        return nullptr;
    }
    line->slave_ = QString::fromLocal8Bit(name);
    line->slaveFd_ = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (line->slaveFd_ < 0) {
        *error = systemError(name);
        return nullptr;
    }
    // The tester's port restores these when it closes, so the line stays raw
    // (no echo of replies back to us) between its sessions.
    setRawLine(line->slaveFd_);
    fcntl(line->fd_, F_SETFL, fcntl(line->fd_, F_GETFL) | O_NONBLOCK);
    fcntl(line->fd_, F_SETFD, FD_CLOEXEC);
    fcntl(line->slaveFd_, F_SETFD, FD_CLOEXEC);

    if (!clearLinkPath(linkPath, line->slave_, error))
        return nullptr;
    if (::symlink(name, QFile::encodeName(linkPath).constData()) != 0) {
        *error = systemError(QFile::encodeName(linkPath).constData());
        return nullptr;
    }
    line->name_ = linkPath;
    line->ownsLink_ = true;
    return line;
}

std::unique_ptr<Line> Line::openDevice(const QString& path, QString* error)
{
    std::unique_ptr<Line> line(new Line);
    line->fd_ = ::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (line->fd_ < 0) {
        *error = systemError(QFile::encodeName(path).constData());
        return nullptr;
    }
    if (!setRawLine(line->fd_)) {
        *error = systemError("line settings");
        return nullptr;
    }
    tcflush(line->fd_, TCIOFLUSH);
    line->name_ = path;
    return line;
}

Line::~Line()
{
    if (ownsLink_) {
        // Only our own link: another run may have taken the name meanwhile.
        const QByteArray link = QFile::encodeName(name_);
        char target[256];
        const ssize_t n = ::readlink(link.constData(), target, sizeof target - 1);
        if (n > 0 && QString::fromLocal8Bit(target, n) == slave_)
            ::unlink(link.constData());
    }
    if (slaveFd_ >= 0)
        ::close(slaveFd_);
    if (fd_ >= 0)
        ::close(fd_);
}

QByteArray Line::readAvailable(bool* closed)
{
    *closed = false;
    QByteArray out;
    char buf[512];
    for (;;) {
        const ssize_t n = ::read(fd_, buf, sizeof buf);
        if (n > 0) {
            out.append(buf, n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK))
            *closed = true;
        break;
    }
    return out;
}

void Line::releaseExclusive()
{
    if (slaveFd_ >= 0)
        ::ioctl(slaveFd_, TIOCNXCL);
}

bool Line::write(const QByteArray& bytes, QString* error)
{
    qsizetype done = 0;
    int waits = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd_, bytes.constData() + done, size_t(bytes.size() - done));
        if (n > 0) {
            done += n;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) && waits++ < 5) {
            // Nobody reading the other end fills its queue; a short wait, then give up.
            pollfd p{fd_, POLLOUT, 0};
            ::poll(&p, 1, 20);
            continue;
        }
        *error = n < 0 ? systemError("write") : QStringLiteral("write: line full");
        return false;
    }
    return true;
}

}  // namespace sim
