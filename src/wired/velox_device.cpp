// SPDX-License-Identifier: Apache-2.0
// Construction, stored form, framing, connection, survey and repair, the ride state
// machine and the console keys.
#include "wired/velox_device.h"

#include <array>
#include <cmath>
#include <stdexcept>

#include "common/application_messages.h"
#include "common/delay_with_messages.h"
#include "common/hex.h"
#include "common/tick_count.h"
#include "wired/velox_frame.h"

namespace wct::wired {
namespace {

// Shared by all instances: a key is handled by one device at a time, and the repeat
// window of the ckE message counts from the last key fired by any of them.
bool keyBusy = false;
uint32_t lastKeyFireTick = 0;

constexpr std::array<const char*, 2> kUnitNames = {"umKm", "umMiles"};
constexpr int32_t kMaxReceivedMessages = 2147483;
// Long-frame trainers stop measuring after a few seconds without a word from the PC.
constexpr int32_t kKeepAliveMs = 1000;

const std::string kStartString(1, static_cast<char>(kFrameStart));
const std::string kStopString(1, static_cast<char>(kFrameStop));

// Restores a timer's tick handler when a scope ends, however it ends.
class TDetachedTick {
public:
    explicit TDetachedTick(TThreadedTimer& timer) : timer_(timer), handler_(timer.OnTimer) {
        timer_.OnTimer = nullptr;
    }
    ~TDetachedTick() { timer_.OnTimer = handler_; }
    TDetachedTick(const TDetachedTick&) = delete;
    TDetachedTick& operator=(const TDetachedTick&) = delete;

private:
    TThreadedTimer& timer_;
    TNotifyEvent handler_;
};

}  // namespace

TVeloxDevice::TVeloxDevice(TComponent* owner) : TComponent(owner) {
    keyTimer_ = new TQuilThreadTimer(this);
    keyTimer_->SetInterval(500);
    heartTimer_ = new TQuilThreadTimer(this);
    heartTimer_->SetInterval(static_cast<uint32_t>(hrDelayBeforeReset_));
    surveyTimer_ = new TQuilThreadTimer(this);
    surveyTimer_->SetInterval(400);
    port_ = new TComPort(this);
    framer_ = new TComDataPacket(this);
    framer_->SetComPort(port_);
    framer_->SetCaseInsensitive(true);
    framer_->SetIncludeStrings(true);
    framer_->SetMaxBufferSize(4096);
    framer_->SetStartString(kStartString);
    framer_->SetStopString(kStopString);
    framer_->SetSize(static_cast<int>(kShortFrameSize));
    statsTimer_ = new TQuilThreadTimer(this);
    statsTimer_->ResetTimes();
    statsTimer_->SetInterval(1000);
    keepAliveTimer_ = new TQuilThreadTimer(this);
    keepAliveTimer_->SetInterval(static_cast<uint32_t>(kKeepAliveMs));

    port_->SetBaudRate(br9600);
    port_->SetDataBits(dbEight);
    port_->Parity().SetBits(prEven);
    port_->SetStopBits(sbOneStopBit);
    TComFlowControl& flow = port_->FlowControl();
    flow.SetOutCTSFlow(false);
    flow.SetOutDSRFlow(false);
    flow.SetControlDTR(dtrDisable);
    flow.SetControlRTS(rtsDisable);
    flow.SetXonXoffOut(false);
    flow.SetXonXoffIn(false);
    port_->SetEvents(TComEvents{evRxChar, evTxEmpty, evBreak, evError, evRx80Full});
    port_->SetSyncMethod(smThreadSync);
    UpdateMetresPerRollEvent();
    BindPortEvents();

    keyTimer_->OnTimer = [this](TComponent*) { KeyTimerTick(); };
    heartTimer_->OnTimer = [this](TComponent*) { HeartSurveyTick(); };
    surveyTimer_->OnTimer = [this](TComponent*) { SurveyTick(); };
    statsTimer_->OnTimer = [this](TComponent*) { StatsTick(); };
    keepAliveTimer_->OnTimer = [this](TComponent*) { KeepAliveTick(); };
}

TVeloxDevice::~TVeloxDevice() {
    destroying_ = true;
    keyTimer_->SetEnabled(false);
    heartTimer_->SetEnabled(false);
    surveyTimer_->SetEnabled(false);
    statsTimer_->SetEnabled(false);
    keepAliveTimer_->SetEnabled(false);
    Stop();
    try {
        if (port_->Connected()) port_->Close();
    } catch (const std::exception&) {
        // A vanished device leaves the port closed all the same.
    }
    // The owned objects go next; none of their events may reach a half-freed device.
    port_->OnBeforeClose = nullptr;
    port_->OnAfterClose = nullptr;
    framer_->OnDiscard = nullptr;
    BeginDestruction();
}

void TVeloxDevice::BindPortEvents() {
    // After-open, before-open and the framer's discard and custom decisions still reach
    // their handlers while the device is being destroyed; the rest do not.
    port_->OnAfterOpen = [this](TComponent*) {
        if (OnComPortAfterOpen) OnComPortAfterOpen(this);
    };
    port_->OnBeforeOpen = [this](TComponent*) {
        if (OnComPortBeforeOpen) OnComPortBeforeOpen(this);
    };
    port_->OnAfterClose = [this](TComponent*) {
        if (!Dying() && OnComPortAfterClose) OnComPortAfterClose(this);
    };
    port_->OnBeforeClose = [this](TComponent*) {
        if (Dying()) return;
        if (!repairing_) SetConnected(false);
        if (OnComPortBeforeClose) OnComPortBeforeClose(this);
    };
    port_->OnRxChar = [this](TComponent*, int count) { CharsReceived(count); };
    port_->OnRxBuf = [this](TComponent*, const char* buffer, int count) {
        if (!Dying() && OnComPortRxBuf) OnComPortRxBuf(this, buffer, count);
    };
    auto forward = [this](TNotifyEvent TVeloxDevice::*event) {
        return [this, event](TComponent*) {
            if (!Dying() && this->*event) (this->*event)(this);
        };
    };
    port_->OnTxEmpty = forward(&TVeloxDevice::OnComPortTxEmpty);
    port_->OnBreak = forward(&TVeloxDevice::OnComPortBreak);
    port_->OnRing = forward(&TVeloxDevice::OnComPortRing);
    port_->OnRxFlag = forward(&TVeloxDevice::OnComPortRxFlag);
    port_->OnRx80Full = forward(&TVeloxDevice::OnComPortRx80Full);
    auto forwardSignal = [this](TComSignalEvent TVeloxDevice::*event) {
        return [this, event](TComponent*, bool onOff) {
            if (!Dying() && this->*event) (this->*event)(this, onOff);
        };
    };
    port_->OnCTSChange = forwardSignal(&TVeloxDevice::OnComPortCTSChange);
    port_->OnDSRChange = forwardSignal(&TVeloxDevice::OnComPortDSRChange);
    port_->OnRLSDChange = forwardSignal(&TVeloxDevice::OnComPortRLSDChange);
    port_->OnError = [this](TComponent*, TComErrors errors) {
        if (!Dying() && OnComPortError) OnComPortError(this, errors);
    };
    framer_->OnPacket = [this](TComponent*, const std::string& packet) { PacketReceived(packet); };
    framer_->OnDiscard = [this](TComponent*, const std::string& bytes) {
        if (OnComDataPacketDiscard) OnComDataPacketDiscard(this, bytes);
    };
}

void TVeloxDevice::DefineProperties(TPropertyList& p) {
    // Declared defaults that differ from a new device's values on purpose, as stored files
    // expect (the starting value is always written, a stored default is not):
    // ConnectionSurveyInterval, DisconMaxTry, MaintainsConsoleActive, PrecisionSpeed,
    // NumberOfRoundPerRollEvent, HeartConnectionSurvey, HrDelayBeforeReset, CadenceCalcDelay
    // and the three AlarmHeart limits; the port's and framer's own tables have theirs.
    using C = TVeloxDevice;
    p.Bind("Version", this, &C::version_, &C::SetVersion, 4.0);
    p.Bind("ComponentVersion", this, &C::ComponentVersion, &C::SetComponentVersion, 3.33);
    p.Bind("Enabled", this, &C::enabled_, true);
    p.Bind("SimulationMode", this, &C::simulationMode_, &C::SetSimulationMode, false);
    p.Bind("DebugMode", this, &C::debugMode_, false);
    p.Bind("RollValue", this, &C::rollValue_, 5);
    p.Bind("SecurityActive", this, &C::securityActive_, true);
    p.Bind("UsePackets", this, &C::usePackets_, true);

    // The port's and framer's own stored forms, under the names the device publishes.
    p.Bind("ComPortTag", this, &C::comPortTag_, 0);
    p.AddOwned("ComPort", *port_, "CustomBaudRate");
    p.AddOwned("ComDataPacket", *framer_, "ComPort");

    p.Bind("ConnectionSurvey", this, &C::connectionSurvey_, &C::SetConnectionSurvey, true);
    p.Bind("ConnectionSurveyInterval", this, &C::connectionSurveyInterval_,
           &C::SetConnectionSurveyInterval, 200);
    p.Bind("DisconUseCloseOpenPort", this, &C::disconUseCloseOpenPort_, true);
    p.Bind("DisconDelayBetweenCloseOpenPort", this, &C::disconDelay_,
           &C::SetDisconDelayBetweenCloseOpenPort, 300);
    p.Bind("DisconMaxTry", this, &C::disconMaxTry_, 10);
    p.Bind("StatsInterval", this, &C::statsInterval_, 1000);
    p.AddObject("TimerStats", *statsTimer_);
    p.Bind("MaintainsConsoleActive", this, &C::maintainsConsoleActive_, false);
    p.Bind("CourseDistance", this, &C::courseDistance_, 0.0);
    p.Bind("KeyRepeatInterval", this, &C::KeyRepeatInterval, &C::SetKeyRepeatInterval, 500);

    p.Bind("PrecisionSpeed", this, &C::precisionSpeed_, 1);
    p.Bind("PrecisionDistance", this, &C::precisionDistance_, 8);
    p.BindEnum("UnitMeasure", kUnitNames, this, &C::unitMeasure_, &C::SetUnitMeasure, umKm);
    p.BindEnum("UnitMeasureDefault", kUnitNames, this, &C::unitMeasureDefault_, umKm);
    p.Bind("RollDiameter", this, &C::rollDiameter_, &C::SetRollDiameter, 39.5);
    p.Bind("NumberOfRoundPerRollEvent", this, &C::roundsPerRollEvent_,
           &C::SetNumberOfRoundPerRollEvent, 1.0);
    p.Bind("SpeedArrayLength", this, &C::SpeedArrayLength, &C::SetSpeedArrayLength, 25);
    p.Bind("VirtualSpeedEnabled", this, &C::virtualSpeedEnabled_, &C::SetVirtualSpeedEnabled,
           false);
    p.Bind("VirtualSpeedAttenuation", this, &C::virtualSpeedAttenuation_, 0.5);
    p.Bind("Tolerance", this, &C::tolerance_, 2.0);
    p.Bind("RiderWeight", this, &C::riderWeight_, 0.0);
    p.Bind("CurrentSlope", this, &C::currentSlope_, 0.0);
    p.Bind("CurrentElevation", this, &C::currentElevation_, &C::SetCurrentElevation, 0.0);
    p.Bind("VeloxResistance", this, &C::veloxResistance_, &C::SetVeloxResistance, 0);
    p.Bind("VeloxElevation", this, &C::veloxElevation_, 0);
    p.Bind("InitialResistance", this, &C::initialResistance_, &C::SetInitialResistance, 0);
    p.Bind("UseElevation", this, &C::useElevation_, false);
    p.Bind("HighPowerReduceEnable", this, &C::highPowerReduceEnable_, false);
    p.Bind("HighPowerReduceStartSpeed", this, &C::highPowerReduceStartSpeed_, 7.0);
    p.Bind("HighPowerReduceCoefficientMinimum", this, &C::highPowerReduceMinimum_, 0.25);
    p.Bind("ResistanceReducer", this, &C::resistanceReducer_, &C::SetResistanceReducer, 1.0);
    p.Bind("ResistanceLatency", this, &C::resistanceLatency_, &C::SetResistanceLatency, 0);
    p.Bind("Calibration", this, &C::calibration_, 1.0);
    p.Bind("ResistanceMapAdapter", this, &C::resistanceMapAdapter_, 1.0);

    p.Bind("HeartEnabled", this, &C::heartEnabled_, &C::SetHeartEnabled, false);
    p.Bind("HeartConnectionSurvey", this, &C::heartConnectionSurvey_, &C::SetHeartConnectionSurvey,
           true);
    p.Bind("HrDelayBeforeReset", this, &C::hrDelayBeforeReset_, &C::SetHrDelayBeforeReset, 3);
    p.Bind("HrFilter2Active", this, &C::hrFilter2Active_, false);
    p.Bind("HeartArrayLength", this, &C::HeartArrayLength, &C::SetHeartArrayLength, 25);
    p.Bind("HrDeltaVariationLimit", this, &C::hrDeltaVariationLimit_, 200);
    p.Bind("HeartCalcDelay", this, &C::heartCalcDelay_, 3000);
    p.Bind("CadenceArrayLength", this, &C::CadenceArrayLength, &C::SetCadenceArrayLength, 10);
    p.Bind("CadenceCalcDelay", this, &C::cadenceCalcDelay_, 3000);
    p.Bind("AlarmHeartHighLimit", this, &C::alarmHigh_, 160);
    p.Bind("AlarmHeartLowLimit", this, &C::alarmLow_, 50);
    p.Bind("AlarmHeartAbsoluteLimit", this, &C::alarmAbsolute_, &C::SetAlarmHeartAbsoluteLimit, 220);
}

// ---- Generation and framing ------------------------------------------------------------

void TVeloxDevice::SetVersion(double value) {
    if (!(value > 0) || (value > 3 && value < 4)) value = 4;
    version_ = value;
    if (value < 4) {
        framer_->SetComPort(nullptr);
        roundsPerRollEvent_ = 2;
        const double generation = std::nearbyint(value);  // ties to even
        if (generation == 1) rollDiameter_ = 40;
        if (generation == 2 || generation == 3) rollDiameter_ = 30;
    } else if (value == 4) {
        frameSize_ = kShortFrameSize;
        ConfigureFraming();
        roundsPerRollEvent_ = 0.5;
        rollDiameter_ = 39.5;
        maintainsConsoleActive_ = true;
    } else {
        maintainsConsoleActive_ = true;
        frameSize_ = kLongFrameSize;
        ConfigureFraming();
        struct TGeometry {
            double version, rounds, diameter;
        };
        static constexpr TGeometry kGeometry[] = {
            {4.5, 1, 39.5}, {5, 1, 45}, {6, 1, 40}, {5.5, 0.5, 30}, {7, 1, 30}};
        for (const TGeometry& g : kGeometry) {
            if (g.version != value) continue;
            roundsPerRollEvent_ = g.rounds;
            rollDiameter_ = g.diameter;
        }
    }
    UpdateMetresPerRollEvent();
    ApplySurveyInterval();
    SwitchKeepAlive();
    DoVersionChange();
}

void TVeloxDevice::ConfigureFraming() {
    framer_->SetSize(static_cast<int>(frameSize_));
    if (frameSize_ == kShortFrameSize) {
        framer_->SetStartString(kStartString);
        framer_->SetStopString(kStopString);
        framer_->OnCustomStart = [this](TComponent*, const std::string& buffer, int& pos) {
            if (OnComDataPacketCustomStart) OnComDataPacketCustomStart(this, buffer, pos);
        };
        framer_->OnCustomStop = [this](TComponent*, const std::string& buffer, int& pos) {
            if (OnComDataPacketCustomStop) OnComDataPacketCustomStop(this, buffer, pos);
        };
    } else {
        framer_->SetStartString("");
        framer_->SetStopString("");
        framer_->OnCustomStart = [this](TComponent*, const std::string& buffer, int& pos) {
            CustomStart(buffer, pos);
        };
        framer_->OnCustomStop = [this](TComponent*, const std::string& buffer, int& pos) {
            CustomStop(buffer, pos);
        };
    }
    AttachFramer();
}

void TVeloxDevice::AttachFramer() {
    if (framer_->ComPort() != port_) framer_->SetComPort(port_);
}

void TVeloxDevice::CustomStart(const std::string& buffer, int& pos) {
    // A start byte counts only when a stop byte closes a whole frame after it: noise
    // and payload bytes of value F0 cost nothing.
    pos = 0;
    for (size_t p = buffer.find(static_cast<char>(kFrameStart)); p != std::string::npos;
         p = buffer.find(static_cast<char>(kFrameStart), p + 1)) {
        if (buffer.size() - p >= frameSize_ &&
            static_cast<uint8_t>(buffer[p + frameSize_ - 1]) == kFrameStop) {
            pos = static_cast<int>(p + 1);
            return;
        }
    }
}

void TVeloxDevice::CustomStop(const std::string& buffer, int& pos) {
    pos = buffer.size() >= frameSize_ ? static_cast<int>(frameSize_) : 0;
}

// ---- Receiving ---------------------------------------------------------------------------

void TVeloxDevice::CountMessage() {
    receivedMessages_ = receivedMessages_ >= kMaxReceivedMessages ? 1 : receivedMessages_ + 1;
}

void TVeloxDevice::PacketReceived(const std::string& packet) {
    ParseMessage(packet);
    if (connected_ && version_ == 4 && maintainsConsoleActive_ && status_ != vdsDisconnected)
        KeepAlive();
    if (!Dying() && OnComDataPacketPacket) OnComDataPacketPacket(this, packet);
}

void TVeloxDevice::CharsReceived(int count) {
    if (version_ < 4) {
        CountMessage();
        std::string bytes;
        try {
            port_->ReadText(bytes, count);
        } catch (const std::exception&) {
            bytes.clear();
        }
        if (!bytes.empty()) ParseMessage(bytes);
        // The trainer only keeps working while it hears from the PC after each chunk.
        if (connected_ && status_ != vdsDisconnected) {
            const auto answer =
                static_cast<char>(status_ == vdsRunning && !heartCut_.Active()
                                      ? veloxResistance_ & 0xFF
                                      : 0);
            try {
                SendBytes(std::string(1, answer));
            } catch (const std::exception&) {
                // A failed write shows as silence to the connection survey.
            }
        }
    }
    if (!Dying() && OnComPortRxChar) OnComPortRxChar(this, count);
}

void TVeloxDevice::Identified(uint8_t answer) {
    const std::optional<TIdentified> identified = DecodeIdentification(answer);
    if (!identified) {
        SetConnected(false);
        return;
    }
    SetVersion(identified->version);
    if (identified->clearInput) {
        try {
            port_->PurgeBuffers(true, false);
        } catch (const std::exception&) {
            // Stale input only costs a few discarded bytes.
        }
    }
    SetConnected(true);
}

void TVeloxDevice::SendBytes(const std::string& bytes) {
    if (Dying() || !port_->Connected()) return;
    for (char byte : bytes) port_->WriteText(std::string(1, byte));
}

void TVeloxDevice::SendRequest(uint8_t command) {
    // A lost request is made again on the next connection.
    TrySend(BuildFrame(command, 0, 0));
}

void TVeloxDevice::RequestSerialNumber() {
    SendRequest(vcSerialNumber);
}

void TVeloxDevice::RequestProductVersion() {
    if (productVersion_ == 0 && port_->Connected()) SendRequest(vcProductVersion);
}

// ---- Connection -------------------------------------------------------------------------

void TVeloxDevice::SetConnected(bool value) {
    if (value == connected_) return;
    connected_ = value;
    if (value) {
        disconnectionCount_ = 0;
        SetStatus(vdsConnected);
        receivedMessages_ = 0;
        ResetHeart();
        tryCount_ = 0;
        totalBaselinePending_ = true;
        heartTimer_->SetEnabled(heartEnabled_ && heartConnectionSurvey_);
        noMessage_ = false;
        surveyTimer_->SetEnabled(connectionSurvey_);
        if (serialNumber_ == 0 && port_->Connected()) SendRequest(vcSerialNumber);
        RequestProductVersion();
        DoConnected();
        return;
    }
    surveyTimer_->SetEnabled(false);
    heartTimer_->SetEnabled(false);
    if (status_ == vdsRunning) {
        // Pause acts only while connected, which the device no longer is; the ride clock
        // must not run on without a trainer, so its timer stops here.
        statsTimer_->SetEnabled(false);
        Pause();
    } else {
        Stop();
    }
    noMessage_ = true;
    tryCount_ = 0;  // no repair goes on for a device that is not connected
    SetStatus(vdsDisconnected);
    serialNumber_ = 0;
    productVersion_ = 0;
    DoDisconnected();
}

void TVeloxDevice::SetSimulationMode(bool value) {
    if (value == simulationMode_) return;
    simulationMode_ = value;
    SetConnected(value);
}

bool TVeloxDevice::Connect(uint32_t waitMs) {
    if (Dying() || !enabled_ || !port_->Connected()) return false;
    std::string request(1, static_cast<char>(kIdentificationByte));
    if (version_ >= 4) {
        frameSize_ = kShortFrameSize;
        framer_->SetSize(static_cast<int>(kShortFrameSize));
        framer_->SetStopString(kStopString);
        AttachFramer();
        request = BuildFrame(vcIdentification, kIdentificationByte, 0);
    }
    // Asked at least once, also when already connected: the answer confirms the generation.
    for (int attempt = 0; attempt < 3 && enabled_; ++attempt) {
        try {
            SendBytes(request);
        } catch (const std::exception&) {
            return connected_;
        }
        DelayWithMessages(waitMs);
        if (connected_) break;
    }
    return connected_;
}

void TVeloxDevice::Disconnect() {
    SetConnected(false);
}

// Outside the survey's repair, closing the port disconnects the device (before-close).
void TVeloxDevice::ReopenPort() {
    if (port_->Connected()) port_->Close();
    DelayWithMessages(static_cast<uint32_t>(disconDelay_));
    port_->Open();
    DelayWithMessages(static_cast<uint32_t>(disconDelay_));
}

void TVeloxDevice::QuickConnectDevice(bool reopen) {
    if (Dying()) return;
    if (version_ > 4)
        throw std::logic_error(
            "Procedure QuickConnectDevice: the Velox version must be 4 or lower!");
    if (reopen && !TryReopen()) DoVxdErrorInfo(etNotice, vxeCannotOpenPort, -1);
    if (!port_->Connected()) return;
    try {
        port_->AbortAllIo();
        port_->PurgeBuffers(true, true);
    } catch (const std::exception&) {
        // Leftovers are dropped by the framer.
    }
    // A failed send shows as silence on the survey's next tick.
    if (TrySend(version_ == 4 ? BuildFrame(vcIdentification, kIdentificationByte, 0)
                              : std::string(1, static_cast<char>(kIdentificationByte))))
        DoVxdErrorInfo(etNotice, vxeIdentificationSent, -1);
}

void TVeloxDevice::Reidentify() {
    if (version_ < 4 || Dying()) return;
    const std::string request = BuildFrame(vcIdentification, kIdentificationByte, 0);
    const bool sent = port_->Connected() && TrySend(request);
    if (!sent && TryReopen()) TrySend(request);
    if (!port_->Connected()) DoVxdErrorInfo(etNotice, vxeCannotOpenPort, -1);
}

bool TVeloxDevice::TrySend(const std::string& bytes) {
    try {
        SendBytes(bytes);
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

bool TVeloxDevice::TryReopen() {
    try {
        ReopenPort();
    } catch (const std::exception&) {
        // The port state tells what is left.
    }
    return port_->Connected();
}

void TVeloxDevice::SetConnectionSurvey(bool value) {
    connectionSurvey_ = value;
    surveyTimer_->SetEnabled(value);
}

void TVeloxDevice::SetConnectionSurveyInterval(int32_t value) {
    connectionSurveyInterval_ = std::clamp(value, 400, 3000);
    ApplySurveyInterval();
}

void TVeloxDevice::ApplySurveyInterval() {
    surveyTimer_->SetInterval(
        static_cast<uint32_t>(version_ > 4 ? 3000 : connectionSurveyInterval_));
}

void TVeloxDevice::SetDisconDelayBetweenCloseOpenPort(int32_t value) {
    disconDelay_ = std::clamp(value, 300, 2000);
}

void TVeloxDevice::EnableSurveys(bool on) {
    heartTimer_->SetEnabled(on && connected_ && heartEnabled_ && heartConnectionSurvey_);
    surveyTimer_->SetEnabled(on && connected_ && connectionSurvey_);
}

void TVeloxDevice::SurveyTick() {
    if (Dying() || simulationMode_) return;
    TDetachedTick detached(*surveyTimer_);
    struct TCleanup {
        TVeloxDevice& device;
        ~TCleanup() {
            device.repairing_ = false;
            device.noMessage_ = true;
        }
    } cleanup{*this};
    // A trainer that spoke since the last tick is there; the repair's end is reported
    // when its first message arrives (TrainerSpeaks).
    if (!noMessage_) return;
    try {
        RepairStep();
    } catch (const std::exception&) {
        // A handler's failure; the cleanup runs all the same.
    }
}

void TVeloxDevice::RepairStep() {
    heartTimer_->SetEnabled(false);
    repairing_ = true;
    if (tryCount_ == 0) {
        ++disconnectionCount_;
        TrainerFellSilent();
        DoRepairingConnection();
    }
    // A try whose port opened but brought no message has failed like any other.
    if (tryCount_ >= disconMaxTry_) {
        GiveUp();
        return;
    }
    DoVxdErrorInfo(etNotice, vxeConnectionLost, tryCount_ + 1);
    ++tryCount_;
    if (version_ <= 4)
        QuickConnectDevice(disconUseCloseOpenPort_);
    else
        Reidentify();
    if (!port_->Connected() && (version_ <= 4 || tryCount_ > 2)) GiveUp();
}

void TVeloxDevice::GiveUp() {
    repairing_ = false;
    DoVxdErrorInfo(etNotice, vxeRepairAborted, tryCount_);
    SetConnected(false);
    DoConnectionLost();
}

void TVeloxDevice::TrainerFellSilent() {
    // Nothing is measured while the trainer says nothing: the last figures are not shown
    // as if they were current, and nothing accrues on them.
    speed_ = realSpeed_ = instantSpeed_ = 0;
    std::fill(speeds_.begin(), speeds_.end(), 0);
    ResetVirtualSpeed();
    cadence_ = 0;
    std::fill(cadences_.begin(), cadences_.end(), 0);
    power_ = 0;
    ResetHeart();
    SetHeartConnectionActive(false);
}

void TVeloxDevice::TrainerSpeaks() {
    tryCount_ = 0;
    // What it rolled while unheard is not the ride's.
    totalBaselinePending_ = true;
    DoVxdErrorInfo(etRestored, vxeRestored, -1);
    SwitchHeartTimer();
}

// ---- Keep-alive ----------------------------------------------------------------------------

void TVeloxDevice::KeepAlive() {
    if (status_ == vdsRunning) {
        SendResistance();
    } else if (!repairing_) {
        // Outside a ride (paused included) the trainer is kept alive unloaded.
        SendBytes(BuildFrame(vcLoad, 0, 0));
    }
}

void TVeloxDevice::SwitchKeepAlive() {
    const bool wanted = version_ > 4 && status_ != vdsDisconnected;
    if (wanted != keepAliveTimer_->Enabled()) keepAliveTimer_->SetEnabled(wanted);
}

void TVeloxDevice::KeepAliveTick() {
    // Long-frame trainers hear from the statistics tick while riding, unless its interval
    // is longer than the trainer waits; from here otherwise.
    if (Dying() || !connected_ || !maintainsConsoleActive_) return;
    if (status_ == vdsRunning && statsInterval_ <= kKeepAliveMs) return;
    try {
        KeepAlive();
    } catch (const std::exception&) {
        // A trainer that no longer hears us shows in the survey.
    }
}

std::string TVeloxDevice::ErrorText(int32_t code) const {
    switch (code) {
        case 100:
            return "message discarded";
        case 101:
            return "message rejected";
        case 102:
            return "error com port";
        case 520:
            return "Heart connection lost";
        case 611:
            return "identification request sent";
        case 612:
            return "port opened";
        case 613:
            return "port closed";
        case 614:
            return "connection restablished";
        case 700:
            return "New disconnection";
        case 710:
            return "can't open the com port";
        case 711:
            return "repairing process aborted";
        case 720:
            return "connection lost, trying to reconnect";
        default:
            return "Error unknown";
    }
}

std::string TVeloxDevice::BytesToHexString(const std::string& bytes, bool spaced) {
    if (!spaced) return BytesToHex(bytes);
    std::string text;
    // Piece by piece: " " + a temporary makes GCC 12 at -O3 warn falsely (-Wrestrict).
    for (char c : bytes) {
        text += ' ';
        text += BytesToHex(std::string_view(&c, 1));
    }
    return text;
}

int32_t TVeloxDevice::HexStringToInteger(const std::string& bytes) {
    const std::string hex = BytesToHexString(bytes, false);
    if (hex.empty() || hex.size() > 8) return 0;
    return static_cast<int32_t>(std::stoul(hex, nullptr, 16));
}

// ---- Ride state machine ------------------------------------------------------------------

void TVeloxDevice::SetStatus(TVeloxDeviceStatus value) {
    if (value == status_) return;
    const TVeloxDeviceStatus old = status_;
    status_ = value;
    SwitchKeepAlive();
    DoStatusChanged(old, value);
    if (value == vdsDisconnected || value == vdsStopped) {
        speed_ = realSpeed_ = instantSpeed_ = 0;
        ResetVirtualSpeed();
        SetVeloxResistance(initialResistance_);
        veloxElevation_ = 0;
    }
}

void TVeloxDevice::Start() {
    if (!connected_) return;
    stoppedByComponent_ = false;
    courseFinished_ = false;
    const bool resume = status_ == vdsPaused;
    if (!resume) {
        statsTimer_->ResetTimes();
        ResetMeasures();
        status_ = vdsStopped;
        rideStartTick_ = GetTickCount();
        pauseTick_ = 0;
        statsTimer_->SetLapTime(0);
    }
    DoBeforeStart();
    statsTimer_->SetInterval(static_cast<uint32_t>(statsInterval_));
    if (resume) {
        rideStartTick_ += GetTickCount() - pauseTick_;
        statsTimer_->SetLapTime(statsTimer_->ElapsedTime());
        rollTotal_ = savedRollTotal_;
        rollIncrement_ = 0;
    }
    // Rolled before the start or during the pause: not the ride's.
    totalBaselinePending_ = true;
    ResetHeart();
    heartSum_ = heartCount_ = 0;
    if (version_ <= 4) lastPedalTick_ = GetTickCount();
    statsTimer_->SetEnabled(true);
    SetStatus(vdsRunning);
}

void TVeloxDevice::Pause() {
    if (!connected_) return;
    statsTimer_->SetEnabled(false);
    pauseTick_ = GetTickCount();
    SetStatus(vdsPaused);
    savedRollTotal_ = rollTotal_;
    // A failed send leaves the last load until the survey repairs the link.
    if (version_ >= 4) TrySend(BuildFrame(vcLoad, 0, 0));
    DoBeforePause();
}

void TVeloxDevice::Stop() {
    TDetachedTick detached(*surveyTimer_);
    if (connected_ && OnBeforeStop) {
        bool canContinue = true;
        OnBeforeStop(this, canContinue);
        if (!canContinue) return;
    }
    statsTimer_->SetEnabled(false);
    SetStatus(vdsStopped);
    DoAfterStop();
    SetVeloxResistance(initialResistance_);
    veloxElevation_ = 0;
}

// ---- Console keys ------------------------------------------------------------------------

void TVeloxDevice::EnableKeys() {
    keysEnabled_ = true;
}

void TVeloxDevice::DisableKeys() {
    keysEnabled_ = false;
}

void TVeloxDevice::KeyTimerTick() {
    keyTimer_->SetEnabled(false);
}

void TVeloxDevice::ConsoleKey(TConsoleKey key) {
    if (!OnConsoleKeyDown || keyBusy) return;
    keyBusy = true;
    struct TRelease {
        ~TRelease() { keyBusy = false; }
    } release;
    if (key != lastKey_) keyTimer_->SetEnabled(false);
    if (keyTimer_->Enabled()) return;  // a repeat inside the window
    lastKey_ = key;
    keyTimer_->SetEnabled(true);
    if (!keysEnabled_) return;
    const uint32_t now = GetTickCount();
    if (lastKeyFireTick == 0) {
        lastKeyFireTick = now;
        OnConsoleKeyDown(this, key);
        return;
    }
    if (now - lastKeyFireTick >= keyTimer_->Interval()) {
        if (key == ckE)
            PostApplicationMessage(static_cast<uint32_t>(keyMessage_), 0, 0);
        else
            OnConsoleKeyDown(this, key);
    }
    lastKeyFireTick = now;
}

// ---- Notifications -----------------------------------------------------------------------

void TVeloxDevice::DoVeloxMessage(TVeloxDeviceMessageType type, long double value1,
                                  long double value2, long double value3, const std::string& str) {
    if (OnVeloxMessage) OnVeloxMessage(this, type, value1, value2, value3, str);
}
void TVeloxDevice::DoStatusChanged(TVeloxDeviceStatus oldStatus, TVeloxDeviceStatus newStatus) {
    if (OnVeloxDeviceStatusChanged) OnVeloxDeviceStatusChanged(this, oldStatus, newStatus);
}
void TVeloxDevice::DoDisconnected() {
    if (OnDisconnected) OnDisconnected(this);
}
void TVeloxDevice::DoConnected() {
    if (OnConnected) OnConnected(this);
}
void TVeloxDevice::DoVersionChange() {
    if (OnVersionChange) OnVersionChange(this);
}
void TVeloxDevice::DoStats(int32_t lapTime, int32_t lapEventCount, long double lapRollCount,
                           long double lapDistance, long double oldSpeed, bool speedChanged) {
    if (OnStats)
        OnStats(this, lapTime, lapEventCount, lapRollCount, lapDistance, oldSpeed, speedChanged);
}
void TVeloxDevice::DoBeforeStart() {
    if (OnBeforeStart) OnBeforeStart(this);
}
void TVeloxDevice::DoBeforePause() {
    if (OnBeforePause) OnBeforePause(this);
}
void TVeloxDevice::DoCourseFinished() {
    if (OnCourseFinished) OnCourseFinished(this);
}
void TVeloxDevice::DoAlarmHeart(int32_t percentDelta, bool isHigherLimit, bool abortedByComponent,
                                bool& doStop) {
    if (OnAlarmHeart) OnAlarmHeart(this, percentDelta, isHigherLimit, abortedByComponent, doStop);
}
void TVeloxDevice::DoMessageRejected(const std::string& str) {
    if (OnMessageRejected) OnMessageRejected(str);
}
void TVeloxDevice::DoAfterStop() {
    if (OnAfterStop) OnAfterStop(this);
}
void TVeloxDevice::DoConnectionLost() {
    if (OnConnectionLost) OnConnectionLost(this);
}
void TVeloxDevice::DoInstantSpeed() {
    if (OnInstantSpeed) OnInstantSpeed(this);
}
void TVeloxDevice::DoHeartConnectionLost() {
    if (OnHeartConnectionLost) OnHeartConnectionLost(this);
}
void TVeloxDevice::DoVxdErrorInfo(TVxdErrorType type, int32_t code, int32_t occurence) {
    if (OnVxdErrorInfo) OnVxdErrorInfo(this, type, code, occurence);
}
void TVeloxDevice::DoRepairingConnection() {
    if (OnRepairingConnection) OnRepairingConnection(this);
}
void TVeloxDevice::DoSerialNumber() {
    if (OnSerialNumber) OnSerialNumber(this);
}
void TVeloxDevice::DoProductVersion() {
    if (OnProductVersion) OnProductVersion(this);
}

}  // namespace wct::wired
