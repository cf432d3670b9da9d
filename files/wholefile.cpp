#include "files/wholefile.h"

#include "files/pathrule.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <algorithm>
#include <cerrno>
#include <cstring>

#ifdef Q_OS_WIN
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace files {

namespace {

const QLatin1StringView CopyMark(".~pollbench-");
const QLatin1StringView CopyEnd(".tmp");
constexpr int CopyRandomChars = 6;
constexpr int CopyNameTries = 100;
constexpr qint64 LeftCopyAgeSeconds = 3600;

QString errnoText(int e)
{
    return QString::fromLocal8Bit(std::strerror(e));
}

QString copyName(const QString& target)
{
    static const char Alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    QString random;
    for (int i = 0; i < CopyRandomChars; ++i)
        random += QLatin1Char(Alphabet[QRandomGenerator::global()->bounded(int(sizeof Alphabet - 1))]);
    return target + CopyMark + random + CopyEnd;
}

// The few calls below are the system's own: Qt's file classes neither put
// a file on the disk before it is renamed nor rename over an existing one.
#ifdef Q_OS_WIN
using Handle = int;

int createNew(const QString& path, const QString& like)
{
    const int fd = _wopen(reinterpret_cast<const wchar_t*>(QDir::toNativeSeparators(path).utf16()),
                          _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY | _O_NOINHERIT, _S_IREAD | _S_IWRITE);
    Q_UNUSED(like);  // the new file takes the folder's own permissions
    return fd;
}
long long writeSome(int fd, const char* data, long long size)
{
    return _write(fd, data, unsigned(std::min<long long>(size, 1 << 30)));
}
bool syncAndClose(int fd)
{
    const bool synced = _commit(fd) == 0;
    const int saved = errno;
    const bool closed = _close(fd) == 0;
    if (!synced)
        errno = saved;
    return synced && closed;
}
bool putInPlace(const QString& copy, const QString& target, QString* why)
{
    if (MoveFileExW(reinterpret_cast<const wchar_t*>(QDir::toNativeSeparators(copy).utf16()),
                    reinterpret_cast<const wchar_t*>(QDir::toNativeSeparators(target).utf16()),
                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return true;
    *why = qt_error_string(int(GetLastError()));
    return false;
}
void removeCopy(const QString& copy)
{
    _wunlink(reinterpret_cast<const wchar_t*>(QDir::toNativeSeparators(copy).utf16()));
}
#else
int createNew(const QString& path, const QString& like)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    // A replaced file keeps who may read and write it.
    struct stat st {};
    if (fd >= 0 && !like.isEmpty() && ::stat(QFile::encodeName(like).constData(), &st) == 0)
        ::fchmod(fd, st.st_mode & 07777);
    return fd;
}
long long writeSome(int fd, const char* data, long long size)
{
    return ::write(fd, data, size_t(size));
}
bool syncAndClose(int fd)
{
    const bool synced = ::fsync(fd) == 0;
    const int saved = errno;
    const bool closed = ::close(fd) == 0;
    if (!synced)
        errno = saved;
    return synced && closed;
}
bool putInPlace(const QString& copy, const QString& target, QString* why)
{
    if (::rename(QFile::encodeName(copy).constData(), QFile::encodeName(target).constData()) == 0)
        return true;
    *why = errnoText(errno);
    return false;
}
void removeCopy(const QString& copy)
{
    ::unlink(QFile::encodeName(copy).constData());
}
#endif

// Every byte, or false with errno set; a short write is retried for the
// rest, and the one that wrote nothing says why.
bool writeAll(int fd, const QByteArray& bytes)
{
    const char* at = bytes.constData();
    long long left = bytes.size();
    while (left > 0) {
        const long long n = writeSome(fd, at, left);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = ENOSPC;
            return false;
        }
        at += n;
        left -= n;
    }
    return true;
}

}  // namespace

namespace {

// The first steps of a replace: the rule, and a copy created beside the
// file. The copy's name and descriptor, or false with why.
bool openCopy(const QString& path, QString* target, QString* copy, int* fd, QString* why)
{
    const PathState state = inspectPath(path);
    if (state.kind == PathKind::Other) {
        *why = state.why;
        return false;
    }
    *target = state.target;
    if (state.kind == PathKind::Regular && !QFileInfo(*target).isWritable()) {
        *why = QStringLiteral("%1 may not be written (%2)").arg(path, errnoText(EACCES));
        return false;
    }
    *fd = -1;
    for (int i = 0; i < CopyNameTries && *fd < 0; ++i) {
        *copy = copyName(*target);
        *fd = createNew(*copy, *target);
        if (*fd < 0 && errno != EEXIST)
            break;
    }
    if (*fd < 0) {
        *why = QStringLiteral("cannot create a file beside %1: %2").arg(*target, errnoText(errno));
        return false;
    }
    return true;
}

}  // namespace

bool replaceWhole(const QString& path, const QByteArray& bytes, QString* why)
{
    QString text, target, copy;
    int fd = -1;
    auto fail = [why](const QString& t) {
        if (why)
            *why = t;
        return false;
    };
    if (!openCopy(path, &target, &copy, &fd, &text))
        return fail(text);
    const bool written = writeAll(fd, bytes);
    const int writeError = errno;
    const bool kept = syncAndClose(fd) && written;
    if (!kept) {
        const int e = written ? errno : writeError;
        removeCopy(copy);
        return fail(QStringLiteral("cannot write %1: %2").arg(path, errnoText(e)));
    }
    if (!putInPlace(copy, target, &text)) {
        removeCopy(copy);
        return fail(QStringLiteral("cannot replace %1: %2").arg(path, text));
    }
    return true;
}

bool canReplace(const QString& path, QString* why)
{
    QString text, target, copy;
    int fd = -1;
    if (!openCopy(path, &target, &copy, &fd, &text)) {
        if (why)
            *why = text;
        return false;
    }
    syncAndClose(fd);
    removeCopy(copy);
    return true;
}

bool writeNew(const QString& path, const QByteArray& bytes, QString* why, bool* exists)
{
    if (exists)
        *exists = false;
    const int fd = createNew(path, QString());
    if (fd < 0) {
        if (exists)
            *exists = errno == EEXIST;
        if (why)
            *why = QStringLiteral("cannot create %1: %2").arg(path, errnoText(errno));
        return false;
    }
    const bool written = writeAll(fd, bytes);
    const int writeError = errno;
    if (syncAndClose(fd) && written)
        return true;
    const int e = written ? errno : writeError;
    removeCopy(path);  // made just now, by this call
    if (why)
        *why = QStringLiteral("cannot write %1: %2").arg(path, errnoText(e));
    return false;
}

bool isReplaceCopyName(const QString& name, const QString& fileName)
{
    const qsizetype head = fileName.size() + CopyMark.size();
    if (name.size() != head + CopyRandomChars + CopyEnd.size() || !name.startsWith(fileName + CopyMark) ||
        !name.endsWith(CopyEnd))
        return false;
    for (qsizetype i = head; i < head + CopyRandomChars; ++i)
        if (!name[i].isLetterOrNumber() || name[i].unicode() > 127)
            return false;
    return true;
}

void removeLeftCopies(const QString& path)
{
    const QFileInfo file(inspectPath(path).target);
    const QDateTime cutOff = QDateTime::currentDateTimeUtc().addSecs(-LeftCopyAgeSeconds);
    const QFileInfoList candidates =
        QDir(file.absolutePath())
            .entryInfoList({file.fileName() + CopyMark + QLatin1Char('*')}, QDir::Files | QDir::Hidden | QDir::NoSymLinks);
    for (const QFileInfo& c : candidates)
        if (isReplaceCopyName(c.fileName(), file.fileName()) && c.lastModified().toUTC() < cutOff)
            QFile::remove(c.absoluteFilePath());
}

}  // namespace files
