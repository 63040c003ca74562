// SPDX-License-Identifier: Apache-2.0
#include "app/console_commands_panel.h"

#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <utility>

#include "app/bench_texts.h"
#include "app/panel_controls.h"
#include "app/panel_host.h"
#include "protocol/wireless_protocol.h"

namespace wct {

TConsoleCommandsPanel::TConsoleCommandsPanel(TPanelHost& host)
    : host_(host), tmp_(host.Protocol()) {
    txtIdTotalRolls = SpinEdit("txtIdTotalRolls", 0, 1000, 1);
    using P = TMiraWirelessProtocol;
    const std::pair<const char*, std::function<void()>> buttons[] = {
        {"Select", [this] { tmp_.SelectConsole(ForConsole()); }},
        {"Deselect", [this] { tmp_.DeselectConsole(ForConsole()); }},
        {"Roll Start", [this] { tmp_.StartRoll(ForConsole()); }},
        {"Roll Pause", [this] { tmp_.StopRoll(ForConsole()); }},
        {"Req Total Rolls", [this] { tmp_.RequestTotalRolls(ForConsole()); }},
        {"Reset Rolls", [this] { tmp_.ResetTotalRolls(ForConsole()); }},
        {"Disc. Cons. ID", [this] { tmp_.RemoveConsole(ForConsole()); }},
        {"Disc. All Cons", [this] { tmp_.RemoveConsole(255); }},
        {"Ask all Rolls",
         [this] {
             TPanelHost::TWaitNote note(host_, "the total rolls of every console");
             ForEachConnectedConsole([this](uint8_t id) { tmp_.RequestTotalRolls(id); });
         }},
        {"Start all rolls",
         [this] { ForEachConnectedConsole([this](uint8_t id) { tmp_.StartRoll(id); }); }},
        {"Trigger Clock",
         [this] {
             RunConsoleTest("Trigger Clock", &P::TriggerClock, "TriggerClock ok!",
                            "TriggerClock error!!");
         }},
        {"TestSignals",
         [this] {
             RunConsoleTest("TestSignals", &P::TestSignals, "TestSignals ok!",
                            "TestSignals error!!");
         }},
        {"TestKeys", [this] { RunConsoleTest("TestKeys", &P::TestKeys, "keys ok!", "keys error!!"); }},
        {"TestCardio",
         [this] { RunConsoleTest("TestCardio", &P::TestCardio, "cardio ok!", "cardio error!!"); }},
    };
    auto* commands = new QGridLayout;
    commands->addWidget(Label("For Console"), 0, 0);
    commands->addWidget(txtIdTotalRolls, 0, 1);
    int i = 0;
    for (const auto& [caption, handler] : buttons) {
        commands->addWidget(Button(host.Clicks(), this, caption, handler), 1 + i / 2, i % 2);
        ++i;
    }
    Fill(*this, "Console commands", commands);
}

uint8_t TConsoleCommandsPanel::ForConsole() const {
    return ConsoleOf(*txtIdTotalRolls);
}

void TConsoleCommandsPanel::ForEachConnectedConsole(
    const std::function<void(uint8_t id)>& request) {
    if (tmp_.NumberOfConsole() == 0) return;
    // By index, reading the table afresh each time: the requests wait, and handlers that
    // run meanwhile may grow or empty the table.
    for (size_t i = 1; i < tmp_.Consoles().size(); ++i)
        if (tmp_.Consoles()[i].Connected) request(tmp_.Consoles()[i].ID);
}

void TConsoleCommandsPanel::RunConsoleTest(const char* test,
                                           bool (TMiraWirelessProtocol::*run)(uint8_t),
                                           const char* ok, const char* error) {
    const uint8_t id = ConsoleOf(*txtIdTotalRolls);
    bool passed = false;
    {
        TPanelHost::TWaitNote note(host_, "console " + HexDigits(id, 2) + " to answer " + test);
        passed = (tmp_.*run)(id);
    }
    host_.ShowMessage(passed ? ok : error);
}

}  // namespace wct
