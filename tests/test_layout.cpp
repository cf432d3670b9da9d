// The tester window as created: every control by name, where it sits, what
// it says, in which font and colours; and what the window looks like when
// drawn, proved by colours at places the geometry fixes.
#include "windowbench.h"
#include "tester/main64k.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFontInfo>
#include <QGroupBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace {

// Twips as the window was drawn; every figure of the layout is a whole
// number of pixels.
QRect twips(int left, int top, int width, int height)
{
    return QRect(left / 15, top / 15, width / 15, height / 15);
}

int traceRowTop(int k)
{
    return k == 0 ? 2775 : 3000 + 240 * (k - 1);
}

struct Bench : WindowBench {
    Bench() : WindowBench(false) {}
    template <class T = QWidget>
    T* find(const QString& name) const
    {
        return w->findChild<T*>(name);
    }
};

// What a control says, whatever its kind.
QString captionOf(QWidget* control)
{
    if (auto* l = qobject_cast<Label*>(control))
        return l->caption();
    if (auto* b = qobject_cast<QAbstractButton*>(control))
        return b->text();
    if (auto* g = qobject_cast<QGroupBox*>(control))
        return g->title();
    if (auto* e = qobject_cast<QLineEdit*>(control))
        return e->text();
    return QStringLiteral("<no caption>");
}

}  // namespace

class TestLayout : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();

    void window();
    void geometry_data();
    void geometry();
    void lines_data();
    void lines();
    void captions_data();
    void captions();
    void fonts_data();
    void fonts();
    void fixedPitchTrace();
    void colours_data();
    void colours();
    void bordersAndAlignment();
    void switches();
    void keyboardOrder();
    void centredOnFirstShow();
    void rendering_data();
    void rendering();
};

void TestLayout::initTestCase()
{
    QApplication::setStyle(QStringLiteral("Fusion"));
}

void TestLayout::window()
{
    Bench b;
    QCOMPARE(b.w->windowTitle(), QStringLiteral("Pollbench 3.0.0"));
    QCOMPARE(b.w->size(), QSize(740, 479));
    // The frame is sizable; the controls stay where they are.
    const QRect before = b.w->Label13->geometry();
    b.w->resize(900, 600);
    QCOMPARE(b.w->Label13->geometry(), before);
    b.w->resize(600, 400);
    QCOMPARE(b.w->Label13->geometry(), before);
    QVERIFY(!b.w->windowIcon().isNull());
    QVERIFY(b.w->windowIcon().availableSizes().contains(QSize(32, 32)));
    QCOMPARE(b.w->palette().color(QPalette::Window), QColor(0xC0C0C0));
}

