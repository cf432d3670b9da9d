// The command line as the program reads it, and the settings an unattended
// run takes from SETUP.INI.
#include "cli/headless.h"
#include "cli/options.h"
#include "cli/runreport.h"
#include "settingstext.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

using namespace cli;

namespace {

QString channelsText(const std::array<bool, frames::ChannelCount>& on)
{
    QString s;
    for (bool b : on)
        s += b ? QLatin1Char('1') : QLatin1Char('0');
    return s;
}

}  // namespace

class TestOptions : public QObject {
    Q_OBJECT
private slots:
    void durations_data();
    void durations();
    void channels_data();
    void channels();
    void pollRates_data();
    void pollRates();
    void commandLines_data();
    void commandLines();
    void headlessValues();
    void repeatedOptions_data();
    void repeatedOptions();
    void progressLines_data();
    void progressLines();
    void progressFitsEveryWidth();
    void storedSettings_data();
    void storedSettings();
};

void TestOptions::durations_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<qint64>("ms");  // -1: refused
    QTest::newRow("seconds") << "90" << qint64(90000);
    QTest::newRow("s") << "3s" << qint64(3000);
    QTest::newRow("m") << "15m" << qint64(900000);
    QTest::newRow("h") << "8h" << qint64(28800000);
    QTest::newRow("fraction") << "1.5h" << qint64(5400000);
    QTest::newRow("blanks") << " 2 " << qint64(2000);
    QTest::newRow("a year") << "8784h" << qint64(8784LL * 3600000);
    QTest::newRow("zero") << "0" << qint64(-1);
    QTest::newRow("negative") << "-5" << qint64(-1);
    QTest::newRow("unit only") << "m" << qint64(-1);
    QTest::newRow("other unit") << "5d" << qint64(-1);
    QTest::newRow("two units") << "1h30m" << qint64(-1);
    QTest::newRow("beyond a year") << "9000h" << qint64(-1);
    QTest::newRow("empty") << "" << qint64(-1);
}

void TestOptions::durations()
{
    QFETCH(QString, text);
    QFETCH(qint64, ms);
    QCOMPARE(parseDuration(text).value_or(-1), ms);
}

void TestOptions::channels_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("enabled");  // 13 digits, channel 1 first; empty: refused
    QTest::newRow("range and one") << "1-7,9" << "1111111010000";
    QTest::newRow("all") << "1-13" << "1111111111111";
    QTest::newRow("overlap") << "2-4,3,4-5" << "0111100000000";
    QTest::newRow("blanks") << " 13 , 1 " << "1000000000001";
    QTest::newRow("none") << "none" << "0000000000000";
    QTest::newRow("channel 0") << "0" << "";
    QTest::newRow("channel 14") << "1-14" << "";
    QTest::newRow("backwards") << "7-1" << "";
    QTest::newRow("empty item") << "1,,2" << "";
    QTest::newRow("open range") << "3-" << "";
    QTest::newRow("word") << "all" << "";
    QTest::newRow("empty") << "" << "";
}

void TestOptions::channels()
{
    QFETCH(QString, text);
    QFETCH(QString, enabled);
    QString why;
    const auto on = parseChannels(text, &why);
    QCOMPARE(on ? channelsText(*on) : QString(), enabled);
    QCOMPARE(why.isEmpty(), bool(on));
}

// The window's START POLL rules: below 30 polls every 30, beyond what the
// timer takes is refused, fractions round half to even.
void TestOptions::pollRates_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("period");  // -1: refused
    QTest::newRow("plain") << "100" << 100;
    QTest::newRow("least") << "30" << 30;
    QTest::newRow("below") << "10" << 30;
    QTest::newRow("zero") << "0" << 30;
    QTest::newRow("negative") << "-5" << 30;
    QTest::newRow("most") << "65535" << 65535;
    QTest::newRow("rounds to most") << "65535.4" << 65535;
    QTest::newRow("too long") << "65536" << -1;
    QTest::newRow("half to even") << "40.5" << 40;
    QTest::newRow("blanks") << " 50 " << 50;
    QTest::newRow("word") << "fast" << -1;
    QTest::newRow("empty") << "" << -1;
}

