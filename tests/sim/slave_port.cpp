// SPDX-License-Identifier: Apache-2.0
#include "sim/slave_port.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <stdexcept>

namespace wct::sim::test {

std::string Bytes(std::initializer_list<unsigned> values) {
    std::string bytes;
    for (unsigned v : values) bytes += static_cast<char>(v);
    return bytes;
}

std::string Hex(const std::string& bytes) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string text;
    for (char c : bytes) {
        if (!text.empty()) text += ' ';
        text += kDigits[static_cast<uint8_t>(c) >> 4];
        text += kDigits[static_cast<uint8_t>(c) & 0x0F];
    }
    return text;
}

TSlavePort::TSlavePort(const std::string& path)
    : fd_(open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK)) {
    if (fd_ < 0) throw std::runtime_error("cannot open " + path);
}

TSlavePort::~TSlavePort() {
    close(fd_);
}

void TSlavePort::Write(const std::string& bytes) {
    if (write(fd_, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size())) {
        throw std::runtime_error("short write");
    }
}

std::string TSlavePort::ReadUntil(const std::function<bool(const std::string&)>& done, int ms) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
    std::string data;
    reads_.clear();
    while (!done(data)) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) break;
        pollfd pfd{fd_, POLLIN, 0};
        if (poll(&pfd, 1, static_cast<int>(left.count())) <= 0) continue;
        char buffer[4096];
        const ssize_t n = read(fd_, buffer, sizeof buffer);
        if (n > 0) {
            reads_.emplace_back(buffer, static_cast<size_t>(n));
            data.append(buffer, static_cast<size_t>(n));
        } else if (n < 0 && errno != EAGAIN) {
            break;
        }
    }
    return data;
}

std::string TSlavePort::ReadFor(int ms) {
    return ReadUntil([](const std::string&) { return false; }, ms);
}

std::vector<std::string> TSlavePort::ReadFrames(size_t count, int ms) {
    std::string data = ReadUntil(
        [&](const std::string& d) { return DongleFrames(pending_ + d).size() >= count; }, ms);
    pending_ += data;
    std::vector<std::string> frames = DongleFrames(pending_);
    if (frames.size() > count) frames.resize(count);
    // Keep what follows the frames handed out for the next call.
    size_t used = 0;
    for (const std::string& frame : frames) used = pending_.find(frame, used) + frame.size();
    pending_.erase(0, used);
    return frames;
}

short TSlavePort::Poll(int ms) {
    pollfd pfd{fd_, POLLIN, 0};
    return poll(&pfd, 1, ms) > 0 ? pfd.revents : 0;
}

bool TSlavePort::LineEnded() {
    char buffer[64];
    const ssize_t n = read(fd_, buffer, sizeof buffer);
    return n == 0 || (n < 0 && errno != EAGAIN);
}

std::vector<std::string> DongleFrames(const std::string& bytes) {
    std::vector<std::string> frames;
    size_t at = bytes.find('\x3E');
    while (at != std::string::npos && at + 4 <= bytes.size()) {
        const size_t length = static_cast<uint8_t>(bytes[at + 3]) + size_t{6};
        if (at + length > bytes.size()) break;
        frames.push_back(bytes.substr(at, length));
        at = bytes.find('\x3E', at + length);
    }
    return frames;
}

}  // namespace wct::sim::test

namespace wct::sim::test {

std::function<void(const std::string&)> TLogLines::Sink() {
    return [this](const std::string& line) {
        std::lock_guard lock(mutex_);
        lines_.push_back(line);
        added_.notify_all();
    };
}

void TLogLines::Clear() {
    std::lock_guard lock(mutex_);
    lines_.clear();
}

bool TLogLines::WaitFor(const std::string& text, int ms, size_t times) {
    std::unique_lock lock(mutex_);
    return added_.wait_for(lock, std::chrono::milliseconds(ms), [&] {
        size_t seen = 0;
        for (const std::string& line : lines_) {
            for (size_t at = line.find(text); at != std::string::npos;
                 at = line.find(text, at + text.size()))
                ++seen;
        }
        return seen >= times;
    });
}

}  // namespace wct::sim::test
