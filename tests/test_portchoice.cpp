// Which device a port number opens: the user's bench file, the port box's
// tool tip, and "Choose port..." binding a pseudo-terminal that the next
// START POLL then polls.
#include "link/qtport.h"
#include "modal.h"
#include "settings/benchfile.h"
#include "settings/settings.h"
#include "simprocess.h"
#include "tester/main64k.h"
#include "tester/portpicker.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>

namespace {

constexpr int Long = SimProcess::Long;

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QAction* menuAction(QMenu* menu, const QString& text)
{
    for (QAction* a : menu->actions())
        if (a->text() == text)
            return a;
    return nullptr;
}

// Answers the next port picker that opens with device (empty: unbinds).
void answerPicker(const QString& device, QString* titleSeen = nullptr)
{
    QTimer::singleShot(0, [device, titleSeen] {
        auto* picker = qobject_cast<PortPicker*>(QApplication::activeModalWidget());
        if (!picker)
            return;
        if (titleSeen)
            *titleSeen = picker->windowTitle();
        if (device.isEmpty()) {
            picker->unbindButton()->click();
            return;
        }
        picker->deviceBox()->setText(device);
        picker->bindButton()->click();
    });
}

}  // namespace

class TestPortChoice : public QObject {
    Q_OBJECT
private slots:
    void benchFileLines_data();
    void benchFileLines();
    void bindingsKeepOtherLines();
    void bindingWinsOverTheUsualDevice();
    void benchFileThatIsNoFileIsLeftAlone();
    void pickerBindsAPseudoTerminal();
    void pickerListsThePortsGiven();
};

void TestPortChoice::benchFileLines_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QString>("port3");
    QTest::addColumn<QString>("folder");
    QTest::addColumn<int>("others");

    QTest::newRow("crlf") << QByteArray("Port.3 = /dev/ttyUSB0\r\nRecord.Folder = /home/a b\r\n") << "/dev/ttyUSB0"
                          << "/home/a b" << 0;
    QTest::newRow("lf, no blanks") << QByteArray("Port.3=COM7\nRecord.Folder=C:\\runs\n") << "COM7" << "C:\\runs" << 0;
    QTest::newRow("first of two wins") << QByteArray("Port.3 = /dev/a\nPort.3 = /dev/b\n") << "/dev/a" << "" << 1;
    QTest::newRow("bad numbers kept, not used")
        << QByteArray("Port.0 = /dev/a\nPort.x = /dev/b\nPort.-2 = /dev/c\nPort.3 =\n") << "" << "" << 4;
    QTest::newRow("unknown lines kept") << QByteArray("Theme = dark\njunk\n\n") << "" << "" << 2;
    QTest::newRow("utf-8 folder") << QByteArray("Record.Folder = /home/j\xc3\xbcrgen\n") << ""
                                  << QString::fromUtf8("/home/j\xc3\xbcrgen") << 0;
}

void TestPortChoice::benchFileLines()
{
    QFETCH(QByteArray, file);
    QFETCH(QString, port3);
    QFETCH(QString, folder);
    QFETCH(int, others);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("BENCH.INI"));
    QVERIFY(writeFile(path, file));
    const settings::BenchChoices c = settings::readBenchFile(path);
    QCOMPARE(c.ports.count(3) ? c.ports.at(3) : QString(), port3);
    QCOMPARE(c.recordFolder, folder);
    QCOMPARE(int(c.otherLines.size()), others);
    // What is read is written back the same way.
    QVERIFY(writeFile(path, settings::benchFileBytes(c)));
    const settings::BenchChoices again = settings::readBenchFile(path);
    QCOMPARE(again.ports, c.ports);
    QCOMPARE(again.recordFolder, c.recordFolder);
    QCOMPARE(again.otherLines, c.otherLines);
}

