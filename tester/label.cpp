#include "tester/label.h"

#include "tester/accessible.h"

#include <QAccessible>
#include <QFontInfo>
#include <QFontMetricsF>
#include <QPaintEvent>
#include <QPainter>

#include <algorithm>
#include <cmath>

QColor colorFromNumber(int number)
{
    return QColor(number & 0xFF, (number >> 8) & 0xFF, (number >> 16) & 0xFF);
}

int numberFromColor(const QColor& c)
{
    return c.red() | (c.green() << 8) | (c.blue() << 16);
}

Label::Label(QWidget* parent) : QFrame(parent)
{
    installAccessibleFactory();
    setAttribute(Qt::WA_OpaquePaintEvent, false);
}

void Label::setCaption(const QString& text)
{
    if (text == caption_)
        return;
    const QRect changed = changedArea(caption_, text);
    caption_ = text;
    repaintLook(changed);
    // Only when a client listens: while polling, captions change dozens of
    // times a poll, and with no client that must cost nothing more.
    if (QAccessible::isActive() && accessibleName().isEmpty()) {
        QAccessibleEvent event(this, QAccessible::NameChanged);
        QAccessible::updateAccessibility(&event);
    }
}

void Label::setAlignment(Qt::Alignment a)
{
    alignment_ = a;
    repaintLook();
}

void Label::setWordWrap(bool on)
{
    wordWrap_ = on;
    repaintLook();
}

void Label::repaintLook(const QRect& area)
{
    if (drawnBy_)
        drawnBy_->update(area.translated(pos() - drawnBy_->pos()));
    else
        update(area);
}

QRect Label::changedArea(const QString& before, const QString& after) const
{
    // One line of a fixed-pitch font from the left edge: a character keeps
    // its cell whatever its neighbours, so only the cells between the first
    // and the last difference change. A trace line differs from the one it
    // replaces in a few hexadecimal digits.
    if (cell_ < 0) {
        // Asked once per font: a font lookup at each of 32 captions a poll adds up.
        cell_ = QFontInfo(font()).fixedPitch() ? QFontMetricsF(font()).horizontalAdvance(QLatin1Char('0')) : 0;
    }
    if (wordWrap_ || (alignment_ & Qt::AlignHorizontal_Mask) != Qt::AlignLeft || cell_ == 0)
        return rect();
    // Cells are compared where they stand; past its end a caption has none.
    const auto cellOf = [](const QString& s, qsizetype i) { return i < s.size() ? s[i] : QChar(); };
    const qsizetype cells = std::max(before.size(), after.size());
    qsizetype first = 0;
    while (first < cells && cellOf(before, first) == cellOf(after, first))
        ++first;
    qsizetype last = cells;  // one past the last difference
    while (last > first && cellOf(before, last - 1) == cellOf(after, last - 1))
        --last;
    for (const QString* s : {&before, &after})
        for (QChar c : *s)
            if (c.unicode() < 0x20 || c.unicode() > 0x7E)
                return rect();  // not a plain printable cell
    // A cell either side for glyphs that reach past their own.
    const qreal left = contentsRect().left() + 1 + cell_ * qreal(first - 1);
    const qreal right = contentsRect().left() + 1 + cell_ * qreal(last + 1);
    return QRect(QPoint(int(std::floor(left)) - 1, 0), QPoint(int(std::ceil(right)) + 1, height() - 1)).intersected(rect());
}

void Label::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::FontChange)
        cell_ = -1;
    // update() does nothing for a label its pane draws: the pane repaints it.
    if (drawnBy_ && (event->type() == QEvent::FontChange || event->type() == QEvent::PaletteChange))
        repaintLook();
    QFrame::changeEvent(event);
}

void Label::setDrawnBy(LabelPane* pane)
{
    drawnBy_ = pane;
    // Qt then sends this label no paint events at all, not even empty ones.
    setUpdatesEnabled(false);
    repaintLook();
}

void Label::setColors(const QColor& text, const QColor& background)
{
    QPalette p = palette();
    p.setColor(QPalette::WindowText, text);
    p.setColor(QPalette::Window, background);
    setPalette(p);
    setAutoFillBackground(true);
    // An opaque label paints every pixel itself: nothing beneath it, nor its
    // own background, needs filling first.
    setAttribute(Qt::WA_OpaquePaintEvent, background.alpha() == 255);
    repaintLook();
}

bool Label::isOpaque() const
{
    return autoFillBackground() && palette().color(QPalette::Window).alpha() == 255;
}

size_t qHash(const LabelLook& k, size_t seed)
{
    return qHashMulti(seed, k.caption, k.font, k.text, k.back, k.size.width(), k.size.height(), k.frameStyle,
                      k.lineWidth, k.flags, k.ratio);
}

void Label::drawCaption(QPainter& painter)
{
    if (caption_.isEmpty())
        return;
    painter.setPen(palette().color(QPalette::WindowText));
    int flags = int(alignment_);
    if (wordWrap_)
        flags |= Qt::TextWordWrap;
    painter.drawText(contentsRect().adjusted(1, 0, -1, 0), flags, caption_);
}

void Label::paintEvent(QPaintEvent*)
{
    if (drawnBy_)
        return;
    QPainter painter(this);
    drawAt(painter, QPoint(0, 0));
}

void Label::drawAt(QPainter& painter, const QPoint& at)
{
    if (isOpaque()) {
        painter.drawPixmap(at, look());
        return;
    }
    // Not drawn from the cache: a see-through label shows what is beneath.
    painter.save();
    painter.translate(at);
    painter.setFont(font());
    drawFrame(&painter);
    drawCaption(painter);
    painter.restore();
}

const QPixmap& Label::look()
{
    // An opaque label is drawn once per look and then copied: shaping and
    // blending its glyphs anew at every paint was most of the cost of a poll.
    LabelLooks& looks = drawnBy_ ? drawnBy_->looks() : own_;
    const QColor back = palette().color(QPalette::Window);
    int flags = int(alignment_);
    if (wordWrap_)
        flags |= Qt::TextWordWrap;
    const qreal ratio = devicePixelRatioF();
    const LabelLook look{caption_, font(), palette().color(QPalette::WindowText).rgba(), back.rgba(), size(),
                         frameStyle(), lineWidth(), flags, ratio};
    if (const QPixmap* drawn = looks.find(look))
        return *drawn;
    QPixmap pixmap(size() * ratio);
    pixmap.setDevicePixelRatio(ratio);
    pixmap.fill(back);
    QPainter p(&pixmap);
    p.setFont(font());
    drawFrame(&p);
    drawCaption(p);
    p.end();
    return looks.keep(look, pixmap);
}

LabelPane::LabelPane(QWidget* parent) : QWidget(parent)
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void LabelPane::addLabel(Label* label)
{
    labels_.push_back(label);
    QRegion covered;
    for (const Label* l : labels_)
        covered += l->geometry();
    const QRect area = covered.boundingRect();
    setGeometry(area);
    // Labels that fill the pane and paint every pixel leave nothing of what
    // lies beneath to be drawn first.
    bool opaque = covered == QRegion(area);
    for (const Label* l : labels_)
        opaque = opaque && l->isOpaque();
    setAttribute(Qt::WA_OpaquePaintEvent, opaque);
    label->setDrawnBy(this);
    update();
}

void LabelPane::paintEvent(QPaintEvent* event)
{
    QPainter painter(this);
    for (Label* l : labels_) {
        const QRect r = l->geometry().translated(-pos());
        if (l->isVisible() && event->region().intersects(r))
            l->drawAt(painter, r.topLeft());
    }
}
