// TConsolesPanel, "Consoles": the console grid (GridConsole), filled from the protocol's
// console table on "Update": version, serial, rolls, connected, used and firmware, a row a
// table entry.
#pragma once

#include <QGroupBox>

namespace wct {

class TMiraWirelessProtocol;
class TPanelHost;
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
