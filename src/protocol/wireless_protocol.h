// SPDX-License-Identifier: Apache-2.0
// TMiraWirelessProtocol: the component through which the system talks to the wireless
// dongle and its consoles.
//
// It owns (or borrows) a serial port, a packet framer bound to it and a resistance
// timer; keeps the console table, the measures table and the resistance table; sends
// every command frame through one send path; decodes every reply into the tables; and
// raises events. Everything runs on the main thread. Operations that wait for an answer
// keep the main thread's event loop running, so replies, timer ticks and other handlers
// run nested inside them; that is how they learn their answers.
//
// While the dongle link is down (Connected false) every command is silently skipped.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "common/component.h"
#include "common/threaded_timer.h"
#include "protocol/console_tables.h"
#include "protocol/brake_interlock.h"
#include "protocol/debug_memo.h"
#include "protocol/link_statistics.h"
#include "protocol/wire_tap.h"
#include "serial/com_data_packet.h"
#include "serial/com_port.h"

namespace wct {

enum TMiraConnectionStatus {
    cnsDongleSearch,
    cnsDongleFound,
    cnsDongleNotFound,
    cnsConsoleSearch,
    cnsConsoleFound,
    cnsConsoleNotFound,
};

using TMiraProcedureEvent = std::function<void()>;
using TMiraNAck = std::function<void(uint8_t idConsole, uint8_t idCommand)>;
using TMiraMeasureRecievedEvent =
    std::function<void(const TMiraWirelessConsoleMeasures& val, uint8_t idConsole)>;
using TMiraIDProcedureEvent = std::function<void(int id)>;
using TMiraConnectionStatusEvet = std::function<void(
    int max, int position, TMiraConnectionStatus status, const std::string& port)>;

class TMiraProgressBar;

class TMiraWirelessProtocol : public TComponent {
public:
    explicit TMiraWirelessProtocol(TComponent* owner = nullptr);
    ~TMiraWirelessProtocol() override;
    std::string ClassName() const override { return "TMiraWirelessProtocol"; }
    void DefineProperties(TPropertyList& properties) override;

    // ---- Properties ----
    bool Connected() const { return connected_; }
    // The port in use: a borrowed one given here, or the one created on first need.
    TComPort* Port() const { return port_; }
    virtual void SetPort(TComPort* port);
    const std::string& PortDef() const { return portDef_; }
    void SetPortDef(const std::string& value) { portDef_ = value; }
    TDebugMemo* DebugMemo() const { return debugMemo_; }
    void SetDebugMemo(TDebugMemo* memo) { debugMemo_ = memo; }
    bool DebugTime() const { return debugTime_; }
    void SetDebugTime(bool value) { debugTime_ = value; }
    bool DebugNoData() const { return debugNoData_; }
    void SetDebugNoData(bool value) { debugNoData_ = value; }
    bool DisplayMessage() const { return displayMessage_; }
    void SetDisplayMessage(bool value) { displayMessage_ = value; }
    int NumberOfConsole() const { return numberOfConsole_; }
    uint32_t ResistanceInterval() const { return resistanceInterval_; }
    void SetResistanceInterval(uint32_t value);
    int DisconDelayBetweenCloseOpenPort() const { return disconDelay_; }
    void SetDisconDelayBetweenCloseOpenPort(int value) { disconDelay_ = value; }
    bool AutoConnection() const { return autoConnection_; }
    void SetAutoConnection(bool value) { autoConnection_ = value; }
    bool Opened() const { return opened_; }
    // The consoles were last told to measure (SetMeasure(true)) since the last Reset.
    bool Measuring() const { return measuring_; }
    int TimeToWaitAddNewConsole() const { return timeToWaitAddNewConsole_; }
    void SetTimeToWaitAddNewConsole(int value) { timeToWaitAddNewConsole_ = value; }
    int ReplyTimeOut() const { return replyTimeOut_; }
    void SetReplyTimeOut(int value) { replyTimeOut_ = value; }
    // How long the connection waits for the dongle's answer on each port it tries, ms
    // (200): it ends when the answer comes.
    int DongleReplyTimeOut() const { return dongleReplyTimeOut_; }
    void SetDongleReplyTimeOut(int value) { dongleReplyTimeOut_ = value; }
    const TMiraWirelessConsoleMeasures& LastMeasure() const { return lastMeasure_; }

