// The link lamps: a filled circle that blinks at every poll.
#pragma once

#include "tester/label.h"

#include <QPixmap>
#include <QWidget>

#include <utility>
#include <vector>

// A filled circle with a white border. Accessibility clients read it as an
// indicator whose value is "on" while lit and "off" while dim.
class Lamp : public QWidget {
    Q_OBJECT
public:
    static constexpr int Lit = 255;  // #FF0000, the lamp at a poll or a reply
    static constexpr int Dim = 64;   // #400000, the lamp dark

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