void TestLayout::geometry_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("parent");
    QTest::addColumn<QRect>("rect");

    const QString win = QStringLiteral("MAIN64K");
    auto row = [](const QString& name, const QString& parent, QRect r) {
        QTest::newRow(qPrintable(name)) << name << parent << r;
    };
    row("Picture1", win, twips(240, 80, 1815, 750));
    row("Label2", win, twips(600, 840, 1125, 315));
    row("Text1", win, twips(600, 1080, 555, 285));
    row("Label3", win, twips(600, 1440, 1575, 480));
    row("Text2", win, twips(600, 1920, 690, 285));
    row("Command1", win, twips(600, 2280, 1290, 480));
    row("Check6", win, twips(600, 2880, 1290, 480));
    row("Frame1", win, twips(0, 3480, 2640, 3120));
    row("Frame2", win, twips(2700, 75, 6975, 2340));
    row("Check4", win, twips(9960, 240, 780, 660));
    row("Label1", win, twips(9840, 960, 1215, 255));
    row("Label17", win, twips(2640, 2520, 8475, 240));
    row("Shape2_0", win, twips(5760, 2550, 165, 240));
    row("Shape2_1", win, twips(10680, 2550, 165, 240));
    row("Label12_0", win, twips(2640, 6600, 2940, 240));
    row("Label14", win, twips(2640, 6840, 2940, 315));
    row("Label12_1", win, twips(5640, 6600, 2865, 240));
    row("Label15", win, twips(5640, 6840, 2820, 315));
    row("Label16", win, twips(8520, 6600, 2640, 240));
    row("Label13", win, twips(8520, 6840, 2580, 315));
    for (int k = 0; k < 16; ++k) {
        row(QStringLiteral("Label18_%1").arg(k), win, twips(2640, traceRowTop(k), 3495, 240));
        row(QStringLiteral("Label20_%1").arg(k), win, twips(6120, traceRowTop(k), 4995, 240));
    }
    row("Label24", "Frame1", twips(240, 240, 2535, 255));
    for (int i = 0; i <= 6; ++i)
        row(QStringLiteral("Check1_%1").arg(i), "Frame1", twips(480, 600 + 360 * i, i == 0 ? 1035 : 1140, 240));
    for (int i = 7; i <= 12; ++i)
        row(QStringLiteral("Check1_%1").arg(i), "Frame1", twips(1560, 600 + 360 * (i - 7), 1035, 240));
    row("Command2", "Frame2", twips(5640, 0, 1320, 255));
    for (int i = 0; i <= 6; ++i) {
        row(QStringLiteral("Label8_%1").arg(i), "Frame2", twips(300, 300 + 225 * i, 915, 240));
        row(QStringLiteral("Label9_%1").arg(i), "Frame2", twips(1800, 300 + 225 * i, 390, 240));
    }
    for (int i = 7; i <= 12; ++i) {
        row(QStringLiteral("Label8_%1").arg(i), "Frame2", twips(3120, 360 + 240 * (i - 7), 915, 240));
        row(QStringLiteral("Label9_%1").arg(i), "Frame2", twips(4680, 360 + 240 * (i - 7), 390, 240));
    }
}

void TestLayout::geometry()
{
    QFETCH(QString, name);
    QFETCH(QString, parent);
    QFETCH(QRect, rect);

    Bench b;
    b.w->setObjectName(QStringLiteral("MAIN64K"));
    QWidget* control = b.find(name);
    QVERIFY2(control, qPrintable(name));
    QCOMPARE(control->parentWidget()->objectName(), parent);
    QCOMPARE(control->geometry(), rect);
    // Children of a frame sit relative to the frame, wherever it is.
    const QPoint frameOrigin = control->parentWidget() == b.w.get() ? QPoint() : control->parentWidget()->pos();
    QCOMPARE(control->mapTo(b.w.get(), QPoint(0, 0)), frameOrigin + rect.topLeft());
}

void TestLayout::lines_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("parent");
    QTest::addColumn<QPoint>("from");
    QTest::addColumn<QPoint>("to");

    QTest::newRow("Line1") << "Line1" << "" << QPoint(0, 3480) << QPoint(2640, 3480);
    QTest::newRow("Line3") << "Line3" << "" << QPoint(2640, 0) << QPoint(2640, 7200);
    QTest::newRow("Line4") << "Line4" << "" << QPoint(6120, 2760) << QPoint(6120, 6600);
    QTest::newRow("Line2") << "Line2" << "Frame2" << QPoint(120, 225) << QPoint(6120, 225);
}

void TestLayout::lines()
{
    QFETCH(QString, name);
    QFETCH(QString, parent);
    QFETCH(QPoint, from);
    QFETCH(QPoint, to);

    Bench b;
    auto* line = b.find<Line>(name);
    QVERIFY(line);
    if (!parent.isEmpty())
        QCOMPARE(line->parentWidget()->objectName(), parent);
    QCOMPARE(line->geometry().topLeft(), from / 15);
    QCOMPARE(line->geometry().bottomRight(), to / 15);
}

