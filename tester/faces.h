// The window's plain faces: lines, buttons with an exact face colour, etched
// frames, and check values 0/1/2.
#pragma once

#include <QColor>
#include <QGroupBox>
#include <QPushButton>
#include <QWidget>

class QAbstractButton;

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