void TestOptions::pollRates()
{
    QFETCH(QString, text);
    QFETCH(int, period);
    QCOMPARE(pollPeriodFrom(text).value_or(-1), period);
}

void TestOptions::commandLines_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("error");  // part of the message for bad usage

    const int window = int(RunKind::Window);
    const int bad = int(RunKind::BadUsage);
    const int headless = int(RunKind::Headless);
    QTest::newRow("nothing") << QStringList{} << window << "";
    QTest::newRow("device") << QStringList{"--device", "/dev/ttyUSB0"} << window << "";
    QTest::newRow("record") << QStringList{"--record", "r.csv"} << window << "";
    QTest::newRow("built-in device") << QStringList{"--device", "sim", "--start-poll"} << window << "";
    QTest::newRow("built-in device, headless") << QStringList{"--headless", "--device", "sim:f.txt"} << headless << "";
    QTest::newRow("help") << QStringList{"--help"} << int(RunKind::Help) << "";
    QTest::newRow("-h") << QStringList{"-h"} << int(RunKind::Help) << "";
    QTest::newRow("help beats a bad value") << QStringList{"--headless", "--rate", "x", "--help"}
                                            << int(RunKind::Help) << "";
    QTest::newRow("version") << QStringList{"--version"} << int(RunKind::Version) << "";
    QTest::newRow("list") << QStringList{"--list-ports"} << int(RunKind::ListPorts) << "";
    QTest::newRow("headless") << QStringList{"--headless"} << headless << "";
    // Qt's own window options stay the window's.
    QTest::newRow("qt options") << QStringList{"-platform", "offscreen", "--style=Fusion", "-reverse"} << window << "";
    QTest::newRow("qt options, headless") << QStringList{"--headless", "-platform", "xcb"} << headless << "";

    QTest::newRow("unknown") << QStringList{"--bogus"} << bad << "bogus";
    QTest::newRow("positional") << QStringList{"COM1"} << bad << "COM1";
    QTest::newRow("missing value") << QStringList{"--device"} << bad << "device";
    QTest::newRow("empty device") << QStringList{"--device", ""} << bad << "--device";
    QTest::newRow("built-in device without script") << QStringList{"--device", "sim:"} << bad << "script";
    QTest::newRow("start-poll headless") << QStringList{"--headless", "--start-poll"} << bad << "--start-poll";
    QTest::newRow("run option without headless") << QStringList{"--duration", "5"} << bad << "--headless";
    QTest::newRow("report without headless") << QStringList{"--report", "r.json"} << bad << "--headless";
    QTest::newRow("rate too long") << QStringList{"--headless", "--rate", "70000"} << bad << "--rate";
    QTest::newRow("port no number") << QStringList{"--headless", "--port", "COM3"} << bad << "--port";
    QTest::newRow("port beyond 16 bits") << QStringList{"--headless", "--port", "40000"} << bad << "--port";
    QTest::newRow("mode") << QStringList{"--headless", "--mode", "step"} << bad << "--mode";
    QTest::newRow("channels") << QStringList{"--headless", "--channels", "0-3"} << bad << "--channels";
    QTest::newRow("escrow") << QStringList{"--headless", "--escrow", "yes"} << bad << "--escrow";
    QTest::newRow("duration") << QStringList{"--headless", "--duration", "soon"} << bad << "--duration";
    QTest::newRow("notes zero") << QStringList{"--headless", "--notes", "0"} << bad << "--notes";
    QTest::newRow("notes word") << QStringList{"--headless", "--notes", "five"} << bad << "--notes";
    QTest::newRow("fail-on") << QStringList{"--headless", "--fail-on", "timeout,jammed"} << bad << "jammed";
    QTest::newRow("fail-on empty item") << QStringList{"--headless", "--fail-on", "timeout,"} << bad << "--fail-on";
}