void TestLayout::captions_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("caption");

    auto row = [](const QString& name, const QString& caption) {
        QTest::newRow(qPrintable(name)) << name << caption;
    };
    row("Label2", "Set COM Port");
    row("Text1", "");
    row("Label3", "Set Poll Rate (msec) 100mS default");
    row("Text2", "");
    row("Command1", "Normal Poll");
    row("Check6", "Escrow Enable");
    row("Frame1", "CHECK BOX TO ENABLE");
    row("Label24", "    Channel      Denomination");
    row("Check4", "");
    row("Label1", "START POLL");
    row("Label17",
        "                      HOST                                                 BILL VALIDATOR     MESSAGE  /  "
        "STATE  /  EVENT");
    row("Label12_0", "HOST  COMMAND");
    row("Label14", "");
    row("Label12_1", "VALIDATOR  STATE");
    row("Label15", "");
    row("Label16", "VALIDATOR  EVENT");
    row("Label13", "");
    row("Frame2", "   Channel             Stacked                    Channel              Stacked");
    row("Command2", "Reset Totals");
    // Index i is channel i + 1 in every channel group.
    for (int i = 0; i < 13; ++i) {
        row(QStringLiteral("Check1_%1").arg(i), QStringLiteral("CH%1").arg(i + 1));
        row(QStringLiteral("Label8_%1").arg(i), QStringLiteral("CH%1").arg(i + 1));
        row(QStringLiteral("Label9_%1").arg(i), "0");
    }
    for (int k = 0; k < 16; ++k) {
        row(QStringLiteral("Label18_%1").arg(k), "");
        row(QStringLiteral("Label20_%1").arg(k), "");
    }
}

void TestLayout::captions()
{
    QFETCH(QString, name);
    QFETCH(QString, caption);

    Bench b;
    QWidget* control = b.find(name);
    QVERIFY2(control, qPrintable(name));
    QCOMPARE(captionOf(control), caption);
}

void TestLayout::fonts_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("family");
    QTest::addColumn<int>("pixelSize");
    QTest::addColumn<bool>("bold");
    QTest::addColumn<bool>("italic");
    QTest::addColumn<QString>("resolved");

    // Sizes in pixels at 96 dots per inch: 9.75 pt is 13, 8.25 pt 11, 9 pt 12, 12 pt 16.
    const QString tnr = QStringLiteral("Times New Roman"), ms = QStringLiteral("MS Sans Serif"),
                  cn = QStringLiteral("Courier New");
    const QString serif = QStringLiteral("Liberation Serif"), sans = QStringLiteral("Liberation Sans"),
                  mono = QStringLiteral("Liberation Mono");
    QTest::newRow("window") << "MAIN64K" << tnr << 13 << false << false << serif;
    QTest::newRow("Label2") << "Label2" << tnr << 13 << false << false << serif;
    QTest::newRow("Text1") << "Text1" << ms << 11 << false << false << sans;
    QTest::newRow("Command1") << "Command1" << tnr << 13 << false << false << serif;
    QTest::newRow("Frame1") << "Frame1" << tnr << 13 << false << false << serif;
    QTest::newRow("Check1_12") << "Check1_12" << tnr << 13 << false << false << serif;
    QTest::newRow("Frame2") << "Frame2" << tnr << 13 << true << false << serif;
    QTest::newRow("Command2") << "Command2" << tnr << 13 << false << false << serif;
    QTest::newRow("Label8_0") << "Label8_0" << ms << 11 << true << false << sans;
    QTest::newRow("Label17") << "Label17" << tnr << 13 << false << false << serif;
    QTest::newRow("Label18_0") << "Label18_0" << cn << 12 << false << false << mono;
    QTest::newRow("Label12_0") << "Label12_0" << tnr << 16 << false << true << serif;
    QTest::newRow("Label16") << "Label16" << tnr << 16 << false << true << serif;
    QTest::newRow("Label14") << "Label14" << ms << 13 << true << false << sans;
}

