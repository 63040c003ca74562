// SPDX-License-Identifier: Apache-2.0
#include "sim/pty_simulator.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <exception>
#include <system_error>
#include <utility>

#include "common/virtual_ports.h"

namespace wct::sim {

namespace {

[[noreturn]] void ThrowErrno(const char* what) {
    throw std::system_error(errno, std::generic_category(), what);
}

std::string LinkTarget(const std::string& link) {
    char target[PATH_MAX];
    const ssize_t n = readlink(link.c_str(), target, sizeof target);
    return n > 0 ? std::string(target, static_cast<size_t>(n)) : std::string();
}

}  // namespace

TPtySimulator::TPtySimulator(const TSimSettings& settings, uint8_t frameStart)
    : clock_(settings.clock ? *settings.clock : DefaultClock()),
      log_(settings.log),
      registerPort_(settings.registerPort),
      linkPath_(settings.linkPath),
      frameStart_(frameStart),
      random_(settings.seed),
      lastRaw_(clock_.Now()) {}

TPtySimulator::~TPtySimulator() {
    Stop();
    ClosePty();
}

void TPtySimulator::Start() {
    if (thread_.joinable()) return;
    if (master_ < 0) OpenPty();
    wakeFd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (wakeFd_ < 0) ThrowErrno("eventfd");
    clock_.Works(this);
    // Under the lock: Call reads thread_ there, from the new thread too.
    std::lock_guard lock(callsMutex_);
    thread_ = std::thread([this] { Loop(); });
    running_ = true;
    stopping_ = false;
}

void TPtySimulator::Stop() {
    if (!thread_.joinable()) return;
    {
        std::lock_guard lock(callsMutex_);
        stopping_ = true;
    }
    const uint64_t one = 1;
    (void)!write(wakeFd_, &one, sizeof one);
    thread_.join();
    clock_.Stopped(this);
    close(wakeFd_);
    wakeFd_ = -1;
    ClosePty();
}

std::string TPtySimulator::PortPath() {
    std::string path;
    Call([&] { path = path_; });
    return path;
}

void TPtySimulator::SetLinkFaults(const TLinkFaults& faults) {
    Call([&] { faults_ = faults; });
}

void TPtySimulator::Vanish() {
    Call([&] {
        Log("-- vanished");
        ClosePty();
    });
}

void TPtySimulator::Return() {
    Call([&] {
        if (master_ >= 0) return;
        OpenPty();
        Log("-- back on " + path_);
    });
}

void TPtySimulator::Call(const std::function<void()>& work) {
    // The task keeps no exception of its own: one that `work` raises is handed over in
    // `error`, so that the thread that catches it frees it. The C++ runtime counts an
    // exception's references where ThreadSanitizer cannot see them.
    std::exception_ptr error;
    std::packaged_task<void()> task([&] {
        try {
            work();
        } catch (...) {
            error = std::current_exception();
        }
    });
    std::future<void> done = task.get_future();
    {
        std::unique_lock lock(callsMutex_);
        if (!running_ || std::this_thread::get_id() == thread_.get_id()) {
            lock.unlock();
            task();
        } else {
            calls_.push_back(std::move(task));
            lock.unlock();
            const uint64_t one = 1;
            (void)!write(wakeFd_, &one, sizeof one);
        }
    }
    done.get();
    if (error) std::rethrow_exception(error);
}

void TPtySimulator::OpenPty() {
    const int master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (master < 0) ThrowErrno("posix_openpt");
    char name[128];
    if (grantpt(master) != 0 || unlockpt(master) != 0 || ptsname_r(master, name, sizeof name)) {
        const int error = errno;
        close(master);
        throw std::system_error(error, std::generic_category(), "pseudo-terminal setup");
    }
    const int slave = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios raw{};
    bool ok = slave >= 0 && tcgetattr(slave, &raw) == 0;
    if (ok) {
        cfmakeraw(&raw);
        ok = tcsetattr(slave, TCSANOW, &raw) == 0;
    }
    if (!ok) {
        const int error = errno;
        if (slave >= 0) close(slave);
        close(master);
        throw std::system_error(error, std::generic_category(), "pseudo-terminal slave");
    }
    master_ = master;
    slaveKeeper_ = slave;
    path_ = name;
    if (registerPort_) RegisterVirtualPort(path_);
    if (!linkPath_.empty()) PointLink();
}

void TPtySimulator::PointLink() {
    // A new link is renamed over the old one, so a client never finds the name missing
    // while the device is there.
    // Only a link is ever replaced: a file of the user's under that name stays.
    struct stat existing {};
    if (lstat(linkPath_.c_str(), &existing) == 0 && !S_ISLNK(existing.st_mode)) {
        ClosePty();
        throw std::system_error(EEXIST, std::generic_category(),
                                linkPath_ + " exists and is no symbolic link");
    }
    const std::string temporary = linkPath_ + ".new";
    unlink(temporary.c_str());
    if (symlink(path_.c_str(), temporary.c_str()) != 0 ||
        rename(temporary.c_str(), linkPath_.c_str()) != 0) {
        const int error = errno;
        unlink(temporary.c_str());
        ClosePty();
        throw std::system_error(error, std::generic_category(), "link " + linkPath_);
    }
}

void TPtySimulator::ClosePty() {
    if (master_ < 0) return;
    if (registerPort_) UnregisterVirtualPort(path_);
    if (!linkPath_.empty() && LinkTarget(linkPath_) == path_) unlink(linkPath_.c_str());
    close(slaveKeeper_);
    close(master_);
    master_ = slaveKeeper_ = -1;
    path_.clear();
    outgoing_.clear();
}

void TPtySimulator::UpdateNow() {
    const uint32_t raw = clock_.Now();
    now_ += static_cast<int32_t>(raw - lastRaw_);
    lastRaw_ = raw;
}

bool TPtySimulator::RunCalls() {
    std::deque<std::packaged_task<void()>> calls;
    bool stopping = false;
    {
        std::lock_guard lock(callsMutex_);
        calls.swap(calls_);
        stopping = stopping_;
        if (stopping) running_ = false;
    }
    for (auto& call : calls) call();
    return !stopping;
}

int64_t TPtySimulator::CatchUp() {
    UpdateNow();
    const int64_t next = Tick(now_);
    Flush();
    return outgoing_.empty() ? next : std::min(next, outgoing_.front().due);
}

void TPtySimulator::Loop() {
    char buffer[4096];
    for (;;) {
        // What fell due while the thread was away leaves before a call changes the device.
        CatchUp();
        if (!RunCalls()) break;
        const int64_t due = CatchUp();
        int timeout = -1;
        TSimSleep sleep{std::nullopt, wakeFd_, master_, slaveKeeper_};
        if (due != kNever) {
            const int64_t wait = std::clamp<int64_t>(due - now_, 0, INT_MAX);
            timeout = clock_.RealSleep(static_cast<uint32_t>(wait));
            sleep.due = lastRaw_ + static_cast<uint32_t>(wait);
        }
        clock_.Sleeps(this, sleep);
        pollfd fds[2] = {{wakeFd_, POLLIN, 0}, {master_, POLLIN, 0}};
        const int count = poll(fds, master_ >= 0 ? 2 : 1, timeout);
        clock_.Works(this);
        if (count <= 0) continue;  // time-out, or EINTR: look at the schedule again
        if (fds[0].revents & POLLIN) {
            uint64_t value;
            (void)!read(wakeFd_, &value, sizeof value);
        }
        if (master_ >= 0 && (fds[1].revents & POLLIN)) {
            const ssize_t n = read(master_, buffer, sizeof buffer);
            if (n > 0) {
                // Likewise before the bytes that came in.
                CatchUp();
                const std::string_view bytes(buffer, static_cast<size_t>(n));
                Log("<- " + BytesToHex(bytes));
                Received(bytes);
            }
        }
    }
}

int64_t TPtySimulator::Recent(int64_t due, int64_t period, int64_t now) {
    if (now - due < kMaxCatchUpMs) return due;
    return due + ((now - kMaxCatchUpMs - due) / period + 1) * period;
}

void TPtySimulator::Send(std::string frame, bool answer) {
    if (master_ < 0) return;
    std::uniform_real_distribution<double> chance(0.0, 1.0);
    if (faults_.dropFraction > 0 && chance(random_) < faults_.dropFraction) {
        Log("-- dropped " + BytesToHex(frame));
        return;
    }
    if (faults_.garbage) {
        std::uniform_int_distribution<int> count(1, 4);
        std::uniform_int_distribution<int> value(0, 255);
        std::string noise;
        for (int n = count(random_); n > 0;) {
            const auto b = static_cast<char>(value(random_));
            if (static_cast<uint8_t>(b) == frameStart_) continue;
            noise += b;
            --n;
        }
        frame.insert(0, noise);
    }
    TOutgoing out{now_ + (answer ? faults_.replyDelayMs : 0), {}};
    if (faults_.splitMaxChunk > 0) {
        std::uniform_int_distribution<size_t> size(1, faults_.splitMaxChunk);
        for (size_t at = 0; at < frame.size();) {
            const size_t n = std::min(size(random_), frame.size() - at);
            out.chunks.push_back(frame.substr(at, n));
            at += n;
        }
    } else {
        out.chunks.push_back(std::move(frame));
    }
    outgoing_.push_back(std::move(out));
}

void TPtySimulator::Flush() {
    // Chunks of a split frame leave at least 1 ms apart so that a reader sees them in
    // separate reads; later frames wait behind them, as on a real line.
    while (!outgoing_.empty() && outgoing_.front().due <= now_) {
        TOutgoing& front = outgoing_.front();
        Write(front.chunks.front());
        front.chunks.pop_front();
        if (front.chunks.empty()) {
            outgoing_.pop_front();
        } else {
            front.due = now_ + 1;
            return;
        }
    }
}

void TPtySimulator::Write(const std::string& bytes) {
    if (master_ < 0) return;
    const ssize_t n = write(master_, bytes.data(), bytes.size());
    const size_t written = n > 0 ? static_cast<size_t>(n) : 0;
    if (written > 0) Log("-> " + BytesToHex(std::string_view(bytes).substr(0, written)));
    // Nobody drains the slave: the line is full and the rest is lost, as on a real line.
    if (written < bytes.size()) Log("-- line full, lost " + BytesToHex(bytes.substr(written)));
}

void TPtySimulator::Log(const std::string& line) const {
    if (log_) log_(line);
}

std::optional<TLineSettings> TPtySimulator::SlaveLineSettings() const {
    termios tio{};
    if (slaveKeeper_ < 0 || tcgetattr(slaveKeeper_, &tio) != 0) return std::nullopt;
    static constexpr std::pair<speed_t, unsigned> kSpeeds[] = {
        {B110, 110},     {B300, 300},     {B600, 600},       {B1200, 1200},
        {B2400, 2400},   {B4800, 4800},   {B9600, 9600},     {B19200, 19200},
        {B38400, 38400}, {B57600, 57600}, {B115200, 115200}, {B230400, 230400}};
    TLineSettings line;
    const speed_t speed = cfgetospeed(&tio);
    for (const auto& [code, rate] : kSpeeds)
        if (code == speed) line.baudRate = rate;
    switch (tio.c_cflag & CSIZE) {
        case CS5:
            line.dataBits = 5;
            break;
        case CS6:
            line.dataBits = 6;
            break;
        case CS7:
            line.dataBits = 7;
            break;
        default:
            line.dataBits = 8;
            break;
    }
    line.parity = (tio.c_cflag & PARENB) == 0 ? 'N' : (tio.c_cflag & PARODD) != 0 ? 'O' : 'E';
    line.stopBits = (tio.c_cflag & CSTOPB) != 0 ? 2 : 1;
    return line;
}

void TPtySimulator::RelaxSlaveLine() const {
    // A pseudo-terminal drops the parity bit, and when the settings a client asks for
    // differ from the stored ones in nothing else, tcsetattr reports EINVAL: a second
    // client asking for even parity would fail to open the port. Clearing CLOCAL (which a
    // pseudo-terminal ignores) leaves the next request a difference that is accepted.
    termios tio{};
    if (slaveKeeper_ < 0 || tcgetattr(slaveKeeper_, &tio) != 0 || (tio.c_cflag & CLOCAL) == 0)
        return;
    tio.c_cflag &= ~static_cast<tcflag_t>(CLOCAL);
    tcsetattr(slaveKeeper_, TCSANOW, &tio);
}

std::string LineSettingsText(const TLineSettings& settings) {
    return std::to_string(settings.baudRate) + " " + std::to_string(settings.dataBits) +
           settings.parity + std::to_string(settings.stopBits);
}

void TPtySimulator::HandleFrames(TFrameReader& reader, std::string_view bytes,
                                 const std::function<void(const std::string&)>& handle) {
    reader.Feed(bytes);
    for (;;) {
        std::string skipped;
        const std::optional<std::string> frame = reader.Next(skipped);
        if (!skipped.empty()) Log("-- ignored " + BytesToHex(skipped));
        if (!frame) return;
        handle(*frame);
    }
}

}  // namespace wct::sim
