// SPDX-License-Identifier: Apache-2.0
#include "test_broker.h"

#include <arpa/inet.h>
#include <mosquitto.h>
#include <netinet/in.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace wct::test {

int FreePort() {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        throw std::runtime_error("no free port");
    close(fd);
    return ntohs(address.sin_port);
}

TTestBroker::TTestBroker(bool tls) : tls_(tls), port_(FreePort()) {
    char dir[] = "/tmp/wct-broker-XXXXXX";
    if (mkdtemp(dir) == nullptr) throw std::runtime_error("mkdtemp failed");
    dir_ = dir;
    std::ofstream conf(dir_ + "/mosquitto.conf");
    conf << "listener " << port_ << " 127.0.0.1\nallow_anonymous true\n"
         << "persistence true\npersistence_location " << dir_ << "/\nlog_dest stderr\n";
    // As root the broker would switch to its own user, who cannot read this folder.
    if (getuid() == 0) conf << "user root\n";
    if (tls_) {
        const std::string command = std::string(WCT_OPENSSL) +
                                    " req -x509 -newkey rsa:2048 -nodes -days 1 -subj /CN=127.0.0.1"
                                    " -addext subjectAltName=IP:127.0.0.1 -keyout " +
                                    dir_ + "/key.pem -out " + CertificateFile() + " 2>/dev/null";
        if (std::system(command.c_str()) != 0) throw std::runtime_error("openssl failed");
        conf << "certfile " << CertificateFile() << "\nkeyfile " << dir_ << "/key.pem\n";
    }
}

TTestBroker::~TTestBroker() {
    Stop();
    std::filesystem::remove_all(dir_);
}

std::string TTestBroker::Url() const {
    return std::string(tls_ ? "mqtts" : "mqtt") + "://127.0.0.1:" + std::to_string(port_);
}

void TTestBroker::Start() {
    int err[2];
    if (pipe(err) != 0) throw std::runtime_error("pipe failed");
    pid_ = fork();
    if (pid_ == 0) {
        // A test stopped by a sanitizer leaves no broker behind holding ctest's pipe.
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        dup2(err[1], STDERR_FILENO);
        close(err[0]);
        const std::string conf = dir_ + "/mosquitto.conf";
        execl(WCT_MOSQUITTO, WCT_MOSQUITTO, "-c", conf.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    close(err[1]);
    const size_t before = [this] {
        std::lock_guard lock(mutex_);
        return log_.size();
    }();
    reader_ = std::thread([this, fd = err[0]] {
        std::string line;
        char c;
        while (read(fd, &c, 1) == 1) {
            if (c != '\n') {
                line += c;
                continue;
            }
            std::lock_guard lock(mutex_);
            log_.push_back(line);
            line.clear();
            logged_.notify_all();
        }
        close(fd);
    });
    std::unique_lock lock(mutex_);
    if (!logged_.wait_for(lock, 10s, [&] {
            for (size_t i = before; i < log_.size(); ++i)
                if (log_[i].find(" running") != std::string::npos) return true;
            return false;
        }))
        throw std::runtime_error("the broker did not start");
}

void TTestBroker::Stop() {
    End(SIGTERM);
}

void TTestBroker::Pause() {
    kill(pid_, SIGSTOP);
}

void TTestBroker::Kill() {
    End(SIGKILL);
}

void TTestBroker::End(int signal) {
    if (pid_ < 0) return;
    kill(pid_, signal);
    kill(pid_, SIGCONT);  // a paused broker sees its signal only when it runs
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
    reader_.join();
}

bool TTestBroker::WaitForUnread(size_t bytes, std::chrono::seconds timeout) const {
    const auto until = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        std::ifstream table("/proc/net/tcp");
        std::string line;
        std::getline(table, line);  // the heading
        size_t unread = 0;
        while (std::getline(table, line)) {
            // "sl: local-address:port remote-address:port state tx-queue:rx-queue ..."
            unsigned local = 0, state = 0;
            unsigned long rx = 0;
            if (std::sscanf(line.c_str(), " %*u: %*x:%x %*x:%*x %x %*x:%lx", &local, &state,
                            &rx) == 3 &&
                static_cast<int>(local) == port_ && state == 1)  // established
                unread += rx;
        }
        if (unread >= bytes) return true;
        if (std::chrono::steady_clock::now() > until) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

bool TTestBroker::WaitForLog(const std::string& text, int count, std::chrono::seconds timeout) {
    std::unique_lock lock(mutex_);
    return logged_.wait_for(lock, timeout, [&] {
        int found = 0;
        for (const std::string& line : log_) found += line.find(text) != std::string::npos;
        return found >= count;
    });
}

TTestSubscriber::TTestSubscriber(int port, const std::string& topic) : topic_(topic) {
    mosquitto_lib_init();
    static int counter = 0;
    const std::string id = "wct-test-" + std::to_string(getpid()) + "-" + std::to_string(++counter);
    client_ = mosquitto_new(id.c_str(), false, this);
    mosquitto_reconnect_delay_set(client_, 1, 1, false);
    mosquitto_connect_callback_set(client_, [](mosquitto* m, void* self, int rc) {
        if (rc == 0)
            mosquitto_subscribe(m, nullptr, static_cast<TTestSubscriber*>(self)->topic_.c_str(), 1);
    });
    mosquitto_subscribe_callback_set(client_, [](mosquitto*, void* self, int, int, const int*) {
        auto& s = *static_cast<TTestSubscriber*>(self);
        std::lock_guard lock(s.mutex_);
        s.received_.push_back({"$subscribed", "", false});
        s.arrived_.notify_all();
    });
    mosquitto_message_callback_set(client_, [](mosquitto*, void* self, const mosquitto_message* m) {
        auto& s = *static_cast<TTestSubscriber*>(self);
        std::lock_guard lock(s.mutex_);
        s.received_.push_back({m->topic,
                               std::string(static_cast<const char*>(m->payload), m->payloadlen),
                               m->retain});
        s.arrived_.notify_all();
    });
    mosquitto_connect_async(client_, "127.0.0.1", port, 10);
    mosquitto_loop_start(client_);
    // Subscribed before the test publishes anything.
    WaitFor([](const std::vector<TReceived>& r) {
        for (const auto& m : r)
            if (m.topic == "$subscribed") return true;
        return false;
    });
}

TTestSubscriber::~TTestSubscriber() {
    mosquitto_disconnect(client_);
    mosquitto_loop_stop(client_, false);
    mosquitto_destroy(client_);
}

bool TTestSubscriber::WaitFor(const TCheck& check, std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    return arrived_.wait_for(lock, timeout, [&] { return check(received_); });
}

std::vector<TReceived> TTestSubscriber::Received() {
    std::lock_guard lock(mutex_);
    return received_;
}

std::vector<std::string> TTestSubscriber::On(const std::string& topic) {
    return Payloads(Received(), topic);
}

std::vector<std::string> Payloads(const std::vector<TReceived>& received,
                                  const std::string& topic) {
    std::vector<std::string> payloads;
    for (const TReceived& m : received)
        if (m.topic == topic) payloads.push_back(m.payload);
    return payloads;
}

}  // namespace wct::test
