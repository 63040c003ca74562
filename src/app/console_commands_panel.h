// SPDX-License-Identifier: Apache-2.0
// TConsoleCommandsPanel, "Console commands": the commands for the console "For Console"
// names (txtIdTotalRolls; its low eight bits), those for every connected console, and the
// console tests, which wait for the console's answer and then say how it went.
#pragma once

#include <QGroupBox>
#include <cstdint>
#include <functional>

#include "app/panel_host.h"

class QSpinBox;

namespace wct {

class TMiraWirelessProtocol;

class TConsoleCommandsPanel : public QGroupBox {
public:
    explicit TConsoleCommandsPanel(TPanelHost& host);

private:
    // A console test on "For Console": busy while it waits, then its ok or error message.
    void RunConsoleTest(const char* test, bool (TMiraWirelessProtocol::*run)(uint8_t),
                        const char* ok, const char* error);
    // Every connected console of the table from index 1, asked with `request`.
    // The console "For Console" names.
    uint8_t ForConsole() const;
    void ForEachConnectedConsole(const std::function<void(uint8_t id)>& request);

    TPanelHost& host_;
    TMiraWirelessProtocol& tmp_;
    QSpinBox* txtIdTotalRolls = nullptr;
};

}  // namespace wct
