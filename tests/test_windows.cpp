// What only Windows has: COM port names, where the settings live, and the
// console's stop requests reaching an unattended run.
#include "cli/stoprequests.h"
#include "link/qtport.h"
#include "settings/settings.h"

#include <QCoreApplication>
#include <QDir>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <windows.h>

class TestWindows : public QObject {
    Q_OBJECT
private slots:
    void initTestCase()
    {
        QCoreApplication::setApplicationName(QStringLiteral("pollbench"));
        QCoreApplication::setOrganizationName(QString());
    }

    void portNames_data()
    {
        QTest::addColumn<int>("number");
        QTest::addColumn<QString>("device");
        QTest::newRow("none") << 0 << QString();
        QTest::newRow("negative") << -3 << QString();
        QTest::newRow("first") << 1 << QStringLiteral("COM1");
        QTest::newRow("last short name") << 9 << QStringLiteral("COM9");
        // CreateFile finds COM10 and up only in the device namespace.
        QTest::newRow("first long name") << 10 << QStringLiteral("\\\\.\\COM10");
        QTest::newRow("high") << 255 << QStringLiteral("\\\\.\\COM255");
    }
    void portNames()
    {
        QFETCH(int, number);
        QFETCH(QString, device);
        // The program's folder plays no part: no file can be called COM1 here.
        QTemporaryDir dir;
        QCOMPARE(portDeviceName(number, dir.path()), device);
    }

    void settingsBesideAWritableProgram()
    {
        QTemporaryDir program;
        const settings::Location at = settings::locateSettings(program.path());
        QCOMPARE(at.path, QDir(program.path()).filePath(QStringLiteral("SETUP.INI")));
        QCOMPARE(at.readPath, at.path);
        // Finding out that the folder is writable leaves nothing in it.
        QCOMPARE(QDir(program.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
                 QStringList());
    }

    void settingsOfTheUserInTheRoamingProfile()
    {
        // A program folder that does not exist cannot be written.
        QTemporaryDir parent;
        const QString program = parent.filePath(QStringLiteral("gone"));
        const settings::Location at = settings::locateSettings(program);
        const QString appData = QDir::fromNativeSeparators(qEnvironmentVariable("APPDATA"));
        QVERIFY2(!appData.isEmpty(), "no APPDATA");
        QCOMPARE(QDir::cleanPath(at.path).toLower(),
                 QDir::cleanPath(appData + QStringLiteral("/pollbench/SETUP.INI")).toLower());
    }

    void consoleEventsAskToStop_data()
    {
        QTest::addColumn<int>("event");
        QTest::addColumn<QString>("what");
        QTest::newRow("Ctrl+C") << int(CTRL_C_EVENT) << QStringLiteral("Ctrl+C");
        QTest::newRow("Ctrl+Break") << int(CTRL_BREAK_EVENT) << QStringLiteral("Ctrl+Break");
    }
    void consoleEventsAskToStop()
    {
        QFETCH(int, event);
        QFETCH(QString, what);
        AllocConsole();  // fails harmlessly where the process has one
        cli::StopRequests stops;
        QSignalSpy asked(&stops, &cli::StopRequests::requested);
        // Ctrl+C reaches a process group only when the process did not
        // start with it ignored, as children of some shells do.
        SetConsoleCtrlHandler(nullptr, FALSE);
        if (!GenerateConsoleCtrlEvent(DWORD(event), 0))
            QSKIP(qPrintable(QStringLiteral("no console to send the event on (error %1)").arg(GetLastError())));
        QVERIFY(asked.wait(5000));
        QCOMPARE(asked.count(), 1);
        QCOMPARE(asked.at(0).at(0).toString(), what);
    }
};

QTEST_GUILESS_MAIN(TestWindows)
#include "test_windows.moc"
