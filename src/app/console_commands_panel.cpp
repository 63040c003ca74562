#include "app/console_commands_panel.h"

#include <QLabel>
#include <QGridLayout>
#include <QPushButton>
#include <QSpinBox>
#include <utility>

#include "app/bench_texts.h"
#include "app/click_guard.h"
#include "app/panel_controls.h"
#include "app/panel_host.h"
#include "protocol/wireless_protocol.h"

namespace wct {

TConsoleCommandsPanel::TConsoleCommandsPanel(TPanelHost& host)
    : host_(host), tmp_(host.Protocol()) {
    txtIdTotalRolls = SpinEdit("txtIdTotalRolls", 0, 1000, 1);
    auto* commands = new QGridLayout;
    commands->addWidget(Label("For Console"), 0, 0);
    commands->addWidget(txtIdTotalRolls, 0, 1);
    using Panel = TConsoleCommandsPanel;
    const std::pair<const char*, void (Panel::*)()> buttons[] = {
        {"Select", &Panel::SelectClick},
        {"Deselect", &Panel::DeselectClick},
        {"Roll Start", &Panel::RollStartClick},
        {"Roll Pause", &Panel::RollPauseClick},
        {"Req Total Rolls", &Panel::ReqTotalRollsClick},
        {"Reset Rolls", &Panel::ResetRollsClick},
        {"Disc. Cons. ID", &Panel::DiscConsIdClick},
        {"Disc. All Cons", &Panel::DiscAllConsClick},
        {"Ask all Rolls", &Panel::AskAllRollsClick},
        {"Start all rolls", &Panel::StartAllRollsClick},
        {"Trigger Clock", &Panel::TriggerClockClick},
        {"TestSignals", &Panel::TestSignalsClick},
        {"TestKeys", &Panel::TestKeysClick},
        {"TestCardio", &Panel::TestCardioClick},
    };
    int i = 0;
    for (const auto& [caption, handler] : buttons) {
        commands->addWidget(host.Clicks().Button(this, caption, handler), 1 + i / 2, i % 2);
        ++i;
    }
    Fill(*this, "Console commands", commands);
}

uint8_t TConsoleCommandsPanel::ForConsole() const {
    return ConsoleOf(*txtIdTotalRolls);
}

void TConsoleCommandsPanel::SelectClick() {
    tmp_.SelectConsole(ForConsole());
}

void TConsoleCommandsPanel::DeselectClick() {
    tmp_.DeselectConsole(ForConsole());
}

void TConsoleCommandsPanel::RollStartClick() {
    tmp_.StartRoll(ForConsole());
}

void TConsoleCommandsPanel::RollPauseClick() {
    tmp_.StopRoll(ForConsole());
}

void TConsoleCommandsPanel::ReqTotalRollsClick() {
    tmp_.RequestTotalRolls(ForConsole());
}

void TConsoleCommandsPanel::ResetRollsClick() {
    tmp_.ResetTotalRolls(ForConsole());
}

void TConsoleCommandsPanel::DiscConsIdClick() {
    tmp_.RemoveConsole(ForConsole());
}

void TConsoleCommandsPanel::DiscAllConsClick() {
    tmp_.RemoveConsole(255);
}

void TConsoleCommandsPanel::ForEachConnectedConsole(
    const std::function<void(uint8_t id)>& request) {
    if (tmp_.NumberOfConsole() == 0) return;
    // By index, reading the table afresh each time: the requests wait, and handlers that
    // run meanwhile may grow or empty the table.
    for (size_t i = 1; i < tmp_.Consoles().size(); ++i)
        if (tmp_.Consoles()[i].Connected) request(tmp_.Consoles()[i].ID);
}

void TConsoleCommandsPanel::AskAllRollsClick() {
    TPanelHost::TWaitNote note(host_, "the total rolls of every console");
    ForEachConnectedConsole([this](uint8_t id) { tmp_.RequestTotalRolls(id); });
}

void TConsoleCommandsPanel::StartAllRollsClick() {
    ForEachConnectedConsole([this](uint8_t id) { tmp_.StartRoll(id); });
}

void TConsoleCommandsPanel::RunConsoleTest(const char* test,
                                           bool (TMiraWirelessProtocol::*run)(uint8_t),
                                           const char* ok, const char* error) {
    const uint8_t id = ForConsole();
    bool passed = false;
    {
        TPanelHost::TWaitNote note(host_, "console " + HexDigits(id, 2) + " to answer " + test);
        passed = (tmp_.*run)(id);
    }
    host_.ShowMessage(passed ? ok : error);
}

void TConsoleCommandsPanel::TriggerClockClick() {
    RunConsoleTest("Trigger Clock", &TMiraWirelessProtocol::TriggerClock, "TriggerClock ok!",
                   "TriggerClock error!!");
}

void TConsoleCommandsPanel::TestSignalsClick() {
    RunConsoleTest("TestSignals", &TMiraWirelessProtocol::TestSignals, "TestSignals ok!",
                   "TestSignals error!!");
}

void TConsoleCommandsPanel::TestKeysClick() {
    RunConsoleTest("TestKeys", &TMiraWirelessProtocol::TestKeys, "keys ok!", "keys error!!");
}

void TConsoleCommandsPanel::TestCardioClick() {
    RunConsoleTest("TestCardio", &TMiraWirelessProtocol::TestCardio, "cardio ok!",
                   "cardio error!!");
}

}  // namespace wct
