// Loading and closing the tester window on a real SETUP.INI in a temporary
// program directory, with the serial port in memory.
#include "fakeport.h"
#include "modal.h"
#include "settingstext.h"
#include "startup/startup.h"
#include "tester/main64k.h"

#include <QCheckBox>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <sys/resource.h>

namespace {

void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    QCOMPARE(f.write(bytes), bytes.size());
}

QByteArray readFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

QString channels(const MAIN64K& w)
{
    QString s;
    for (auto* c : w.Check1)
        s += QString::number(checkValue(c));
    return s;
}

// Records whether the settings file was there when the port was closed.
class WatchingPort : public FakePort {
public:
    QString watched;
    bool fileAtClose = false;
    void close() override
    {
        fileAtClose = QFileInfo::exists(watched);
        FakePort::close();
    }
};

// A file-size limit makes every write past it fail, for root as well: the
// disk that fills up while the settings are written.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        getrlimit(RLIMIT_FSIZE, &old_);
        oldHandler_ = std::signal(SIGXFSZ, SIG_IGN);
        rlimit r = old_;
        r.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &r);
    }
    ~FileSizeLimit()
    {
        setrlimit(RLIMIT_FSIZE, &old_);
        std::signal(SIGXFSZ, oldHandler_);
    }

private:
    rlimit old_{};
    void (*oldHandler_)(int) = nullptr;
};

}  // namespace

class TestLifecycle : public QObject {
    Q_OBJECT
private slots:
    void firstRun();
    void load_data();
    void load();
    void escrowTickedAgain();
    void extraLinesGoneAtClose();
    void closeWhilePolling();
    void closeWithoutPort();
    void saveFailureKeepsOldFile();
    void unreadableFileIsTold();
    void closeAfterLoad_data();
    void closeAfterLoad();
    void damagedCopyRefused();
    void damagedCopyTakesFreeName();
    void closeKeepsOperatorsFiles();
};

void TestLifecycle::firstRun()
{
    QTemporaryDir dir;
    ModalCloser boxes;
    auto port = std::make_unique<FakePort>();
    FakePort* fake = port.get();
    MAIN64K w(dir.path(), std::move(port));
    w.setDisplayScheme(2);  // the chooser's answer on a first run does not survive
    w.Form_Load();

    QCOMPARE(w.session()->portNumber(), 1);
    QCOMPARE(w.Text1->text(), QStringLiteral("1"));
    QCOMPARE(w.Text2->text(), QStringLiteral("100"));
    QCOMPARE(channels(w), QStringLiteral("1111111000000"));
    QCOMPARE(checkValue(w.Check6), 1);
    QCOMPARE(int(w.session()->mode()), 1);
    QCOMPARE(w.Command1->text(), QStringLiteral("Normal Poll"));
    QCOMPARE(w.Command1->palette().color(QPalette::Button), QColor(0xFF8080));
    QCOMPARE(w.displayScheme(), 1);
    QCOMPARE(checkValue(w.Check4), 0);
    QVERIFY(w.session()->reopenPending());
    QVERIFY(!w.session()->pollTimer().isTicking());
    QVERIFY(fake->calls.isEmpty());
    QCOMPARE(w.settingsPath(), QDir(dir.path()).filePath("SETUP.INI"));
    QVERIFY(!QFileInfo::exists(w.settingsPath()));  // nothing is written before the close
    QCOMPARE(boxes.count(), 0);
}

