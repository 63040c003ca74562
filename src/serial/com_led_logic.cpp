// SPDX-License-Identifier: Apache-2.0
#include "serial/com_led_logic.h"

#include "common/main_thread.h"

namespace wct {

TComLedLogic::TComLedLogic(TComponent* owner) : TComponent(owner) {
    link_.ConnSignal = [this](TComponent*, bool on) { SignalChanged(on); };
}

TComLedLogic::~TComLedLogic() {
    BeginDestruction();
    if (port_ != nullptr) {
        port_->UnregisterLink(&link_);
        port_->RemoveFreeNotification(this);
    }
}

void TComLedLogic::SetComPort(TCustomComPort* value) {
    if (value == port_) return;
    if (port_ != nullptr) {
        port_->UnregisterLink(&link_);
        port_->RemoveFreeNotification(this);
    }
    port_ = value;
    if (port_ == nullptr) {
        ChangeState(lsOff);
        return;
    }
    port_->FreeNotification(this);
    port_->RegisterLink(&link_);
    if (port_->Connected() && !Loading() && !Designing()) ChangeState(PortSignalState());
}

void TComLedLogic::Notification(TComponent* component, TOperation operation) {
    TComponent::Notification(component, operation);
    if (operation != TOperation::opRemove || component != port_) return;
    // The port calls this while still whole, before it frees its link list.
    port_->UnregisterLink(&link_);
    port_ = nullptr;
    if (!Destroying()) ChangeState(lsOff);
}

TLedState TComLedLogic::PortSignalState() {
    switch (signal_) {
        case lsConn:
            return lsOn;
        case lsCTS:
            return port_->ModemSignals().Contains(sigCts) ? lsOn : lsOff;
        case lsDSR:
            return port_->ModemSignals().Contains(sigDsr) ? lsOn : lsOff;
        case lsRLSD:
            return port_->ModemSignals().Contains(sigRlsd) ? lsOn : lsOff;
        case lsRing:
        case lsRx:
        case lsTx:
            break;
    }
    return lsOff;
}

void TComLedLogic::SetLedSignal(TComLedSignal value) {
    if (value == signal_) return;
    signal_ = value;
    link_.ConnSignal = nullptr;
    link_.CtsSignal = nullptr;
    link_.DsrSignal = nullptr;
    link_.RlsdSignal = nullptr;
    link_.RingSignal = nullptr;
    link_.TxSignal = nullptr;
    link_.RxSignal = nullptr;
    const auto signal = [this](TComponent*, bool on) { SignalChanged(on); };
    switch (value) {
        case lsConn:
            link_.ConnSignal = signal;
            break;
        case lsCTS:
            link_.CtsSignal = signal;
            break;
        case lsDSR:
            link_.DsrSignal = signal;
            break;
        case lsRLSD:
            link_.RlsdSignal = signal;
            break;
        case lsRing:
            link_.RingSignal = [this](TComponent*) { Ring(); };
            break;
        case lsRx:
            link_.RxSignal = signal;
            break;
        case lsTx:
            link_.TxSignal = signal;
            break;
    }
}

void TComLedLogic::SetState(TLedState value) {
    if (port_ != nullptr) throw EComPort(ceLedStateFailed);
    ChangeState(value);
}

void TComLedLogic::ChangeState(TLedState value) {
    state_ = value;
    if (!Loading() && OnChange) OnChange(this, value);
    if (Repaint) Repaint();
}

void TComLedLogic::SignalChanged(bool on) {
    ChangeState(on ? lsOn : lsOff);
    // Shows the change now, even when the port's next event follows at once.
    MainThread().ProcessMessages();
}

void TComLedLogic::Ring() {
    // A ring while lit does not stretch the running interval.
    if (!ringing_ && StartRingTimer) {
        ringing_ = true;
        StartRingTimer(ringDuration_);
    }
    ChangeState(lsOn);
}

void TComLedLogic::RingOver() {
    ringing_ = false;
    ChangeState(lsOff);
}

}  // namespace wct
