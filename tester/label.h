// Captions on fixed places, and the pane that draws a set of them in one
// paint.
#pragma once

#include <QColor>
#include <QFont>
#include <QFrame>
#include <QHash>
#include <QPixmap>
#include <QWidget>

#include <vector>

class QPainter;

// 24-bit colour number with red in the low byte (255 is #FF0000).
QColor colorFromNumber(int number);
int numberFromColor(const QColor& color);

// What an opaque label looks like, all of it.
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
size_t qHash(const LabelLook& k, size_t seed = 0);

// Finished looks, drawn once and copied after. Few looks recur: the store is
// emptied whole when it is full, which costs one redraw of what is in view.
class LabelLooks {
public:
    // Two panes of sixteen rows, their lines on the way up, and room to spare.
    static constexpr qsizetype PaneCapacity = 128;

    explicit LabelLooks(qsizetype capacity) : capacity_(capacity) {}
    const QPixmap* find(const LabelLook& look) const
    {
        const auto it = drawn_.constFind(look);
        return it == drawn_.constEnd() ? nullptr : &*it;
    }
    const QPixmap& keep(const LabelLook& look, const QPixmap& pixmap)
    {
        if (drawn_.size() >= capacity_)
            drawn_.clear();
        return *drawn_.insert(look, pixmap);
    }

private:
    qsizetype capacity_;
    QHash<LabelLook, QPixmap> drawn_;
};

class LabelPane;

// A caption on a fixed place: a caption change repaints what changed of
// this label and nothing else (no size hints, no relayout of the window),
// whether the label draws itself or a LabelPane draws it. An opaque label
// is drawn from a small cache of finished looks. Accessibility clients read
// it as static text named by its caption, as they would a QLabel.
class Label : public QFrame {
    Q_OBJECT
public:
    explicit Label(QWidget* parent = nullptr);

    const QString& caption() const { return caption_; }
    void setCaption(const QString& text);
    void setAlignment(Qt::Alignment a);
    Qt::Alignment alignment() const { return alignment_; }
    void setWordWrap(bool on);
    void setColors(const QColor& text, const QColor& background);

    // A background of its own that hides whatever lies beneath.
    bool isOpaque() const;

    // Drawn by a pane instead of by itself (see LabelPane).
    void setDrawnBy(LabelPane* pane);
    // Draws the label as it looks with its top-left corner at `at`.
    void drawAt(QPainter& painter, const QPoint& at);
    // An opaque label's finished look, drawn once and then shared: by the
    // labels of its pane, or kept by the label itself when it has none.
    const QPixmap& look();

protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void drawCaption(QPainter& painter);
    void repaintLook(const QRect& area);
    void repaintLook() { repaintLook(rect()); }
    QRect changedArea(const QString& before, const QString& after) const;

    QString caption_;
    Qt::Alignment alignment_ = Qt::AlignLeft | Qt::AlignTop;
    bool wordWrap_ = false;
    mutable qreal cell_ = -1;  // a fixed-pitch font's character width, 0 for another font; -1 not known yet
    LabelPane* drawnBy_ = nullptr;
    LabelLooks own_{1};  // its own last look, when no pane draws it
};

// Draws the labels it lies over, all in one paint. The trace rows change
// together at every poll, and a paint of their own for each of 32 rows was
// most of the window's cost of a poll. The labels stay where they are, as
// they are, for the window and for accessibility clients; only their
// drawing moves here, in the order they were added (later ones on top).
// Made after its labels, so it lies above them; mouse events pass through.
class LabelPane : public QWidget {
    Q_OBJECT
public:
    explicit LabelPane(QWidget* parent);
    // A label of the same parent, made before the pane; the pane grows to cover it.
    void addLabel(Label* label);
    // The finished looks of its labels: a trace line moves up through every
    // row of its pane, one row per poll, and is drawn once on the way.
    LabelLooks& looks() { return looks_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::vector<Label*> labels_;
    LabelLooks looks_{LabelLooks::PaneCapacity};
};