    const TMiraConsolesInformation& Consoles() const { return consoles_; }
    const TMiraConsolesResistance& Resistances() const { return resistances_; }
    TMiraRollState RollState() const { return rollState_; }
    TQuilThreadTimer& ResistanceTimer() { return *resistanceTimer_; }

    // Every resistance frame's levels pass it (see SendResistances).
    TBrakeInterlock& BrakeInterlock() { return interlock_; }
    const TBrakeInterlock& BrakeInterlock() const { return interlock_; }

    // ---- Wire recording and link statistics ----
    // Sees every chunk read from the port and every frame written; none when null.
    TMiraWireTap* WireTap() const { return wireTap_; }
    void SetWireTap(TMiraWireTap* tap) { wireTap_ = tap; }
    // Kept since construction or the last Clear, across connections.
    TMiraLinkStatistics& LinkStatistics() { return statistics_; }
    TMiraLinkReport LinkReport() const;

    // ---- Events ----
    TMiraProcedureEvent OnConnection;
    TMiraNAck OnNAck;
    TMiraProcedureEvent OnAck;
    TMiraMeasureRecievedEvent OnMeasuresReceived;
    TMiraProcedureEvent OnDisconnection;
    TMiraIDProcedureEvent OnConsoleAdd;
    TMiraIDProcedureEvent OnConsoleRemove;
    TMiraProcedureEvent OnBeforeSendResistance;
    // A console that sent measures sends none for longer than its silence bound
    // (SilenceAfterMs), told once by WatchSilence; then its first measures again.
    TMiraIDProcedureEvent OnConsoleSilent;
    TMiraIDProcedureEvent OnConsoleBack;
    TMiraConnectionStatusEvet OnConnectionStatus;

    // ---- State and connection ----
    void Reset();
    bool ConnectDongle();
    bool FindDongle();
    void Disconnect();
    // Waits for a console that joined and is not yet handed out; 0 when none came.
    uint8_t FindConsole(int& version, int& serial);
    bool IsConsoleConnected(uint8_t id) const;
    // Its last measures are older than its silence bound: they are no longer the console's.
    bool IsConsoleSilent(uint8_t id) const;
    // Tells (trace, OnConsoleSilent) each console that fell silent since the last call.
    // Silence makes no event of its own: every measures frame calls this, and so should
    // whoever shows measures, on its own clock, for when nothing arrives at all.
    void WatchSilence();
    void OpenRegistration();
    void CloseRegistration();

    // ---- Send-and-forget commands ----
    void AskNumberOfConsole();
    void SetMeasure(bool start);
    void SelectConsole(uint8_t id);
    void DeselectConsole(uint8_t id);
    void RemoveConsole(uint8_t id);  // 255: all consoles
    void StartRoll(uint8_t id);
    void StopRoll(uint8_t id);
    void RequestSerial(uint8_t id);
    void RequestVersion(uint8_t id);
    void RequestFirmware(uint8_t id);
    void ResetTotalRolls(uint8_t id);

    // ---- Requests that wait for their answer ----
    // The console's total rolls, or -1 when no answer came within 350 ms.
    int32_t RequestTotalRolls(uint8_t id);
    bool TriggerClock(uint8_t id);
    bool TestSignals(uint8_t id);
    bool TestKeys(uint8_t id);
    bool TestCardio(uint8_t id);
    // Counts above kMaxDataCount are refused: false, nothing sent.
    bool WriteValue(uint8_t id, uint16_t address, uint8_t count, const uint8_t data[8]);
    bool ReadValue(uint8_t id, uint16_t address, uint8_t count);
    static constexpr uint8_t kMaxDataCount = 8;
    // Ends the requests and the console search waiting now, as unanswered (the operator
    // gave up on them); later requests wait as usual.
    void EndWaits() { ++waitsEnded_; }

