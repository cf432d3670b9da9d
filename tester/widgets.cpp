#include "tester/widgets.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QPaintEvent>
#include <QPainter>

QColor colorFromNumber(int number)
{
    return QColor(number & 0xFF, (number >> 8) & 0xFF, (number >> 16) & 0xFF);
}

int numberFromColor(const QColor& c)
{
    return c.red() | (c.green() << 8) | (c.blue() << 16);
}

VbTimer::VbTimer(int interval, bool enabled, Qt::TimerType type, QObject* parent)
    : QObject(parent), interval_(interval), enabled_(enabled)
{
    timer_.setTimerType(type);
    connect(&timer_, &QTimer::timeout, this, [this] {
        if (onTimer)
            onTimer();
    });
    apply();
}

void VbTimer::setInterval(int ms)
{
    interval_ = ms;
    apply();
}

void VbTimer::setEnabled(bool on)
{
    if (on == enabled_)
        return;
    enabled_ = on;
    apply();
}

void VbTimer::apply()
{
    if (enabled_ && interval_ > 0)
        timer_.start(interval_);
    else
        timer_.stop();
}

Label::Label(QWidget* parent) : QFrame(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent, false);
}

void Label::setCaption(const QString& text)
{
    if (text == caption_)
        return;
    caption_ = text;
    update();
}

void Label::setAlignment(Qt::Alignment a)
{
    alignment_ = a;
    update();
}

void Label::setWordWrap(bool on)
{
    wordWrap_ = on;
    update();
}

void Label::setColors(const QColor& text, const QColor& background)
{
    QPalette p = palette();
    p.setColor(QPalette::WindowText, text);
    p.setColor(QPalette::Window, background);
    setPalette(p);
    setAutoFillBackground(true);
}

void Label::paintEvent(QPaintEvent* event)
{
    QFrame::paintEvent(event);
    if (caption_.isEmpty())
        return;
    QPainter painter(this);
    painter.setPen(palette().color(QPalette::WindowText));
    int flags = int(alignment_);
    if (wordWrap_)
        flags |= Qt::TextWordWrap;
    painter.drawText(contentsRect().adjusted(1, 0, -1, 0), flags, caption_);
}

Lamp::Lamp(QWidget* parent) : QWidget(parent) {}

void Lamp::setFillColor(int number)
{
    if (number == fill_)
        return;
    fill_ = number;
    update();
}

void Lamp::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(Qt::white, 1));
    painter.setBrush(colorFromNumber(fill_));
    const int d = qMin(width(), height()) - 1;
    painter.drawEllipse(QRectF((width() - d) / 2.0, (height() - d) / 2.0, d, d));
}

Line::Line(QWidget* parent, int x1, int y1, int x2, int y2) : QWidget(parent)
{
    setGeometry(QRect(QPoint(qMin(x1, x2), qMin(y1, y2)), QPoint(qMax(x1, x2), qMax(y1, y2))));
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void Line::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), Qt::black);
}

int checkValue(const QAbstractButton* box)
{
    if (auto c = qobject_cast<const QCheckBox*>(box))
        return int(c->checkState());
    return box->isChecked() ? 1 : 0;
}

bool setCheckValue(QAbstractButton* box, int value)
{
    if (auto c = qobject_cast<QCheckBox*>(box)) {
        if (value < 0 || value > 2)
            return false;
        c->setCheckState(Qt::CheckState(value));
        return true;
    }
    if (value < 0 || value > 1)
        return false;
    box->setChecked(value == 1);
    return true;
}