void TestLayout::fonts()
{
    QFETCH(QString, name);
    QFETCH(QString, family);
    QFETCH(int, pixelSize);
    QFETCH(bool, bold);
    QFETCH(bool, italic);
    QFETCH(QString, resolved);

    Bench b;
    b.w->setObjectName(QStringLiteral("MAIN64K"));
    QWidget* control = name == QLatin1String("MAIN64K") ? b.w.get() : b.find(name);
    QVERIFY2(control, qPrintable(name));
    const QFont f = control->font();
    // Asked for by its own name; the substitute is the platform's business.
    QCOMPARE(f.family(), family);
    QCOMPARE(f.pixelSize(), pixelSize);
    QCOMPARE(f.bold(), bold);
    QCOMPARE(f.italic(), italic);
    const QFontInfo info(f);
    QCOMPARE(info.family(), resolved);
    QCOMPARE(info.pixelSize(), pixelSize);
    QCOMPARE(info.bold(), bold);
    QCOMPARE(info.italic(), italic);
}

void TestLayout::fixedPitchTrace()
{
    Bench b;
    for (int k = 0; k < 16; ++k) {
        for (Label* row : {b.w->Label18[k], b.w->Label20[k]}) {
            const QFontMetrics m(row->font());
            QVERIFY(QFontInfo(row->font()).fixedPitch());
            QCOMPARE(m.horizontalAdvance(QStringLiteral("iiiiiiii")), m.horizontalAdvance(QStringLiteral("WWWWWWWW")));
        }
    }
}

void TestLayout::colours_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QColor>("text");
    QTest::addColumn<QColor>("background");

    const QColor black(Qt::black), white(0xFFFFFF), grey(0xC0C0C0), tally(0x8080FF), rowEven(0xC0C0FF),
        rowOdd(0xE0E0E0);
    auto row = [](const QString& name, const QColor& text, const QColor& back) {
        QTest::newRow(qPrintable(name)) << name << text << back;
    };
    row("Label2", black, grey);
    row("Label3", black, grey);
    row("Label1", black, grey);
    row("Frame1", black, grey);
    row("Label24", black, grey);
    row("Frame2", black, tally);
    row("Label17", white, black);
    row("Label12_0", black, rowEven);
    row("Label16", black, rowEven);
    row("Label12_1", black, tally);
    row("Label14", black, white);
    row("Label13", black, white);
    row("Label15", black, rowOdd);
    for (int i = 0; i < 13; ++i) {
        row(QStringLiteral("Check1_%1").arg(i), black, grey);
        row(QStringLiteral("Label8_%1").arg(i), white, tally);
        row(QStringLiteral("Label9_%1").arg(i), white, tally);
    }
    for (int k = 0; k < 16; ++k) {
        row(QStringLiteral("Label18_%1").arg(k), black, k % 2 == 0 ? rowEven : rowOdd);
        row(QStringLiteral("Label20_%1").arg(k), black, k % 2 == 0 ? rowEven : rowOdd);
    }
}

void TestLayout::colours()
{
    QFETCH(QString, name);
    QFETCH(QColor, text);
    QFETCH(QColor, background);

    Bench b;
    QWidget* control = b.find(name);
    QVERIFY2(control, qPrintable(name));
    QCOMPARE(control->palette().color(QPalette::WindowText), text);
    QCOMPARE(control->palette().color(control->backgroundRole()), background);
    QVERIFY(control->autoFillBackground());
}

