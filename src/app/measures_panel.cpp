// SPDX-License-Identifier: Apache-2.0
#include "app/measures_panel.h"

#include <QVBoxLayout>
#include <algorithm>
#include <string>

#include "app/bench_texts.h"
#include "app/frame_clock.h"
#include "app/panel_controls.h"
#include "app/string_grid.h"
#include "protocol/wireless_protocol.h"

namespace wct {

TMeasuresPanel::TMeasuresPanel(TMiraWirelessProtocol& protocol, TFrameClock& frames)
    : tmp_(protocol), frames_(frames) {
    GridDati = Grid("GridDati", {"Console", "RPM", "Speed", "Hr", "Avg Hr", "Cadence", "Keys"},
                    {58, 50, 52, 40, 54, 60, 40}, 20, 0);
    auto* measures = new QVBoxLayout;
    measures->addWidget(GridDati);
    Fill(*this, "Measures", measures);
    frames_.Follow(this, [this] { Draw(); });
}

void TMeasuresPanel::Show(const TMiraWirelessConsoleMeasures& val, uint8_t id) {
    measuresShown_ = val;
    RowToShow(id);
}

void TMeasuresPanel::ConsoleSilent(int id) {
    measuresShown_ = tmp_.LastMeasure();
    RowToShow(static_cast<size_t>(id));
}

void TMeasuresPanel::RowToShow(size_t id) {
    if (rowsToShow_.size() <= id) rowsToShow_.resize(id + 1);
    rowsToShow_[id] = true;
    frames_.Request();
}

void TMeasuresPanel::Draw() {
    // Nothing new since the last frame.
    if (std::find(rowsToShow_.begin(), rowsToShow_.end(), true) == rowsToShow_.end()) return;
    const std::vector<TMiraConsoleMeasure>& table = *measuresShown_;
    for (size_t id = 0; id < rowsToShow_.size(); ++id) {
        if (!rowsToShow_[id]) continue;
        rowsToShow_[id] = false;
        // A reset may have emptied the table under rows still to be drawn.
        if (id >= table.size()) continue;
        // Consoles past the designed rows get rows of their own rather than vanish.
        const int row = static_cast<int>(id) + 1;
        // A silent console's last values are no longer its own: blank until it sends.
        const TMeasureTexts texts = table[id].Silent ? TMeasureTexts{} : MeasureTexts(table[id]);
        GridDati->SetCell(1, row, QString::fromStdString(texts.rpm));
        GridDati->SetCell(2, row, QString::fromStdString(texts.speed));
        GridDati->SetCell(3, row, QString::fromStdString(texts.heartRate));
        GridDati->SetCell(5, row, QString::fromStdString(texts.cadence));
        GridDati->SetCell(6, row, QString::fromStdString(texts.keys));
    }
    if (!table.empty()) MarkRows();
}

void TMeasuresPanel::MarkRows() {
    const TBrakeInterlock& interlock = tmp_.BrakeInterlock();
    const std::vector<TMiraConsoleMeasure>& table = *tmp_.LastMeasure();
    for (int row = 1; row < GridDati->RowCount(); ++row) {
        const auto id = static_cast<size_t>(row - 1);
        if (MarkIfHeld(*GridDati, row, interlock, row - 1)) continue;
        if (id < table.size() && table[id].Silent)
            GridDati->MarkRow(row, QColor(150, 150, 150),
                              QString::fromStdString(
                                  "Console " + HexDigits(static_cast<long long>(id), 2) +
                                  " silent: no measures for " +
                                  std::to_string(SilenceAfterMs(table[id])) + " ms"));
        else
            GridDati->MarkRow(row, QColor(), QString());
    }
}

}  // namespace wct
