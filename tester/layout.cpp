// The window as created: every control by name, at its place, with its
// caption, font and colours. Geometry is given in twips as the window was
// drawn and converted at 15 twips to the pixel.
#include "tester/main64k.h"

#include <QCheckBox>
#include <QEvent>
#include <QFont>
#include <QGroupBox>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>

namespace {

QRect twips(int left, int top, int width, int height)
{
    return QRect(px(left), px(top), px(width), px(height));
}

// Fonts are asked for by the names the window was designed with; pixel
// sizes keep the look independent of the screen's dots per inch.
QFont makeFont(const char* family, int pixelSize, bool bold = false, bool italic = false)
{
    QFont f(QString::fromLatin1(family));
    f.setPixelSize(pixelSize);
    f.setBold(bold);
    f.setItalic(italic);
    return f;
}

const QFont& windowFont()
{
    static const QFont f = makeFont("Times New Roman", 13);  // 9.75 pt
    return f;
}

void installFontSubstitutes()
{
    static bool done = false;
    if (done)
        return;
    done = true;
    // fontconfig sends MS Sans Serif to DejaVu Sans; Liberation Sans keeps the metrics.
    QFont::insertSubstitution(QStringLiteral("MS Sans Serif"), QStringLiteral("Liberation Sans"));
    QFont::insertSubstitution(QStringLiteral("Times New Roman"), QStringLiteral("Liberation Serif"));
    QFont::insertSubstitution(QStringLiteral("Courier New"), QStringLiteral("Liberation Mono"));
}

const QColor Grey(0xC0, 0xC0, 0xC0);
const QColor Tally(0x80, 0x80, 0xFF);
const QColor RowEven(0xC0, 0xC0, 0xFF);
const QColor RowOdd(0xE0, 0xE0, 0xE0);
const QColor White(0xFF, 0xFF, 0xFF);
const QColor Black(0x00, 0x00, 0x00);

Label* makeLabel(QWidget* parent, const QRect& r, const QString& caption, const QColor& text, const QColor& back)
{
    auto* l = new Label(parent);
    l->setGeometry(r);
    l->setCaption(caption);
    l->setColors(text, back);
    return l;
}

Label* boxedLabel(QWidget* parent, const QRect& r, const QColor& back)
{
    Label* l = makeLabel(parent, r, QString(), Black, back);
    l->setFrameStyle(QFrame::Box | QFrame::Plain);
    l->setLineWidth(1);
    l->setFont(makeFont("MS Sans Serif", 13, true));  // 9.75 pt bold
    l->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    return l;
}

void setBackground(QWidget* w, const QColor& back)
{
    QPalette p = w->palette();
    p.setColor(QPalette::Window, back);
    // Check boxes paint their background in the Button role.
    if (qobject_cast<QCheckBox*>(w))
        p.setColor(QPalette::Button, back);
    w->setPalette(p);
    w->setAutoFillBackground(true);
}

}  // namespace

QPoint placeOnScreen(QRect frame, const QRect& available)
{
    frame.moveCenter(available.center());
    // Centred, a window larger than the screen (a scaled desktop on a small
    // screen) would have its title bar and its left edge off-screen.
    if (frame.width() > available.width() || frame.height() > available.height())
        frame.moveTopLeft(available.topLeft());
    return frame.topLeft();
}

namespace {

// Puts the window in the middle of its screen when it is first shown, before
// it appears; a maximised window is left alone.
class CentreOnFirstShow : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() != QEvent::Show)
            return false;
        auto* window = static_cast<QWidget*>(watched);
        window->removeEventFilter(this);
        deleteLater();
        if (window->windowState() & (Qt::WindowMaximized | Qt::WindowFullScreen))
            return false;
        if (const QScreen* screen = window->screen())
            window->move(placeOnScreen(window->frameGeometry(), screen->availableGeometry()));
        return false;
    }
};

}  // namespace

