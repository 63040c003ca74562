// SPDX-License-Identifier: Apache-2.0
// Draws a cell that holds only text (not selected, no colour, font or icon of its own,
// short enough to fit) with one drawText, and leaves every other cell to the style. At the
// line's rate the grids and the trace redraw some two hundred cells a second, and the
// style lays out each of them as it would rich text: about 20 µs a cell.
#pragma once

#include <QStyledItemDelegate>

namespace wct {

class TPlainTextDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
};

}  // namespace wct
