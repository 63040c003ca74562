// SPDX-License-Identifier: Apache-2.0
#include "common/main_thread.h"

#include <atomic>
#include <chrono>
#include <exception>

#include "common/tick_count.h"

namespace wct {

namespace {

// One RunAndWait in flight: the main thread runs the work and keeps its exception, the
// waiting thread takes it from there.
struct THandoff {
    std::function<void()> work;
    std::mutex mutex;  // protects done and error
    std::condition_variable finished;
    bool done = false;
    std::exception_ptr error;
};

}  // namespace

void TMainThread::RunAndWait(std::function<void()> work) {
    if (IsMainThread()) {
        work();
        return;
    }
    auto handoff = std::make_shared<THandoff>();
    handoff->work = std::move(work);
    Post([handoff] {
        std::exception_ptr error;
        try {
            handoff->work();
        } catch (...) {
            error = std::current_exception();
        }
        std::lock_guard lock(handoff->mutex);
        handoff->error = std::move(error);
        handoff->done = true;
        handoff->finished.notify_all();
    });
    std::unique_lock lock(handoff->mutex);
    handoff->finished.wait(lock, [&] { return handoff->done; });
    // Taken out of the hand-off, so that the last reference to the exception, and its
    // freeing, stay with the thread that catches it: the C++ runtime counts those
    // references where ThreadSanitizer cannot see them.
    if (std::exception_ptr error = std::move(handoff->error)) std::rethrow_exception(error);
}

TPlainMainThread::TPlainMainThread() : owner_(std::this_thread::get_id()) {}

bool TPlainMainThread::IsMainThread() const {
    return std::this_thread::get_id() == owner_;
}

bool TPlainMainThread::RunOne() {
    std::function<void()> work;
    {
        std::lock_guard lock(mutex_);
        if (queue_.empty()) return false;
        work = std::move(queue_.front());
        queue_.pop_front();
    }
    try {
        work();
    } catch (...) {
        // A posted item has nobody to report to: its exception is dropped, as a window
        // message handler's would be.
    }
    return true;
}

void TPlainMainThread::ProcessMessagesFor(uint32_t ms) {
    size_t pending;
    {
        std::lock_guard lock(mutex_);
        pending = queue_.size();
    }
    // Only what was pending on entry: work queued by the work itself waits for the next
    // call, so a handler that re-posts cannot keep us here forever.
    bool ran = false;
    for (size_t i = 0; i < pending && RunOne(); ++i) ran = true;
    if (ran) return;
    {
        // One wait: on real ticks all of `ms`, on a virtual clock a short slice after
        // which Idle moves the clock; the caller loops either way.
        // A zero slice is not waited for: the kernel would still switch threads for it.
        const auto slice = TickSource().WaitSlice(ms);
        std::unique_lock lock(mutex_);
        if (slice.count() > 0)
            arrived_.wait_for(lock, slice, [this] { return !queue_.empty() || woken_; });
        woken_ = false;
    }
    if (!RunOne()) TickSource().Idle();
}

void TPlainMainThread::Wake() {
    std::lock_guard lock(mutex_);
    woken_ = true;
    arrived_.notify_all();
}

void TPlainMainThread::Post(std::function<void()> work) {
    std::lock_guard lock(mutex_);
    queue_.push_back(std::move(work));
    arrived_.notify_all();
}

namespace {
std::atomic<TMainThread*> installed{nullptr};
}

TMainThread& MainThread() {
    if (TMainThread* current = installed.load()) return *current;
    static TPlainMainThread plain;
    return plain;
}

void SetMainThread(TMainThread* dispatcher) {
    installed.store(dispatcher);
}

TWorkerThread::~TWorkerThread() {
    Join();
}

void TWorkerThread::Start(std::function<void()> body) {
    Join();
    finished_ = std::make_shared<std::atomic<bool>>(false);
    thread_ = std::thread([this, body = std::move(body), finished = finished_] {
        id_.store(std::this_thread::get_id());
        body();
        finished->store(true);
        MainThread().Wake();
    });
}

void TWorkerThread::Join() {
    if (!thread_.joinable()) return;
    TMainThread& main = MainThread();
    if (main.IsMainThread()) {
        auto finished = finished_;
        while (!finished->load()) main.ProcessMessages();
    }
    thread_.join();
    id_.store({});
}

}  // namespace wct
