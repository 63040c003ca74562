// SPDX-License-Identifier: Apache-2.0
// The tables of the production check window and its history: one row a step or a
// record, read whole, the outcome's cell coloured by the outcome.
#pragma once

#include <QString>
#include <QStringList>
#include <string>

#include "check/check_record.h"

class QTableWidget;

namespace wct {

QTableWidget* CheckTable(const char* name, const QStringList& captions);
// Appends a row of `cells`; the cell at `outcomeColumn` is coloured by `outcome`.
void AddCheckRow(QTableWidget& table, const QStringList& cells, int outcomeColumn,
                 check::TOutcome outcome);
// The record's serial, "-" when it has none.
QString SerialText(const check::TCheckRecord& record);

inline QString Q(const std::string& text) {
    return QString::fromStdString(text);
}

}  // namespace wct
