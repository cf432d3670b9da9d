#include "tester/faces.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QPainter>
#include <QStyleOptionButton>

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

FaceButton::FaceButton(const QString& text, QWidget* parent) : QPushButton(text, parent) {}

void FaceButton::setFaceColor(const QColor& face)
{
    QPalette p = palette();
    p.setColor(QPalette::Button, face);
    setPalette(p);
}

QColor FaceButton::faceColor() const
{
    return palette().color(QPalette::Button);
}

void FaceButton::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    const QPalette& pal = palette();
    const bool sunk = isDown() || isChecked();
    QColor face = pal.color(QPalette::Button);
    if (isChecked() && !isDown()) {
        // A toggle button held down shows a paler face, so "pressed" reads
        // at a glance even without the bevel.
        face = QColor((face.red() + 255) / 2, (face.green() + 255) / 2, (face.blue() + 255) / 2);
    }
    const QRect r = rect();
    p.fillRect(r, face);

    const QColor light = pal.color(QPalette::Light);
    const QColor dark = pal.color(QPalette::Dark);
    const QColor shadow = pal.color(QPalette::Shadow);
    auto ring = [&p](const QRect& b, const QColor& topLeft, const QColor& bottomRight) {
        p.setPen(topLeft);
        p.drawLine(b.topLeft(), b.topRight() - QPoint(1, 0));
        p.drawLine(b.topLeft(), b.bottomLeft() - QPoint(0, 1));
        p.setPen(bottomRight);
        p.drawLine(b.bottomLeft(), b.bottomRight());
        p.drawLine(b.topRight(), b.bottomRight());
    };
    if (sunk) {
        ring(r, shadow, light);
        ring(r.adjusted(1, 1, -1, -1), dark, face);
    } else {
        ring(r, light, shadow);
        ring(r.adjusted(1, 1, -1, -1), face, dark);
    }

    QRect content = r.adjusted(3, 3, -3, -3);
    if (sunk)
        content.translate(1, 1);
    const QPalette::ColorGroup group = isEnabled() ? QPalette::Active : QPalette::Disabled;
    if (!icon().isNull()) {
        const QPixmap pm = icon().pixmap(iconSize(), devicePixelRatio(), isEnabled() ? QIcon::Normal : QIcon::Disabled,
                                         isChecked() ? QIcon::On : QIcon::Off);
        const QSize size = pm.deviceIndependentSize().toSize();
        QRect place(QPoint(0, 0), size);
        place.moveCenter(content.center());
        if (!text().isEmpty())
            place.moveTop(content.top());
        p.drawPixmap(place, pm);
        content.setTop(place.bottom() + 1);
    }
    if (!text().isEmpty()) {
        p.setPen(pal.color(group, QPalette::ButtonText));
        p.drawText(content, Qt::AlignCenter | Qt::TextShowMnemonic, text());
    }
    if (hasFocus()) {
        p.setPen(QPen(pal.color(group, QPalette::ButtonText), 1, Qt::DotLine));
        p.drawRect(r.adjusted(4, 4, -5, -5));
    }
}

Frame::Frame(const QString& caption, QWidget* parent) : QGroupBox(caption, parent) {}

void Frame::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    const QColor back = palette().color(backgroundRole());
    const QFontMetrics fm(font());
    const QRect border = rect().adjusted(0, fm.height() / 2, -1, -1);
    p.setPen(back.darker(150));
    p.drawRect(border.adjusted(0, 0, -1, -1));
    p.setPen(back.lighter(150));
    p.drawRect(border.adjusted(1, 1, 0, 0));
    if (!title().isEmpty()) {
        const QRect caption(8, 0, fm.horizontalAdvance(title()), fm.height());
        p.fillRect(caption, back);
        p.setPen(palette().color(QPalette::WindowText));
        p.drawText(caption, Qt::AlignLeft | Qt::AlignTop, title());
    }
}

// Qt numbers the partial state 1 and the checked state 2; the window's
// values are 0 clear, 1 checked, 2 grey.
int checkValue(const QAbstractButton* box)
{
    if (auto c = qobject_cast<const QCheckBox*>(box)) {
        switch (c->checkState()) {
        case Qt::Unchecked:
            return 0;
        case Qt::Checked:
            return 1;
        case Qt::PartiallyChecked:
            return 2;
        }
    }
    return box->isChecked() ? 1 : 0;
}

bool setCheckValue(QAbstractButton* box, int value)
{
    if (auto c = qobject_cast<QCheckBox*>(box)) {
        static constexpr Qt::CheckState States[3] = {Qt::Unchecked, Qt::Checked, Qt::PartiallyChecked};
        if (value < 0 || value > 2)
            return false;
        c->setCheckState(States[value]);
        // Grey is a state only code sets; the operator toggles between
        // clear and checked.
        if (value != 2)
            c->setTristate(false);
        return true;
    }
    if (value < 0 || value > 1)
        return false;
    box->setChecked(value == 1);
    return true;
}
