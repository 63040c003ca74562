// SPDX-License-Identifier: Apache-2.0
#include "serial/com_thread.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <system_error>

#include "common/user_messages.h"

namespace wct {
namespace {

// Modem lines raise no poll() event, so they are looked at this often while watched.
constexpr int kModemPollMs = 20;

bool Wants(TComEvents mask, std::initializer_list<TComEvent> events) {
    for (TComEvent event : events)
        if (mask.Contains(event)) return true;
    return false;
}

}  // namespace

TComThread::TComThread(TCustomComPort& port)
    : port_(port),
      events_(port.Events()),
      syncMethod_(port.SyncMethod()),
      delivering_(std::make_shared<std::atomic<bool>>(true)) {
    wakeFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wakeFd_ < 0) throw std::system_error(errno, std::generic_category(), "eventfd");
    const int fd = port_.device_.Fd();
    if (Wants(events_, {evCTS, evDSR, evRing, evRLSD}))
        watchModem_ = ioctl(fd, TIOCMGET, &modemBits_) == 0;
    if (Wants(events_, {evError, evBreak}))
        watchCounters_ = linux_serial::ReadLineCounters(fd, counters_) == 0;
    worker_.Start([this] { Run(); });
}

TComThread::~TComThread() {
    Stop();
    ::close(wakeFd_);
}

void TComThread::Wake() {
    uint64_t one = 1;
    // A full counter already means "wake up"; nothing to do on failure.
    [[maybe_unused]] ssize_t n = ::write(wakeFd_, &one, sizeof one);
}

void TComThread::RequestStop() {
    stop_.store(true);
    delivering_->store(false);
    Wake();
}

void TComThread::Stop() {
    RequestStop();
    if (!OnThisThread()) worker_.Join();
}

bool TComThread::OnThisThread() const {
    return worker_.OnThisThread();
}

void TComThread::Run() {
    tid_.store(gettid());
    while (!stop_.load()) {
        TComEvents events = WaitForEvents();
        if (stop_.load()) break;
        const bool lost = deviceGone_ && !lossReported_;
        lossReported_ = deviceGone_;
        Deliver(events, lost);
    }
    finished_.store(true);
}

TComEvents TComThread::WaitForEvents() {
    const int fd = port_.device_.Fd();
    TComDevice& device = port_.device_;
    for (;;) {
        TComEvents found;
        std::array<pollfd, 2> fds{pollfd{wakeFd_, POLLIN, 0}, pollfd{fd, 0, 0}};
        nfds_t count = 1;
        int timeout = -1;
        if (!deviceGone_) {
            if (!device.InputFull()) fds[1].events |= POLLIN;
            if (device.OutputPending()) fds[1].events |= POLLOUT;
            count = 2;
            int drainMs = -1;
            if (events_.Contains(evTxEmpty) && device.TakeTxEmpty(drainMs))
                found.Include(evTxEmpty);
            if (drainMs > 0) timeout = drainMs;
            if (watchModem_) timeout = timeout < 0 ? kModemPollMs : std::min(timeout, kModemPollMs);
        }
        if (!found.Empty()) timeout = 0;
        int rc = poll(fds.data(), count, timeout);
        if (rc < 0 && errno != EINTR) {
            // Nothing sensible is left to wait on; report it and park until the stop request.
            deviceGone_ = true;
            return {};
        }
        if (fds[0].revents & POLLIN) {
            uint64_t value;
            [[maybe_unused]] ssize_t n = ::read(wakeFd_, &value, sizeof value);
            if (stop_.load()) return {};
        }
        if (count == 2 && rc > 0)
            found = TComEvents::FromBits(found.Bits() | ReadDevice(fds[1].revents).Bits());
        if (!deviceGone_) found = TComEvents::FromBits(found.Bits() | WatchLines().Bits());
        // The main thread may have read the event character straight from the tty.
        if (device.TakeEventCharSeen()) found.Include(evRxFlag);
        found = TComEvents::FromBits(found.Bits() & events_.Bits());
        if (!found.Empty() || (deviceGone_ && !lossReported_)) return found;
    }
}

TComEvents TComThread::ReadDevice(short revents) {
    TComEvents found;
    TComDevice& device = port_.device_;
    if (revents & (POLLIN | POLLHUP | POLLERR)) {
        const int before = queued_;
        TComDevice::TFill fill = device.FillInput();
        queued_ = fill.queued;
        if (fill.added > 0) found.Include(evRxChar);
        const int capacity = device.InputCapacity();
        if (before * 5 < capacity * 4 && queued_ * 5 >= capacity * 4) found.Include(evRx80Full);
        // A hung-up tty reports POLLHUP for ever: stop polling it rather than spin.
        if (fill.hungUp || (revents & (POLLHUP | POLLERR))) deviceGone_ = true;
    }
    if (revents & POLLNVAL) deviceGone_ = true;
    if (revents & POLLOUT) device.FlushOutput();
    return found;
}

TComEvents TComThread::WatchLines() {
    TComEvents found;
    const int fd = port_.device_.Fd();
    int bits = 0;
    if (watchModem_ && ioctl(fd, TIOCMGET, &bits) == 0) {
        const int changed = bits ^ modemBits_;
        if (changed & TIOCM_CTS) found.Include(evCTS);
        if (changed & TIOCM_DSR) found.Include(evDSR);
        if (changed & TIOCM_CD) found.Include(evRLSD);
        if ((changed & TIOCM_RI) && (bits & TIOCM_RI)) found.Include(evRing);
        modemBits_ = bits;
    }
    linux_serial::TLineCounters now;
    if (watchCounters_ && linux_serial::ReadLineCounters(fd, now) == 0) {
        if (now.brk != counters_.brk) found.Include(evBreak);
        if (now.frame != counters_.frame || now.overrun != counters_.overrun ||
            now.parity != counters_.parity || now.bufOverrun != counters_.bufOverrun)
            found.Include(evError);
        counters_ = now;
    }
    return found;
}

void TComThread::Deliver(TComEvents events, bool lost) {
    // The loss comes last: the bytes that arrived before it are delivered first.
    auto dispatch = [this, events, lost] {
        if (!events.Empty()) port_.DispatchEvents(events);
        if (lost) port_.ReportDeviceLost();
    };
    switch (syncMethod_) {
        case smThreadSync:
            try {
                MainThread().RunAndWait([this, &dispatch] {
                    // A Close that is joining us runs this hand-off: the port is going.
                    if (!stop_.load()) dispatch();
                });
            } catch (...) {
                // A handler's failure stops neither this thread nor later deliveries.
            }
            break;
        case smNone:
            try {
                dispatch();
            } catch (...) {
                // As above: dropped, the thread goes on.
            }
            break;
        case smWindowSync:
            // Each event on its own; this thread is released once the main thread has
            // taken them, before any handler runs.
            MainThread().RunAndWait([this, events, lost] {
                auto post = [this](std::function<void(TCustomComPort&)> handler) {
                    MainThread().Post([port = &port_, handler, live = delivering_] {
                        if (!live->load()) return;
                        try {
                            handler(*port);
                        } catch (const std::exception& error) {
                            UserMessages().ShowException(error);
                        }
                    });
                };
                for (TComEvent event : kComEventOrder)
                    if (events.Contains(event))
                        post([event](TCustomComPort& port) { port.DispatchEvents({event}); });
                if (lost) post([](TCustomComPort& port) { port.ReportDeviceLost(); });
            });
            break;
    }
}

}  // namespace wct
