// SETUP.INI as text: the line reader, the positional parse and the bytes
// written.
#include "settingstext.h"
#include "specialfiles.h"
#include "settings/settings.h"

#include <QDateTime>
#include <QTemporaryDir>
#include <QTest>

using namespace settings;

namespace {

// What parseSettings got, in one comparable text: port|rate|channels|failed
// line, "-" for what it did not reach.
QString summary(const LoadedSettings& s)
{
    QString ch;
    for (const auto& c : s.channels)
        ch += c ? QString::number(*c) : QStringLiteral("-");
    return QStringLiteral("%1|%2|%3|%4")
        .arg(s.comPort ? QString::number(*s.comPort) : QStringLiteral("-"),
             s.pollRate ? QStringLiteral("\"%1\"").arg(*s.pollRate) : QStringLiteral("-"), ch)
        .arg(s.failedLine);
}

}  // namespace

class TestSettings : public QObject {
    Q_OBJECT
private slots:
    void nextSettingValue_data();
    void nextSettingValue();
    void parse_data();
    void parse();
    void firstValue_data();
    void firstValue();
    void defaultFileBytes();
    void writtenBytes_data();
    void writtenBytes();
    void writeReplacesWhole();
    void lineEnds_data();
    void lineEnds();
    void inspect_data();
    void inspect();
    void notRegularLeftAlone_data();
    void notRegularLeftAlone();
    void damagedCopy();
    void saveLoses_data();
    void saveLoses();
    void staleCopies();
};

void TestSettings::nextSettingValue_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("value");  // "FAIL" for a failure
    QTest::addColumn<QString>("rest");   // the text after the call

    const QString next = QStringLiteral("Com.Setting = 1\r\n");
    QTest::newRow("plain") << "Sys.Color   = 1\r\n" + next << "1" << next;
    QTest::newRow("empty value") << "Poll.Rate   = \r\n" + next << "" << next;
    QTest::newRow("no blank after =: first character skipped") << "Com.Setting =3\r\n" << "" << "";
    QTest::newRow("= then CR LF") << "Com.Setting =\r\n" + next << "FAIL" << "Com.Setting =\r\n" + next;
    QTest::newRow("trailing blanks kept") << "Com.Setting = 3  \r\n" << "3  " << "";
    QTest::newRow("value holds =") << "Poll.Rate   = a = b\r\n" << "a = b" << "";
    QTest::newRow("key never looked at") << "=xyz\r\n" << "yz" << "";
    QTest::newRow("no = left: line less its first character") << "abc\r\n" << "bc" << "";
    QTest::newRow("no = left, one character") << "a\r\nb\r\n" << "" << "b\r\n";
    QTest::newRow("= only on a later line") << "abc\r\n" + next << "FAIL" << "abc\r\n" + next;
    QTest::newRow("lone CR and LF are part of the value") << "k = 1\r2\n3\r\n" << "1\r2\n3" << "";
    QTest::newRow("LF only") << "Sys.Color   = 1\nCom.Setting = 1\n" << "FAIL" << "Sys.Color   = 1\nCom.Setting = 1\n";
    QTest::newRow("CR only") << "Sys.Color   = 1\rCom.Setting = 1\r" << "FAIL" << "Sys.Color   = 1\rCom.Setting = 1\r";
    QTest::newRow("last line without CR LF") << "13th.Check   = 1" << "FAIL" << "13th.Check   = 1";
    QTest::newRow("empty text") << "" << "FAIL" << "";
    QTest::newRow("bare CR LF") << "\r\n" << "FAIL" << "\r\n";
    // Positions are 16-bit: the CR of the first line break may sit at 32767
    // at most.
    const QString atLimit = "k = " + QString(32762, QLatin1Char('v'));
    QTest::newRow("line break at position 32767") << atLimit + "\r\n" << QString(32762, QLatin1Char('v')) << "";
    QTest::newRow("line break at position 32768") << atLimit + "v\r\n" << "FAIL" << atLimit + "v\r\n";
    const QString farEquals = QString(32765, QLatin1Char('x')) + "= v\r\n";
    QTest::newRow("= at position 32766") << farEquals << "FAIL" << farEquals;
}

