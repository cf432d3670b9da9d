#include "tester/lamp.h"

#include "tester/accessible.h"

#include <QPainter>

#include <algorithm>

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
