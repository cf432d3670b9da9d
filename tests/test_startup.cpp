// The start-up in a temporary program directory: the display scheme from
// SETUP.INI or from the chooser, then the tester window.
#include "chooser.h"
#include "modal.h"
#include "settingstext.h"
#include "specialfiles.h"
#include "startup/colorsheme.h"
#include "startup/startup.h"
#include "tester/main64k.h"
#include "tester/widgets.h"

#include <QAccessible>
#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QImage>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTextLayout>
#include <QTimer>

namespace {

// SETUP.INI with some default lines replaced.
QByteArray file(std::initializer_list<std::pair<int, QString>> changes, const char* end = "\r\n")
{
    return iniBytes(withLines(changes), end);
}

QRect twips(int l, int t, int w, int h)
{
    return QRect(px(l), px(t), px(w), px(h));
}

}  // namespace

class TestStartup : public QObject {
    Q_OBJECT
private slots:
    void startup_data();
    void startup();
    void chooserLayout();
    void notRegular_data();
    void notRegular();
    void chooserCaptionsWholeOnTwoLines();
};

void TestStartup::startup_data()
{
    QTest::addColumn<bool>("hasFile");
    QTest::addColumn<QByteArray>("contents");
    QTest::addColumn<int>("answer");    // chooser button, -1 to close it without one
    QTest::addColumn<bool>("chooser");  // the chooser is expected
    QTest::addColumn<int>("boxes");
    QTest::addColumn<bool>("deleted");
    QTest::addColumn<int>("scheme");    // display scheme of the tester window; -999: no window
    QTest::addColumn<QString>("rate");  // poll-rate box
    QTest::addColumn<QString>("firstLine");  // of the file written at close

    const QByteArray lower = file({{1, "sys.color   = 2"}});
    QTest::newRow("no file") << false << QByteArray() << 1 << true << 0 << false << 1 << "100" << "Sys.Color   = 1";
    QTest::newRow("scheme 1") << true << file({}) << 0 << false << 0 << false << 1 << "100" << "Sys.Color   = 1";
    QTest::newRow("scheme 2") << true << file({{1, "Sys.Color   = 2"}}) << 0 << false << 0 << false << 2 << "100"
                              << "Sys.Color   = 2";
    QTest::newRow("scheme -1") << true << file({{1, "Sys.Color   = -1"}}) << 0 << false << 0 << false << -1 << "100"
                               << "Sys.Color   = -1";
    QTest::newRow("scheme 0, first button") << true << file({{1, "Sys.Color   = 0"}}) << 0 << true << 0 << false << 1
                                            << "100" << "Sys.Color   = 1";
    QTest::newRow("scheme 0, second button") << true << file({{1, "Sys.Color   = 0"}}) << 1 << true << 0 << false
                                             << 2 << "100" << "Sys.Color   = 2";
    QTest::newRow("no Sys.Color: lower-case key") << true << lower << 1 << true << 0 << true << 1 << "100"
                                                  << "Sys.Color   = 1";
    QTest::newRow("empty file") << true << QByteArray() << 1 << true << 0 << true << 1 << "100" << "Sys.Color   = 1";
    QTest::newRow("Sys.Color only on line 3")
        << true << file({{1, "Com.Setting = 1"}, {2, "Poll.Rate   = 100"}, {3, "Sys.Color   = 2"}}) << 0 << false << 0
        << false << 1 << "2" << "Sys.Color   = 1";
    QTest::newRow("first value not a number") << true << file({{1, "Sys.Color   = high"}}) << 1 << true << 1 << false
                                              << 2 << "" << "Sys.Color   = 2";
    QTest::newRow("LF-only file") << true << file({{1, "Sys.Color   = 2"}}, "\n") << 0 << false << 0 << false << 2
                                  << "100" << "Sys.Color   = 2";
    QTest::newRow("CR-only file") << true << file({{1, "Sys.Color   = 2"}, {3, "Poll.Rate   = 50"}}, "\r") << 0 << false
                                  << 0 << false << 2 << "50" << "Sys.Color   = 2";
    QTest::newRow("chooser closed without an answer") << false << QByteArray() << -1 << true << 0 << false << -999
                                                      << "" << "";
}

void TestStartup::startup()
{
    QFETCH(bool, hasFile);
    QFETCH(QByteArray, contents);
    QFETCH(int, answer);
    QFETCH(bool, chooser);
    QFETCH(int, boxes);
    QFETCH(bool, deleted);
    QFETCH(int, scheme);
    QFETCH(QString, rate);
    QFETCH(QString, firstLine);

    QTemporaryDir dir;
    const QString path = dir.filePath("SETUP.INI");
    if (hasFile) {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(contents);
    }
    ModalCloser closer;
    ChooserDriver driver(answer);
    auto w = MAIN_Form_Load(dir.path());

    QCOMPARE(driver.facts.shown, chooser);
    QCOMPARE(closer.count(), boxes);
    QCOMPARE(QFileInfo::exists(path), hasFile && !deleted);
    if (scheme == -999) {
        QVERIFY(!w);
        QVERIFY(!QFileInfo::exists(path));
        return;
    }
    QVERIFY(w);
    QVERIFY(w->isVisible());
    QCOMPARE(w->displayScheme(), scheme);
    QCOMPARE(w->Text2->text(), rate);
    QVERIFY(w->close());
    QFile f(path);
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(QString::fromLatin1(f.readLine()), firstLine + "\r\n");
}

