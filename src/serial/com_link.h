// SPDX-License-Identifier: Apache-2.0
// TComLink: how a component bound to a port (packet framer, status lamp) receives the
// port's data and line signals without taking the port's own events away from the
// application.
//
// The bound component creates and owns the link and registers it with at most one port
// (TCustomComPort::RegisterLink). The port calls the slots on the thread that runs its
// event handlers (the main thread unless the port's SyncMethod is smNone), in
// registration order, and only the slots that are set. Slots must not register or
// unregister links.
#pragma once

#include <functional>

#include "common/component.h"

namespace wct {

class TComLink {
public:
    using TSignal = std::function<void(TComponent* sender)>;
    using TOnOffSignal = std::function<void(TComponent* sender, bool onOff)>;
    using TData = std::function<void(TComponent* sender, const char* buffer, int count)>;

    TOnOffSignal ConnSignal;  // the port opened (true) or closed (false)
    TData RxData;             // bytes read from the device
    TData TxData;             // a waited-for write completed
    TSignal TxEmptySignal;    // the output queue ran empty
    TSignal RxFlagSignal;     // the event character arrived
    TOnOffSignal CtsSignal;
    TOnOffSignal DsrSignal;
    TOnOffSignal RlsdSignal;
    TSignal RingSignal;
    TOnOffSignal TxSignal;  // on after a write is issued, off when the output queue empties
    TOnOffSignal RxSignal;  // on when bytes wait, off when a read left the input queue empty
};

}  // namespace wct
