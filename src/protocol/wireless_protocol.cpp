// SPDX-License-Identifier: Apache-2.0
// Construction, connection, the dongle and console searches, the send path and the trace.
#include "protocol/wireless_protocol.h"

#include <algorithm>
#include <chrono>

#include "common/delay_with_messages.h"
#include "common/locale_info.h"
#include "common/main_thread.h"
#include "common/tick_count.h"
#include "protocol/progress_bar.h"
#include "protocol/wireless_frame.h"
#include "common/hex.h"
#include "serial/port_inventory.h"

namespace wct {

TMiraWirelessProtocol::TMiraWirelessProtocol(TComponent* owner) : TComponent(owner) {
    framer_ = new TComDataPacket(this);
    NewAsyncRecord(asyncRecord_);
    resistanceTimer_ = new TQuilThreadTimer(this);
    resistanceTimer_->OnTimer = [this](TComponent*) { SendResistances(); };
    resistanceTimer_->SetThreadPriority(tpHighest);
    resistanceTimer_->OnTickError = [this](const std::string& what) {
        TraceFailure("Resistance sending failed: " + what);
    };
    wireLink_.RxData = [this](TComponent*, const char* buffer, int count) {
        if (wireTap_ != nullptr) wireTap_->Read(buffer, count);
    };
    interlock_.OnNotice = [this](uint8_t console, const std::string& text) {
        TraceFailure("Console " + std::to_string(console) + ": " + text);
    };
    statistics_.Clear(GetTickCount());
    Reset();
}

TMiraWirelessProtocol::~TMiraWirelessProtocol() {
    // A borrowed port outlives us: it must keep nothing that calls back into this object.
    DetachPort();
    BeginDestruction();
    FreeAsyncRecord(asyncRecord_);
}

void TMiraWirelessProtocol::DefineProperties(TPropertyList& p) {
    using C = TMiraWirelessProtocol;
    p.Bind("PortDef", this, &C::portDef_, std::nullopt);
    p.Bind("DebugTime", this, &C::debugTime_, false);
    p.Bind("DebugNoData", this, &C::debugNoData_, false);
    p.Bind("DisplayMessage", this, &C::displayMessage_, false);
    p.Bind("ResistanceInterval", this, &C::resistanceInterval_, &C::SetResistanceInterval, 1000);
    p.Bind("DisconDelayBetweenCloseOpenPort", this, &C::disconDelay_, 300);
    p.Bind("AutoConnection", this, &C::autoConnection_, false);
    // The declared default differs from the value a new component has (15000), so a
    // stored 30000 is not written and loads back as 15000.
    p.Bind("TimeToWaitAddNewConsole", this, &C::timeToWaitAddNewConsole_, 30000);
    p.Bind("ReplyTimeOut", this, &C::replyTimeOut_, 15000);
}

void TMiraWirelessProtocol::Notification(TComponent* component, TOperation operation) {
    TComponent::Notification(component, operation);
    if (operation == TOperation::opRemove && component == port_) {
        if (wireLinkPort_ == port_) port_->UnregisterLink(&wireLink_);
        wireLinkPort_ = nullptr;
        port_ = nullptr;
        ownsPort_ = false;
        connected_ = false;
    }
}

void TMiraWirelessProtocol::Reset() {
    if (port_ != nullptr && port_->Connected()) port_->Close();
    connected_ = false;
    lastMeasure_->clear();
    resistances_.clear();
    consoles_.clear();
    numberOfConsole_ = 0;
    opened_ = false;
    measuring_ = false;
    disconDelay_ = 300;
    resistanceInterval_ = 1000;  // the timer keeps its own interval until the next write
    timeToWaitAddNewConsole_ = 15000;
    replyTimeOut_ = 15000;
    dongleReplyTimeOut_ = 200;
    debugTime_ = false;
    debugNoData_ = false;
    rollState_ = rsStopped;
}

void TMiraWirelessProtocol::SetPort(TComPort* port) {
    if (port == port_) return;
    if (port_ != nullptr) {
        DetachPort();
        port_->RemoveFreeNotification(this);
        if (ownsPort_) delete port_;
    }
    port_ = port;
    ownsPort_ = false;
    if (port_ != nullptr) port_->FreeNotification(this);
}

void TMiraWirelessProtocol::SetResistanceInterval(uint32_t value) {
    resistanceInterval_ = value;
    resistanceTimer_->SetInterval(value);
}

bool TMiraWirelessProtocol::CreateDefaultPort() {
    try {
        auto* port = new TComPort(this);
        port->SetBaudRate(br115200);
        port->SetDataBits(dbEight);
        port->SetStopBits(sbOneStopBit);
        port->Parity().SetBits(prNone);
        port->Parity().SetCheck(true);
        port->Parity().SetReplace(false);
        port->SetEvents(TComEvents{evRxChar, evRxFlag});
        port->SetEventChar(0);
        port->SetDiscardNull(false);
        TComFlowControl& flow = port->FlowControl();
        flow.SetOutCTSFlow(true);
        flow.SetOutDSRFlow(false);
        flow.SetControlDTR(dtrDisable);
        flow.SetControlRTS(rtsHandshake);
        flow.SetXonXoffIn(false);
        flow.SetXonXoffOut(false);
        flow.SetXonChar(17);
        flow.SetXoffChar(19);
        flow.SetTxContinueOnXoff(false);
        flow.SetDSRSensitivity(false);
        port->Buffer().SetInputSize(1024);
        port->Buffer().SetOutputSize(1024);
        port->Timeouts().SetReadInterval(-1);
        port->Timeouts().SetReadTotalMultiplier(0);
        port->Timeouts().SetReadTotalConstant(0);
        port->Timeouts().SetWriteTotalMultiplier(100);
        port->Timeouts().SetWriteTotalConstant(1000);
        port->SetSyncMethod(smThreadSync);
        port->SetPort("COM1");
        port_ = port;
        ownsPort_ = true;
        port_->FreeNotification(this);
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

void TMiraWirelessProtocol::DetachPort() {
    if (port_ == nullptr) return;
    port_->OnAfterOpen = nullptr;
    port_->OnDeviceLost = nullptr;
    if (framer_->ComPort() == port_) framer_->SetComPort(nullptr);
    if (wireLinkPort_ == port_) {
        port_->UnregisterLink(&wireLink_);
        wireLinkPort_ = nullptr;
    }
}

void TMiraWirelessProtocol::AttachWireLink() {
    if (wireLinkPort_ == port_) return;
    if (wireLinkPort_ != nullptr) wireLinkPort_->UnregisterLink(&wireLink_);
    // Links are called in registration order: a chunk reaches the tap before the framer
    // turns it into replies, and before anything those replies make us send.
    if (framer_->ComPort() == port_) framer_->SetComPort(nullptr);
    port_->RegisterLink(&wireLink_);
    wireLinkPort_ = port_;
}

TMiraLinkReport TMiraWirelessProtocol::LinkReport() const {
    return statistics_.Report(GetTickCount(), Milliseconds(replyTimeOut_));
}

void TMiraWirelessProtocol::PortOpened() {
    connected_ = true;
    if (OnConnection) OnConnection();
}

bool TMiraWirelessProtocol::ConnectDongle() {
    if (connected_) {
        connected_ = false;
        if (port_ != nullptr) port_->Close();
    }
    if (port_ == nullptr && !CreateDefaultPort()) return false;

    port_->OnAfterOpen = [this](TComponent*) { PortOpened(); };
    port_->OnDeviceLost = [this](TComponent*) { PortLost(); };
    AttachWireLink();
    framer_->SetComPort(port_);
    framer_->SetStartString(std::string(1, static_cast<char>(kFrameStart)));
    framer_->SetCaseInsensitive(true);
    framer_->SetIncludeStrings(true);
    framer_->SetSize(0);
    framer_->SetStopString(std::string(1, static_cast<char>(kFrameStop)));
    // The length byte ends a frame, so a payload byte 21 (a cadence of 33) does not.
    framer_->OnCustomStop = [](TComponent*, const std::string& buffered, int& position) {
        position = FrameEnd(buffered);
    };
    framer_->OnPacket = [this](TComponent* sender, const std::string& packet) {
        PacketReceived(sender, packet);
    };
    framer_->OnDiscard = [this](TComponent*, const std::string& bytes) {
        statistics_.BytesDiscarded(bytes.size());
    };

    try {
        port_->Open();
        WaitWithMessages(Milliseconds(disconDelay_));
        // Any version answer fills entry 0; an earlier connection's table also counts, and
        // then the whole time is waited, as no answer can be told from it.
        const bool filledBefore = !consoles_.empty();
        RequestVersion(0);
        WaitWithMessages(Milliseconds(dongleReplyTimeOut_),
                         [&] { return !filledBefore && !consoles_.empty(); });
        if (consoles_.empty()) connected_ = false;
    } catch (const std::exception&) {
        connected_ = false;
    }

    if (debugMemo_ != nullptr) {
        if (debugTime_)
            debugMemo_->Add(LocaleInfo().DateTimeText(std::chrono::system_clock::now()));
        debugMemo_->Add((connected_ ? "Connection done " : "Connection Failed ") + port_->Port());
    }
    if (connected_) {
        SetConsoleField(consoles_, 0, TMiraConsoleField::Connected, 1);
        RequestSerial(0);
    }
    return connected_;
}

void TMiraWirelessProtocol::ReportStatus(TMiraProgressBar& bar, TMiraConnectionStatus status) {
    if (OnConnectionStatus)
        OnConnectionStatus(bar.Max(), bar.Position(), status,
                           port_ != nullptr ? port_->Port() : "");
}

bool TMiraWirelessProtocol::FindDongle() {
    if (port_ == nullptr && !CreateDefaultPort()) return false;
    // Renaming an open port reopens it; a failure there is a port without dongle.
    bool portDefOpens = true;
    if (!portDef_.empty()) portDefOpens = RenamePort(portDef_);

    auto bar = CreateProgressBar();
    bar->SetDisplayFlag(displayMessage_);
    bar->SetPosition(bar->Max());
    bar->SetText("Finding USB dongle..." + port_->Port());
    bar->Show();
    ReportStatus(*bar, cnsDongleSearch);
    if (portDefOpens && ConnectDongle()) {
        bar->SetText("Found on " + port_->Port());
        ReportStatus(*bar, cnsDongleFound);
        WaitWithMessages(800);
        bar->Close();
        return true;
    }
    // A port without a dongle is not kept open (and locked) when no other port is tried.
    port_->SetConnected(false);

    const std::vector<std::string> names = FindSerialPorts();
    bar->SetMax(static_cast<int>(names.size()));
    bool found = false;
    for (size_t i = 0; i < names.size() && !found; ++i) {
        const std::string& name = names[i];
        bar->SetText("Finding USB dongle..." + name);
        bar->SetPosition(static_cast<int>(i + 1));
        bar->Show();
        ReportStatus(*bar, cnsDongleSearch);
        if (RenamePort(name) && ConnectDongle()) {
            bar->SetText("Found on " + name);
            ReportStatus(*bar, cnsDongleFound);
            found = true;
        } else {
            port_->SetConnected(false);
            bar->SetText("Not Found on " + name);
            ReportStatus(*bar, cnsDongleNotFound);
        }
        WaitWithMessages(800);
        bar->Close();
    }
    return found;
}

bool TMiraWirelessProtocol::RenamePort(const std::string& name) {
    try {
        port_->SetPort(name);
        return true;
    } catch (const std::exception&) {
        try {
            port_->Close();
        } catch (const std::exception&) {
            // Closing what failed to reopen leaves it closed all the same.
        }
        return false;
    }
}

void TMiraWirelessProtocol::Disconnect() {
    if (port_ != nullptr && port_->Connected()) port_->Close();
    Reset();
    Trace("Dongle disconnected!");
}

uint8_t TMiraWirelessProtocol::FindConsole(int& version, int& serial) {
    version = -1;
    serial = -1;
    auto bar = CreateProgressBar();
    bar->SetDisplayFlag(displayMessage_);
    bar->SetText("Wireless Console search...");
    bar->SetMax(static_cast<int>(Milliseconds(timeToWaitAddNewConsole_) / 1000));
    ReportStatus(*bar, cnsConsoleSearch);
    bar->Show();

    if (!connected_) {
        if (!FindDongle()) {
            bar->Close();
            return 0;
        }
        WaitWithMessages(200);
        OpenRegistration();
    }

    uint8_t result = 0;
    const uint32_t start = GetTickCount();
    const uint32_t limit = Milliseconds(timeToWaitAddNewConsole_);
    auto elapsed = [start] { return GetTickCount() - start; };
    // A Disconnect run by a handler inside one of the waits ends the search as failed,
    // and so does EndWaits.
    const unsigned ended = waitsEnded_;
    auto gone = [this, ended] { return !connected_ || waitsEnded_ != ended; };
    while (!gone()) {
        MainThread().ProcessMessages();
        for (size_t id = 1; id < consoles_.size() && !gone(); ++id) {
            if (!consoles_[id].Connected || consoles_[id].Used) continue;
            const auto console = static_cast<uint8_t>(id);
            // 400 ms is a console's usual answer time; one that has not answered by then
            // (a busy PC reads late) gets the rest of the reply time-out, so that it is
            // not taken with another trainer's roll.
            auto answered = [&](auto TMiraConsoleInfo::*field) {
                const uint32_t sent = GetTickCount();
                WaitWithMessages(400);
                const auto done = [&] {
                    return gone() || id >= consoles_.size() || consoles_[id].*field != 0;
                };
                const uint32_t reply = std::max<uint32_t>(Milliseconds(replyTimeOut_), 400);
                if (!done()) WaitWithMessages(reply - std::min(reply, GetTickCount() - sent), done);
            };
            RequestSerial(console);
            answered(&TMiraConsoleInfo::Serial);
            if (gone() || id >= consoles_.size()) break;
            RequestVersion(console);
            answered(&TMiraConsoleInfo::Version);
            if (gone() || id >= consoles_.size()) break;
            result = console;
            version = consoles_[id].Version;
            serial = consoles_[id].Serial;
            consoles_[id].Used = true;
            break;
        }
        const uint32_t now = GetTickCount();
        bar->SetPosition(std::min(static_cast<int>((now - start) / 1000), bar->Max()));
        ReportStatus(*bar, cnsConsoleSearch);
        if (result != 0) break;
        if (now - start >= limit) break;
        if (static_cast<int32_t>(now) < static_cast<int32_t>(start)) break;
        // Wakes for every hand-off (a console that joins), at least once a second for the
        // progress position, and at the end of the search time.
        MainThread().ProcessMessagesFor(std::min(1000 - elapsed() % 1000, limit - elapsed()));
    }

    if (result != 0) {
        bar->SetText("Console Found");
        ReportStatus(*bar, cnsConsoleFound);
    } else {
        bar->SetText("Console not Found");
        ReportStatus(*bar, cnsConsoleNotFound);
    }
    WaitWithMessages(800);
    bar->Close();
    return result;
}

bool TMiraWirelessProtocol::IsConsoleConnected(uint8_t id) const {
    return id < consoles_.size() && consoles_[id].Connected;
}

bool TMiraWirelessProtocol::IsConsoleSilent(uint8_t id) const {
    return id < lastMeasure_->size() && IsSilent((*lastMeasure_)[id], GetTickCount());
}

void TMiraWirelessProtocol::WatchSilence() {
    const uint32_t now = GetTickCount();
    // By index: a handler may run the event loop, and measures may grow the table.
    for (size_t id = 0; id < lastMeasure_->size(); ++id) {
        TMiraConsoleMeasure& m = (*lastMeasure_)[id];
        if (m.Silent || !IsSilent(m, now)) continue;
        m.Silent = true;
        TraceFailure("Console " + std::to_string(id) + " silent: no measures for " +
                     std::to_string(now - m.MeasureTick) + " ms");
        if (OnConsoleSilent) OnConsoleSilent(static_cast<int>(id));
    }
}

void TMiraWirelessProtocol::OpenRegistration() {
    SendCommand(mcOpenRegistration, 0, " Open Console Registration");
    opened_ = true;
}

void TMiraWirelessProtocol::CloseRegistration() {
    SendCommand(mcCloseRegistration, 0, " Close Console Registration");
    opened_ = false;
}

// ---- Send path and trace -------------------------------------------------------------

void TMiraWirelessProtocol::Trace(const std::string& text) {
    if (debugMemo_ != nullptr) debugMemo_->Add(text);
}

void TMiraWirelessProtocol::TraceFrame(const char* direction, const std::string& frame,
                                       const std::string& text) {
    if (debugMemo_ == nullptr) return;
    std::string line;
    if (debugTime_) line = LocaleInfo().TimeText(std::chrono::system_clock::now());
    debugMemo_->Add(line + direction + BytesToHex(frame) + text);
}

void TMiraWirelessProtocol::SendFrame(const std::string& frame, const std::string& text) {
    if (!connected_) return;
    if (!(debugNoData_ && text.find("Send resistance") != std::string::npos))
        TraceFrame("->", frame, text);
    try {
        if (port_ == nullptr) throw EComPort(ceWriteFailed);
        // Stamped before it leaves: a reply can come back before the write returns.
        const uint32_t sentAt = GetTickCount();
        port_->PurgeBuffers(false, true);
        port_->WriteTextAsync(frame, asyncRecord_);
        statistics_.FrameSent(frame, sentAt);
        if (wireTap_ != nullptr) wireTap_->Written(frame);
    } catch (const std::exception&) {
        TraceFailure("Error in port writing");
        RecoverPort();
    }
}

void TMiraWirelessProtocol::PortLost() {
    // An unplugged dongle is handled as a failed write is, without waiting for one.
    TraceFailure("Port lost");
    RecoverPort();
}

void TMiraWirelessProtocol::TraceFailure(const std::string& text) {
    if (debugTime_)
        Trace(LocaleInfo().TimeText(std::chrono::system_clock::now()) + " ## " + text);
    else
        Trace("## " + text);
}

void TMiraWirelessProtocol::RecoverPort() {
    // ConnectDongle sends a frame; if that write fails too, the outer recovery reports
    // it instead of recursing without end.
    if (recovering_) return;
    recovering_ = true;
    try {
        if (port_ != nullptr) port_->Close();
    } catch (const std::exception&) {
        // Closing a vanished device still leaves the port closed.
    }
    WaitWithMessages(Milliseconds(disconDelay_));
    if (autoConnection_) ConnectDongle();
    recovering_ = false;
    if (OnDisconnection) OnDisconnection();
}

void TMiraWirelessProtocol::WaitWithMessages(uint32_t ms, const std::function<bool()>& done) {
    const uint32_t start = GetTickCount();
    // One pass even for 0 ms or a `done` that already holds; the wait also ends when the
    // counter, read as signed, falls below its start.
    MainThread().ProcessMessagesFor(ms);
    ServeUntil(
        [&] {
            return static_cast<int32_t>(GetTickCount()) < static_cast<int32_t>(start) ||
                   (done && done());
        },
        ms - std::min(ms, GetTickCount() - start));
}

bool TMiraWirelessProtocol::TimedOut(uint32_t start, uint32_t limit) {
    return GetTickCount() - start > limit;
}

uint32_t TMiraWirelessProtocol::Milliseconds(int setting) {
    return setting > 0 ? static_cast<uint32_t>(setting) : 0;
}

}  // namespace wct
