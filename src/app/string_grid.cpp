// SPDX-License-Identifier: Apache-2.0
#include "app/string_grid.h"

#include <QHeaderView>
#include <QScrollBar>

#include "app/plain_text_delegate.h"

namespace wct {

TStringGrid::TStringGrid(int colCount, int rowCount, QWidget* parent)
    : QTableWidget(rowCount - 1, colCount, parent) {
    verticalHeader()->hide();
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
    verticalHeader()->setMinimumSectionSize(fontMetrics().height() + 2);
    horizontalHeader()->setHighlightSections(false);
    horizontalHeader()->setMinimumSectionSize(8);
    horizontalHeader()->setStretchLastSection(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    for (int c = 0; c < colCount; ++c) setHorizontalHeaderItem(c, new QTableWidgetItem(""));
    setItemDelegate(new TPlainTextDelegate(this));
}

QString TStringGrid::Cell(int col, int row) const {
    if (row == 0) {
        const QTableWidgetItem* header = horizontalHeaderItem(col);
        return header != nullptr ? header->text() : QString();
    }
    const QTableWidgetItem* cell = item(row - 1, col);
    return cell != nullptr ? cell->text() : QString();
}

void TStringGrid::SetCell(int col, int row, const QString& text) {
    if (row == 0) {
        horizontalHeaderItem(col)->setText(text);
        return;
    }
    if (row >= RowCount()) SetRowCount(row + 1);
    QTableWidgetItem* cell = item(row - 1, col);
    if (cell == nullptr) {
        cell = new QTableWidgetItem(text);
        if (col == 0) {
            cell->setFlags(Qt::ItemIsEnabled);
            cell->setBackground(palette().button());
            cell->setTextAlignment(Qt::AlignCenter);
        }
        setItem(row - 1, col, cell);
    } else {
        cell->setText(text);  // unchanged text costs nothing: the item compares first
    }
}

void TStringGrid::SetRowCount(int rows) {
    const int old = RowCount();
    setRowCount(rows - 1);
    if (labelBase_ < 0) return;
    for (int r = old; r < rows; ++r) SetCell(0, r, RowLabel(r));
}

QString TStringGrid::RowLabel(int row) const {
    return QString("%1").arg(labelBase_ + row - 1, 2, 16, QChar('0')).toUpper();
}

void TStringGrid::SetColWidths(std::initializer_list<int> widths) {
    int c = 0;
    int total = 2 * frameWidth() + verticalScrollBar()->sizeHint().width();
    for (int w : widths) {
        setColumnWidth(c++, w);
        total += w;
    }
    setMinimumWidth(total);
}

void TStringGrid::LabelRows(int first) {
    labelBase_ = first;
    for (int r = 1; r < RowCount(); ++r) SetCell(0, r, RowLabel(r));
}

void TStringGrid::MarkCell(int col, int row, const QColor& colour, const QString& why) {
    QTableWidgetItem* cell = row >= 1 && row < RowCount() ? item(row - 1, col) : nullptr;
    if (cell == nullptr) return;
    QBrush brush;  // none: the view's own background
    if (colour.isValid())
        brush = QBrush(colour);
    else if (col == 0)
        brush = palette().button();
    // Unchanged marks cost nothing: the grids are marked with every batch of measures.
    if (cell->background() != brush) cell->setBackground(brush);
    if (cell->toolTip() != why) cell->setToolTip(why);
}

}  // namespace wct