    // ---- Resistances and rolls ----
    // kind 0: the value, 1: the auxiliary value, 2: both.
    void SetConsoleResistance(int console, uint8_t value, uint8_t kind, uint8_t auxiliary);
    // The levels stored, each through the brake interlock: 0 for a console in a cut.
    void SendResistances();
    void StartResistanceSending();
    void StopResistanceSending();
    void StartAllRolls();
    void StopAllRolls();
    void PauseAllRolls();
    // Highest console that a resistance frame can carry (its length is one byte).
    static constexpr int kMaxResistanceConsoles = 254;

    // ---- Frames and waits ----
    // The single send path: trace, purge the output queue, write without waiting.
    void SendFrame(const std::string& frame, const std::string& text);
    // The framer's packet handler: validates, decodes, traces, raises events.
    void PacketReceived(TComponent* sender, const std::string& packet);
    // Keeps the event loop running for `ms`, or until `done` holds after a pass.
    static void WaitWithMessages(uint32_t ms, const std::function<bool()>& done = {});
    static bool TimedOut(uint32_t start, uint32_t limit);
    // A time setting as a wait: a negative one is no wait at all, not 49 days.
    static uint32_t Milliseconds(int setting);

protected:
    void Notification(TComponent* component, TOperation operation) override;

private:
    bool CreateDefaultPort();
    // Takes the component's handlers and framer off the port in use.
    void DetachPort();
    // Puts the tap's link on the port in use, ahead of the framer.
    void AttachWireLink();
    // SetPort on the port in use; false, with the port closed, when it fails to reopen.
    bool RenamePort(const std::string& name);
    void PortOpened();
    void PortLost();
    void RecoverPort();
    void Trace(const std::string& text);
    // " ## text" after the time, or "## text" without it.
    void TraceFailure(const std::string& text);
    void TraceFrame(const char* direction, const std::string& frame, const std::string& text);
    void ReportStatus(TMiraProgressBar& bar, TMiraConnectionStatus status);
    void SendCommand(uint8_t code, uint8_t id, const std::string& text,
                     const std::string& payload = {});
    bool WaitForStatus(uint8_t id, uint8_t TMiraConsoleInfo::*status, uint8_t waiting,
                       uint8_t success, uint8_t code, const std::string& text,
                       const std::string& payload = {});
    void HaltRolls(TMiraRollState newState);
    std::string DecodeReply(const std::string& packet);

    bool connected_ = false;
    bool autoConnection_ = false;
    int disconDelay_ = 300;
    int timeToWaitAddNewConsole_ = 15000;
    TComPort* port_ = nullptr;
    bool ownsPort_ = false;
    std::string portDef_;
    TComDataPacket* framer_;
    PAsync asyncRecord_ = nullptr;
    TDebugMemo* debugMemo_ = nullptr;
    bool debugTime_ = false;
    bool debugNoData_ = false;
    TQuilThreadTimer* resistanceTimer_;
    uint32_t resistanceInterval_ = 1000;
    bool opened_ = false;
    bool measuring_ = false;
    TMiraRollState rollState_ = rsStopped;
    bool displayMessage_ = false;
    int replyTimeOut_ = 15000;
    int dongleReplyTimeOut_ = 200;
    TMiraWirelessConsoleMeasures lastMeasure_;
    TMiraConsolesResistance resistances_;
    int numberOfConsole_ = 0;
    TMiraConsolesInformation consoles_;
    TMiraWireTap* wireTap_ = nullptr;
    TComLink wireLink_;
    TCustomComPort* wireLinkPort_ = nullptr;
    TMiraLinkStatistics statistics_;
    TBrakeInterlock interlock_;
    unsigned waitsEnded_ = 0;  // counts EndWaits; a wait ends when it changes
    unsigned nacksSeen_ = 0;   // counts NACKs; a wait for an answer ends when it changes
    bool recovering_ = false;  // a write failure inside the recovery does not recover again
};

}  // namespace wct
