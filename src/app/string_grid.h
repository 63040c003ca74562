// SPDX-License-Identifier: Apache-2.0
// A grid addressed the way the bench's grids are: Cell(col, row), row 0 being the header
// row and column 0 the row labels. The header row is the table's own header, so it stays
// in view while the rows scroll; column 0 is drawn like a header and cannot be edited.
#pragma once

#include <QColor>
#include <QTableWidget>
#include <initializer_list>

namespace wct {

class TStringGrid : public QTableWidget {
public:
    // `rowCount` counts the header row, as Cell's rows do.
    TStringGrid(int colCount, int rowCount, QWidget* parent = nullptr);

    QString Cell(int col, int row) const;
    // Rows past the end are added first.
    void SetCell(int col, int row, const QString& text);
    // Rows including the header row.
    int RowCount() const { return rowCount() + 1; }
    void SetRowCount(int rows);
    // Column widths in pixels; the grid asks for just the room they need.
    void SetColWidths(std::initializer_list<int> widths);
    // Labels rows 1.. with `first` + (row - 1) as two hex digits ("00", "01" ...).
    void LabelRows(int first);
    // Tints the cell in `colour` (an invalid colour: as the other cells of its column) and
    // tells `why` on hovering; cells that do not exist yet are left alone.
    void MarkCell(int col, int row, const QColor& colour, const QString& why);
    // The same on the row's label cell.
    void MarkRow(int row, const QColor& colour, const QString& why) {
        MarkCell(0, row, colour, why);
    }

private:
    QString RowLabel(int row) const;

    int labelBase_ = -1;  // LabelRows' `first`, for rows added later
};

}  // namespace wct
