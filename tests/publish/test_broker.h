// SPDX-License-Identifier: Apache-2.0
// A Mosquitto broker of the test's own on 127.0.0.1, and a subscriber that keeps what it
// receives, both real: the broker is Debian's program in a child process, the
// subscriber a libmosquitto client.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct mosquitto;

namespace wct::test {

using std::chrono_literals::operator""s;

class TTestBroker {
public:
    // Keeps its configuration, its stored state and the certificate in a fresh folder. With
    // `tls` it listens with a self-signed certificate for 127.0.0.1 (CertificateFile()).
    explicit TTestBroker(bool tls = false);
    ~TTestBroker();

    // Starts on the same port each time, with what it stored when it last stopped, and
    // returns when it listens.
    void Start();
    void Stop();
    // Stops the process (SIGSTOP): its connections stay open and nothing on them is read
    // or answered until it is stopped or killed.
    void Pause();
    // Ends it at once, as a crash: what it had not read or stored is lost.
    void Kill();
    int Port() const { return port_; }
    std::string Url() const;
    const std::string& Dir() const { return dir_; }
    std::string CertificateFile() const { return dir_ + "/cert.pem"; }
    // Waits until at least `bytes` that clients sent wait unread in its connections (a
    // paused broker's).
    bool WaitForUnread(size_t bytes, std::chrono::seconds timeout = 10s) const;
    // Waits until `count` lines of the broker's log hold `text`.
    bool WaitForLog(const std::string& text, int count, std::chrono::seconds timeout = 10s);

private:
    void End(int signal);

    std::string dir_;
    bool tls_;
    int port_ = 0;
    pid_t pid_ = -1;
    std::thread reader_;
    std::mutex mutex_;  // protects log_
    std::condition_variable logged_;
    std::vector<std::string> log_;
};

struct TReceived {
    std::string topic;
    std::string payload;
    bool retained = false;
};

// Subscribes to `topic` with QoS 1 in a session the broker keeps, so that what arrives
// while the subscriber is away (a broker restart) reaches it when it is back.
class TTestSubscriber {
public:
    TTestSubscriber(int port, const std::string& topic);
    ~TTestSubscriber();
    // `check` runs under the subscriber's lock: it reads what it is given, nothing else.
    using TCheck = std::function<bool(const std::vector<TReceived>&)>;
    bool WaitFor(const TCheck& check, std::chrono::milliseconds timeout = 10s);
    std::vector<TReceived> Received();
    // The payloads received on `topic`, in order.
    std::vector<std::string> On(const std::string& topic);

private:
    mosquitto* client_;
    std::string topic_;
    std::mutex mutex_;  // protects received_
    std::condition_variable arrived_;
    std::vector<TReceived> received_;
};

// The payloads received on `topic`, in order.
std::vector<std::string> Payloads(const std::vector<TReceived>& received, const std::string& topic);

// A port on 127.0.0.1 that nothing listens on now.
int FreePort();

}  // namespace wct::test
