// SPDX-License-Identifier: Apache-2.0
// The PC's side of a simulator in tests: the slave path opened with plain POSIX calls.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <mutex>
#include <string>
#include <vector>

namespace wct::sim::test {

std::string Bytes(std::initializer_list<unsigned> values);
std::string Hex(const std::string& bytes);

class TSlavePort {
public:
    explicit TSlavePort(const std::string& path);
    ~TSlavePort();
    TSlavePort(const TSlavePort&) = delete;
    TSlavePort& operator=(const TSlavePort&) = delete;

    void Write(const std::string& bytes);
    // Everything that arrives within `ms` of real time.
    std::string ReadFor(int ms);
    // Reads until `done` holds for the bytes so far, or `ms` of real time passed.
    std::string ReadUntil(const std::function<bool(const std::string&)>& done, int ms);
    // Reads `count` frames of the dongle's format (3E, code, ID, N, payload, 00, 21),
    // cut by their length byte, or fewer when `ms` of real time pass first. Bytes before
    // a start byte are skipped.
    std::vector<std::string> ReadFrames(size_t count, int ms);
    // Each read() that returned data during the last ReadFor / ReadUntil.
    const std::vector<std::string>& Reads() const { return reads_; }
    // The result of one poll() on the descriptor.
    short Poll(int ms);
    // Whether a read() reports the end of the line (no data, or an error other than
    // "try again"), as it does once the device is gone.
    bool LineEnded();

private:
    int fd_;
    std::string pending_;
    std::vector<std::string> reads_;
};

// The frames of the dongle's format in `bytes`, cut by their length byte.
std::vector<std::string> DongleFrames(const std::string& bytes);

}  // namespace wct::sim::test

namespace wct::sim::test {

// A simulator's log, collected for a test to look at (the sink runs on the simulator
// thread).
class TLogLines {
public:
    std::function<void(const std::string&)> Sink();
    // Forgets the lines so far, for the next simulator.
    void Clear();
    // Waits up to `ms` of real time until the lines hold `text` `times` times.
    bool WaitFor(const std::string& text, int ms, size_t times = 1);

private:
    std::mutex mutex_;  // protects lines_
    std::condition_variable added_;
    std::vector<std::string> lines_;
};

}  // namespace wct::sim::test
