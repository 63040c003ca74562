// SPDX-License-Identifier: Apache-2.0
// Console commands, the waiting requests, resistance sending and roll control.
#include <algorithm>

#include "common/main_thread.h"
#include "common/tick_count.h"
#include "protocol/wireless_frame.h"
#include "protocol/wireless_protocol.h"

namespace wct {
namespace {

std::string Bytes(std::initializer_list<uint8_t> bytes) {
    std::string s;
    for (uint8_t b : bytes) s += static_cast<char>(b);
    return s;
}

std::string Id(uint8_t id) {
    return std::to_string(id);
}

}  // namespace

void TMiraWirelessProtocol::SendCommand(uint8_t code, uint8_t id, const std::string& text,
                                        const std::string& payload) {
    SendFrame(BuildFrame(code, id, payload), text);
}

void TMiraWirelessProtocol::AskNumberOfConsole() {
    SendCommand(mcNumberOfConsoles, 0, " Ask Number of Console");
}

void TMiraWirelessProtocol::SetMeasure(bool start) {
    SendCommand(mcMeasure, 0, start ? " Start Measure" : " Stop Measure",
                Bytes({static_cast<uint8_t>(start ? 1 : 0)}));
    measuring_ = start;
}

void TMiraWirelessProtocol::SelectConsole(uint8_t id) {
    SendCommand(mcSelectConsole, id, " Select Console ID=" + Id(id));
}

void TMiraWirelessProtocol::DeselectConsole(uint8_t id) {
    SendCommand(mcDeselectConsole, id, " Deselect Console ID=" + Id(id));
}

void TMiraWirelessProtocol::RemoveConsole(uint8_t id) {
    SendCommand(mcRemoveConsole, id,
                id == kAllConsoles ? "  Remove All Console" : "  Remove Console ID=" + Id(id));
}

void TMiraWirelessProtocol::StartRoll(uint8_t id) {
    SendCommand(mcRoll, id, " Start Roll ID=" + Id(id), Bytes({1}));
}

void TMiraWirelessProtocol::StopRoll(uint8_t id) {
    SendCommand(mcRoll, id, " Stop Roll ID=" + Id(id), Bytes({0}));
}

void TMiraWirelessProtocol::RequestSerial(uint8_t id) {
    SendCommand(mcSerialNumber, id, " Serial Req Console " + Id(id));
}

void TMiraWirelessProtocol::RequestVersion(uint8_t id) {
    SendCommand(mcVersion, id, " Version Req Console " + Id(id));
}

void TMiraWirelessProtocol::RequestFirmware(uint8_t id) {
    SendCommand(mcFirmware, id, " Req. Ver SW (firmware) ID=" + Id(id));
}

void TMiraWirelessProtocol::ResetTotalRolls(uint8_t id) {
    SendCommand(mcResetTotalRolls, id, " Reset Total Rol ID Console=" + Id(id));
}

int32_t TMiraWirelessProtocol::RequestTotalRolls(uint8_t id) {
    SetConsoleField(consoles_, id, TMiraConsoleField::TotalRolls, -1);
    const uint32_t sent = GetTickCount();
    const unsigned nacks = nacksSeen_;
    SendCommand(mcTotalRolls, id, " Request Total Rol ID Console=" + Id(id));
    WaitWithMessages(350);
    // 350 ms is a console's usual answer time; a PC that reads late still takes an answer
    // that came within the reply time-out. A Disconnect during a wait empties the table.
    const auto over = [&] {
        return id >= consoles_.size() || consoles_[id].TotalRolls >= 0 || !connected_ ||
               nacksSeen_ != nacks;
    };
    const uint32_t reply = std::max<uint32_t>(Milliseconds(replyTimeOut_), 350);
    if (!over()) WaitWithMessages(reply - std::min(reply, GetTickCount() - sent), over);
    return id < consoles_.size() ? consoles_[id].TotalRolls : -1;
}

bool TMiraWirelessProtocol::WaitForStatus(uint8_t id, uint8_t TMiraConsoleInfo::*status,
                                          uint8_t waiting, uint8_t success, uint8_t code,
                                          const std::string& text, const std::string& payload) {
    if (!connected_) return false;
    // The answer can only be recorded in an entry of the table; asking a console that
    // never joined grows it like any other request for that console does.
    if (id >= consoles_.size()) consoles_.resize(size_t{id} + 1);
    consoles_[id].*status = waiting;
    SendCommand(code, id, text, payload);
    const uint32_t start = GetTickCount();
    const uint32_t limit = Milliseconds(replyTimeOut_);
    const unsigned ended = waitsEnded_;
    for (;;) {
        // A Disconnect run by a handler inside the wait empties the table: failed.
        if (!connected_ || id >= consoles_.size()) return false;
        if (consoles_[id].*status != waiting) break;
        if (waitsEnded_ != ended) {
            consoles_[id].*status = 2;
            break;
        }
        const uint32_t elapsed = GetTickCount() - start;
        if (TimedOut(start, limit)) {
            consoles_[id].*status = 2;
            statistics_.RequestTimedOut(code, id);
            break;
        }
        // Any hand-off (the answer, most likely) ends the wait early.
        MainThread().ProcessMessagesFor(limit - elapsed + 1);
    }
    return consoles_[id].*status == success;
}

bool TMiraWirelessProtocol::TriggerClock(uint8_t id) {
    return WaitForStatus(id, &TMiraConsoleInfo::ClockTriggerStatus, 0, 1, mcTriggerClock,
                         " Trigger Clock ID_Console= " + Id(id));
}

bool TMiraWirelessProtocol::TestSignals(uint8_t id) {
    return WaitForStatus(id, &TMiraConsoleInfo::SignalsTestStatus, 0, 1, mcTestSignals,
                         " Test Signals ID_Console=" + Id(id));
}

bool TMiraWirelessProtocol::TestKeys(uint8_t id) {
    return WaitForStatus(id, &TMiraConsoleInfo::KeysTestStatus, 0, 1, mcTestKeys,
                         " Test Keys ID_Console=" + Id(id));
}

bool TMiraWirelessProtocol::TestCardio(uint8_t id) {
    return WaitForStatus(id, &TMiraConsoleInfo::CardioTestStatus, 0, 1, mcTestCardio,
                         " Test Cardio ID_Console=" + Id(id));
}

bool TMiraWirelessProtocol::WriteValue(uint8_t id, uint16_t address, uint8_t count,
                                       const uint8_t data[8]) {
    if (count > kMaxDataCount) {
        Trace("## Write value refused: " + std::to_string(count) + " bytes asked, at most 8");
        return false;
    }
    std::string payload =
        Bytes({static_cast<uint8_t>(address >> 8), static_cast<uint8_t>(address & 0xFF), count});
    payload.append(reinterpret_cast<const char*>(data), count);
    return WaitForStatus(id, &TMiraConsoleInfo::WriteStatus, 4, 5, mcWriteValue,
                         " Write value ID_Console=" + Id(id), payload);
}

bool TMiraWirelessProtocol::ReadValue(uint8_t id, uint16_t address, uint8_t count) {
    if (count > kMaxDataCount) {
        Trace("## Read value refused: " + std::to_string(count) + " bytes asked, at most 8");
        return false;
    }
    return WaitForStatus(
        id, &TMiraConsoleInfo::ReadStatus, 0, 1, mcReadValue, " Read value ID_Console=" + Id(id),
        Bytes({static_cast<uint8_t>(address >> 8), static_cast<uint8_t>(address & 0xFF), count}));
}

// ---- Resistances ---------------------------------------------------------------------

void TMiraWirelessProtocol::SetConsoleResistance(int console, uint8_t value, uint8_t kind,
                                                 uint8_t auxiliary) {
    if (console == 0) return;
    if (numberOfConsole_ <= 0) {
        resistances_.clear();
        return;
    }
    if (console < 0 || console > kMaxResistanceConsoles) {
        // The frame's one-byte length carries at most 254 consoles.
        Trace("## Resistance for console " + std::to_string(console) +
              " refused: consoles go from 1 to " + std::to_string(kMaxResistanceConsoles));
        return;
    }
    if (resistances_.size() < static_cast<size_t>(console))
        resistances_.resize(static_cast<size_t>(console));
    TMiraConsoleResistance& entry = resistances_[static_cast<size_t>(console - 1)];
    if (kind == 0 || kind == 2) entry.Resistance = value;
    if (kind == 1 || kind == 2) entry.Auxiliary = auxiliary;
}

void TMiraWirelessProtocol::SendResistances() {
    if (OnBeforeSendResistance) OnBeforeSendResistance();
    if (resistances_.empty() || !connected_) return;
    std::string payload(1, '\0');
    const size_t k = resistances_.size();
    for (size_t i = 0; i < k; ++i) {
        const auto console = static_cast<uint8_t>(i + 1);
        payload += static_cast<char>(interlock_.Gate(console, resistances_[i].Resistance));
    }
    SendCommand(mcResistances, 0, " Send resistance/s for " + std::to_string(k) + "console/s",
                payload);
}

void TMiraWirelessProtocol::StartResistanceSending() {
    resistanceTimer_->SetEnabled(true);
}

void TMiraWirelessProtocol::StopResistanceSending() {
    resistanceTimer_->SetEnabled(false);
}

// ---- Roll control --------------------------------------------------------------------

void TMiraWirelessProtocol::StartAllRolls() {
    SetResistanceInterval(resistanceInterval_);
    if (rollState_ == rsStarted) return;
    if (rollState_ == rsPaused) {
        rollState_ = rsStarted;
        return;
    }
    SetMeasure(true);
    WaitWithMessages(500);
    // By index: the waits run handlers that may grow the table.
    for (size_t i = 1; i < lastMeasure_->size(); ++i) {
        TMiraConsoleMeasure& m = (*lastMeasure_)[i];
        m.Revolutions = 0;
        if (m.ConsoleID != 0 && IsConsoleConnected(m.ConsoleID)) {
            ResetTotalRolls(m.ConsoleID);
            WaitWithMessages(300);
        }
    }
    CloseRegistration();
    WaitWithMessages(300);
    resistanceTimer_->SetInterval(resistanceInterval_);
    StartResistanceSending();
    rollState_ = rsStarted;
}

void TMiraWirelessProtocol::HaltRolls(TMiraRollState newState) {
    for (size_t i = 1; i < lastMeasure_->size(); ++i) {
        const uint8_t console = (*lastMeasure_)[i].ConsoleID;
        if (console != 0 && IsConsoleConnected(console)) {
            StopRoll(console);
            WaitWithMessages(300);
        }
    }
    rollState_ = newState;
}

void TMiraWirelessProtocol::StopAllRolls() {
    if (rollState_ == rsStopped) return;
    HaltRolls(rsStopped);
}

void TMiraWirelessProtocol::PauseAllRolls() {
    if (rollState_ == rsStopped || rollState_ == rsPaused) return;
    HaltRolls(rsPaused);
}

}  // namespace wct