void TestSettings::nextSettingValue()
{
    QFETCH(QString, text);
    QFETCH(QString, value);
    QFETCH(QString, rest);
    QString got;
    try {
        got = NextSettingValue(text);
    } catch (const SettingsError&) {
        got = QStringLiteral("FAIL");
    }
    QCOMPARE(got, value);
    QCOMPARE(text, rest);
}

void TestSettings::parse_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");  // port|rate|channels|failed line

    QTest::newRow("default file") << iniText(DefaultLines) << "1|\"100\"|1111111000000|0";
    QTest::newRow("grey channel state") << iniText(withLines({{23, "13th.Check   = 2"}}))
                                        << "1|\"100\"|1111111000002|0";
    QTest::newRow("first and third lines swapped")
        << iniText(withLines({{1, "Com.Setting = 1"}, {2, "Poll.Rate   = 100"}, {3, "Sys.Color   = 2"}}))
        << "100|\"2\"|1111111000000|0";
    QTest::newRow("lower-case keys are read the same")
        << iniText(withLines({{1, "sys.color   = 1"}, {2, "com.setting = 4"}})) << "4|\"100\"|1111111000000|0";
    QTest::newRow("empty poll rate") << iniText(withLines({{3, "Poll.Rate   = "}})) << "1|\"\"|1111111000000|0";
    QTest::newRow("poll rate is any text") << iniText(withLines({{3, "Poll.Rate   = fast"}}))
                                           << "1|\"fast\"|1111111000000|0";
    QTest::newRow("port =3 without blank") << iniText(withLines({{2, "Com.Setting =3"}})) << "-|-|-------------|2";
    QTest::newRow("port = then CR LF") << iniText(withLines({{2, "Com.Setting ="}})) << "-|-|-------------|2";
    QTest::newRow("port with trailing blanks") << iniText(withLines({{2, "Com.Setting = 3  "}}))
                                               << "3|\"100\"|1111111000000|0";
    QTest::newRow("port not a number") << iniText(withLines({{2, "Com.Setting = COM1"}})) << "-|-|-------------|2";
    QTest::newRow("port out of range") << iniText(withLines({{2, "Com.Setting = 40000"}})) << "-|-|-------------|2";
    QTest::newRow("scheme not a number") << iniText(withLines({{1, "Sys.Color   = x"}})) << "-|-|-------------|1";
    QTest::newRow("value line not a number") << iniText(withLines({{6, "3rd.Value   = x"}}))
                                             << "1|\"100\"|-------------|6";
    QTest::newRow("value line 32-bit") << iniText(withLines({{4, "1st.Value   = 2147483647"}}))
                                       << "1|\"100\"|1111111000000|0";
    QTest::newRow("channel state 3 refused") << iniText(withLines({{14, "4th.Check   = 3"}}))
                                             << "1|\"100\"|111----------|14";
    QTest::newRow("channel state -1 refused") << iniText(withLines({{20, "10th.Check   = -1"}}))
                                              << "1|\"100\"|111111100----|20";
    QStringList allSet = DefaultLines;
    for (int i = 17; i < 23; ++i)
        allSet[i].replace(QLatin1String("= 0"), QLatin1String("= 1"));
    QString noFinal = iniText(allSet);
    noFinal.chop(2);
    QTest::newRow("missing final CR LF") << noFinal << "1|\"100\"|111111111111-|23";
    QTest::newRow("17-line file") << iniText(DefaultLines.mid(0, 17)) << "1|\"100\"|1111111------|18";
    QTest::newRow("LF-only file") << iniText(DefaultLines, "\n") << "-|-|-------------|1";
    QTest::newRow("CR-only file") << iniText(DefaultLines, "\r") << "-|-|-------------|1";
    QTest::newRow("empty file") << "" << "-|-|-------------|1";
    QTest::newRow("poll-rate line moved to line 2")
        << iniText(withLines({{2, "Poll.Rate   = 100"}, {3, "Com.Setting = 1"}})) << "100|\"1\"|1111111000000|0";
    QTest::newRow("poll rate 250 as line 2 is a port")
        << iniText(withLines({{2, "Poll.Rate   = 250.5"}, {3, "Com.Setting = 1"}})) << "250|\"1\"|1111111000000|0";
    QTest::newRow("extra lines ignored") << iniText(DefaultLines + QStringList{"14th.Check   = 1", "junk"})
                                         << "1|\"100\"|1111111000000|0";
}

