// A table cell's text drawn straight in one line of the table's font. The
// style's own item painting lays each cell out as a paragraph; for a table
// that repaints a screenful of rows several times a second while polling,
// that costs more than the rest of the window together.
#pragma once

#include <QRawFont>
#include <QStyledItemDelegate>

class PlainCellDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;

private:
    bool drawPlain(QPainter* painter, QPoint at, const QString& text) const;

    mutable QFont font_;
    mutable QRawFont raw_;
    mutable bool fixedPitch_ = false;
};