void TestLayout::bordersAndAlignment()
{
    Bench b;
    MAIN64K& w = *b.w;
    for (Label* boxed : {w.Label14, w.Label15, w.Label13}) {
        QCOMPARE(boxed->frameShape(), QFrame::Box);
        QCOMPARE(boxed->lineWidth(), 1);
    }
    for (Label* plain : {w.Label2, w.Label3, w.Label1, w.Label17, w.Label24, w.Label12[0], w.Label12[1], w.Label16,
                         w.Label8[0], w.Label9[0], w.Label18[0], w.Label20[0]})
        QCOMPARE(plain->frameShape(), QFrame::NoFrame);
    for (Label* count : w.Label9)
        QVERIFY(count->alignment() & Qt::AlignRight);
    for (Label* caption : {w.Label12[0], w.Label12[1], w.Label16})
        QVERIFY(caption->alignment() & Qt::AlignHCenter);
    for (Label* left : {w.Label2, w.Label3, w.Label1, w.Label17, w.Label14, w.Label15, w.Label13, w.Label8[12],
                        w.Label18[3], w.Label20[3]})
        QVERIFY(left->alignment() & Qt::AlignLeft);
    QVERIFY(w.Text1->alignment() & Qt::AlignLeft);
    QVERIFY(w.Text2->alignment() & Qt::AlignLeft);
}

// The escrow switch and START POLL are toggle buttons with check-box values;
// the channel enables are plain check boxes.
void TestLayout::switches()
{
    Bench b;
    MAIN64K& w = *b.w;
    QVERIFY(w.Check4->isCheckable());
    QVERIFY(!setCheckValue(w.Check4, 2));  // a toggle button has no grey state
    QPushButton* escrow = w.Check6;
    QVERIFY(escrow->isCheckable());
    QCOMPARE(checkValue(escrow), 0);
    QVERIFY(setCheckValue(escrow, 1));
    QCOMPARE(checkValue(escrow), 1);
    QVERIFY(escrow->isChecked());
    QVERIFY(!setCheckValue(escrow, 2));
    QCOMPARE(checkValue(escrow), 1);
    escrow->click();
    QCOMPARE(checkValue(escrow), 0);
    QVERIFY(!w.Command1->isCheckable());
    QVERIFY(!w.Command2->isCheckable());
    QVERIFY(!w.Check4->icon().isNull());
    QCOMPARE(w.Check4->iconSize(), QSize(32, 32));
    // One picture, pressed or released.
    const QImage up = w.Check4->icon().pixmap(32, QIcon::Normal, QIcon::Off).toImage();
    const QImage down = w.Check4->icon().pixmap(32, QIcon::Normal, QIcon::On).toImage();
    QCOMPARE(up.size(), QSize(32, 32));
    QCOMPARE(up, down);
    QVERIFY(w.Picture1->pixmap().size() == QSize(120, 48));

    // A channel enable: 1 is checked and the operator's click gives 1 too.
    QCheckBox* ch = w.Check1[4];
    QVERIFY(setCheckValue(ch, 1));
    QCOMPARE(ch->checkState(), Qt::Checked);
    QVERIFY(setCheckValue(ch, 2));
    QCOMPARE(ch->checkState(), Qt::PartiallyChecked);
    QCOMPARE(checkValue(ch), 2);
    QVERIFY(!setCheckValue(ch, 3));
    QVERIFY(setCheckValue(ch, 0));
    ch->click();
    QCOMPARE(checkValue(ch), 1);
    ch->click();
    QCOMPARE(checkValue(ch), 0);
    // A box made grey by code goes back to two states once clicked.
    QVERIFY(setCheckValue(ch, 2));
    ch->click();
    QCOMPARE(checkValue(ch), 1);
    ch->click();
    QCOMPARE(checkValue(ch), 0);
    ch->click();
    QCOMPARE(checkValue(ch), 1);
}

void TestLayout::keyboardOrder()
{
    Bench b;
    MAIN64K& w = *b.w;
    QList<QWidget*> expected = {w.Text1, w.Text2, w.Command1, w.Check6, w.Check4, w.Command2};
    for (QCheckBox* c : w.Check1)
        expected << c;

    QList<QWidget*> order;
    QWidget* at = w.Text1;
    do {
        if (at->focusPolicy() & Qt::TabFocus)
            order << at;
        at = at->nextInFocusChain();
    } while (at != w.Text1 && order.size() <= expected.size());
    QCOMPARE(order, expected);
}