void TestSettings::parse()
{
    QFETCH(QString, text);
    QFETCH(QString, expected);
    QCOMPARE(summary(parseSettings(text)), expected);
}

void TestSettings::firstValue_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("scheme");  // -999: the value cannot be taken

    QTest::newRow("1") << iniText(DefaultLines) << 1;
    QTest::newRow("2") << iniText(withLines({{1, "Sys.Color   = 2"}})) << 2;
    QTest::newRow("0") << iniText(withLines({{1, "Sys.Color   = 0"}})) << 0;
    QTest::newRow("-1") << iniText(withLines({{1, "Sys.Color   = -1"}})) << -1;
    QTest::newRow("first line's value, whatever its key")
        << iniText(withLines({{1, "Com.Setting = 1"}, {3, "Sys.Color   = 2"}})) << 1;
    QTest::newRow("not a number") << iniText(withLines({{1, "Sys.Color   = high"}})) << -999;
    QTest::newRow("out of range") << iniText(withLines({{1, "Sys.Color   = 32768"}})) << -999;
    QTest::newRow("LF only") << iniText(DefaultLines, "\n") << -999;
}

void TestSettings::firstValue()
{
    QFETCH(QString, text);
    QFETCH(int, scheme);
    int got = -999;
    try {
        got = firstValueAsScheme(text);
    } catch (const SettingsError&) {
    }
    QCOMPARE(got, scheme);
}

void TestSettings::defaultFileBytes()
{
    const QByteArray bytes = settingsFileBytes(SavedSettings{});
    QCOMPARE(bytes.size(), 397);
    QCOMPARE(bytes, iniText(DefaultLines).toLatin1());
}

void TestSettings::writtenBytes_data()
{
    QTest::addColumn<int>("scheme");
    QTest::addColumn<int>("port");
    QTest::addColumn<QString>("rate");
    QTest::addColumn<QString>("expected");  // the first three lines and the channel lines, joined by |

    QTest::newRow("negatives") << -1 << -32768 << "30" << "Sys.Color   = -1|Com.Setting = -32768|Poll.Rate   = 30";
    QTest::newRow("rate kept as typed") << 2 << 3 << " 1e3 " << "Sys.Color   = 2|Com.Setting = 3|Poll.Rate   =  1e3 ";
    QTest::newRow("rate with an 8-bit character") << 1 << 1 << QString::fromLatin1("100\xe9")
                                                  << QString::fromLatin1("Sys.Color   = 1|Com.Setting = 1|Poll.Rate   = 100\xe9");
    QTest::newRow("rate cut at a pasted CR LF") << 1 << 1 << "100\r\n200"
                                                << "Sys.Color   = 1|Com.Setting = 1|Poll.Rate   = 100";
    QTest::newRow("lone CR kept") << 1 << 1 << "1\r2" << "Sys.Color   = 1|Com.Setting = 1|Poll.Rate   = 1\r2";
}

