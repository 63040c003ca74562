// SPDX-License-Identifier: Apache-2.0
// A pseudo-terminal for port tests: the port opens the slave by its path, the test plays
// the device on the master. And a pump for the main thread's hand-offs.
#pragma once

#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <stdexcept>
#include <string>

#include "common/main_thread.h"

namespace wct::test {

struct Pty {
    Pty() {
        int slave = -1;
        char name[128] = {};
        if (openpty(&master, &slave, name, nullptr, nullptr) != 0)
            throw std::runtime_error("openpty");
        ::close(slave);  // the port opens the slave by name
        path = name;
    }
    ~Pty() { CloseMaster(); }
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;
    void CloseMaster() {
        if (master >= 0) ::close(master);
        master = -1;
    }
    void Send(const std::string& bytes) const {
        ASSERT_EQ(::write(master, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }
    // Reads until `count` bytes came or two seconds passed with nothing new.
    std::string Receive(size_t count) const {
        std::string got;
        auto until = std::chrono::steady_clock::now() + std::chrono::seconds(2);
        char chunk[65536];
        while (got.size() < count && std::chrono::steady_clock::now() < until) {
            pollfd pfd{master, POLLIN, 0};
            if (poll(&pfd, 1, 10) <= 0) continue;
            ssize_t n = ::read(master, chunk, sizeof chunk);
            if (n > 0) {
                got.append(chunk, static_cast<size_t>(n));
                until = std::chrono::steady_clock::now() + std::chrono::seconds(2);
            }
        }
        return got;
    }
    int master = -1;
    std::string path;
};

// Runs the main thread's pending work until `done` holds or `ms` passed.
inline bool PumpUntil(const std::function<bool()>& done, int ms = 2000) {
    auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!done()) {
        if (std::chrono::steady_clock::now() > until) return false;
        MainThread().ProcessMessages();
    }
    return true;
}

}  // namespace wct::test
