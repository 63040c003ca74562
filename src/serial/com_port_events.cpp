// SPDX-License-Identifier: Apache-2.0
// The port's event handlers and open/close notifications: what a delivered batch of line
// events does to the port's events and links.
#include <vector>

#include "common/main_thread.h"
#include "serial/com_port.h"

namespace wct {
namespace {

// Counts the port's handlers running on the main thread while it lives. Only main-thread
// deliveries count: a Close made inside one cannot join the thread that waits for it
// (smNone deliveries are on that thread itself, seen by its id). The count belongs to the
// main thread, so a delivery elsewhere does not touch it at all.
class TDispatchScope {
public:
    explicit TDispatchScope(int& depth) : depth_(depth), counted_(MainThread().IsMainThread()) {
        if (counted_) ++depth_;
    }
    ~TDispatchScope() {
        if (counted_) --depth_;
    }
    TDispatchScope(const TDispatchScope&) = delete;
    TDispatchScope& operator=(const TDispatchScope&) = delete;

private:
    int& depth_;
    const bool counted_;
};

}  // namespace

void TCustomComPort::DispatchEvents(TComEvents events) {
    TDispatchScope scope(dispatchDepth_);
    for (TComEvent event : kComEventOrder)
        if (events.Contains(event)) HandleEvent(event);
}

void TCustomComPort::HandleEvent(TComEvent event) {
    switch (event) {
        case evError: {
            TComErrors errors = TakeLineErrors();
            if (!errors.Empty() && OnError) OnError(this, errors);
            break;
        }
        case evRxChar:
            ReceiveData();
            break;
        case evTxEmpty:
            NotifyLinks(&TComLink::TxSignal, false);
            NotifyLinks(&TComLink::TxEmptySignal);
            if (OnTxEmpty) OnTxEmpty(this);
            break;
        case evBreak:
            if (OnBreak) OnBreak(this);
            break;
        case evRing:
            NotifyLinks(&TComLink::RingSignal);
            if (OnRing) OnRing(this);
            break;
        case evCTS:
            ReportModemSignal(sigCts, ModemSignals().Contains(sigCts));
            break;
        case evDSR:
            ReportModemSignal(sigDsr, ModemSignals().Contains(sigDsr));
            break;
        case evRxFlag:
            NotifyLinks(&TComLink::RxFlagSignal);
            if (OnRxFlag) OnRxFlag(this);
            break;
        case evRLSD:
            ReportModemSignal(sigRlsd, ModemSignals().Contains(sigRlsd));
            break;
        case evRx80Full:
            if (OnRx80Full) OnRx80Full(this);
            break;
    }
}

void TCustomComPort::ReceiveData() {
    int count = PendingInputCount();
    if (count <= 0) return;
    NotifyLinks(&TComLink::RxSignal, true);
    if (hasDataLink_) {
        std::vector<char> bytes(static_cast<size_t>(count));
        // The bytes counted are in the queue or the tty already, so this does not wait.
        count = Read(bytes.data(), count);
        if (OnRxBuf) OnRxBuf(this, bytes.data(), count);
        NotifyLinks(&TComLink::RxData, bytes.data(), count);
        return;
    }
    if (OnRxChar) OnRxChar(this, count);
}

void TCustomComPort::ReportDeviceLost() {
    TDispatchScope scope(dispatchDepth_);
    if (connected_ && OnDeviceLost) OnDeviceLost(this);
}

void TCustomComPort::ReportModemSignal(TModemSignal signal, bool on) {
    switch (signal) {
        case sigCts:
            NotifyLinks(&TComLink::CtsSignal, on);
            if (OnCTSChange) OnCTSChange(this, on);
            break;
        case sigDsr:
            NotifyLinks(&TComLink::DsrSignal, on);
            if (OnDSRChange) OnDSRChange(this, on);
            break;
        case sigRlsd:
            NotifyLinks(&TComLink::RlsdSignal, on);
            if (OnRLSDChange) OnRLSDChange(this, on);
            break;
        case sigRing:
            break;
    }
}

void TCustomComPort::AfterOpenNotifications() {
    NotifyLinks(&TComLink::ConnSignal, true);
    if (OnAfterOpen) OnAfterOpen(this);
    for (TModemSignal signal : {sigCts, sigDsr, sigRlsd})
        ReportModemSignal(signal, ModemSignals().Contains(signal));
}

void TCustomComPort::BeforeCloseNotifications() {
    NotifyLinks(&TComLink::CtsSignal, false);
    NotifyLinks(&TComLink::DsrSignal, false);
    NotifyLinks(&TComLink::RlsdSignal, false);
    if (OnCTSChange) OnCTSChange(this, false);
    if (OnDSRChange) OnDSRChange(this, false);
    if (OnRLSDChange) OnRLSDChange(this, false);
    if (OnBeforeClose) OnBeforeClose(this);
}

}  // namespace wct