void TestOptions::commandLines()
{
    QFETCH(QStringList, args);
    QFETCH(int, kind);
    QFETCH(QString, error);
    const Options o = parseCommandLine(QStringList{QStringLiteral("pollbench")} + args);
    QCOMPARE(int(o.kind), kind);
    if (!error.isEmpty())
        QVERIFY2(o.error.contains(error), qPrintable(o.error));
}

void TestOptions::headlessValues()
{
    const Options o = parseCommandLine({"pollbench", "--headless", "--device", "COM7", "--port", "3.5", "--rate", "12",
                                        "--mode", "negative-ack", "--channels", "8-13", "--escrow", "off",
                                        "--duration", "2m", "--notes", "40", "--report", "r.json", "--fail-on",
                                        "jam, powerup,timeout", "--record", "r.csv"});
    QCOMPARE(int(o.kind), int(RunKind::Headless));
    QCOMPARE(o.device, QStringLiteral("COM7"));
    QCOMPARE(o.port.value_or(-1), 4);  // halves to even, as the port box
    QCOMPARE(o.pollPeriod.value_or(-1), 30);
    QCOMPARE(int(o.mode), int(PollMode::NegativeAck));
    QCOMPARE(channelsText(o.channels.value()), QStringLiteral("0000000111111"));
    QCOMPARE(o.escrow, false);
    QCOMPARE(o.durationMs.value_or(-1), 120000);
    QCOMPARE(o.notes.value_or(-1), 40);
    QCOMPARE(o.report, QStringLiteral("r.json"));
    QCOMPARE(o.record, QStringLiteral("r.csv"));
    Conditions want;
    want.set(std::size_t(Condition::Jam)).set(std::size_t(Condition::PowerUp)).set(std::size_t(Condition::Timeout));
    QCOMPARE(o.failOn, want);

    // What is not given is left to the settings file; escrow on and Normal Poll.
    const Options d = parseCommandLine({"pollbench", "--headless"});
    QVERIFY(!d.port && !d.pollPeriod && !d.channels && !d.durationMs && !d.notes);
    QCOMPARE(d.escrow, true);
    QCOMPARE(int(d.mode), int(PollMode::Normal));
    QVERIFY(d.failOn.none());
}

void TestOptions::repeatedOptions_data()
{
    QTest::addColumn<QStringList>("args");  // after --headless
    QTest::addColumn<QString>("error");     // part of the message; empty: accepted
    QTest::addColumn<QString>("channels");  // accepted: the enables, or empty for none given
    QTest::addColumn<QString>("failOn");    // accepted: the conditions, comma-separated

    // Lists add up.
    QTest::newRow("fail-on twice") << QStringList{"--fail-on", "jam", "--fail-on", "badsum"} << ""
                                   << "" << "badsum,jam";
    QTest::newRow("channels twice") << QStringList{"--channels", "1-3", "--channels=9"} << "" << "1110000010000"
                                    << "";
    QTest::newRow("channels none, then one") << QStringList{"--channels", "none", "--channels", "5"} << ""
                                             << "0000100000000" << "";
    QTest::newRow("a bad list among good ones") << QStringList{"--fail-on", "jam", "--fail-on", "jammed"}
                                                << "jammed" << "" << "";
    // One value, given twice: which one was meant is not for the program to guess.
    QTest::newRow("rate twice") << QStringList{"--rate", "30", "--rate", "1000"}
                                << "--rate is given 2 times (30, 1000)" << "" << "";
    QTest::newRow("the same rate twice") << QStringList{"--rate", "30", "--rate", "30"} << "--rate" << "" << "";
    QTest::newRow("device twice") << QStringList{"--device", "a", "--device=b"} << "--device" << "" << "";
    QTest::newRow("report three times") << QStringList{"--report", "a", "--report", "b", "--report", "c"}
                                        << "--report is given 3 times" << "" << "";
    QTest::newRow("escrow twice") << QStringList{"--escrow", "on", "--escrow", "off"} << "--escrow" << "" << "";
    // Qt's options take their value; never one of ours.
    QTest::newRow("style before an option") << QStringList{"--style", "--fail-on=powerup"}
                                            << "Missing value after '--style'" << "" << "";
    QTest::newRow("style last") << QStringList{"--fail-on", "jam", "-style"} << "Missing value after '-style'" << ""
                                << "";
    QTest::newRow("style with its value") << QStringList{"--style", "Fusion", "--fail-on", "powerup"} << "" << ""
                                          << "powerup";
    QTest::newRow("geometry from the right") << QStringList{"-geometry", "-0+0", "--fail-on", "full"} << "" << ""
                                             << "full";
}