void TestLifecycle::load_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QString>("portBox");
    QTest::addColumn<QString>("rate");
    QTest::addColumn<QString>("enables");

    QStringList allSet = DefaultLines;
    for (int i = 17; i < 23; ++i)
        allSet[i].replace(QLatin1String("= 0"), QLatin1String("= 1"));
    QByteArray noFinal = iniBytes(allSet);
    noFinal.chop(2);

    QTest::newRow("stored settings") << iniBytes(withLines({{2, "Com.Setting = 3"}, {3, "Poll.Rate   = 250"},
                                                            {12, "2nd.Check   = 0"}, {22, "12th.Check   = 1"}}))
                                     << "3" << "250" << "1011111000010";
    QTest::newRow("port rounded") << iniBytes(withLines({{2, "Com.Setting =  2.5 "}})) << "2" << "100"
                                  << "1111111000000";
    QTest::newRow("port not a number") << iniBytes(withLines({{2, "Com.Setting = COM1"}})) << "0" << ""
                                       << "0000000000000";
    QTest::newRow("scheme not a number") << iniBytes(withLines({{1, "Sys.Color   = ?"}})) << "0" << ""
                                         << "0000000000000";
    QTest::newRow("value line damaged") << iniBytes(withLines({{2, "Com.Setting = 4"}, {7, "4th.Value   = x"}}))
                                        << "4" << "100" << "0000000000000";
    QTest::newRow("channel state 3") << iniBytes(withLines({{14, "4th.Check   = 3"}})) << "1" << "100"
                                     << "1110000000000";
    QTest::newRow("grey channel state") << iniBytes(withLines({{15, "5th.Check   = 2"}})) << "1" << "100"
                                        << "1111211000000";
    QTest::newRow("17-line file") << iniBytes(withLines({{2, "Com.Setting = 2"}, {12, "2nd.Check   = 0"}}).mid(0, 17))
                                  << "2" << "100" << "1011111000000";
    QTest::newRow("missing final CR LF") << noFinal << "1" << "100" << "1111111000000";
    QTest::newRow("LF-only file") << iniBytes(withLines({{2, "Com.Setting = 6"}}), "\n") << "6" << "100"
                                  << "1111111000000";
    QTest::newRow("CR-only file") << iniBytes(withLines({{3, "Poll.Rate   = 40"}}), "\r") << "1" << "40"
                                  << "1111111000000";
    QTest::newRow("empty file") << QByteArray() << "0" << "" << "0000000000000";
}

void TestLifecycle::load()
{
    QFETCH(QByteArray, file);
    QFETCH(QString, portBox);
    QFETCH(QString, rate);
    QFETCH(QString, enables);

    QTemporaryDir dir;
    writeFile(dir.filePath("SETUP.INI"), file);
    ModalCloser boxes;
    auto port = std::make_unique<FakePort>();
    FakePort* fake = port.get();
    MAIN64K w(dir.path(), std::move(port));
    w.setDisplayScheme(2);
    w.Form_Load();

    QCOMPARE(w.Text1->text(), portBox);
    QCOMPARE(w.Text2->text(), rate);
    QCOMPARE(channels(w), enables);
    QCOMPARE(checkValue(w.Check6), 1);
    QCOMPARE(int(w.session()->mode()), 1);
    QCOMPARE(w.Command1->text(), QStringLiteral("Normal Poll"));
    QVERIFY(w.session()->reopenPending());
    QCOMPARE(w.displayScheme(), 2);  // a stored scheme is the start-up's business
    QVERIFY(fake->calls.isEmpty());
    QCOMPARE(boxes.count(), 0);  // a damaged file is not worth a word
}

void TestLifecycle::escrowTickedAgain()
{
    QTemporaryDir dir;
    {
        MAIN64K w(dir.path(), std::make_unique<FakePort>());
        w.Form_Load();
        setCheckValue(w.Check6, 0);
        w.show();
        w.close();
    }
    QVERIFY(!readFile(dir.filePath("SETUP.INI")).contains("Escrow"));
    MAIN64K w(dir.path(), std::make_unique<FakePort>());
    w.Form_Load();
    QCOMPARE(checkValue(w.Check6), 1);
}

void TestLifecycle::extraLinesGoneAtClose()
{
    // 8-bit text goes back as it came; lines past the 23rd are dropped.
    QTemporaryDir dir;
    const QStringList lines = withLines({{3, QString::fromLatin1("Poll.Rate   = 1\xe9")}});
    writeFile(dir.filePath("SETUP.INI"), iniBytes(lines + QStringList{"14th.Check   = 1", "note"}));
    MAIN64K w(dir.path(), std::make_unique<FakePort>());
    w.setDisplayScheme(1);  // as the start-up read it from the first line
    w.Form_Load();
    QCOMPARE(w.Text2->text(), QString::fromLatin1("1\xe9"));
    w.show();
    w.close();
    const QByteArray after = readFile(dir.filePath("SETUP.INI"));
    QCOMPARE(after, iniBytes(lines));
    QVERIFY(after.contains("= 1\xe9\r\n"));
}

