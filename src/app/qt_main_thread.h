// SPDX-License-Identifier: Apache-2.0
// The main-thread seam on Qt's event loop: hand-offs from port and timer threads become
// queued calls, and the waits of the core run Qt's events (clicks, repaints, timers)
// while they wait, so the window stays live during every waiting operation.
#pragma once

#include <QObject>

#include "common/main_thread.h"

namespace wct {

class TQtMainThread : public TMainThread {
public:
    // Binds to the thread of the running QCoreApplication, which must exist.
    TQtMainThread();

    // Runs what is pending; when nothing is, waits up to `ms` ticks for an event.
    void ProcessMessagesFor(uint32_t ms) override;
    void Post(std::function<void()> work) override;
    bool IsMainThread() const override;
    void Wake() override;

private:
    QObject context_;  // lives on the main thread; queued calls run in its thread
};

}  // namespace wct
