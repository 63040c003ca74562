// SPDX-License-Identifier: Apache-2.0
// TComThread: the event thread of one open port.
//
// It waits with poll() on the device and on a wake-up eventfd, never with a busy loop:
// it moves received bytes into the port's input queue (which is how evRxChar, evRxFlag
// and evRx80Full are seen), hands queued output to the driver, notices the output queue
// running empty, and, only where the driver has them, watches modem lines and error
// counters. Each batch of events the port asked for (its Events) is delivered as the
// port's SyncMethod says:
//   smThreadSync  the dispatch runs on the main thread while this thread waits;
//   smWindowSync  each event is posted to the main thread on its own, and this thread
//                 goes back to waiting as soon as the main thread has taken them;
//   smNone        the dispatch runs on this thread.
// An exception from a handler under smThreadSync or smNone is dropped and the thread
// goes on delivering; under smWindowSync it goes to UserMessages().ShowException.
//
// When the device goes away (the other end of a pseudo-terminal closed, an adapter
// unplugged) the thread reports it once through the port's OnDeviceLost, delivered the
// same way, then stops polling the device and waits only for its stop request.
//
// A port whose Events set is empty still has this thread, so that queued output keeps
// flowing to the driver; it then delivers nothing but the loss of the device.
//
// Owned by its port; created by Open and stopped by Close on the main thread. Stop()
// joins while the main thread keeps serving hand-offs, so a Close that meets the thread
// blocked in a hand-off does not deadlock.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <memory>

#include "common/main_thread.h"
#include "serial/com_port.h"

namespace wct {

class TComThread {
public:
    // Starts the thread.
    explicit TComThread(TCustomComPort& port);
    ~TComThread();
    TComThread(const TComThread&) = delete;
    TComThread& operator=(const TComThread&) = delete;

    // Any thread: makes the thread look at the device again (output queued, input room
    // freed).
    void Wake();
    // Asks the thread to end; deliveries not yet run are dropped.
    void RequestStop();
    // RequestStop, then waits for the thread to end.
    void Stop();
    bool OnThisThread() const;
    // Any thread: the thread has left its loop, so joining it does not wait on anything.
    bool Finished() const { return finished_.load(); }
    // The kernel id of the thread (for /proc inspection), 0 before it has started.
    pid_t ThreadId() const { return tid_.load(); }

private:
    void Run();
    TComEvents WaitForEvents();
    TComEvents ReadDevice(short revents);
    TComEvents WatchLines();
    void Deliver(TComEvents events, bool lost);

    TCustomComPort& port_;
    const TComEvents events_;
    const TSyncMethod syncMethod_;
    int wakeFd_ = -1;
    std::atomic<bool> stop_{false};
    std::atomic<bool> finished_{false};
    std::atomic<pid_t> tid_{0};
    // Posted smWindowSync deliveries run only while this holds.
    std::shared_ptr<std::atomic<bool>> delivering_;

    // Thread-only state.
    bool deviceGone_ = false;
    bool lossReported_ = false;
    bool watchModem_ = false;
    int modemBits_ = 0;
    bool watchCounters_ = false;
    linux_serial::TLineCounters counters_;
    int queued_ = 0;

    TWorkerThread worker_;  // last: started once everything above exists
};

}  // namespace wct
