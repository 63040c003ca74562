// TComLedLogic: what a port status lamp knows without being drawn: the bound port, the
// line signal it shows, its on/off state and the ring timer. The lamp widget
// (app/com_led.h) owns one and repaints when Repaint is called.
//
// The logic learns the signal through its own TComLink, registered with the bound port.
// Main thread only; the ring timer's tick arrives there too.
#pragma once

#include <functional>

#include "common/component.h"
#include "common/threaded_timer.h"
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
    int RingDuration() const { return static_cast<int>(ringTimer_->Interval()); }
    void SetRingDuration(int ms) { ringTimer_->SetInterval(static_cast<uint32_t>(ms)); }

    // The link the bound port calls; exposed so that a signal the port cannot produce
    // (a ring on a pseudo-terminal) can be played to it.
    const TComLink& Link() const { return link_; }

    TLedStateEvent OnChange;
    // The view redraws; called on every state change, also while loading.
    std::function<void()> Repaint;

protected:
    void Notification(TComponent* component, TOperation operation) override;

private:
    void ChangeState(TLedState value);
    // The current value of the shown signal on the bound, open port.
    TLedState PortSignalState();
    void SignalChanged(bool on);
    void Ring();
    void RingOver();

    TComLink link_;
    TCustomComPort* port_ = nullptr;
    TComLedSignal signal_ = lsConn;
    TLedState state_ = lsOff;
    TThreadedTimer* ringTimer_;
};

}  // namespace wct
