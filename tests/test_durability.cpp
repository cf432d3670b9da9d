// SETUP.INI survives a tester killed while it saves, and a disk that refuses
// the write: the file is always the old one or the new one, whole.
//
// POLLBENCH_KILL_TRIALS sets the number of kills (200).
#include "durability.h"
#include "files/wholefile.h"
#include "settings/settings.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <cstring>
#include <random>
#include <thread>

#ifndef HELPER_PATH
#error "HELPER_PATH names the helper program"
#endif

namespace {

QByteArray readFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

std::uint64_t readProgress(const QString& path)
{
    std::uint64_t n = 0;
    const QByteArray bytes = readFile(path);
    if (bytes.size() == sizeof n)
        std::memcpy(&n, bytes.constData(), sizeof n);
    return n;
}

// The file as the tester would load it: every line read, nothing left over.
QString loadProblem(const QByteArray& bytes)
{
    QString text = QString::fromLatin1(bytes);
    const settings::LoadedSettings s = settings::parseSettings(text);
    if (s.failedLine != 0)
        return QStringLiteral("line %1: %2").arg(s.failedLine).arg(s.failure);
    if (!text.isEmpty())
        return QStringLiteral("text after line 23");
    return {};
}

}  // namespace

class TestDurability : public QObject {
    Q_OBJECT
private slots:
    void killedWhileSaving();
    void writeRefused_data();
    void writeRefused();
};

void TestDurability::killedWhileSaving()
{
    bool ok = false;
    int trials = qEnvironmentVariableIntValue("POLLBENCH_KILL_TRIALS", &ok);
    if (!ok || trials <= 0)
        trials = 200;
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = settings::settingsPath(dir.path());
    const QString progress = dir.filePath(QStringLiteral("progress"));
    const QByteArray first = settings::settingsFileBytes(firstSettings());
    const QByteArray second = settings::settingsFileBytes(secondSettings());
    QVERIFY(first != second);
    QVERIFY(loadProblem(first).isEmpty() && loadProblem(second).isEmpty());
    settings::writeSettingsFile(path, firstSettings());

    std::mt19937 rng(std::random_device{}());
    int midSave = 0, lost = 0, firstFound = 0;
    std::uint64_t saves = 0;
    QStringList problems;
    for (int trial = 0; trial < trials; ++trial) {
        QProcess helper;
        helper.start(QStringLiteral(HELPER_PATH), {QStringLiteral("save-loop"), path, progress});
        QVERIFY2(helper.waitForStarted(10000), qPrintable(helper.errorString()));
        QVERIFY2(helper.waitForReadyRead(10000), "the helper never saved");
        QCOMPARE(helper.readAllStandardOutput(), QByteArray("saving\n"));
        // A few saves' worth at most: the kill lands on any step of one.
        std::this_thread::sleep_for(std::chrono::microseconds(rng() % 20000));
        ::kill(pid_t(helper.processId()), SIGKILL);
        QVERIFY(helper.waitForFinished(10000));
        QCOMPARE(helper.exitStatus(), QProcess::CrashExit);

        const std::uint64_t p = readProgress(progress);
        midSave += int(p % 2);
        saves += p / 2;
        const QByteArray now = readFile(path);
        if (!QFile::exists(path)) {
            ++lost;
            problems << QStringLiteral("trial %1: SETUP.INI missing").arg(trial);
        } else if (now != first && now != second) {
            ++lost;
            problems << QStringLiteral("trial %1: %2 bytes, neither file").arg(trial).arg(now.size());
        } else if (const QString why = loadProblem(now); !why.isEmpty()) {
            ++lost;
            problems << QStringLiteral("trial %1: %2").arg(trial).arg(why);
        }
        firstFound += now == first;
    }
    const QStringList left = QDir(dir.path()).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot);
    qInfo("durability: %d kills, %d inside a save, %llu saves in all, %d files lost; old file %d times, new %d times",
          trials, midSave, static_cast<unsigned long long>(saves), lost, firstFound, trials - lost - firstFound);
    QVERIFY2(problems.isEmpty(), qPrintable(problems.join(QLatin1Char('\n'))));
    // A save killed between writing its copy and putting it in place leaves
    // that copy behind under a name of its own; never under the file's name.
    int copies = 0;
    for (const QString& name : left)
        if (name != QLatin1String("SETUP.INI") && name != QLatin1String("progress")) {
            QVERIFY2(files::isReplaceCopyName(name, QStringLiteral("SETUP.INI")), qPrintable(name));
            ++copies;
        }
    qInfo("durability: %d copies of killed saves left beside the file", copies);
    QVERIFY(left.contains(QStringLiteral("SETUP.INI")));
    QVERIFY(midSave > 0);  // the kills did land inside saves
}

void TestDurability::writeRefused_data()
{
    QTest::addColumn<long>("limit");
    QTest::newRow("nothing may be written") << 0L;
    QTest::newRow("100 bytes") << 100L;
    QTest::newRow("one byte short of the new file")
        << long(settings::settingsFileBytes(secondSettings()).size() - 1);
}

// A disk that fills up during the save: the old file stays, whole.
void TestDurability::writeRefused()
{
    QFETCH(long, limit);
    QTemporaryDir dir;
    const QString path = settings::settingsPath(dir.path());
    settings::writeSettingsFile(path, firstSettings());
    const QByteArray old = readFile(path);

    QProcess helper;
    helper.start(QStringLiteral(HELPER_PATH),
                 {QStringLiteral("save-once"), path, QStringLiteral("2"), QString::number(limit)});
    QVERIFY(helper.waitForFinished(10000));
    QCOMPARE(helper.exitStatus(), QProcess::NormalExit);
    QCOMPARE(helper.exitCode(), 3);
    QVERIFY(helper.readAllStandardOutput().startsWith("refused: "));
    QCOMPARE(readFile(path), old);
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot),
             QStringList{QStringLiteral("SETUP.INI")});

    // and with room again the new file goes in whole
    helper.start(QStringLiteral(HELPER_PATH),
                 {QStringLiteral("save-once"), path, QStringLiteral("2"), QStringLiteral("1000000")});
    QVERIFY(helper.waitForFinished(10000));
    QCOMPARE(helper.exitCode(), 0);
    QCOMPARE(readFile(path), settings::settingsFileBytes(secondSettings()));
}

QTEST_MAIN(TestDurability)
#include "test_durability.moc"
