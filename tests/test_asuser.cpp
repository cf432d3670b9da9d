// The window run as an ordinary user, in a process of its own: an installed
// copy in a directory that user cannot write keeps its settings in the
// user's own folder, and a file the user cannot read is replaced at close.
//
// Needs root, to make the user (useradd) and to run as them (setpriv); the
// user is removed again at the end. Skipped otherwise.
#include "settings/settings.h"
#include "settingstext.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#ifdef Q_OS_LINUX
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#ifndef HELPER_PATH
#error "HELPER_PATH names the helper program"
#endif

namespace {

QByteArray readFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

QStringList entries(const QString& dir)
{
    return QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
}

// What one run of the program printed.
struct Run {
    int exitCode = -1;
    int chooser = -1;
    QStringList boxes;
    QString output;
};

}  // namespace

class TestAsUser : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void installedCopy();
    void unreadableReplacedAtClose();

private:
    QString tool(const QString& name) const;
    QString programDir(const QString& name, bool userOwnsIt);
    Run runAsUser(const QString& programDir);

    QTemporaryDir root_;
    QString user_;
    bool userMade_ = false;
    uint uid_ = 0;
    uint gid_ = 0;
    QString home_;
};

QString TestAsUser::tool(const QString& name) const
{
    return QStandardPaths::findExecutable(name, {"/usr/sbin", "/sbin", "/usr/bin", "/bin"});
}

void TestAsUser::initTestCase()
{
#ifndef Q_OS_LINUX
    QSKIP("runs the window as another user, which this test does on Linux only");
#else
    if (::geteuid() != 0)
        QSKIP("needs root: it makes a user who cannot write the program's directory (useradd) and runs the window "
              "as that user (setpriv)");
    for (const char* name : {"useradd", "userdel", "setpriv"})
        if (tool(name).isEmpty())
            QSKIP(qPrintable(QStringLiteral("%1 is not installed").arg(name)));
    QVERIFY(root_.isValid());
    QVERIFY(QFile::setPermissions(root_.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                                    QFile::ReadGroup | QFile::ExeGroup | QFile::ReadOther |
                                                    QFile::ExeOther));
    home_ = root_.filePath("home");
    user_ = QStringLiteral("pbtest%1").arg(QCoreApplication::applicationPid());
    QProcess add;
    add.start(tool("useradd"), {"--system", "--user-group", "--no-create-home", "--home-dir", home_, "--shell",
                                "/usr/sbin/nologin", user_});
    QVERIFY(add.waitForFinished(30000));
    QVERIFY2(add.exitCode() == 0, add.readAllStandardError().constData());
    userMade_ = true;
    const passwd* pw = ::getpwnam(qPrintable(user_));
    QVERIFY(pw);
    uid_ = pw->pw_uid;
    gid_ = pw->pw_gid;
    for (const QString& dir : {home_, root_.filePath("run")}) {
        QVERIFY(QDir().mkpath(dir));
        QCOMPARE(::chown(QFile::encodeName(dir).constData(), uid_, gid_), 0);
        QCOMPARE(::chmod(QFile::encodeName(dir).constData(), 0700), 0);
    }
#endif
}

void TestAsUser::cleanupTestCase()
{
    if (!userMade_)
        return;
    QProcess del;
    del.start(tool("userdel"), {user_});
    QVERIFY(del.waitForFinished(30000));
    QVERIFY2(del.exitCode() == 0, del.readAllStandardError().constData());
}

// A directory holding a copy of the program, owned by root (the user may
// read and run it but not write there) or by the user.
QString TestAsUser::programDir(const QString& name, bool userOwnsIt)
{
    const QString dir = root_.filePath(name);
    [&] {
        QVERIFY(QDir().mkpath(dir));
        QVERIFY(QFile::copy(QStringLiteral(HELPER_PATH), dir + "/asuser_helper"));
#ifdef Q_OS_LINUX
        QCOMPARE(::chmod(QFile::encodeName(dir).constData(), 0755), 0);
        QCOMPARE(::chmod(QFile::encodeName(dir + "/asuser_helper").constData(), 0755), 0);
        if (userOwnsIt)
            QCOMPARE(::chown(QFile::encodeName(dir).constData(), uid_, gid_), 0);
#endif
    }();
    return dir;
}

