// TAveragesPanel, "Averages": the moving averages of console 0's roll speed (Memo3) and of
// the table's first heart rate (Memo4), 5 samples each, drawn with the frame clock. It
// also keeps the hidden "Data single console" group: console 0's figures, and the two
// average lengths.
#pragma once

#include <QGroupBox>
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
    // The hidden "Data single console" group, for the window to keep out of sight.
    QGroupBox& SingleConsole() { return *singleConsole_; }

private:
    void Draw();

    TFrameClock& frames_;
    TMiraAverage speedAverage_;
    TMiraAverage hrAverage_;
    TMiraWirelessConsoleMeasures measuresShown_;
    bool toDraw_ = false;
    QPlainTextEdit* Memo3 = nullptr;
    QPlainTextEdit* Memo4 = nullptr;
    QGroupBox* singleConsole_ = nullptr;
    QLabel* speedLabel_ = nullptr;
    QLabel* hrLabel_ = nullptr;
    QLabel* hrAverageLabel_ = nullptr;
    QLabel* cadenceLabel_ = nullptr;
    QLabel* keysLabel_ = nullptr;
    QLabel* kmhLabel_ = nullptr;
};

}  // namespace wct