void TestStartup::chooserLayout()
{
    QTemporaryDir dir;
    ChooserDriver driver(0);
    auto w = MAIN_Form_Load(dir.path());
    QVERIFY(w);
    const ChooserFacts& f = driver.facts;
    QVERIFY(f.shown);
    QVERIFY(f.frameless);
    QCOMPARE(f.size, QSize(412, 179));
    QVERIFY2(qAbs(f.centreOffset.x()) <= 1 && qAbs(f.centreOffset.y()) <= 1,
             qPrintable(QStringLiteral("%1,%2").arg(f.centreOffset.x()).arg(f.centreOffset.y())));
    QCOMPARE(f.title, QStringLiteral("SYSTEM SETUP"));
    QCOMPARE(f.captions, (QStringList{
                             "Select the Color depth setting of your computer.",
                             "HI Color 800 X 600",
                             "Choose this for system that can support 16 bit color or higher (recommended).",
                             "256 Color 640 X 480",
                             "Choose this for system that can only support up to 256 color.",
                         }));
    QCOMPARE(f.places, (QList<QRect>{twips(135, 60, 5865, 2415), twips(315, 360, 5325, 435),
                                     twips(315, 960, 1095, 495), twips(1710, 960, 3570, 555),
                                     twips(315, 1620, 1095, 495), twips(1710, 1620, 3570, 495)}));
    QVERIFY(f.firstHasFocus);
    QVERIFY(!f.anyDefault);
    QCOMPARE(f.family, QStringLiteral("Times New Roman"));
    w->close();
}

// A FIFO, a device node, a folder or a link to one, or a link that loops:
// never opened, so the start does not hang on it; told once when the window
// loads and once when it closes; still the same thing after the close.
void TestStartup::notRegular_data()
{
    addSpecialRows();
}

void TestStartup::notRegular()
{
    QFETCH(int, index);
    QTemporaryDir dir;
    const QDir d(dir.path());
    MAKE_SPECIAL_CASE(index, d);
    const QString path = d.filePath("SETUP.INI");
    const auto entries = [&] { return d.entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot); };
    const QString was = describePath(path);
    const QStringList before = entries();

    ModalCloser closer;
    ChooserDriver driver(1);
    auto w = MAIN_Form_Load(dir.path());
    QVERIFY(w);
    QVERIFY(driver.facts.shown);  // no scheme to be had from it
    QCOMPARE(closer.count(), 1);
    QVERIFY2(closer.texts[0].startsWith(path + " ") &&
                 closer.texts[0].endsWith(". It is left as it is: the window starts with the default settings, and "
                                          "they are not saved when it closes."),
             qPrintable(closer.texts[0]));
    QCOMPARE(w->Text1->text(), QStringLiteral("1"));
    QCOMPARE(w->Text2->text(), QStringLiteral("100"));
    QVERIFY(w->close());
    QCOMPARE(closer.count(), 2);
    QVERIFY2(closer.texts[1].startsWith("The settings were not saved: " + path + " ") &&
                 closer.texts[1].endsWith(". It is left as it is."),
             qPrintable(closer.texts[1]));
    QCOMPARE(describePath(path), was);
    QCOMPARE(entries(), before);
}

// Each button's caption, laid out as the button lays it out, and as drawn,
// stays inside the button's face on two lines with no word cut.
void TestStartup::chooserCaptionsWholeOnTwoLines()
{
    QApplication::setStyle(QStringLiteral("Fusion"));  // as the program does
    ColorSheme c;
    c.show();
    QVERIFY(QTest::qWaitForWindowExposed(&c));
    const QImage shot = c.grab().toImage().convertToFormat(QImage::Format_RGB32);

    const QList<QStringList> lines{{"HI Color", "800 X 600"}, {"256 Color", "640 X 480"}};
    for (int i = 0; i < 2; ++i) {
        auto* b = qobject_cast<WrapButton*>(c.Command1[i]);
        QVERIFY(b);
        const QString caption = b->text();
        QCOMPARE(QAccessible::queryAccessibleInterface(b)->text(QAccessible::Name), caption);
        QStyleOptionButton option;
        option.initFrom(b);
        const QRect face = b->style()->subElementRect(QStyle::SE_PushButtonContents, &option, b);
        QVERIFY(face.contains(b->captionRect()));

        const QFontMetrics fm(b->font());
        const QRect laid = fm.boundingRect(b->captionRect(), Qt::AlignCenter | Qt::TextWordWrap, caption);
        QVERIFY2(face.contains(laid), qPrintable(caption));
        QCOMPARE(laid.height(), fm.height() + fm.lineSpacing());

        QTextLayout layout(caption, b->font());
        QTextOption wrap(Qt::AlignCenter);
        wrap.setWrapMode(QTextOption::WordWrap);
        layout.setTextOption(wrap);
        QStringList got;
        layout.beginLayout();
        for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
            line.setLineWidth(b->captionRect().width());
            got << caption.mid(line.textStart(), line.textLength()).trimmed();
        }
        layout.endLayout();
        QCOMPARE(got, lines[i]);

        // The ink of the caption as drawn: inside the face, on two lines.
        const QImage button = shot.copy(QRect(b->mapTo(&c, QPoint(0, 0)), b->size()));
        QRect ink;
        for (int y = 0; y < button.height(); ++y)
            for (int x = 0; x < button.width(); ++x)
                if (qGray(button.pixel(x, y)) < 96)
                    ink |= QRect(x, y, 1, 1);
        QVERIFY2(!ink.isEmpty(), qPrintable(caption));
        QVERIFY2(face.contains(ink), qPrintable(caption));
        QVERIFY2(ink.height() > fm.lineSpacing(), qPrintable(caption));
    }
}

QTEST_MAIN(TestStartup)
#include "test_startup.moc"
