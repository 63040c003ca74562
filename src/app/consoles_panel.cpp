// SPDX-License-Identifier: Apache-2.0
#include "app/consoles_panel.h"

#include <QPushButton>
#include <QVBoxLayout>

#include "app/bench_texts.h"
#include "app/click_guard.h"
#include "app/panel_controls.h"
#include "app/panel_host.h"
#include "app/string_grid.h"
#include "protocol/wireless_protocol.h"

namespace wct {

TConsolesPanel::TConsolesPanel(TPanelHost& host) : tmp_(host.Protocol()) {
    GridConsole = Grid("GridConsole", {"", "Vers", "SN", "Rolls", "Connected", "Used", "Firmware"},
                       {34, 66, 66, 52, 74, 44, 62}, 20, 0);
    auto* consoles = new QVBoxLayout;
    consoles->addWidget(GridConsole);
    consoles->addWidget(host.Clicks().Button(this, "Update", &TConsolesPanel::UpdateClick), 0,
                        Qt::AlignRight);
    Fill(*this, "Consoles", consoles);
}

void TConsolesPanel::UpdateClick() {
    for (int row = 1; row < GridConsole->RowCount(); ++row) GridConsole->SetCell(1, row, "*");
    const TMiraConsolesInformation& table = tmp_.Consoles();
    for (size_t i = 0; i < table.size(); ++i) {
        const TConsoleTexts texts = ConsoleTexts(table[i]);
        const int row = static_cast<int>(i) + 1;
        GridConsole->SetCell(1, row, QString::fromStdString(texts.version));
        GridConsole->SetCell(2, row, QString::fromStdString(texts.serial));
        GridConsole->SetCell(3, row, QString::fromStdString(texts.rolls));
        GridConsole->SetCell(4, row, QString::fromStdString(texts.connected));
        GridConsole->SetCell(5, row, QString::fromStdString(texts.used));
        GridConsole->SetCell(6, row, QString::fromStdString(texts.firmware));
    }
}

}  // namespace wct