void TestOptions::repeatedOptions()
{
    QFETCH(QStringList, args);
    QFETCH(QString, error);
    QFETCH(QString, channels);
    QFETCH(QString, failOn);
    const Options o = parseCommandLine(QStringList{"pollbench", "--headless"} + args);
    if (!error.isEmpty()) {
        QCOMPARE(int(o.kind), int(RunKind::BadUsage));
        QVERIFY2(o.error.contains(error), qPrintable(o.error));
        QVERIFY(!o.error.contains(QLatin1Char('\n')));
        return;
    }
    QVERIFY2(o.kind == RunKind::Headless, qPrintable(o.error));
    QCOMPARE(o.channels ? channelsText(*o.channels) : QString(), channels);
    QStringList named;
    for (int c = 0; c < ConditionCount; ++c)
        if (o.failOn.test(std::size_t(c)))
            named << conditionName(Condition(c));
    named.sort();
    QCOMPARE(named.join(QLatin1Char(',')), failOn);
}

void TestOptions::progressLines_data()
{
    QTest::addColumn<qint64>("polls");
    QTest::addColumn<int>("width");
    QTest::addColumn<QString>("line");
    // 5 s in, 1 stacked, nothing else.
    QTest::newRow("no limit") << qint64(50) << 0
                              << "0:00:05  polls 50  stacked 1  returned 0  rejected 0  time-outs 0  bad checksums 0";
    QTest::newRow("wide terminal") << qint64(50) << 119
                                   << "0:00:05  polls 50  stacked 1  returned 0  rejected 0  time-outs 0  bad checksums 0";
    QTest::newRow("exactly wide enough") << qint64(50) << 82
                                         << "0:00:05  polls 50  stacked 1  returned 0  rejected 0  time-outs 0  bad checksums 0";
    // An 80-column terminal: short labels, every field kept.
    QTest::newRow("79 columns") << qint64(50) << 79 << "0:00:05  polls 50  stk 1  ret 0  rej 0  t/o 0  bad 0";
    QTest::newRow("single blanks") << qint64(50) << 50 << "0:00:05 polls 50 stk 1 ret 0 rej 0 t/o 0 bad 0";
    QTest::newRow("last field dropped") << qint64(50) << 45 << "0:00:05 polls 50 stk 1 ret 0 rej 0 t/o 0";
    QTest::newRow("polls only") << qint64(50) << 20 << "0:00:05 polls 50";
    QTest::newRow("time only") << qint64(50) << 10 << "0:00:05";
    QTest::newRow("narrower than the time") << qint64(50) << 5 << "0:00:";
    // Long runs have wider figures: still one line.
    QTest::newRow("a night's polls") << qint64(1440000) << 79
                                     << "0:00:05  polls 1440000  stk 1  ret 0  rej 0  t/o 0  bad 0";
}

void TestOptions::progressLines()
{
    QFETCH(qint64, polls);
    QFETCH(int, width);
    QFETCH(QString, line);
    Progress p;
    p.elapsedMs = 5400;
    p.polls = polls;
    p.stacked = 1;
    QCOMPARE(progressLine(p, width), line);
}