void TestSettings::writtenBytes()
{
    QFETCH(int, scheme);
    QFETCH(int, port);
    QFETCH(QString, rate);
    QFETCH(QString, expected);
    SavedSettings s;
    s.displayScheme = std::int16_t(scheme);
    s.comPort = std::int16_t(port);
    s.pollRate = rate;
    s.channels = {0, 1, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
    const QString text = QString::fromLatin1(settingsFileBytes(s));
    const QStringList lines = text.split(QStringLiteral("\r\n"));
    QCOMPARE(lines.size(), 24);  // 23 lines, each ended
    QCOMPARE(lines.last(), QString());
    QCOMPARE(QStringList(lines.mid(0, 3)).join(QLatin1Char('|')), expected);
    QCOMPARE(lines[10], QStringLiteral("1st.Check   = 0"));
    QCOMPARE(lines[12], QStringLiteral("3rd.Check   = 2"));
    QCOMPARE(lines[22], QStringLiteral("13th.Check   = 1"));

    // What was written reads back the same.
    QString again = text;
    const LoadedSettings back = parseSettings(again);
    QCOMPARE(back.failedLine, 0);
    QCOMPARE(int(*back.comPort), port);
    QCOMPARE(*back.pollRate, rate.left(rate.indexOf(QLatin1String("\r\n"))));
}

void TestSettings::writeReplacesWhole()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = settingsPath(dir.path());
    QCOMPARE(path, dir.path() + "/SETUP.INI");
    {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(QByteArray(5000, 'x'));
    }
    writeSettingsFile(path, SavedSettings{});
    QCOMPARE(readWholeFile(path), iniText(DefaultLines));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"SETUP.INI"});
    QVERIFY_THROWS_EXCEPTION(FileError, readWholeFile(dir.filePath("missing/SETUP.INI")));
    // A missing folder is made (the user's own settings folder before the
    // first save); one that cannot be made fails.
    writeSettingsFile(dir.filePath("made/SETUP.INI"), SavedSettings{});
    QCOMPARE(readWholeFile(dir.filePath("made/SETUP.INI")), iniText(DefaultLines));
    QVERIFY_THROWS_EXCEPTION(FileError, writeSettingsFile(path + "/SETUP.INI", SavedSettings{}));
}

void TestSettings::lineEnds_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("expected");  // port|rate|channels|failed line

    const QStringList lines = withLines({{2, "Com.Setting = 7"}, {3, "Poll.Rate   = 45"}, {22, "12th.Check   = 1"}});
    QTest::newRow("CR LF") << iniBytes(lines) << "7|\"45\"|1111111000010|0";
    QTest::newRow("LF only") << iniBytes(lines, "\n") << "7|\"45\"|1111111000010|0";
    QTest::newRow("CR only") << iniBytes(lines, "\r") << "7|\"45\"|1111111000010|0";
    QByteArray noFinal = iniBytes(lines, "\n");
    noFinal.chop(1);
    QTest::newRow("LF only, last line unended") << noFinal << "7|\"45\"|111111100001-|23";
    // One CR LF pair anywhere: the file is read as CR LF throughout, and a
    // line ended by LF alone runs into the next.
    QByteArray mixed = iniBytes(lines);
    mixed.replace("Poll.Rate   = 45\r\n", "Poll.Rate   = 45\n");
    QTest::newRow("CR LF with one LF line") << mixed << "7|\"45\n1st.Value   = 1\"|111111000010-|23";
    // A lone CR in a CR LF file is part of the value, as written.
    QTest::newRow("lone CR in a value") << iniBytes(withLines({{3, "Poll.Rate   = 1\r2"}})) << "1|\"1\r2\"|1111111000000|0";
    QTest::newRow("LF-only file with a lone CR in a value")
        << iniBytes(withLines({{3, "Poll.Rate   = 1\r2"}}), "\n") << "1|\"1\r2\"|1111111000000|0";
}

void TestSettings::lineEnds()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, expected);
    QString text = settingsText(bytes);
    QCOMPARE(summary(parseSettings(text)), expected);
    QCOMPARE(firstValueAsScheme(settingsText(bytes)), 1);
}

void TestSettings::inspect_data()
{
    QTest::addColumn<QString>("make");  // what stands at SETUP.INI
    QTest::addColumn<int>("kind");
    QTest::newRow("nothing") << "" << int(PathKind::Missing);
    QTest::newRow("regular file") << "file" << int(PathKind::Regular);
    QTest::newRow("link to a regular file") << "link file" << int(PathKind::Regular);
    QTest::newRow("link to a link to a regular file") << "link link file" << int(PathKind::Regular);
    QTest::newRow("link to nothing") << "link" << int(PathKind::Missing);
}

