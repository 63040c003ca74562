// SPDX-License-Identifier: Apache-2.0
#include "app/plain_text_delegate.h"

#include <QApplication>
#include <QPainter>

namespace wct {

namespace {

// What the style would draw besides the text.
bool Decorated(const QStyleOptionViewItem& option, const QModelIndex& index) {
    if (option.state & (QStyle::State_Selected | QStyle::State_HasFocus)) return true;
    for (int role : {Qt::BackgroundRole, Qt::ForegroundRole, Qt::FontRole, Qt::DecorationRole,
                     Qt::CheckStateRole})
        if (index.data(role).isValid()) return true;
    return false;
}

}  // namespace

void TPlainTextDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                               const QModelIndex& index) const {
    if (Decorated(option, index)) {
        QStyledItemDelegate::paint(painter, option, index);
        return;
    }
    const QString text = index.data(Qt::DisplayRole).toString();
    if (text.isEmpty()) return;  // the view has filled the background already
    const QWidget* view = option.widget;
    const QStyle* style = view != nullptr ? view->style() : QApplication::style();
    // Placed as the style places a line of text: inside its margin, the line box aligned
    // in whole pixels, the text within the line at its exact width.
    const int margin = style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, view) + 1;
    const QRect room = option.rect.adjusted(margin, 0, -margin, 0);
    const QFontMetricsF metrics(option.font);
    const qreal width = metrics.horizontalAdvance(text);
    if (width > room.width()) {
        QStyledItemDelegate::paint(painter, option, index);  // the style elides it
        return;
    }
    const QVariant role = index.data(Qt::TextAlignmentRole);
    const Qt::Alignment alignment = QStyle::visualAlignment(
        option.direction,
        role.isValid() ? Qt::Alignment::fromInt(role.toInt()) : option.displayAlignment);
    const QRect line = QStyle::alignedRect(
        option.direction, alignment & Qt::AlignVertical_Mask,
        QSizeF(room.width(), metrics.ascent() + metrics.descent()).toSize(), room);
    qreal x = room.x();
    if (alignment & Qt::AlignRight) x += room.width() - width;
    else if (alignment & Qt::AlignHCenter) x += (room.width() - width) / 2;
    const QPalette::ColorGroup group = !(option.state & QStyle::State_Enabled) ? QPalette::Disabled
                                       : (option.state & QStyle::State_Active) ? QPalette::Normal
                                                                                : QPalette::Inactive;
    painter->save();
    painter->setFont(option.font);
    painter->setPen(option.palette.color(group, QPalette::Text));
    painter->drawText(QPointF(x, line.top() + metrics.ascent()), text);
    painter->restore();
}

}  // namespace wct