void TestLifecycle::closeWhilePolling()
{
    QTemporaryDir dir;
    ModalCloser boxes;
    auto port = std::make_unique<WatchingPort>();
    WatchingPort* fake = port.get();
    fake->watched = dir.filePath("SETUP.INI");
    MAIN64K w(dir.path(), std::move(port));
    w.Form_Load();
    w.show();
    setCheckValue(w.Check4, 1);
    QVERIFY(fake->isOpen);
    QVERIFY(!fake->frames.empty());

    QVERIFY(w.close());
    QCOMPARE(fake->calls.last(), QStringLiteral("close"));
    QVERIFY(!fake->isOpen);
    QVERIFY(!fake->fileAtClose);  // the line is released before the file is written
    QCOMPARE(readFile(fake->watched), iniBytes(DefaultLines));
    QCOMPARE(boxes.count(), 0);
}

void TestLifecycle::closeWithoutPort()
{
    QTemporaryDir dir;
    auto port = std::make_unique<FakePort>();
    FakePort* fake = port.get();
    MAIN64K w(dir.path(), std::move(port));
    w.Form_Load();
    w.session()->setPortNumber(4);
    w.Text2->setText(QStringLiteral("45"));
    setCheckValue(w.Check1[12], 1);
    w.show();
    QVERIFY(w.close());
    QVERIFY(fake->calls.isEmpty());
    QCOMPARE(readFile(dir.filePath("SETUP.INI")),
             iniBytes(withLines({{2, "Com.Setting = 4"}, {3, "Poll.Rate   = 45"}, {23, "13th.Check   = 1"}})));
}

void TestLifecycle::saveFailureKeepsOldFile()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("SETUP.INI");
    const QByteArray old = iniBytes(withLines({{2, "Com.Setting = 5"}}));
    writeFile(path, old);
    ModalCloser boxes;
    MAIN64K w(dir.path(), std::make_unique<FakePort>());
    w.Form_Load();
    w.session()->setPortNumber(9);
    w.show();
    {
        FileSizeLimit limit(100);  // the new file cannot grow past 100 bytes
        QVERIFY(w.close());
    }
    QVERIFY(!w.isVisible());
    QCOMPARE(readFile(path), old);
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"SETUP.INI"});
    QCOMPARE(boxes.count(), 1);
    QVERIFY2(boxes.texts[0].contains("could not be saved"), qPrintable(boxes.texts[0]));
}

void TestLifecycle::unreadableFileIsTold()
{
    // A file that is there but fails on reading: the memory of this very
    // process, read at address 0, fails with an I/O error. It cannot be
    // replaced either, so the close tells once more.
    QTemporaryDir dir;
    const QString path = dir.filePath("SETUP.INI");
    if (!QFile::link(QStringLiteral("/proc/self/mem"), path) || !QFileInfo(path).isFile())
        QSKIP("no /proc/self/mem here");
    ModalCloser boxes;
    MAIN64K w(dir.path(), std::make_unique<FakePort>());
    w.setDisplayScheme(2);
    w.Form_Load();
    QCOMPARE(boxes.count(), 1);
    QVERIFY2(boxes.texts[0].contains("cannot be read: the window starts with the default settings"),
             qPrintable(boxes.texts[0]));
    // as on a first run
    QCOMPARE(w.Text1->text(), QStringLiteral("1"));
    QCOMPARE(w.Text2->text(), QStringLiteral("100"));
    QCOMPARE(channels(w), QStringLiteral("1111111000000"));
    QCOMPARE(w.displayScheme(), 1);
    QCOMPARE(w.Command1->text(), QStringLiteral("Normal Poll"));
    w.show();
    QVERIFY(w.close());
    QCOMPARE(boxes.count(), 2);
    QVERIFY2(boxes.texts[1].contains("could not be saved"), qPrintable(boxes.texts[1]));
    QCOMPARE(QFileInfo(path).symLinkTarget(), QStringLiteral("/proc/self/mem"));
    QVERIFY(!QFileInfo::exists(path + ".bak"));
}