void TestSettings::inspect()
{
    QFETCH(QString, make);
    QFETCH(int, kind);
#ifdef Q_OS_WIN
    if (make.contains(QLatin1String("link")))
        QSKIP("a link made here is a shortcut file, which opening does not follow");
#endif
    QTemporaryDir dir;
    const QDir d(dir.path());
    const QStringList steps = make.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    // Each step names what the one before leads to: a link, or the file at the end.
    QString at = d.filePath("SETUP.INI");
    for (int i = 0; i < steps.size(); ++i) {
        if (steps[i] == QLatin1String("file")) {
            QFile f(at);
            QVERIFY(f.open(QIODevice::WriteOnly));
        } else {
            const QString next = d.filePath(QStringLiteral("step%1").arg(i));
            QVERIFY(QFile::link(next, at));
            at = next;
        }
    }
    const PathState state = inspectPath(d.filePath("SETUP.INI"));
    QCOMPARE(int(state.kind), kind);
    QCOMPARE(state.target, at);
}

// Whatever is no regular file is neither opened nor replaced: a FIFO would
// block the read, a device would be read without end, and a rename would
// put a file in place of the node or of the link.
void TestSettings::notRegularLeftAlone_data()
{
    addSpecialRows();
}

void TestSettings::notRegularLeftAlone()
{
    QFETCH(int, index);
    QTemporaryDir dir;
    const QDir d(dir.path());
    MAKE_SPECIAL_CASE(index, d);
    const QString path = settingsPath(dir.path());
    const QStringList before = d.entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot | QDir::System);
    const QString was = describePath(path);

    const PathState state = inspectPath(path);
    QCOMPARE(int(state.kind), int(PathKind::Other));
    QVERIFY2(state.why.startsWith(path + " "), qPrintable(state.why));
    QVERIFY_THROWS_EXCEPTION(NotRegularFile, readFileBytes(path));
    QVERIFY_THROWS_EXCEPTION(NotRegularFile, writeSettingsFile(path, SavedSettings{}));
    QCOMPARE(describePath(path), was);
    QCOMPARE(d.entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot | QDir::System), before);
}

// Each copy takes the first free name; nothing that is there is replaced,
// whatever it is.
void TestSettings::damagedCopy()
{
    QTemporaryDir dir;
    const QDir d(dir.path());
    const QString path = settingsPath(dir.path());
    QByteArray asFound = iniBytes(withLines({{2, "Com.Setting = 99999999999"}}), "\n");
    asFound += QByteArray("\0\xff tail", 7);
    QCOMPARE(keepDamagedCopy(path, asFound), path + ".bak");
    QCOMPARE(keepDamagedCopy(path, "second"), path + ".bak.1");
    QVERIFY(d.mkdir("SETUP.INI.bak.2"));
    QVERIFY(QFile::link("nowhere", d.filePath("SETUP.INI.bak.3")));
    QCOMPARE(keepDamagedCopy(path, "third"), path + ".bak.4");
    auto read = [](const QString& p) {
        QFile f(p);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
    };
    QCOMPARE(read(path + ".bak"), asFound);
    QCOMPARE(read(path + ".bak.1"), QByteArray("second"));
    QCOMPARE(read(path + ".bak.4"), QByteArray("third"));
    // Nothing written through the link: it is still one, and leads nowhere.
    const QFileInfo link(path + ".bak.3");
#ifdef Q_OS_WIN
    QVERIFY(link.isFile());  // the link made here is a shortcut, a file of its own
#else
    QVERIFY(link.isSymLink());
#endif
    QVERIFY(read(link.filePath()) != "third");
    QVERIFY(!QFileInfo::exists(d.filePath("nowhere")));
    QVERIFY(!QFileInfo::exists(path));  // the copy alone; the save is the caller's next step
}

void TestSettings::saveLoses_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<bool>("loses");
    const QByteArray whole = iniBytes(DefaultLines);
    QByteArray unended = whole;
    unended.chop(2);
    QTest::newRow("the file the save writes") << whole << false;
    QTest::newRow("LF line ends") << iniBytes(DefaultLines, "\n") << false;
    QTest::newRow("17 lines") << iniBytes(DefaultLines.mid(0, 17)) << false;
    QTest::newRow("last line without CR LF") << unended << false;
    QTest::newRow("empty") << QByteArray() << false;
    QTest::newRow("a channel the load cleared") << iniBytes(withLines({{19, "9th.Check   = 1"}})) << true;
    QTest::newRow("a value line the save rewrites") << iniBytes(withLines({{4, "1st.Value   = 42"}})) << true;
    QTest::newRow("a 24th line") << whole + "extra\r\n" << true;
    QTest::newRow("a key name of its own") << iniBytes(withLines({{3, "Rate = 100"}})) << true;
}