void TestPortChoice::bindingsKeepOtherLines()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("sub/BENCH.INI"));
    settings::bindPort(path, 2, QStringLiteral(" /dev/ttyUSB1 "));  // the folder is made
    settings::rememberRecordFolder(path, QStringLiteral("/tmp/runs"));
    settings::bindPort(path, 1, QStringLiteral("/dev/ttyUSB0"));
    QCOMPARE(readAll(path), QByteArray("Port.1 = /dev/ttyUSB0\r\nPort.2 = /dev/ttyUSB1\r\nRecord.Folder = /tmp/runs\r\n"));
    QVERIFY(writeFile(path, readAll(path) + "Theme = dark\r\n"));
    settings::bindPort(path, 2, QString());
    QCOMPARE(readAll(path), QByteArray("Port.1 = /dev/ttyUSB0\r\nRecord.Folder = /tmp/runs\r\nTheme = dark\r\n"));
    // A name that would split the line is refused, and the file stays.
    QVERIFY_THROWS_EXCEPTION(settings::SettingsError, settings::bindPort(path, 3, QStringLiteral("/dev/a\nPort.4 = x")));
    QCOMPARE(readAll(path), QByteArray("Port.1 = /dev/ttyUSB0\r\nRecord.Folder = /tmp/runs\r\nTheme = dark\r\n"));
}

void TestPortChoice::bindingWinsOverTheUsualDevice()
{
    QTemporaryDir dir;
    // A COM link beside the program names port 1 until the user binds it.
    QVERIFY(QFile::link(QStringLiteral("/dev/null"), dir.filePath(QStringLiteral("COM1"))));
    const std::map<int, QString> bound{{1, QStringLiteral("/dev/ttyUSB0")}, {5, QStringLiteral("/dev/ttyACM0")}};
    QCOMPARE(portDeviceName(1, dir.path(), bound), QStringLiteral("/dev/ttyUSB0"));
    QCOMPARE(portDeviceName(1, dir.path()), dir.filePath(QStringLiteral("COM1")));
    QCOMPARE(portDeviceName(5, dir.path(), bound), QStringLiteral("/dev/ttyACM0"));
    QCOMPARE(portDeviceName(2, dir.path(), bound), QStringLiteral("/dev/ttyS1"));
    QCOMPARE(portDeviceName(0, dir.path(), {{0, QStringLiteral("/dev/x")}}), QString());

    // The window's port box names the device of the number typed, bound or not.
    QVERIFY(writeFile(dir.filePath(QStringLiteral("BENCH.INI")), "Port.5 = /dev/ttyACM0\r\n"));
    ModalCloser boxes;
    MAIN64K w(dir.path());
    w.Form_Load();
    w.Text1->setText(QStringLiteral("5"));
    QCOMPARE(w.Text1->toolTip(), QStringLiteral("Port 5: /dev/ttyACM0 (chosen with Choose port...)"));
    w.Text1->setText(QStringLiteral("3"));
    QCOMPARE(w.Text1->toolTip(), QStringLiteral("Port 3: /dev/ttyS2"));
    w.Text1->setText(QStringLiteral("abc"));
    QVERIFY(w.Text1->toolTip().contains(QStringLiteral("no serial port")));
    QCOMPARE(boxes.count(), 0);
}

void TestPortChoice::benchFileThatIsNoFileIsLeftAlone()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("BENCH.INI"));
    QVERIFY(QDir().mkdir(path));
    QVERIFY_THROWS_EXCEPTION(settings::NotRegularFile, settings::readBenchFile(path));
    ModalCloser boxes;
    MAIN64K w(dir.path());
    w.Form_Load();  // unread bindings: the numbers name their usual devices, silently
    QCOMPARE(boxes.count(), 0);
    QCOMPARE(w.portDevice(2), QStringLiteral("/dev/ttyS1"));
    QString error;
    QVERIFY(!w.bindPort(2, QStringLiteral("/dev/ttyUSB0"), &error));
    QVERIFY2(error.contains(QStringLiteral("folder")), qPrintable(error));
    QVERIFY(QFileInfo(path).isDir());
}

