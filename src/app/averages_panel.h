// SPDX-License-Identifier: Apache-2.0
// TAveragesPanel, "Averages": the moving averages of console 0's roll speed (Memo3) and of
// the table's first heart rate (Memo4), 5 samples each, drawn with the frame clock. It
// also keeps the "Data single console" group, never shown: console 0's figures, and the
// two average lengths.
#pragma once

#include <QGroupBox>
#include <array>
#include <cstdint>

#include "protocol/console_tables.h"
#include "protocol/mira_average.h"

class QLabel;
class QPlainTextEdit;

namespace wct {

class TFrameClock;

class TAveragesPanel : public QGroupBox {
public:
    explicit TAveragesPanel(TFrameClock& frames);

    // A measures frame from console `id`: its samples now, its figures with the next frame.
    void Add(const TMiraWirelessConsoleMeasures& val, uint8_t id);

private:
    void Draw();

    TFrameClock& frames_;
    TMiraAverage speedAverage_;
    TMiraAverage hrAverage_;
    TMiraWirelessConsoleMeasures measuresShown_;
    bool toDraw_ = false;
    QPlainTextEdit* Memo3 = nullptr;
    QPlainTextEdit* Memo4 = nullptr;
    // Console 0's rpm, heart rate, cadence and keys; the km/h and heart rate averages.
    std::array<QLabel*, 6> figures_{};
};

}  // namespace wct
