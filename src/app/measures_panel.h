// SPDX-License-Identifier: Apache-2.0
// TMeasuresPanel, "Measures": the measures grid (GridDati), a row a console, its newest
// measures drawn with the frame clock. A console fallen silent has its values blanked and
// its label greyed until it sends again; a console whose brake the interlock holds at 0
// has its label in red, which goes before its silence: the held brake is what keeps its
// rider safe, and the operator must see that first.
#pragma once

#include <QGroupBox>
#include <cstdint>
#include <vector>

#include "protocol/console_tables.h"

namespace wct {

class TFrameClock;
class TMiraWirelessProtocol;
class TStringGrid;

class TMeasuresPanel : public QGroupBox {
public:
    TMeasuresPanel(TMiraWirelessProtocol& protocol, TFrameClock& frames);

    // Console `id`'s row of `val` is drawn with the next frame.
    void Show(const TMiraWirelessConsoleMeasures& val, uint8_t id);
    // The console's row is drawn blank with the next frame.
    void ConsoleSilent(int id);

private:
    void RowToShow(size_t id);
    // The measures that came since the last frame.
    void Draw();
    // The label cells of consoles whose brake is held and of silent ones.
    void MarkRows();

    TMiraWirelessProtocol& tmp_;
    TFrameClock& frames_;
    TStringGrid* GridDati = nullptr;
    // The live table, and the consoles with measures not drawn yet.
    TMiraWirelessConsoleMeasures measuresShown_;
    std::vector<bool> rowsToShow_;
};

}  // namespace wct
