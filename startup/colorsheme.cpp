#include "startup/colorsheme.h"

#include "startup/startup.h"

#include "tester/main64k.h"
#include "tester/widgets.h"

#include <QCloseEvent>
#include <QGroupBox>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QPushButton>
#include <QScreen>
#include <QStyleOptionButton>
#include <QStylePainter>

static QRect twips(int left, int top, int width, int height)
{
    return QRect(px(left), px(top), px(width), px(height));
}

WrapButton::WrapButton(const QString& text, QWidget* parent) : QPushButton(text, parent) {}

QRect WrapButton::captionRect() const
{
    QStyleOptionButton option;
    initStyleOption(&option);
    const QRect inside = style()->subElementRect(QStyle::SE_PushButtonContents, &option, this);
    const int margin = style()->pixelMetric(QStyle::PM_ButtonMargin, &option, this) / 2;
    return inside.adjusted(margin, 0, -margin, 0);
}

void WrapButton::paintEvent(QPaintEvent*)
{
    // The style draws the button without its caption; the caption goes on
    // top, wrapped, since QPushButton never breaks a line.
    QStylePainter painter(this);
    QStyleOptionButton option;
    initStyleOption(&option);
    option.text.clear();
    painter.drawControl(QStyle::CE_PushButton, option);

    QRect place = captionRect();
    if (isDown() || isChecked())
        place.translate(style()->pixelMetric(QStyle::PM_ButtonShiftHorizontal, &option, this),
                        style()->pixelMetric(QStyle::PM_ButtonShiftVertical, &option, this));
    painter.drawItemText(place, Qt::AlignCenter | Qt::TextWordWrap | Qt::TextShowMnemonic, palette(), isEnabled(),
                         text(), QPalette::ButtonText);
}

ColorSheme::ColorSheme(QWidget* parent) : QWidget(parent, Qt::Window | Qt::FramelessWindowHint)
{
    setWindowTitle(QStringLiteral("SYSTEM SETUP"));
    setAttribute(Qt::WA_DeleteOnClose, false);
    QFont f(QStringLiteral("Times New Roman"));
    f.setPixelSize(13);  // 9.75 pt
    setFont(f);
    setFixedSize(px(6180), px(2685));
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->geometry().center() - rect().center());

    Frame1 = new QGroupBox(this);
    Frame1->setGeometry(twips(135, 60, 5865, 2415));
    auto label = [this](const QString& text, const QRect& r) {
        auto* l = new Label(Frame1);
        l->setGeometry(r);
        l->setCaption(text);
        l->setWordWrap(true);
        return l;
    };
    Label1 = label(QStringLiteral("Select the Color depth setting of your computer."), twips(315, 360, 5325, 435));
    // At this size and font both captions take two lines.
    Command1[0] = new WrapButton(QStringLiteral("HI Color 800 X 600"), Frame1);
    Command1[0]->setGeometry(twips(315, 960, 1095, 495));
    Label2 = label(QStringLiteral("Choose this for system that can support 16 bit color or higher (recommended)."),
                   twips(1710, 960, 3570, 555));
    Command1[1] = new WrapButton(QStringLiteral("256 Color 640 X 480"), Frame1);
    Command1[1]->setGeometry(twips(315, 1620, 1095, 495));
    Label3 = label(QStringLiteral("Choose this for system that can only support up to 256 color."),
                   twips(1710, 1620, 3570, 495));
    for (int i = 0; i < 2; ++i) {
        Command1[i]->setAutoDefault(false);
        Command1[i]->setDefault(false);
        Command1[i]->setObjectName(QStringLiteral("Command1_%1").arg(i));
        connect(Command1[i], &QPushButton::clicked, this, [this, i] { Command1_Click(i); });
    }
    setTabOrder(Command1[0], Command1[1]);
    Command1[0]->setFocus();
}

void ColorSheme::Command1_Click(int index)
{
    answered_ = true;
    if (onAnswer)
        onAnswer(index + 1);
    close();
}

void ColorSheme::closeEvent(QCloseEvent* event)
{
    event->accept();
    if (!answered_ && onClosed)
        onClosed();
}

void ColorSheme::keyPressEvent(QKeyEvent* event)
{
    // Enter answers with the focused button, as Space does; the buttons are
    // no dialog's default buttons, which would take Enter themselves.
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        for (QPushButton* button : Command1)
            if (button->hasFocus()) {
                button->click();
                return;
            }
    }
    QWidget::keyPressEvent(event);
}
