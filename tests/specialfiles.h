// Things that stand where SETUP.INI should be and are no regular file: a
// FIFO, a device node, a folder, links to them and links that loop. Each
// case is made in a temporary directory; what stands at the path is
// described so that a test can check it is still the same after a start
// and a close.
#pragma once

#include <QByteArray>
#include <QDir>
#include <QString>
#include <QTest>

#include <functional>
#include <vector>

#ifdef Q_OS_LINUX
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#endif

// What stands at path, links not followed, and where a link leads: enough
// to tell whether anything replaced, removed or changed it.
inline QString describePath(const QString& path)
{
#ifdef Q_OS_LINUX
    const QByteArray p = QFile::encodeName(path);
    struct stat st{};
    if (::lstat(p.constData(), &st) != 0)
        return QStringLiteral("nothing");
    QString kind;
    if (S_ISREG(st.st_mode))
        kind = QStringLiteral("file");
    else if (S_ISDIR(st.st_mode))
        kind = QStringLiteral("folder");
    else if (S_ISFIFO(st.st_mode))
        kind = QStringLiteral("fifo");
    else if (S_ISCHR(st.st_mode))
        kind = QStringLiteral("char %1,%2").arg(major(st.st_rdev)).arg(minor(st.st_rdev));
    else if (S_ISSOCK(st.st_mode))
        kind = QStringLiteral("socket");
    else if (S_ISLNK(st.st_mode)) {
        char target[4096];
        const ssize_t n = ::readlink(p.constData(), target, sizeof target);
        kind = QStringLiteral("link to ") + QString::fromLocal8Bit(target, n < 0 ? 0 : n);
    } else
        kind = QStringLiteral("other");
    return QStringLiteral("%1 inode %2").arg(kind).arg(st.st_ino);
#else
    return QFileInfo(path).exists() ? QStringLiteral("something") : QStringLiteral("nothing");
#endif
}

// Makes one of the cases in dir, with SETUP.INI as the name under test.
struct SpecialCase {
    const char* name;
    bool needsRoot;  // mknod
    std::function<bool(const QDir& dir)> make;
};

inline bool isRoot()
{
#ifdef Q_OS_LINUX
    return ::geteuid() == 0;
#else
    return false;
#endif
}

inline std::vector<SpecialCase> specialCases()
{
#ifdef Q_OS_LINUX
    auto fifo = [](const QString& path) { return ::mkfifo(QFile::encodeName(path).constData(), 0600) == 0; };
    // A node with the numbers of the null device, in the temporary
    // directory: nothing under /dev is at risk if the test goes wrong.
    auto device = [](const QString& path) {
        return ::mknod(QFile::encodeName(path).constData(), S_IFCHR | 0600, makedev(1, 3)) == 0;
    };
    auto link = [](const QString& target, const QString& path) { return QFile::link(target, path); };
    return {
        {"FIFO", false, [=](const QDir& d) { return fifo(d.filePath("SETUP.INI")); }},
        {"link to a FIFO", false,
         [=](const QDir& d) { return fifo(d.filePath("pipe")) && link(d.filePath("pipe"), d.filePath("SETUP.INI")); }},
        {"link to a link to a FIFO", false,
         [=](const QDir& d) {
             return fifo(d.filePath("pipe")) && link("pipe", d.filePath("middle")) &&
                    link("middle", d.filePath("SETUP.INI"));
         }},
        {"character device", true, [=](const QDir& d) { return device(d.filePath("SETUP.INI")); }},
        {"link to a character device", true,
         [=](const QDir& d) { return device(d.filePath("null")) && link(d.filePath("null"), d.filePath("SETUP.INI")); }},
        {"folder", false, [](const QDir& d) { return d.mkdir("SETUP.INI"); }},
        {"link to a folder", false,
         [=](const QDir& d) { return d.mkdir("sub") && link(d.filePath("sub"), d.filePath("SETUP.INI")); }},
        {"link to itself", false, [=](const QDir& d) { return link("SETUP.INI", d.filePath("SETUP.INI")); }},
        {"two links in a loop", false,
         [=](const QDir& d) { return link("other", d.filePath("SETUP.INI")) && link("SETUP.INI", d.filePath("other")); }},
    };
#else
    return {};
#endif
}

// Adds one data row per case, named after it.
inline void addSpecialRows()
{
    QTest::addColumn<int>("index");
    const auto cases = specialCases();
    if (cases.empty())
        QSKIP("no special files to make on this system");
    for (int i = 0; i < int(cases.size()); ++i)
        QTest::newRow(cases[size_t(i)].name) << i;
}

// Makes the row's case in dir; skips the row where it cannot be made here.
#define MAKE_SPECIAL_CASE(index, dir)                                                  \
    do {                                                                               \
        const SpecialCase c = specialCases()[size_t(index)];                          \
        if (c.needsRoot && !isRoot())                                                  \
            QSKIP("making a device node needs root");                                  \
        QVERIFY2(c.make(dir), "the case could not be made");                           \
    } while (false)