void TestPortChoice::pickerBindsAPseudoTerminal()
{
    QTemporaryDir programDir;
    QTemporaryDir simDir;
    const QString link = simDir.filePath(QStringLiteral("validator"));
    SimProcess sim;
    QVERIFY(sim.start(link));
    const QString pty = QFileInfo(link).symLinkTarget();
    QVERIFY2(pty.startsWith(QStringLiteral("/dev/")), qPrintable(pty));

    ModalCloser boxes;  // a port error box would show the binding failed
    {
        MAIN64K w(programDir.path());
        w.setDisplayScheme(1);
        w.Form_Load();
        w.show();
        QCOMPARE(w.Text1->text(), QStringLiteral("1"));
        QCOMPARE(w.Text1->toolTip(), QStringLiteral("Port 1: /dev/ttyS0"));

        std::unique_ptr<QMenu> menu(w.createTraceMenu(&w));
        QAction* choose = menuAction(menu.get(), QStringLiteral("Choose port..."));
        QVERIFY(choose && choose->isEnabled());
        QString title;
        answerPicker(pty, &title);
        choose->trigger();
        QCOMPARE(title, QStringLiteral("Choose port 1"));
        QCOMPARE(w.portDevice(1), pty);
        QCOMPARE(w.Text1->toolTip(), QStringLiteral("Port 1: %1 (chosen with Choose port...)").arg(pty));
        QCOMPARE(w.Text1->text(), QStringLiteral("1"));  // the box keeps the number

        setCheckValue(w.Check4, 1);
        QVERIFY(w.session()->portReady());
        QTRY_VERIFY_WITH_TIMEOUT(w.session()->decoding().stateText == QLatin1String("IDLING"), Long);
        setCheckValue(w.Check4, 0);
        w.close();
    }
    QCOMPARE(boxes.texts, QStringList());
    const QString bench = programDir.filePath(QStringLiteral("BENCH.INI"));
    QCOMPARE(readAll(bench), QStringLiteral("Port.1 = %1\r\n").arg(pty).toUtf8());
    // SETUP.INI keeps its 23 lines and names port 1, as it always has.
    const QByteArray ini = readAll(programDir.filePath(QStringLiteral("SETUP.INI")));
    QCOMPARE(ini.count("\r\n"), settings::LineCount);
    QVERIFY(ini.contains("Com.Setting = 1\r\n"));

    // The next window of this user opens the same device, until unbound.
    {
        MAIN64K w(programDir.path());
        w.setDisplayScheme(1);
        w.Form_Load();
        setCheckValue(w.Check4, 1);
        QVERIFY(w.session()->portReady());
        setCheckValue(w.Check4, 0);
        std::unique_ptr<QMenu> menu(w.createTraceMenu(&w));
        answerPicker(QString());
        menuAction(menu.get(), QStringLiteral("Choose port..."))->trigger();
        QCOMPARE(w.portDevice(1), QStringLiteral("/dev/ttyS0"));
        w.close();
    }
    QCOMPARE(readAll(bench), QByteArray());
    QVERIFY(sim.finish());
}

void TestPortChoice::pickerListsThePortsGiven()
{
    PortPicker picker(3, QString(), QStringLiteral("/dev/ttyS2"));
    picker.setPorts({{QStringLiteral("/dev/ttyUSB0"), QStringLiteral("FT232R USB UART"), QStringLiteral("FTDI"),
                      QStringLiteral("A12345"), QStringLiteral("0403:6001")},
                     {QStringLiteral("/dev/ttyS0"), {}, {}, {}, {}}});
    QCOMPARE(picker.table()->rowCount(), 2);
    QVERIFY(!picker.bindButton()->isEnabled());  // nothing chosen yet
    QVERIFY(!picker.unbindButton()->isEnabled());  // nothing bound
    picker.table()->selectRow(0);
    QCOMPARE(picker.deviceBox()->text(), QStringLiteral("/dev/ttyUSB0"));
    QVERIFY(picker.bindButton()->isEnabled());
    QCOMPARE(picker.table()->item(0, PortPicker::UsbColumn)->text(), QStringLiteral("0403:6001"));
    QCOMPARE(picker.table()->item(0, PortPicker::MakerColumn)->text(), QStringLiteral("FTDI"));
    picker.bindButton()->click();
    QCOMPARE(picker.result(), int(QDialog::Accepted));
    QCOMPARE(picker.chosenDevice(), QStringLiteral("/dev/ttyUSB0"));
}

QTEST_MAIN(TestPortChoice)
#include "test_portchoice.moc"