// What the close writes after a load, and the copy a damaged file leaves.
void TestLifecycle::closeAfterLoad_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QByteArray>("saved");
    QTest::addColumn<bool>("copy");  // the file as found is kept as SETUP.INI.bak

    // What a window with scheme 2 writes after the load stopped at line 1 or 2.
    QStringList cleared = withLines({{1, "Sys.Color   = 2"}, {2, "Com.Setting = 0"}, {3, "Poll.Rate   = "}});
    for (int i = 10; i < 17; ++i)
        cleared[i].replace(QLatin1String("= 1"), QLatin1String("= 0"));
    const QByteArray clearedBytes = iniBytes(cleared);
    const QStringList changed = withLines({{1, "Sys.Color   = 2"}, {2, "Com.Setting = 5"}, {3, "Poll.Rate   = 30"},
                                           {21, "11th.Check   = 1"}});

    QTest::newRow("LF-only file") << iniBytes(changed, "\n") << iniBytes(changed) << false;
    QTest::newRow("CR-only file") << iniBytes(changed, "\r") << iniBytes(changed) << false;
    QTest::newRow("good file") << iniBytes(changed) << iniBytes(changed) << false;
    QTest::newRow("port typo 99999999999") << iniBytes(withLines({{2, "Com.Setting = 99999999999"}}))
                                           << clearedBytes << true;
    QTest::newRow("port 1e3") << iniBytes(withLines({{2, "Com.Setting = 1e3"}}), "\n") << clearedBytes << true;
    QStringList withoutEnd = changed;
    QByteArray noFinal = iniBytes(changed);
    noFinal.chop(2);
    withoutEnd[20] = "11th.Check   = 0";  // channels 8 to 13 are cleared after a failure
    QTest::newRow("last line unended") << noFinal << iniBytes(withoutEnd) << true;
    // Files the reading rules take as they are lose nothing at the close.
    const QStringList older = changed.mid(0, 17);
    QStringList olderSaved = changed;
    olderSaved[20] = "11th.Check   = 0";
    QTest::newRow("17-line file") << iniBytes(older) << iniBytes(olderSaved) << false;
    QStringList unendedAsSaved = withLines({{1, "Sys.Color   = 2"}, {2, "Com.Setting = 5"}});
    QByteArray unended = iniBytes(unendedAsSaved);
    unended.chop(2);
    QTest::newRow("last line unended, channels 8-13 clear") << unended << iniBytes(unendedAsSaved) << false;
    QTest::newRow("lines after a damaged one")
        << iniBytes(older) + "bad\r\n" << iniBytes(olderSaved) << true;
    QTest::newRow("8-bit bytes and a NUL in a damaged file")
        << QByteArray("Sys.Color   = 2\r\nCom.Setting = \xff\x00\r\n", 36) << clearedBytes << true;
}

void TestLifecycle::closeAfterLoad()
{
    QFETCH(QByteArray, file);
    QFETCH(QByteArray, saved);
    QFETCH(bool, copy);
    QTemporaryDir dir;
    const QString path = dir.filePath("SETUP.INI");
    writeFile(path, file);
    ModalCloser boxes;
    {
        MAIN64K w(dir.path(), std::make_unique<FakePort>());
        w.setDisplayScheme(2);
        w.Form_Load();
        QVERIFY(!QFileInfo::exists(path + ".bak"));  // nothing is written before the close
        w.show();
        QVERIFY(w.close());
    }
    QCOMPARE(boxes.count(), 0);
    QCOMPARE(readFile(path), saved);
    QCOMPARE(readFile(path + ".bak"), copy ? file : QByteArray("<missing>"));

    // The next start reads the file the close wrote; the copy stays as it was.
    MAIN64K again(dir.path(), std::make_unique<FakePort>());
    again.setDisplayScheme(2);  // as the start-up reads it from the first line
    again.Form_Load();
    again.show();
    QVERIFY(again.close());
    QCOMPARE(readFile(path), saved);
    QCOMPARE(readFile(path + ".bak"), copy ? file : QByteArray("<missing>"));
}