void MAIN64K::createControls()
{
    installFontSubstitutes();
    setWindowTitle(QStringLiteral("Pollbench 3.0.0"));
    setWindowIcon(QIcon(QStringLiteral(":/pollbench.png")));
    // A sizable frame over a fixed layout: nothing moves when it is resized.
    resize(ClientWidth, ClientHeight);
    setFont(windowFont());
    setBackground(this, Grey);
    installEventFilter(new CentreOnFirstShow(this));

    // Settings column.
    Picture1 = new QLabel(this);
    Picture1->setGeometry(twips(240, 80, 1815, 750));
    Picture1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    Picture1->setPixmap(QPixmap(QStringLiteral(":/logo.png")));

    Label2 = makeLabel(this, twips(600, 840, 1125, 315), QStringLiteral("Set COM Port"), Black, Grey);
    Text1 = new QLineEdit(this);
    Text1->setGeometry(twips(600, 1080, 555, 285));
    Text1->setFont(makeFont("MS Sans Serif", 11));  // 8.25 pt
    Label3 = makeLabel(this, twips(600, 1440, 1575, 480), QStringLiteral("Set Poll Rate (msec) 100mS default"), Black,
                       Grey);
    Label3->setWordWrap(true);
    {
        // Liberation Serif sets "Set Poll Rate (msec)" a few pixels wider
        // than the box; close the letters up a little so the caption breaks
        // after "(msec)" and keeps its second line.
        QFont closer = windowFont();
        closer.setLetterSpacing(QFont::AbsoluteSpacing, -0.25);
        Label3->setFont(closer);
    }
    Text2 = new QLineEdit(this);
    Text2->setGeometry(twips(600, 1920, 690, 285));
    Text2->setFont(makeFont("MS Sans Serif", 11));

    Command1 = new FaceButton(QStringLiteral("Normal Poll"), this);
    Command1->setGeometry(twips(600, 2280, 1290, 480));

    Check6 = new FaceButton(QStringLiteral("Escrow Enable"), this);
    Check6->setCheckable(true);
    Check6->setGeometry(twips(600, 2880, 1290, 480));

    Frame1 = new Frame(QStringLiteral("CHECK BOX TO ENABLE"), this);
    Frame1->setGeometry(twips(0, 3480, 2640, 3120));
    setBackground(Frame1, Grey);
    Label24 = makeLabel(Frame1, twips(240, 240, 2535, 255), QStringLiteral("    Channel      Denomination"), Black, Grey);
    for (int i = 0; i < frames::ChannelCount; ++i) {
        auto* c = new QCheckBox(QStringLiteral("CH%1").arg(i + 1), Frame1);
        // The named channels in the first column, the rest beside them.
        if (i < NamedChannels)
            c->setGeometry(twips(480, 600 + 360 * i, i == 0 ? 1035 : 1140, 240));
        else
            c->setGeometry(twips(1560, 600 + 360 * (i - NamedChannels), 1035, 240));
        setBackground(c, Grey);
        // A box made grey by code turns two-state again once the operator clicks it.
        QObject::connect(c, &QCheckBox::clicked, c, [c] {
            if (c->checkState() != Qt::PartiallyChecked)
                c->setTristate(false);
        });
        Check1[i] = c;
    }
    Line1 = new Line(this, px(0), px(3480), px(2640), px(3480));
    Line3 = new Line(this, px(2640), px(0), px(2640), px(7200));

    // Tally.
    Frame2 = new Frame(QStringLiteral("   Channel             Stacked                    Channel              Stacked"),
                           this);
    Frame2->setGeometry(twips(2700, 75, 6975, 2340));
    Frame2->setFont(makeFont("Times New Roman", 13, true));
    setBackground(Frame2, Tally);
    Command2 = new FaceButton(QStringLiteral("Reset Totals"), Frame2);
    Command2->setGeometry(twips(5640, 0, 1320, 255));
    Command2->setFont(windowFont());
    Line2 = new Line(Frame2, px(120), px(225), px(6120), px(225));
    for (int i = 0; i < frames::ChannelCount; ++i) {
        const bool first = i < NamedChannels;
        const int j = i - NamedChannels;
        const QRect name = first ? twips(300, 300 + 225 * i, 915, 240) : twips(3120, 360 + 240 * j, 915, 240);
        const QRect count = first ? twips(1800, 300 + 225 * i, 390, 240) : twips(4680, 360 + 240 * j, 390, 240);
        Label8[i] = makeLabel(Frame2, name, QStringLiteral("CH%1").arg(i + 1), White, Tally);
        Label9[i] = makeLabel(Frame2, count, QStringLiteral("0"), White, Tally);
        Label8[i]->setFont(makeFont("MS Sans Serif", 11, true));
        Label9[i]->setFont(makeFont("MS Sans Serif", 11, true));
        Label9[i]->setAlignment(Qt::AlignRight | Qt::AlignTop);
    }

    // START POLL.
    Check4 = new FaceButton(QString(), this);
    Check4->setCheckable(true);
    Check4->setGeometry(twips(9960, 240, 780, 660));
    Check4->setIcon(QIcon(QStringLiteral(":/startpoll.png")));
    Check4->setIconSize(QSize(32, 32));
    Label1 = makeLabel(this, twips(9840, 960, 1215, 255), QStringLiteral("START POLL"), Black, Grey);

    // Trace.
    Label17 = makeLabel(this, twips(2640, 2520, 8475, 240),
                        QStringLiteral("                      HOST                                                 BILL "
                                       "VALIDATOR     MESSAGE  /  STATE  /  EVENT"),
                        White, Black);
    const QFont mono = makeFont("Courier New", 12);  // 9 pt
    for (int k = 0; k < TraceRows; ++k) {
        const int top = k == 0 ? 2775 : 3000 + 240 * (k - 1);
        const QColor back = k % 2 == 0 ? RowEven : RowOdd;
        Label18[k] = makeLabel(this, twips(2640, top, 3495, 240), QString(), Black, back);
        Label20[k] = makeLabel(this, twips(6120, top, 4995, 240), QString(), Black, back);
        Label18[k]->setFont(mono);
        Label20[k]->setFont(mono);
    }
    // The 32 rows are drawn in one paint, in the order they were made.
    auto* trace = new LabelPane(this);
    for (int k = 0; k < TraceRows; ++k) {
        trace->addLabel(Label18[k]);
        trace->addLabel(Label20[k]);
    }
    Line4 = new Line(this, px(6120), px(2760), px(6120), px(6600));
    for (int i = 0; i < 2; ++i) {
        Shape2[i] = new Lamp(this);
        Shape2[i]->setGeometry(twips(i == 0 ? 5760 : 10680, 2550, 165, 240));
        Shape2[i]->setBackdrop(Label17);
    }

    // Status boxes.
    const QFont statusCaption = makeFont("Times New Roman", 16, false, true);  // 12 pt italic
    Label12[0] = makeLabel(this, twips(2640, 6600, 2940, 240), QStringLiteral("HOST  COMMAND"), Black, RowEven);
    Label14 = boxedLabel(this, twips(2640, 6840, 2940, 315), White);
    Label12[1] = makeLabel(this, twips(5640, 6600, 2865, 240), QStringLiteral("VALIDATOR  STATE"), Black, Tally);
    Label15 = boxedLabel(this, twips(5640, 6840, 2820, 315), RowOdd);
    Label16 = makeLabel(this, twips(8520, 6600, 2640, 240), QStringLiteral("VALIDATOR  EVENT"), Black, RowEven);
    Label13 = boxedLabel(this, twips(8520, 6840, 2580, 315), White);
    for (Label* l : {Label12[0], Label12[1], Label16}) {
        l->setFont(statusCaption);
        l->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    }

    // Keyboard order.
    QWidget* order[] = {Text1, Text2, Command1, Check6, Check4, Command2};
    for (std::size_t i = 0; i + 1 < std::size(order); ++i)
        setTabOrder(order[i], order[i + 1]);
    setTabOrder(Command2, Check1[0]);
    for (int i = 0; i + 1 < frames::ChannelCount; ++i)
        setTabOrder(Check1[i], Check1[i + 1]);

    // Names for tests and accessibility: each control as the window calls it.
    auto name = [](QObject* o, const QString& n) { o->setObjectName(n); };
    name(Picture1, "Picture1"); name(Label2, "Label2"); name(Text1, "Text1"); name(Label3, "Label3"); name(Text2, "Text2");
    name(Command1, "Command1"); name(Check6, "Check6"); name(Frame1, "Frame1"); name(Label24, "Label24");
    name(Line1, "Line1"); name(Line3, "Line3"); name(Check4, "Check4"); name(Label1, "Label1");
    name(Label17, "Label17"); name(Line4, "Line4"); name(Label14, "Label14"); name(Label15, "Label15");
    name(Label16, "Label16"); name(Label13, "Label13"); name(Frame2, "Frame2"); name(Command2, "Command2");
    name(Line2, "Line2");
    for (int i = 0; i < frames::ChannelCount; ++i) {
        name(Check1[i], QStringLiteral("Check1_%1").arg(i));
        name(Label8[i], QStringLiteral("Label8_%1").arg(i));
        name(Label9[i], QStringLiteral("Label9_%1").arg(i));
    }
    for (int k = 0; k < TraceRows; ++k) {
        name(Label18[k], QStringLiteral("Label18_%1").arg(k));
        name(Label20[k], QStringLiteral("Label20_%1").arg(k));
    }
    for (int i = 0; i < 2; ++i) {
        name(Shape2[i], QStringLiteral("Shape2_%1").arg(i));
        name(Label12[i], QStringLiteral("Label12_%1").arg(i));
    }

    // What a screen reader says beyond the captions. The trace rows stand
    // directly on the window, with no pane of their own to describe, so
    // each row carries its pane's description.
    for (int k = 0; k < TraceRows; ++k) {
        Label18[k]->setAccessibleDescription(QStringLiteral("Host messages"));
        Label20[k]->setAccessibleDescription(QStringLiteral("Validator replies"));
    }
    Frame2->setAccessibleDescription(QStringLiteral("Notes stacked per channel"));
    Shape2[0]->setAccessibleName(QStringLiteral("Host lamp"));
    Shape2[1]->setAccessibleName(QStringLiteral("Validator lamp"));
    // The switch shows only a picture; its caption is the label beneath it.
    Check4->setAccessibleName(Label1->caption());
}
