// SPDX-License-Identifier: Apache-2.0
// The main thread seam: all component logic runs on one thread, and worker threads (port
// event threads, timer threads) hand their work to it.
//
// Two implementations exist: TPlainMainThread here (CLI, simulators, tests) and one on
// Qt's event loop in app/. Which one is in force is set once at start-up.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace wct {

class TMainThread {
public:
    virtual ~TMainThread() = default;

    // Main thread only: runs the hand-offs and posts that are pending. When nothing is
    // pending it waits up to `ms` ticks for something to arrive (and runs it), so waiting
    // loops built on it neither spin a core nor wake when there is nothing to do; a wait
    // that ran out tells the tick source it idled.
    virtual void ProcessMessagesFor(uint32_t ms) = 0;
    // The same with a wait of one tick, for loops that poll state between passes.
    void ProcessMessages() { ProcessMessagesFor(1); }

    // Any thread: runs `work` on the main thread and blocks until it is done. An
    // exception thrown by `work` is rethrown here. Called on the main thread, it runs
    // `work` directly. Built on Post, the same for every dispatcher.
    void RunAndWait(std::function<void()> work);

    // Any thread: queues `work` for the main thread and returns at once. An exception
    // thrown by `work` reaches no caller.
    virtual void Post(std::function<void()> work) = 0;

    virtual bool IsMainThread() const = 0;

    // Any thread: makes a ProcessMessages that waits for work return early.
    virtual void Wake() = 0;
};

// The dispatcher in force. Unless one was installed, a TPlainMainThread bound to the
// first thread that asks is created.
TMainThread& MainThread();
// Installs a dispatcher (nullptr restores the plain one). The caller keeps ownership.
void SetMainThread(TMainThread* dispatcher);

class TPlainMainThread : public TMainThread {
public:
    // Binds to the constructing thread.
    TPlainMainThread();

    void ProcessMessagesFor(uint32_t ms) override;
    void Post(std::function<void()> work) override;
    bool IsMainThread() const override;

    void Wake() override;

private:
    bool RunOne();

    std::thread::id owner_;
    std::mutex mutex_;  // protects queue_ and woken_
    std::condition_variable arrived_;
    std::deque<std::function<void()>> queue_;
    bool woken_ = false;
};

// A worker thread that the main thread can join while serving the hand-offs the worker
// may be blocked in, so that stopping a worker from the main thread never deadlocks.
class TWorkerThread {
public:
    TWorkerThread() = default;
    ~TWorkerThread();
    TWorkerThread(const TWorkerThread&) = delete;
    TWorkerThread& operator=(const TWorkerThread&) = delete;

    void Start(std::function<void()> body);
    // Waits for the body to return. On the main thread, pending hand-offs keep running
    // meanwhile; the caller must first make the body return (set its stop event).
    void Join();
    bool Running() const { return thread_.joinable(); }
    // Any thread: whether the caller is this worker. The worker records its own id
    // before the body starts, since Start stores thread_ only once the body may be running.
    bool OnThisThread() const { return id_.load() == std::this_thread::get_id(); }

private:
    std::thread thread_;
    std::atomic<std::thread::id> id_;
    std::shared_ptr<std::atomic<bool>> finished_;
};

}  // namespace wct