// When the damaged file cannot be kept (the disk fills while the copy is
// written), it is not replaced either, and no part of a copy is left.
void TestLifecycle::damagedCopyRefused()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("SETUP.INI");
    const QByteArray damaged = iniBytes(withLines({{2, "Com.Setting = COM1"}}));
    writeFile(path, damaged);
    ModalCloser boxes;
    MAIN64K w(dir.path(), std::make_unique<FakePort>());
    w.Form_Load();
    w.show();
    {
        FileSizeLimit full(100);
        QVERIFY(w.close());
    }
    QCOMPARE(boxes.count(), 1);
    QVERIFY2(boxes.texts[0].startsWith("The settings could not be saved; ") && boxes.texts[0].contains("SETUP.INI.bak"),
             qPrintable(boxes.texts[0]));
    QCOMPARE(readFile(path), damaged);
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"SETUP.INI"});
}

// An operator's own SETUP.INI.bak (and the next name) stays as it is: the
// copy takes the next free name, and the close names it in a box.
void TestLifecycle::damagedCopyTakesFreeName()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("SETUP.INI");
    const QByteArray damaged = iniBytes(withLines({{2, "Com.Setting = COM1"}}));
    writeFile(path, damaged);
    writeFile(path + ".bak", "the operator's own copy\r\n");
    writeFile(path + ".bak.1", "and another\r\n");
    ModalCloser boxes;
    {
        MAIN64K w(dir.path(), std::make_unique<FakePort>());
        w.Form_Load();
        w.show();
        QVERIFY(w.close());
    }
    QCOMPARE(readFile(path + ".bak"), QByteArray("the operator's own copy\r\n"));
    QCOMPARE(readFile(path + ".bak.1"), QByteArray("and another\r\n"));
    QCOMPARE(readFile(path + ".bak.2"), damaged);
    QCOMPARE(boxes.count(), 1);
    QVERIFY2(boxes.texts[0].contains(QDir::toNativeSeparators(path + ".bak.2")), qPrintable(boxes.texts[0]));
    QVERIFY(readFile(path).contains("Com.Setting = 0\r\n"));
}

// Files beside SETUP.INI that look like a save's copy are the operator's:
// the close leaves them, however old, and removes only its own leftovers.
void TestLifecycle::closeKeepsOperatorsFiles()
{
    QTemporaryDir dir;
    const QDir d(dir.path());
    const QDateTime old = QDateTime::currentDateTimeUtc().addSecs(-3 * 3600);
    const QStringList theirs{"SETUP.INI.backup", "SETUP.INI.orig01", "SETUP.INI.200101", "SETUP.INI.aB3dE9"};
    for (const QString& name : theirs + QStringList{"SETUP.INI.~pollbench-Xy12Zw.tmp"}) {
        QFile f(d.filePath(name));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("Sys.Color   = 1\r\n");
        f.flush();
        QVERIFY(f.setFileTime(old, QFileDevice::FileModificationTime));
    }
    ModalCloser boxes;
    MAIN64K w(dir.path(), std::make_unique<FakePort>());
    w.Form_Load();
    w.show();
    QVERIFY(w.close());
    QCOMPARE(boxes.count(), 0);
    QStringList left = d.entryList(QDir::Files | QDir::Hidden);
    left.sort();
    QStringList expected = theirs + QStringList{"SETUP.INI"};
    expected.sort();
    QCOMPARE(left, expected);
    for (const QString& name : theirs)
        QCOMPARE(readFile(d.filePath(name)), QByteArray("Sys.Color   = 1\r\n"));
}

QTEST_MAIN(TestLifecycle)
#include "test_lifecycle.moc"
