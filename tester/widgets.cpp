#include "tester/widgets.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QAccessibleWidget>
#include <QCheckBox>
#include <QFontInfo>
#include <QFontMetrics>
#include <QFontMetricsF>
#include <QHash>
#include <QPaintEvent>
#include <QPainter>

#include <algorithm>
#include <cmath>
#include <cstdint>

QColor colorFromNumber(int number)
{
    return QColor(number & 0xFF, (number >> 8) & 0xFF, (number >> 16) & 0xFF);
}

int numberFromColor(const QColor& c)
{
    return c.red() | (c.green() << 8) | (c.blue() << 16);
}

namespace {

// A label is drawn, not set as text, so without this an accessibility
// client would see a nameless frame: here it reads what a QLabel offers,
// static text named by the caption exactly as shown, blanks included.
class LabelAccessible : public QAccessibleWidget {
public:
    explicit LabelAccessible(Label* label) : QAccessibleWidget(label, QAccessible::StaticText) {}

    QString text(QAccessible::Text t) const override
    {
        if (t == QAccessible::Name) {
            const QString name = widget()->accessibleName();
            return name.isEmpty() ? static_cast<const Label*>(widget())->caption() : name;
        }
        return QAccessibleWidget::text(t);
    }
};

// A lamp: its name is given by the window, its value says whether it is lit.
// Blinks are not announced: at every poll each lamp goes on and off again,
// which would flood a client; the value is read when asked for.
class LampAccessible : public QAccessibleWidget {
public:
    explicit LampAccessible(Lamp* lamp) : QAccessibleWidget(lamp, QAccessible::Indicator) {}

    QString text(QAccessible::Text t) const override
    {
        if (t == QAccessible::Value)
            return static_cast<const Lamp*>(widget())->isLit() ? QStringLiteral("on") : QStringLiteral("off");
        return QAccessibleWidget::text(t);
    }
    QAccessible::State state() const override
    {
        QAccessible::State s = QAccessibleWidget::state();
        s.checked = static_cast<const Lamp*>(widget())->isLit();
        return s;
    }
};

// Asked with the class name of each class an object derives from, most
// derived first; buttons and lines fall through to Qt's own interfaces.
QAccessibleInterface* accessibleFor(const QString& className, QObject* object)
{
    if (className == QLatin1StringView("Label"))
        return new LabelAccessible(static_cast<Label*>(object));
    if (className == QLatin1StringView("Lamp"))
        return new LampAccessible(static_cast<Lamp*>(object));
    return nullptr;
}

void installAccessibleFactory()
{
    static const bool installed = (QAccessible::installFactory(accessibleFor), true);
    Q_UNUSED(installed);
}

}  // namespace

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

void Label::setDrawnBy(QWidget* pane)
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

namespace {

// What a label looks like, all of it.
struct LabelLook {
    QString caption;
    QFont font;
    QRgb text, back;
    QSize size;
    int frameStyle, lineWidth, flags;
    qreal ratio;

    bool operator==(const LabelLook& o) const
    {
        return caption == o.caption && font == o.font && text == o.text && back == o.back && size == o.size
               && frameStyle == o.frameStyle && lineWidth == o.lineWidth && flags == o.flags && ratio == o.ratio;
    }
};

size_t qHash(const LabelLook& k, size_t seed = 0)
{
    return qHashMulti(seed, k.caption, k.font, k.text, k.back, k.size.width(), k.size.height(), k.frameStyle,
                      k.lineWidth, k.flags, k.ratio);
}

}  // namespace

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
    // An opaque label is drawn once per look and then copied: a trace line
    // moves up through all sixteen rows of its pane, one row per poll, and
    // shaping and blending its glyphs anew at every row was most of the cost
    // of a poll. Few looks recur; the cache stays small.
    static QHash<LabelLook, QPixmap> drawn;
    const QColor back = palette().color(QPalette::Window);
    int flags = int(alignment_);
    if (wordWrap_)
        flags |= Qt::TextWordWrap;
    const qreal ratio = devicePixelRatioF();
    const LabelLook look{caption_, font(), palette().color(QPalette::WindowText).rgba(), back.rgba(), size(),
                         frameStyle(), lineWidth(), flags, ratio};
    auto it = drawn.constFind(look);
    if (it == drawn.constEnd()) {
        if (drawn.size() >= 128)
            drawn.clear();
        QPixmap pixmap(size() * ratio);
        pixmap.setDevicePixelRatio(ratio);
        pixmap.fill(back);
        QPainter p(&pixmap);
        p.setFont(font());
        drawFrame(&p);
        drawCaption(p);
        p.end();
        it = drawn.insert(look, pixmap);
    }
    return *it;
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

Lamp::Lamp(QWidget* parent) : QWidget(parent)
{
    installAccessibleFactory();
}

void Lamp::setFillColor(int number)
{
    if (number == fill_)
        return;
    fill_ = number;
    update();
}

void Lamp::setBackdrop(Label* label)
{
    backdrop_ = label && label->isOpaque() && label->parentWidget() == parentWidget() ? label : nullptr;
    if (!backdrop_) {
        clearMask();
        setAttribute(Qt::WA_OpaquePaintEvent, false);
        return;
    }
    // The part over the label only: there the lamp paints every pixel.
    setMask(QRegion(backdrop_->geometry().intersected(geometry()).translated(-pos())));
    setAttribute(Qt::WA_OpaquePaintEvent, true);
    update();
}

void Lamp::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    const auto draw = [this](QPainter& p) {
        if (backdrop_)
            backdrop_->drawAt(p, backdrop_->pos() - pos());
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(QPen(Qt::white, 1));
        p.setBrush(colorFromNumber(fill_));
        const int d = qMin(width(), height()) - 1;
        p.drawEllipse(QRectF((width() - d) / 2.0, (height() - d) / 2.0, d, d));
    };
    // Only a lamp on an opaque backdrop is drawn whole, every pixel its own,
    // and so can be kept and copied as it is.
    if (!backdrop_ || !backdrop_->isOpaque()) {
        draw(painter);
        return;
    }
    const Look look{fill_, backdrop_->look().cacheKey(), backdrop_->pos() - pos(), size(), devicePixelRatioF()};
    auto it = std::find_if(drawn_.begin(), drawn_.end(), [&look](const auto& d) { return d.first == look; });
    if (it == drawn_.end()) {
        QPixmap pixmap(size() * look.ratio);
        pixmap.setDevicePixelRatio(look.ratio);
        pixmap.fill(Qt::transparent);  // beyond the backdrop: masked off, but defined
        QPainter p(&pixmap);
        draw(p);
        p.end();
        // Lit and dim, and room for a change of colour or backdrop.
        if (drawn_.size() >= 4)
            drawn_.pop_back();
        it = drawn_.insert(drawn_.begin(), {look, pixmap});
    }
    painter.drawPixmap(0, 0, it->second);
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