// What the load took in is the default file; only what it would not give
// back calls for a copy.
void TestSettings::saveLoses()
{
    QFETCH(QByteArray, file);
    QFETCH(bool, loses);
    QCOMPARE(saveLosesValues(file, SavedSettings{}), loses);
}

// Copies of saves killed before their rename are removed by the next save
// once an hour old. They carry a name of their own; anything else beside
// the file, however much it looks like a copy, is left alone.
void TestSettings::staleCopies()
{
    QTemporaryDir dir;
    const QDir d(dir.path());
    const QString path = settingsPath(dir.path());
    const QDateTime old = QDateTime::currentDateTimeUtc().addSecs(-2 * 3600);
    auto make = [&](const QString& name, const QDateTime& when) {
        QFile f(d.filePath(name));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("Sys.Color   = 1\r\n");
        f.flush();  // before the time is set, or the write at close sets it again
        if (when.isValid())
            QVERIFY(f.setFileTime(when, QFileDevice::FileModificationTime));
    };
    make("SETUP.INI.~pollbench-aB3dE9.tmp", old);                                // stale: removed
    make("SETUP.INI.~pollbench-Zz0000.tmp", old);                                // stale: removed
    make("SETUP.INI.~pollbench-Qw12Er.tmp", QDateTime::currentDateTimeUtc().addSecs(-600));  // a save under way
    make("SETUP.INI.aB3dE9", old);  // the name an earlier version gave its copies, or an operator's file
    make("SETUP.INI.backup", old);
    make("SETUP.INI.200101", old);
    make("SETUP.INI.bak", old);
    make("SETUP.INI.~pollbench-aB3dE.tmp", old);   // five characters
    make("SETUP.INI.~pollbench-ab-cde.tmp", old);  // not letters and digits
    make("setup.ini.~pollbench-aB3dE9.tmp", old);  // another name
    make("other.~pollbench-aB3dE9.tmp", old);
    QVERIFY(QFile::link(d.filePath("other.~pollbench-aB3dE9.tmp"), d.filePath("SETUP.INI.~pollbench-Ln0000.tmp")));
    make("SETUP.INI", {});

    writeSettingsFile(path, SavedSettings{});
    QStringList left = d.entryList(QDir::Files | QDir::Hidden | QDir::System);
    left.sort();
    QStringList kept{"SETUP.INI", "SETUP.INI.200101", "SETUP.INI.aB3dE9", "SETUP.INI.backup",
                     "SETUP.INI.bak", "SETUP.INI.~pollbench-Ln0000.tmp", "SETUP.INI.~pollbench-Qw12Er.tmp",
                     "SETUP.INI.~pollbench-aB3dE.tmp", "SETUP.INI.~pollbench-ab-cde.tmp",
                     "other.~pollbench-aB3dE9.tmp", "setup.ini.~pollbench-aB3dE9.tmp"};
#ifdef Q_OS_WIN
    kept.removeOne("setup.ini.~pollbench-aB3dE9.tmp");  // names here are blind to case: it is a copy of ours
#endif
    QCOMPARE(left, kept);

    // A save that fails removes nothing.
    make("SETUP.INI.~pollbench-aB3dE9.tmp", old);
    QVERIFY(QFile::remove(path));
    QVERIFY(d.mkdir("SETUP.INI"));
    QVERIFY_THROWS_EXCEPTION(NotRegularFile, writeSettingsFile(path, SavedSettings{}));
    QVERIFY(QFileInfo::exists(d.filePath("SETUP.INI.~pollbench-aB3dE9.tmp")));
}

QTEST_APPLESS_MAIN(TestSettings)
#include "test_settings.moc"