Run TestAsUser::runAsUser(const QString& programDir)
{
    // The user's environment alone: their home, no configuration folder of
    // anyone else's.
    QProcessEnvironment env;
    env.insert("PATH", "/usr/bin:/bin");
    env.insert("HOME", home_);
    env.insert("USER", user_);
    env.insert("XDG_RUNTIME_DIR", root_.filePath("run"));
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("QT_LOGGING_RULES", "qt.qpa.*=false");
    QProcess p;
    p.setProcessEnvironment(env);
    p.setWorkingDirectory(home_);
    p.start(tool("setpriv"), {QStringLiteral("--reuid=%1").arg(uid_), QStringLiteral("--regid=%1").arg(gid_),
                              "--clear-groups", "--", programDir + "/asuser_helper"});
    Run r;
    if (!p.waitForFinished(60000)) {
        p.kill();
        p.waitForFinished();
        r.output = QStringLiteral("did not end");
        return r;
    }
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -2;
    r.output = QString::fromLocal8Bit(p.readAllStandardOutput() + p.readAllStandardError());
    for (const QString& line : r.output.split(QLatin1Char('\n'))) {
        if (line.startsWith(QLatin1String("chooser ")))
            r.chooser = line.mid(8).toInt();
        else if (line.startsWith(QLatin1String("box ")))
            r.boxes << line.mid(4);
    }
    return r;
}

void TestAsUser::installedCopy()
{
    const QString bin = programDir("installed", false);
    const QString own = home_ + "/.config/pollbench/SETUP.INI";
    const QString beside = bin + "/SETUP.INI";
    const QByteArray firstRun = settings::settingsFileBytes(settings::SavedSettings{});
    QCOMPARE(firstRun.size(), 397);

    // First run: the chooser, no box, and the close writes the user's own file.
    Run r = runAsUser(bin);
    QVERIFY2(r.exitCode == 0, qPrintable(r.output));
    QCOMPARE(r.chooser, 1);
    QCOMPARE(r.boxes, QStringList());
    QCOMPARE(readFile(own), firstRun);
    QCOMPARE(QFileInfo(own).ownerId(), uid_);
    QCOMPARE(entries(bin), QStringList{"asuser_helper"});

    // The next start reads it: no chooser, no box.
    r = runAsUser(bin);
    QVERIFY2(r.exitCode == 0, qPrintable(r.output));
    QCOMPARE(r.chooser, 0);
    QCOMPARE(r.boxes, QStringList());
    QCOMPARE(readFile(own), firstRun);

    // A readable file beside the program is read while the user has none of
    // their own; what the close writes goes to the user's file, which is
    // read from then on.
    QVERIFY(QFile::remove(own));
    const QByteArray shipped = iniBytes(withLines({{1, "Sys.Color   = 2"}, {2, "Com.Setting = 7"}}));
    QVERIFY(writeFile(beside, shipped));
    r = runAsUser(bin);
    QVERIFY2(r.exitCode == 0, qPrintable(r.output));
    QCOMPARE(r.chooser, 0);
    QCOMPARE(r.boxes, QStringList());
    QCOMPARE(readFile(own), shipped);
    QVERIFY(writeFile(beside, iniBytes(withLines({{1, "Sys.Color   = 2"}, {2, "Com.Setting = 9"}}))));
    QVERIFY(writeFile(own, iniBytes(withLines({{1, "Sys.Color   = 2"}, {3, "Poll.Rate   = 30"}}))));
    r = runAsUser(bin);
    QCOMPARE(r.boxes, QStringList());
    QCOMPARE(readFile(own), iniBytes(withLines({{1, "Sys.Color   = 2"}, {3, "Poll.Rate   = 30"}})));

    // One beside the program that the user cannot read is passed over.
    QVERIFY(QFile::remove(own));
    QVERIFY(QFile::setPermissions(beside, QFile::ReadOwner | QFile::WriteOwner));
    r = runAsUser(bin);
    QVERIFY2(r.exitCode == 0, qPrintable(r.output));
    QCOMPARE(r.chooser, 1);
    QCOMPARE(r.boxes, QStringList());
    QCOMPARE(readFile(own), firstRun);
}

// A file the user may write but not read: one box at start that says what
// happens, and a close that replaces it without another.
void TestAsUser::unreadableReplacedAtClose()
{
    const QString bin = programDir("portable", true);
    const QString path = bin + "/SETUP.INI";
    QVERIFY(writeFile(path, iniBytes(withLines({{2, "Com.Setting = 5"}}))));
#ifdef Q_OS_LINUX
    QCOMPARE(::chown(QFile::encodeName(path).constData(), uid_, gid_), 0);
    QCOMPARE(::chmod(QFile::encodeName(path).constData(), 0200), 0);
#endif
    const Run r = runAsUser(bin);
    QVERIFY2(r.exitCode == 0, qPrintable(r.output));
    QCOMPARE(r.chooser, 1);
    QCOMPARE(r.boxes.size(), 1);
    QVERIFY2(r.boxes[0].startsWith("The settings file " + path +
                                   " cannot be read: the window starts with the default settings. When it closes, "
                                   "they replace the file if it can be written."),
             qPrintable(r.boxes[0]));
    QCOMPARE(readFile(path), settings::settingsFileBytes(settings::SavedSettings{}));
    QStringList left = entries(bin);
    left.sort();
    QCOMPARE(left, (QStringList{"SETUP.INI", "asuser_helper"}));
}

QTEST_GUILESS_MAIN(TestAsUser)
#include "test_asuser.moc"
