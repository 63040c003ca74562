// SPDX-License-Identifier: Apache-2.0
#include "app/resistances_panel.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include "app/click_guard.h"
#include "app/field_checks.h"
#include "app/frame_clock.h"
#include "app/panel_controls.h"
#include "app/panel_host.h"
#include "app/string_grid.h"
#include "common/heart_cut.h"
#include "protocol/wireless_protocol.h"

namespace wct {

TResistancesPanel::TResistancesPanel(TPanelHost& host) : tmp_(host.Protocol()) {
    // Wide enough for its "Cons" header.
    GridResist = Grid("GridResist", {"Cons", "Res"}, {36, 50}, 15, 1);
    GridResist->setEditTriggers(QAbstractItemView::DoubleClicked |
                                QAbstractItemView::EditKeyPressed |
                                QAbstractItemView::AnyKeyPressed);
    auto* caption = Label("Valore  di resistenza in Hex. Vuoto non invia");
    caption->setWordWrap(true);
    sendRes_ = host.Clicks().Button(this, "SendRes", &TResistancesPanel::SendResClick);
    // Consoles no rider device guards get no brake above this heart rate.
    QSpinBox* maxHr = SpinEdit("MaxHr", THeartCut::kSignalFloor, 255, THeartCut::kDefaultMaximum);
    maxHr->setSuffix(" bpm");
    maxHr->setToolTip("Above this heart rate a console's brake is held at 0");
    connect(maxHr, &QSpinBox::valueChanged, this,
            [this](int bpm) { tmp_.BrakeInterlock().SetBenchMaximum(bpm); });
    auto* maxHrRow = new QHBoxLayout;
    maxHrRow->addWidget(Label("Max HR"));
    maxHrRow->addWidget(maxHr, 1);
    auto* resistances = new QVBoxLayout;
    resistances->addWidget(caption);
    resistances->addWidget(GridResist, 1);
    resistances->addLayout(maxHrRow);
    resistances->addWidget(sendRes_);
    Fill(*this, "Resistances", resistances);
    setMaximumWidth(150);
    host.Frames().Follow(this, [this] { MarkRows(); });
}

void TResistancesPanel::SendResClick() {
    if (sendRes_->text() == "SendRes") {
        tmp_.StartResistanceSending();
        sendRes_->setText("StopRes");
    } else {
        tmp_.StopResistanceSending();
        sendRes_->setText("SendRes");
    }
}

void TResistancesPanel::BeforeSendResistance() {
    for (int row = 1; row <= 14; ++row) {
        const std::string cell = GridResist->Cell(1, row).trimmed().toStdString();
        if (cell.empty()) continue;
        // Anything but one byte in hex would reach the console as some other level.
        const std::optional<uint8_t> level = ResistanceCell(cell);
        if (!level) {
            GridResist->SetCell(1, row, "err");
            continue;
        }
        try {
            tmp_.SetConsoleResistance(row, *level, 0, 0);
        } catch (const std::exception&) {
            GridResist->SetCell(1, row, "err");
        }
    }
    MarkRows();
}

void TResistancesPanel::MarkRows() {
    for (int row = 1; row < GridResist->RowCount(); ++row)
        if (!MarkIfHeld(*GridResist, row, tmp_.BrakeInterlock(), row))
            GridResist->MarkRow(row, QColor(), QString());
}

}  // namespace wct
