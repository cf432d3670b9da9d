// The few control kinds the tester window is made of, with the behaviour the
// window relies on: labels that only repaint themselves, lamps with a
// settable fill, check values 0/1/2.
#pragma once

#include <QColor>
#include <QFrame>
#include <QGroupBox>
#include <QObject>
#include <QPixmap>
#include <QPushButton>
#include <QWidget>

#include <functional>
#include <utility>
#include <vector>

class QAbstractButton;
class QPainter;

// 24-bit colour number with red in the low byte (255 is #FF0000).
QColor colorFromNumber(int number);
int numberFromColor(const QColor& color);

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
    void setDrawnBy(QWidget* pane);
    // Draws the label as it looks with its top-left corner at `at`.
    void drawAt(QPainter& painter, const QPoint& at);
    // An opaque label's finished look, drawn once and then shared.
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
    QWidget* drawnBy_ = nullptr;
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

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::vector<Label*> labels_;
};

// A filled circle with a white border. Accessibility clients read it as an
// indicator whose value is "on" while lit and "off" while dim.
class Lamp : public QWidget {
    Q_OBJECT
public:
    static constexpr int Dim = 64;  // #400000, the lamp dark

    explicit Lamp(QWidget* parent = nullptr);
    int fillColor() const { return fill_; }
    void setFillColor(int number);
    bool isLit() const { return fill_ != Dim; }
    // The opaque label the lamp sits on: the lamp then draws that label's
    // part beneath itself, and keeps to the label's area, so a blink repaints
    // the lamp alone instead of the lamp and all it covers.
    void setBackdrop(Label* label);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    int fill_ = Dim;
    Label* backdrop_ = nullptr;
    // The lamp as lately drawn, and what from: a lamp blinks between two
    // looks, and an antialiased circle drawn afresh at each blink was the
    // dearest paint of a poll.
    struct Look {
        int fill = -1;
        qint64 under = 0;  // the backdrop's look
        QPoint at;         // where the backdrop lies from the lamp
        QSize size;
        qreal ratio = 0;
        bool operator==(const Look&) const = default;
    };
    std::vector<std::pair<Look, QPixmap>> drawn_;  // the latest first
};

// A straight line between two points of its parent.
class Line : public QWidget {
    Q_OBJECT
public:
    Line(QWidget* parent, int x1, int y1, int x2, int y2);

protected:
    void paintEvent(QPaintEvent* event) override;
};

// A push button whose face is exactly the palette's Button colour (a
// styled button would shade and fade it), with a raised bevel. A checkable
// one is a toggle button: it stays sunk while checked.
class FaceButton : public QPushButton {
    Q_OBJECT
public:
    explicit FaceButton(const QString& text = QString(), QWidget* parent = nullptr);
    void setFaceColor(const QColor& face);
    QColor faceColor() const;

protected:
    void paintEvent(QPaintEvent* event) override;
};

// A frame: an etched border with its caption set into the top edge, on the
// frame's own background. Children are placed by hand, so the frame has no
// margins of its own to honour.
class Frame : public QGroupBox {
    Q_OBJECT
public:
    Frame(const QString& caption, QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
};

// Check box value: 0 clear, 1 ticked, 2 grey (plain check boxes only).
int checkValue(const QAbstractButton* box);
// Returns false when the box refuses the state.
bool setCheckValue(QAbstractButton* box, int value);