void TestLayout::centredOnFirstShow()
{
    Bench b;
    b.w->show();
    QVERIFY(QTest::qWaitForWindowExposed(b.w.get()));
    const QRect screen = b.w->screen()->availableGeometry();
    const QRect frame = b.w->frameGeometry();
    QVERIFY(qAbs(frame.center().x() - screen.center().x()) <= 1);
    QVERIFY(qAbs(frame.center().y() - screen.center().y()) <= 1);
}

void TestLayout::rendering_data()
{
    QTest::addColumn<QPoint>("at");
    QTest::addColumn<QColor>("colour");

    // Points a few pixels inside a control, clear of any text, converted
    // from the twips of the layout.
    auto inside = [](int left, int top, int dx = 3, int dy = 3) { return QPoint(left / 15 + dx, top / 15 + dy); };
    QTest::newRow("window grey") << inside(0, 6840) << QColor(0xC0C0C0);
    QTest::newRow("tally frame") << QPoint((2700 + 4000) / 15, (75 + 2100) / 15) << QColor(0x8080FF);
    QTest::newRow("tally count cell") << inside(2700 + 1800, 75 + 300, 2, 2) << QColor(0x8080FF);
    QTest::newRow("trace heading") << inside(2640, 2520) << QColor(Qt::black);
    QTest::newRow("host row 0") << inside(2640, traceRowTop(0)) << QColor(0xC0C0FF);
    QTest::newRow("host row 1") << inside(2640, traceRowTop(1)) << QColor(0xE0E0E0);
    QTest::newRow("host row 14") << inside(2640, traceRowTop(14), 200) << QColor(0xC0C0FF);
    QTest::newRow("reply row 0") << inside(6120, traceRowTop(0), 300) << QColor(0xC0C0FF);
    QTest::newRow("reply row 15") << inside(6120, traceRowTop(15), 300) << QColor(0xE0E0E0);
    QTest::newRow("column separator") << QPoint(6120 / 15, traceRowTop(7) / 15 + 5) << QColor(Qt::black);
    QTest::newRow("host lamp dark") << QPoint((5760 + 82) / 15, (2550 + 120) / 15) << QColor(0x400000);
    QTest::newRow("reply lamp dark") << QPoint((10680 + 82) / 15, (2550 + 120) / 15) << QColor(0x400000);
    QTest::newRow("mode button face") << inside(600, 2280) << QColor(0xFF8080);
    QTest::newRow("host command box") << inside(2640, 6840) << QColor(0xFFFFFF);
    QTest::newRow("state box") << inside(5640, 6840) << QColor(0xE0E0E0);
    QTest::newRow("state caption") << inside(5640, 6600, 2, 2) << QColor(0x8080FF);
    QTest::newRow("event caption") << inside(8520, 6600, 2, 2) << QColor(0xC0C0FF);
    QTest::newRow("channel enable CH1") << QPoint((480 + 1000) / 15, (3480 + 600 + 120) / 15) << QColor(0xC0C0C0);
    QTest::newRow("settings divider") << QPoint(100, 3480 / 15) << QColor(Qt::black);
}

void TestLayout::rendering()
{
    QFETCH(QPoint, at);
    QFETCH(QColor, colour);

    static QImage image;
    if (image.isNull()) {
        Bench b;
        b.w->Form_Load();
        b.w->show();
        QVERIFY(QTest::qWaitForWindowExposed(b.w.get()));
        image = b.w->grab().toImage();
        QCOMPARE(image.size(), QSize(740, 479) * b.w->devicePixelRatio());
        // Kept beside the test for a look by eye.
        const QString path = QDir::current().filePath(QStringLiteral("window.png"));
        QVERIFY2(image.save(path), qPrintable(path));
    }
    QCOMPARE(QColor(image.pixel(at)).name(), colour.name());
}

QTEST_MAIN(TestLayout)
#include "test_layout.moc"
