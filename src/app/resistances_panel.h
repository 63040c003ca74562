// SPDX-License-Identifier: Apache-2.0
// TResistancesPanel, "Resistances": the resistance grid (GridResist), a hex level a console
// for the consoles 1 to 14, sent with each resistance period while "SendRes" runs; an
// empty cell sends nothing, a cell that cannot be sent becomes "err". "Max HR" is the
// brake interlock's bench-wide maximum; a console whose brake it holds at 0 has its label
// in red, as the frame clock finds it.
#pragma once

#include <QGroupBox>

#include "app/panel_host.h"

class QPushButton;

namespace wct {

class TMiraWirelessProtocol;
class TStringGrid;

class TResistancesPanel : public QGroupBox {
public:
    explicit TResistancesPanel(TPanelHost& host);

    // The protocol's OnBeforeSendResistance: the grid's levels to their consoles.
    void BeforeSendResistance();

private:
    void SendResClick();
    void MarkRows();

    TMiraWirelessProtocol& tmp_;
    TStringGrid* GridResist = nullptr;
    QPushButton* sendRes_ = nullptr;
};

}  // namespace wct
