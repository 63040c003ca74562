// SPDX-License-Identifier: Apache-2.0
#include "app/check_tables.h"

#include <QHeaderView>
#include <QTableWidget>

namespace wct {
namespace {

QColor OutcomeColour(check::TOutcome outcome) {
    switch (outcome) {
        case check::TOutcome::Pass:
            return QColor(0xc8, 0xf0, 0xc8);
        case check::TOutcome::Fail:
            return QColor(0xf4, 0xb8, 0xb8);
        case check::TOutcome::Error:
            break;
    }
    return QColor(0xf8, 0xdc, 0xa0);
}

}  // namespace

QTableWidget* CheckTable(const char* name, const QStringList& captions) {
    auto* table = new QTableWidget(0, static_cast<int>(captions.size()));
    table->setObjectName(name);
    table->setHorizontalHeaderLabels(captions);
    table->verticalHeader()->hide();
    table->verticalHeader()->setDefaultSectionSize(table->fontMetrics().height() + 6);
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    // Steps and records are few and short: every cell is read whole.
    table->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    table->horizontalHeader()->setStretchLastSection(true);
    return table;
}

void AddCheckRow(QTableWidget& table, const QStringList& cells, int outcomeColumn,
                 check::TOutcome outcome) {
    const int row = table.rowCount();
    table.insertRow(row);
    for (int c = 0; c < cells.size(); ++c) {
        auto* item = new QTableWidgetItem(cells[c]);
        // A long message is cut at the window's edge: the whole of it on hovering.
        item->setToolTip(cells[c]);
        if (c == outcomeColumn) item->setBackground(OutcomeColour(outcome));
        table.setItem(row, c, item);
    }
}

QString SerialText(const check::TCheckRecord& r) {
    return r.serial ? QString::number(*r.serial) : QString("-");
}

}  // namespace wct
