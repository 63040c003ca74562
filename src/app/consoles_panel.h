// SPDX-License-Identifier: Apache-2.0
// TConsolesPanel, "Consoles": the console grid (GridConsole), filled from the protocol's
// console table on "Update": version, serial, rolls, connected, used and firmware, a row a
// table entry.
#pragma once

#include <QGroupBox>

#include "app/panel_host.h"

namespace wct {

class TMiraWirelessProtocol;
class TStringGrid;

class TConsolesPanel : public QGroupBox {
public:
    explicit TConsolesPanel(TPanelHost& host);

private:
    void UpdateClick();

    TMiraWirelessProtocol& tmp_;
    TStringGrid* GridConsole = nullptr;
};

}  // namespace wct
