#include "tester/plaincell.h"

#include <QApplication>
#include <QFontInfo>
#include <QGlyphRun>
#include <QPainter>

// Printable ASCII in a fixed-pitch font needs no shaping: one glyph a
// character, each an advance further on. Anything else goes the long way.
bool PlainCellDelegate::drawPlain(QPainter* painter, QPoint at, const QString& text) const
{
    if (!raw_.isValid())
        return false;
    for (QChar c : text)
        if (c.unicode() < 0x20 || c.unicode() > 0x7e)
            return false;
    const QList<quint32> glyphs = raw_.glyphIndexesForString(text);
    if (glyphs.size() != text.size() || glyphs.contains(0u))
        return false;
    const QList<QPointF> advances = raw_.advancesForGlyphIndexes(glyphs);
    QList<QPointF> positions;
    positions.reserve(glyphs.size());
    QPointF x;
    for (const QPointF& a : advances) {
        positions << x;
        x += a;
    }
    QGlyphRun run;
    run.setRawFont(raw_);
    run.setGlyphIndexes(glyphs);
    run.setPositions(positions);
    painter->drawGlyphRun(at, run);
    return true;
}

void PlainCellDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    const QPalette::ColorGroup group = !(option.state & QStyle::State_Enabled) ? QPalette::Disabled
                                       : (option.state & QStyle::State_Active) ? QPalette::Active
                                                                                : QPalette::Inactive;
    const bool selected = option.state & QStyle::State_Selected;
    if (selected)
        painter->fillRect(option.rect, option.palette.brush(group, QPalette::Highlight));

    const QWidget* widget = option.widget;
    QStyle* style = widget ? widget->style() : QApplication::style();
    const QFontMetrics& metrics = option.fontMetrics;
    // The margin the style's own item painting leaves.
    const int margin = style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, widget) + 1;
    const int room = option.rect.width() - 2 * margin;
    QString text = index.data().toString();
    if (!text.isEmpty() && room > 0) {
        // In a fixed-pitch font a line's width is its length; measuring
        // would lay it out once more.
        if (option.font != font_) {
            font_ = option.font;
            fixedPitch_ = QFontInfo(font_).fixedPitch();
            raw_ = fixedPitch_ ? QRawFont::fromFont(font_) : QRawFont();
        }
        const int width = fixedPitch_ ? int(text.size()) * metrics.horizontalAdvance(QLatin1Char(' '))
                                      : metrics.horizontalAdvance(text);
        if (width > room)
            text = metrics.elidedText(text, Qt::ElideRight, room);
        painter->setPen(option.palette.color(group, selected ? QPalette::HighlightedText : QPalette::Text));
        const int baseline = option.rect.top() + (option.rect.height() - metrics.height()) / 2 + metrics.ascent();
        const QPoint at(option.rect.left() + margin, baseline);
        if (!drawPlain(painter, at, text))
            painter->drawText(at, text);
    }
    if (option.state & QStyle::State_HasFocus) {
        QStyleOptionFocusRect focus;
        focus.QStyleOption::operator=(option);
        focus.backgroundColor = option.palette.color(group, selected ? QPalette::Highlight : QPalette::Base);
        style->drawPrimitive(QStyle::PE_FrameFocusRect, &focus, painter, widget);
    }
}
