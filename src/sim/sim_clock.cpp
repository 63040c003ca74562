// SPDX-License-Identifier: Apache-2.0
#include "sim/sim_clock.h"

#include <dirent.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <string>

namespace wct::sim {

namespace {

constexpr uint32_t kTickClockSliceMs = 10;

bool Readable(int fd) {
    if (fd < 0) return false;
    // poll, not FIONREAD: it first moves what the pseudo-terminal still buffers for the
    // reader into its queue.
    pollfd p{fd, POLLIN, 0};
    return poll(&p, 1, 0) > 0 && (p.revents & POLLIN) != 0;
}

std::string Target(const std::string& link) {
    char target[PATH_MAX];
    const ssize_t n = readlink(link.c_str(), target, sizeof target);
    return n > 0 ? std::string(target, static_cast<size_t>(n)) : std::string();
}

// Whether a descriptor of this process other than `own` refers to the same device.
bool OpenElsewhere(int own) {
    const std::string device = Target("/proc/self/fd/" + std::to_string(own));
    DIR* fds = opendir("/proc/self/fd");
    if (fds == nullptr) return false;
    bool found = false;
    while (const dirent* entry = readdir(fds)) {
        const std::string name = entry->d_name;
        if (name == "." || name == ".." || name == std::to_string(own)) continue;
        if (Target("/proc/self/fd/" + name) == device) {
            found = true;
            break;
        }
    }
    closedir(fds);
    return found;
}

}  // namespace

uint32_t TTickClock::Now() const {
    return GetTickCount();
}

int TTickClock::RealSleep(uint32_t ms) const {
    // The tick source knows how fast it runs; a virtual clock that a test moves is
    // looked at again within the slice.
    const auto slice = static_cast<uint32_t>(TickSource().WaitSlice(ms).count());
    return static_cast<int>(std::min(slice, kTickClockSliceMs));
}

TSimClock& DefaultClock() {
    static TTickClock clock;
    return clock;
}

TPacedClock::TPacedClock(uint32_t start, uint32_t idleStep) : idleStep_(idleStep), now_(start) {
    SetTickSource(this);
}

TPacedClock::~TPacedClock() {
    SetTickSource(nullptr);
}

uint32_t TPacedClock::Now() {
    return now_.load();
}

uint32_t TPacedClock::Now() const {
    return now_.load();
}

void TPacedClock::Advance(uint32_t ms) {
    std::lock_guard lock(mutex_);
    now_.fetch_add(ms);
    for (auto& [simulator, s] : simulators_)
        if (!s.working) Wake(s);
}

void TPacedClock::Works(const TPtySimulator* simulator) {
    std::lock_guard lock(mutex_);
    simulators_[simulator].working = true;
}

void TPacedClock::Sleeps(const TPtySimulator* simulator, const TSimSleep& sleep) {
    std::lock_guard lock(mutex_);
    TSimulator& s = simulators_[simulator];
    s.working = false;
    s.sleep = sleep;
}

void TPacedClock::Stopped(const TPtySimulator* simulator) {
    std::lock_guard lock(mutex_);
    simulators_.erase(simulator);
}

void TPacedClock::Wake(TSimulator& s) {
    // At work from now: the clock holds until the thread sleeps again.
    s.working = true;
    const uint64_t one = 1;
    (void)!write(s.sleep.wakeFd, &one, sizeof one);
}

bool TPacedClock::Holds(TSimulator& s) {
    if (s.working || Readable(s.sleep.master)) return true;
    if (!Readable(s.sleep.slave) || !OpenElsewhere(s.sleep.slave)) {
        s.unreadSince.reset();
        return false;
    }
    const auto now = std::chrono::steady_clock::now();
    if (!s.unreadSince) s.unreadSince = now;
    return now - *s.unreadSince < kUnreadHoldMs;
}

void TPacedClock::Idle() {
    std::lock_guard lock(mutex_);
    uint32_t step = idleStep_.load();
    for (auto& [simulator, s] : simulators_) {
        if (Holds(s)) return;
        if (!s.sleep.due) continue;
        const auto ahead = static_cast<int32_t>(*s.sleep.due - now_.load());
        if (ahead <= 0) {
            // Due already (the clock was advanced): its work comes first.
            Wake(s);
            return;
        }
        step = std::min(step, static_cast<uint32_t>(ahead));
    }
    now_.fetch_add(step);
    for (auto& [simulator, s] : simulators_)
        if (s.sleep.due && static_cast<int32_t>(*s.sleep.due - now_.load()) <= 0) Wake(s);
}

}  // namespace wct::sim