void TestOptions::progressFitsEveryWidth()
{
    // Twelve hours at 30 ms with many of everything: at every width the line
    // fits, begins with the time, and keeps the fields it has whole.
    Progress p{12 * 3600 * 1000, 1440000, 12345, 678, 910, 11121, 3141};
    for (int width = 1; width <= 200; ++width) {
        const QString line = progressLine(p, width);
        QVERIFY2(line.size() <= width, qPrintable(QStringLiteral("%1: %2").arg(width).arg(line)));
        QVERIFY(line.startsWith(QStringLiteral("12:00:00").left(width)));
        if (line.size() > 8)
            QVERIFY2(QRegularExpression(QStringLiteral("^12:00:00( +[a-z/-]+( [a-z]+)? \\d+)+$")).match(line).hasMatch(),
                     qPrintable(line));
    }
}

void TestOptions::storedSettings_data()
{
    QTest::addColumn<QByteArray>("file");  // "-": no file; "dir": a folder
    QTest::addColumn<int>("port");
    QTest::addColumn<QString>("rate");
    QTest::addColumn<QString>("enabled");
    QTest::addColumn<bool>("problem");

    QTest::newRow("no file") << QByteArray("-") << 1 << "100" << "1111111000000" << false;
    QTest::newRow("first run's file") << iniBytes(DefaultLines) << 1 << "100" << "1111111000000" << false;
    QTest::newRow("stored values")
        << iniBytes(withLines({{2, "Com.Setting = 4"}, {3, "Poll.Rate   = 45"}, {11, "1st.Check   = 0"},
                               {13, "3rd.Check   = 2"}, {21, "11th.Check   = 1"}}))
        << 4 << "45" << "0101111000100" << false;
    // Read up to the bad line; what follows stays empty, channels 8 to 13 cleared.
    QTest::newRow("bad channel line")
        << iniBytes(withLines({{2, "Com.Setting = 3"}, {15, "5th.Check   = x"}, {20, "10th.Check   = 1"}})) << 3
        << "100" << "1111000000000" << true;
    QTest::newRow("bad port line") << iniBytes(withLines({{2, "Com.Setting = COM2"}})) << 0 << "" << "0000000000000"
                                   << true;
    QTest::newRow("older 17 lines") << iniBytes(DefaultLines.mid(0, 17)) << 1 << "100" << "1111111000000" << true;
    QTest::newRow("LF line ends") << iniBytes(withLines({{2, "Com.Setting = 5"}}), "\n") << 5 << "100"
                                  << "1111111000000" << false;
    // Nothing a file can be read from: a first run's values, and a word about it.
    QTest::newRow("a folder") << QByteArray("dir") << 1 << "100" << "1111111000000" << true;
    // Not a settings file: the window would delete it and start afresh.
    QTest::newRow("no Sys.Color") << QByteArray("hello\r\n") << 1 << "100" << "1111111000000" << false;
}

void TestOptions::storedSettings()
{
    QFETCH(QByteArray, file);
    QFETCH(int, port);
    QFETCH(QString, rate);
    QFETCH(QString, enabled);
    QFETCH(bool, problem);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("SETUP.INI"));
    if (file == "dir") {
        QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("SETUP.INI")));
    } else if (file != "-") {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(file);
    }
    const StoredSettings s = readStoredSettings(path);
    QCOMPARE(int(s.port), port);
    QCOMPARE(s.pollRate, rate);
    QCOMPARE(channelsText(s.channels), enabled);
    QCOMPARE(!s.problem.isEmpty(), problem);
    // Never written, never removed.
    QCOMPARE(QFile::exists(path), file != "-");
    if (file != "-" && file != "dir") {
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), file);
    }
}

QTEST_GUILESS_MAIN(TestOptions)
#include "test_options.moc"
