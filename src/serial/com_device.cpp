// SPDX-License-Identifier: Apache-2.0
#include "serial/com_device.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <utility>

namespace wct {

int TComDevice::Open(const std::string& path) {
    Close();
    int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return errno;
    if (!isatty(fd) || ioctl(fd, TIOCEXCL) != 0) {
        int error = isatty(fd) ? errno : ENOTTY;
        ::close(fd);
        return error;
    }
    fd_ = fd;
    return 0;
}

void TComDevice::Close() {
    if (fd_ < 0) return;
    AbandonAll();
    {
        std::lock_guard lock(mutex_);
        input_.clear();
        txEmptyWanted_ = false;
        eventCharSeen_ = false;
    }
    ioctl(fd_, TIOCNXCL);
    ::close(fd_);
    fd_ = -1;
}

void TComDevice::SetInputCapacity(int bytes) {
    std::lock_guard lock(mutex_);
    inputCapacity_ = bytes;
}

void TComDevice::SetDiscardNull(bool discard) {
    std::lock_guard lock(mutex_);
    discardNull_ = discard;
}

void TComDevice::SetEventChar(char value) {
    std::lock_guard lock(mutex_);
    eventChar_ = value;
}

int TComDevice::Admit(char* buffer, int count) {
    if (discardNull_) count = static_cast<int>(std::remove(buffer, buffer + count, '\0') - buffer);
    if (std::find(buffer, buffer + count, eventChar_) != buffer + count) eventCharSeen_ = true;
    return count;
}

bool TComDevice::TakeEventCharSeen() {
    std::lock_guard lock(mutex_);
    return std::exchange(eventCharSeen_, false);
}

TComDevice::TFill TComDevice::FillInput() {
    TFill fill;
    std::lock_guard lock(mutex_);
    char chunk[4096];
    while (static_cast<int>(input_.size()) < inputCapacity_) {
        size_t room = std::min(sizeof chunk, static_cast<size_t>(inputCapacity_) - input_.size());
        ssize_t n = ::read(fd_, chunk, room);
        if (n < 0 && errno == EIO) {
            fill.hungUp = true;
            break;
        }
        // EAGAIN, or 0 from a tty set to return at once (VMIN 0): drained. EINTR: the
        // next wake-up retries. A hang-up shows as EIO or POLLHUP, not as 0.
        if (n <= 0) break;
        int kept = Admit(chunk, static_cast<int>(n));
        input_.append(chunk, static_cast<size_t>(kept));
        fill.added += kept;
        // A short read took all there was; asking again would only cost a system call.
        if (static_cast<size_t>(n) < room) break;
    }
    fill.queued = static_cast<int>(input_.size());
    return fill;
}

bool TComDevice::InputFull() {
    std::lock_guard lock(mutex_);
    return static_cast<int>(input_.size()) >= inputCapacity_;
}

int TComDevice::InputCapacity() {
    std::lock_guard lock(mutex_);
    return inputCapacity_;
}

TComDevice::TTake TComDevice::TakeInput(char* buffer, int count) {
    std::lock_guard lock(mutex_);
    TTake take;
    take.madeRoom = static_cast<int>(input_.size()) >= inputCapacity_;
    const bool seenBefore = eventCharSeen_;
    int taken = std::min(count, static_cast<int>(input_.size()));
    std::copy_n(input_.begin(), taken, buffer);
    input_.erase(0, static_cast<size_t>(taken));
    while (taken < count) {
        ssize_t n = ::read(fd_, buffer + taken, static_cast<size_t>(count - taken));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno == EAGAIN) break;
        if (n < 0) {
            take.error = errno;
            return take;
        }
        if (n == 0) break;
        taken += Admit(buffer + taken, static_cast<int>(n));
    }
    take.count = taken;
    take.eventChar = eventCharSeen_ && !seenBefore;
    return take;
}

int TComDevice::InputCount(int& count) {
    std::lock_guard lock(mutex_);
    int waiting = 0;
    // A hung-up tty holds nothing more, but what the queue took before still counts.
    if (ioctl(fd_, FIONREAD, &waiting) != 0 && errno != EIO) return errno;
    count = static_cast<int>(input_.size()) + waiting;
    return 0;
}

std::shared_ptr<TWriteOp> TComDevice::Write(const char* data, int count) {
    auto op = std::make_shared<TWriteOp>();
    op->size = count;
    std::lock_guard lock(mutex_);
    txEmptyWanted_ = true;
    output_.push_back({op, std::string(data, static_cast<size_t>(count)), 0});
    FlushLocked();
    return op;
}

TWriteOp TComDevice::State(const std::shared_ptr<TWriteOp>& op) {
    std::lock_guard lock(mutex_);
    return *op;
}

bool TComDevice::FlushOutput() {
    std::lock_guard lock(mutex_);
    return FlushLocked();
}

bool TComDevice::FlushLocked() {
    while (!output_.empty()) {
        TSegment& front = output_.front();
        while (front.offset < front.bytes.size()) {
            ssize_t n =
                ::write(fd_, front.bytes.data() + front.offset, front.bytes.size() - front.offset);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0 && errno == EAGAIN) return false;
            if (n < 0) {
                // The device refuses output (gone): every queued write ends in failure.
                int error = errno;
                for (TSegment& segment : output_) {
                    segment.op->error = error;
                    segment.op->done = true;
                }
                output_.clear();
                return true;
            }
            front.offset += static_cast<size_t>(n);
            front.op->written += static_cast<int>(n);
        }
        front.op->done = true;
        output_.pop_front();
    }
    return true;
}

bool TComDevice::OutputPending() {
    std::lock_guard lock(mutex_);
    return !output_.empty();
}

void TComDevice::Abandon(const std::shared_ptr<TWriteOp>& op) {
    std::lock_guard lock(mutex_);
    op->done = true;
    std::erase_if(output_, [&](const TSegment& segment) { return segment.op == op; });
}

void TComDevice::AbandonAll() {
    std::lock_guard lock(mutex_);
    for (TSegment& segment : output_) segment.op->done = true;
    output_.clear();
}

bool TComDevice::TakeTxEmpty(int& drainMs) {
    drainMs = -1;
    std::lock_guard lock(mutex_);
    if (!txEmptyWanted_ || !output_.empty()) return false;
    int unsent = 0;
    // A driver that cannot say (a pseudo-terminal may not) is taken as drained.
    if (ioctl(fd_, TIOCOUTQ, &unsent) == 0 && unsent > 0) {
        // About a byte per millisecond at 9600 bit/s; faster lines are asked again sooner
        // than needed, which costs a wake-up, never a byte.
        drainMs = std::clamp(unsent / 10, 1, 50);
        return false;
    }
    txEmptyWanted_ = false;
    return true;
}

int TComDevice::PurgeInput() {
    std::lock_guard lock(mutex_);
    input_.clear();
    return tcflush(fd_, TCIFLUSH) == 0 ? 0 : errno;
}

int TComDevice::PurgeOutput() {
    if (fd_ < 0) return EBADF;
    // Only what the port still holds is dropped. Bytes the tty has accepted are left to
    // it: on a pseudo-terminal they already sit in the peer's input, and a TCOFLUSH
    // there would destroy frames the other end has, in effect, received.
    std::lock_guard lock(mutex_);
    auto untouched = output_.begin();
    if (untouched != output_.end() && untouched->offset > 0) ++untouched;
    for (auto it = untouched; it != output_.end(); ++it) it->op->done = true;
    output_.erase(untouched, output_.end());
    return 0;
}

}  // namespace wct
