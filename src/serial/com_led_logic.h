// SPDX-License-Identifier: Apache-2.0
// TComLedLogic: what a port status lamp knows without being drawn: the bound port, the
// line signal it shows, its on/off state and how long a ring lights it. The lamp widget
// (app/com_led.h) owns one, repaints when Repaint is called and runs the one-shot ring
// timer (a window timer: a lamp needs no thread of its own).
//
// The logic learns the signal through its own TComLink, registered with the bound port.
// Main thread only.
#pragma once

#include <functional>

#include "common/component.h"
#include "serial/com_link.h"
#include "serial/com_port.h"

namespace wct {

enum TComLedSignal { lsConn, lsCTS, lsDSR, lsRLSD, lsRing, lsRx, lsTx };
enum TLedKind {
    lkRedLight,
    lkGreenLight,
    lkBlueLight,
    lkYellowLight,
    lkPurpleLight,
    lkBulb,
    lkCustom
};
enum TLedState { lsOff, lsOn };

using TLedStateEvent = std::function<void(TComponent* sender, TLedState state)>;

class TComLedLogic : public TComponent {
public:
    explicit TComLedLogic(TComponent* owner = nullptr);
    ~TComLedLogic() override;
    std::string ClassName() const override { return "TComLedLogic"; }

    TCustomComPort* ComPort() const { return port_; }
    // Binding an open port shows its signal at once; a closed one leaves the state as it
    // is; none turns the lamp off.
    void SetComPort(TCustomComPort* value);
    TComLedSignal LedSignal() const { return signal_; }
    // Rebinds the link to the new signal; the state stays until that signal changes.
    void SetLedSignal(TComLedSignal value);
    TLedState State() const { return state_; }
    // Raises EComPort 19 while a port is bound: the port decides then.
    void SetState(TLedState value);
    // How long a ring lights the lamp, in ms.
    int RingDuration() const { return ringDuration_; }
    void SetRingDuration(int ms) { ringDuration_ = ms; }
    // The ring timer runs: a ring lit the lamp and RingOver has not come yet.
    bool Ringing() const { return ringing_; }
    // The ring timer ran out: the lamp goes off.
    void RingOver();

    // The link the bound port calls; exposed so that a signal the port cannot produce
    // (a ring on a pseudo-terminal) can be played to it.
    const TComLink& Link() const { return link_; }

    TLedStateEvent OnChange;
    // The view redraws; called on every state change, also while loading.
    std::function<void()> Repaint;
    // The view starts its one-shot ring timer of `ms`, and calls RingOver when it ends.
    std::function<void(int ms)> StartRingTimer;

protected:
    void Notification(TComponent* component, TOperation operation) override;

private:
    void ChangeState(TLedState value);
    // The current value of the shown signal on the bound, open port.
    TLedState PortSignalState();
    void SignalChanged(bool on);
    void Ring();

    TComLink link_;
    TCustomComPort* port_ = nullptr;
    TComLedSignal signal_ = lsConn;
    TLedState state_ = lsOff;
    int ringDuration_ = 1000;
    bool ringing_ = false;
};

}  // namespace wct
