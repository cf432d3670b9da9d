// The real program on the validator built into it: unattended runs, a
// scripted fault, and scripts that cannot be used, on the command line and
// for the window alike.
#include "outcome.h"
#include "settings/settings.h"

#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#ifndef PROGRAM_PATH
#error "PROGRAM_PATH names the pollbench program"
#endif

namespace {

Outcome run(const QString& dir, const QStringList& args)
{
    QProcess p;
    p.setWorkingDirectory(dir);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    p.setProcessEnvironment(env);
    p.start(QStringLiteral(PROGRAM_PATH), args);
    if (!p.waitForStarted(10000))
        return {};
    p.closeWriteChannel();
    return finished(p);
}

QJsonObject report(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? QJsonDocument::fromJson(f.readAll()).object() : QJsonObject();
}

int number(const QJsonObject& o, const char* group, const char* key)
{
    return o.value(QLatin1StringView(group)).toObject().value(QLatin1StringView(key)).toInt(-1);
}

}  // namespace

class TestBuiltInCli : public QObject {
    Q_OBJECT
private slots:
    void headlessRun();
    void scriptedFault();
    void windowStartsPolling();
    void unusableScripts_data();
    void unusableScripts();
};

void TestBuiltInCli::headlessRun()
{
    // The run the README promises: about 233 polls in 7 s at 30 ms, each
    // answered, and the automatic notes stacked.
    QTemporaryDir dir;
    const QString r = dir.filePath(QStringLiteral("r.json"));
    const Outcome o = run(dir.path(), {"--headless", "--device", "sim", "--rate", "30", "--duration", "7", "--report", r});
    QCOMPARE(o.status, 0);
    const QJsonObject j = report(r);
    const int sent = number(j, "polls", "sent");
    qInfo("%d polls, %d good replies, %d without one in time, %d notes stacked", sent, number(j, "replies", "good"),
          number(j, "replies", "no_response"), number(j, "notes", "stacked"));
    // Never faster than the rate; ticks a busy machine misses are not made
    // up, so the low end only tells a stalled run (the pace is make bench's).
    QVERIFY2(sent >= 233 / 10 && sent <= 240, qPrintable(QString::number(sent)));
    // Each poll draws a good reply; on an overloaded machine the last may
    // come after the run has stopped waiting for it.
    QVERIFY(number(j, "replies", "good") >= sent - 2);
    QCOMPARE(number(j, "replies", "bad_checksum"), 0);
    QCOMPARE(number(j, "resynchronisations", "count"), 0);
    // A reply takes 20 of the 30 ms: on a busy machine some come after the
    // next poll (and are answered all the same). A device slower than the
    // line would miss nearly all.
    QVERIFY(number(j, "replies", "no_response") <= sent * 9 / 10);
    QVERIFY(number(j, "notes", "stacked") >= 1);
    QCOMPARE(j.value("run").toObject().value("device").toString(), QStringLiteral("virtual validator"));
}

void TestBuiltInCli::scriptedFault()
{
    // A jam from the script fails a run told to fail on one.
    QTemporaryDir dir;
    const QString script = dir.filePath(QStringLiteral("jam.txt"));
    QFile f(script);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("# jammed after a moment\n300 jam\n");
    f.close();
    const QString r = dir.filePath(QStringLiteral("r.json"));
    const Outcome o = run(dir.path(), {"--headless", "--device", "sim:" + script, "--rate", "30", "--duration", "2",
                                       "--fail-on", "jam", "--report", r});
    QCOMPARE(o.status, 1);
    const QJsonObject j = report(r);
    QVERIFY(number(j, "events", "jam") >= 1);
    QCOMPARE(number(j, "notes", "stacked"), 0);  // with a script the notes are the script's
}

void TestBuiltInCli::windowStartsPolling()
{
    // The demo's start: the window on the built-in device, START POLL pressed
    // for the operator; its record shows the good replies coming in.
    QTemporaryDir dir;
    const QString program = dir.filePath(QStringLiteral("pollbench"));
    QVERIFY(QFile::copy(QStringLiteral(PROGRAM_PATH), program));
    settings::writeSettingsFile(settings::settingsPath(dir.path()), settings::SavedSettings{});
    const QString record = dir.filePath(QStringLiteral("run.csv"));
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    p.setProcessEnvironment(env);
    p.start(program, {"--device", "sim", "--start-poll", "--record", record});
    QVERIFY(p.waitForStarted(10000));
    auto goodReplies = [&] {
        QFile f(record);
        return f.open(QIODevice::ReadOnly) ? int(f.readAll().count(",ok,")) : 0;
    };
    QElapsedTimer since;
    since.start();
    while (goodReplies() < 10 && since.elapsed() < 20000 && p.state() == QProcess::Running)
        QTest::qWait(100);
    const int good = goodReplies();
    p.terminate();
    if (!p.waitForFinished(10000)) {
        p.kill();
        p.waitForFinished();
    }
    QVERIFY2(good >= 10, qPrintable(QString::fromLocal8Bit(p.readAllStandardError())));
}

void TestBuiltInCli::unusableScripts_data()
{
    QTest::addColumn<bool>("headless");
    QTest::addColumn<QByteArray>("content");  // empty: no such file
    QTest::addColumn<QString>("said");

    QTest::newRow("missing, headless") << true << QByteArray() << "no file";
    QTest::newRow("missing, window") << false << QByteArray() << "no file";
    QTest::newRow("bad line, headless") << true << QByteArray("0 jam\n+x clear\n") << "line 2";
    QTest::newRow("bad line, window") << false << QByteArray("0 explode\n") << "line 1";
}

void TestBuiltInCli::unusableScripts()
{
    // One line and status 2, before any poll or window; no report is left.
    QFETCH(bool, headless);
    QFETCH(QByteArray, content);
    QFETCH(QString, said);
    QTemporaryDir dir;
    const QString script = dir.filePath(QStringLiteral("s.txt"));
    if (!content.isEmpty()) {
        QFile f(script);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(content);
    }
    const QString r = dir.filePath(QStringLiteral("r.json"));
    QStringList args{"--device", "sim:" + script};
    if (headless)
        args << "--headless" << "--duration" << "1" << "--report" << r;
    const Outcome o = run(dir.path(), args);
    QCOMPARE(o.status, 2);
    QVERIFY2(o.err.contains(said) && o.err.contains(script), qPrintable(o.err));
    // The platform may have warnings of its own; the program says one line.
    QCOMPARE(o.err.count(QStringLiteral("pollbench: ")), 1);
    QVERIFY(!QFile::exists(r));
}

QTEST_GUILESS_MAIN(TestBuiltInCli)
#include "test_builtincli.moc"
