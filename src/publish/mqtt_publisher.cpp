// SPDX-License-Identifier: Apache-2.0
#include "publish/mqtt_publisher.h"

#include <mosquitto.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <set>
#include <stdexcept>
#include <vector>

#include "publish/mqtt_client.h"

namespace wct::publish {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// Records handed to the library at once; more follow as the broker acknowledges them.
constexpr size_t kRecordsInFlight = 50;
constexpr const char* kOnline = "online";
constexpr const char* kOffline = "offline";

std::once_flag libraryStarted;

}  // namespace

const char* BrokerStateText(TBrokerState state) {
    switch (state) {
        case TBrokerState::Off:
            return "off";
        case TBrokerState::Connecting:
            return "connecting";
        case TBrokerState::Connected:
            return "connected";
        case TBrokerState::Reconnecting:
            return "reconnecting";
    }
    return "off";
}

// The connection and what is in flight on it. Lives on the publisher's thread only; the
// library's callbacks run inside its loop calls, on that thread too.
class TMqttPublisher::TSession {
public:
    explicit TSession(TMqttPublisher& owner)
        : p_(owner), s_(owner.settings_), status_(StatusTopic(s_.bench)), retry_(s_.firstRetry) {
        const std::string id = "wct-" + s_.bench + "-" + std::to_string(getpid());
        mosq_ = mosquitto_new(id.c_str(), true, this);
        if (mosq_ == nullptr) throw std::runtime_error("cannot create the MQTT client");
        mosquitto_int_option(mosq_, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
        mosquitto_connect_callback_set(mosq_, &TSession::OnConnect);
        mosquitto_disconnect_callback_set(mosq_, &TSession::OnDisconnect);
        mosquitto_publish_callback_set(mosq_, &TSession::OnPublish);
        mosquitto_log_callback_set(mosq_, &TSession::OnLog);
        mosquitto_will_set(mosq_, status_.c_str(), static_cast<int>(std::strlen(kOffline)),
                           kOffline, 1, true);
        SetCredentialsAndTls(mosq_, s_.broker, s_.username, s_.password, s_.tlsCa);
    }
    ~TSession() { mosquitto_destroy(mosq_); }
    TSession(const TSession&) = delete;
    TSession& operator=(const TSession&) = delete;

    void Run() {
        nextAttempt_ = Clock::now();
        while (!Stopping()) {
            const auto now = Clock::now();
            if (!SocketOpen() && now >= nextAttempt_) Attempt();
            auto wakeAt = now + std::chrono::seconds(1);
            if (!SocketOpen())
                wakeAt = std::min(wakeAt, nextAttempt_);
            else if (connected_)
                wakeAt = std::min(wakeAt, SendPending(now));
            Wait(wakeAt);
        }
        Finish();
    }

private:
    static TSession& Self(void* object) { return *static_cast<TSession*>(object); }

    static void OnConnect(mosquitto*, void* object, int rc) {
        TSession& self = Self(object);
        if (rc != 0) {
            self.refusal_ = mosquitto_connack_string(rc);
            return;
        }
        self.Connected();
    }

    static void OnDisconnect(mosquitto*, void* object, int) { Self(object).connected_ = false; }

    static void OnPublish(mosquitto*, void* object, int mid) { Self(object).Acknowledged(mid); }

    static void OnLog(mosquitto*, void* object, int level, const char* text) {
        if (auto reason = TlsErrorOf(level, text)) Self(object).tlsError_ = std::move(*reason);
    }

    bool Stopping() const {
        std::lock_guard lock(p_.mutex_);
        return p_.stopping_;
    }
    bool SocketOpen() const { return mosquitto_socket(mosq_) >= 0; }

    void Attempt() {
        refusal_.clear();
        tlsError_.clear();
        // Each attempt starts afresh: a reconnection after a failed TLS handshake is refused.
        const int rc = mosquitto_connect_async(mosq_, s_.broker.host.c_str(), s_.broker.port,
                                               s_.keepAliveSeconds);
        const int error = errno;
        if (rc != MOSQ_ERR_SUCCESS) Down(ErrorText(rc, error), false);
    }

    void Connected() {
        connected_ = true;
        everConnected_ = true;
        reported_.clear();
        toldLoss_ = false;
        retry_ = s_.firstRetry;
        inFlight_.clear();
        handed_.clear();
        sayOnline_ = true;
        offlineMid_ = -1;
        offlineAcked_ = false;
        {
            std::lock_guard lock(p_.mutex_);
            ++p_.counters_.connections;
            // The broker may have lost what it retained.
            for (const auto& [console, message] : p_.info_) p_.infoChanged_.insert(console);
            p_.outboxChanged_ = true;
        }
        SetState(TBrokerState::Connected);
        Notice("connected to the broker " + s_.broker.Text(), false);
    }

    // The socket is closed (a failed attempt, or a connection that ended): tell it once
    // and try again after the back-off.
    void Down(const std::string& why, bool wasConnected) {
        connected_ = false;
        if (finishing_) {
            // The grace is short: the next attempt comes soon, and nobody waits for news.
            nextAttempt_ = Clock::now() + s_.firstRetry;
            return;
        }
        if (wasConnected) {
            Notice("lost the broker " + s_.broker.Text() + " (" + why + "); reconnecting", true);
            reported_ = why;
            toldLoss_ = true;
        } else if (!toldLoss_ && why != reported_) {
            Notice("broker " + s_.broker.Text() + ": " + why + "; trying again in the background",
                   true);
            reported_ = why;
        }
        SetState(everConnected_ ? TBrokerState::Reconnecting : TBrokerState::Connecting);
        nextAttempt_ = Clock::now() + retry_;
        retry_ = std::min(retry_ * 2, s_.longestRetry);
    }

    std::string ErrorText(int rc, int error) const {
        return BrokerErrorText(rc, error, s_.broker.host, tlsError_, refusal_);
    }

    // Waits for the socket, new work or `until`, and runs the library's share.
    void Wait(Clock::time_point until) {
        const int socket = mosquitto_socket(mosq_);
        pollfd fds[2] = {{p_.wakeFd_, POLLIN, 0}, {socket, POLLIN, 0}};
        if (mosquitto_want_write(mosq_)) fds[1].events |= POLLOUT;
        const auto left = std::chrono::ceil<milliseconds>(until - Clock::now()).count();
        if (poll(fds, socket >= 0 ? 2 : 1, static_cast<int>(std::max<long long>(0, left))) < 0)
            return;  // EINTR: the caller loops
        if (fds[0].revents != 0) {
            uint64_t count;
            [[maybe_unused]] const ssize_t n = read(p_.wakeFd_, &count, sizeof count);
        }
        if (socket < 0) return;
        const bool wasConnected = connected_;
        int rc = MOSQ_ERR_SUCCESS;
        int error = 0;
        if (fds[1].revents & (POLLIN | POLLERR | POLLHUP)) {
            rc = mosquitto_loop_read(mosq_, 1);
            error = errno;
        }
        if (rc == MOSQ_ERR_SUCCESS && SocketOpen() && (fds[1].revents & POLLOUT)) {
            rc = mosquitto_loop_write(mosq_, 1);
            error = errno;
        }
        if (rc == MOSQ_ERR_SUCCESS && SocketOpen()) {
            rc = mosquitto_loop_misc(mosq_);
            error = errno;
        }
        if (!SocketOpen()) Down(ErrorText(rc, error), wasConnected);
    }

    int Publish(const std::string& topic, const std::string& payload, int qos, bool retain) {
        int mid = -1;
        if (mosquitto_publish(mosq_, &mid, topic.c_str(), static_cast<int>(payload.size()),
                              payload.data(), qos, retain) != MOSQ_ERR_SUCCESS)
            return -1;
        return mid;
    }

    // Sends what is due; returns when the next measures fall due.
    Clock::time_point SendPending(Clock::time_point now) {
        const auto period = std::chrono::duration_cast<Clock::duration>(
            std::chrono::duration<double>(1.0 / s_.rate));
        auto next = now + std::chrono::seconds(1);
        std::vector<TMeasuresMessage> measures;
        std::deque<TRideMessage> rides;
        bool outbox = false;
        // Not from the connect callback: the library's own locks would nest the other way
        // round there.
        if (sayOnline_) Publish(status_, kOnline, 1, true);
        sayOnline_ = false;
        {
            std::lock_guard lock(p_.mutex_);
            for (size_t i = 0; i < p_.measures_.size(); ++i) {
                TMeasuresSlot& slot = p_.measures_[i];
                if (!slot.pending) continue;
                const auto due = lastSent_[i] + period;
                if (now < due) {
                    next = std::min(next, due);
                    continue;
                }
                measures.push_back(slot.message);
                slot.pending = false;
                lastSent_[i] = now;
            }
            rides.swap(p_.rides_);
            outbox = p_.outboxChanged_;
            p_.outboxChanged_ = false;
        }
        SendInfo();
        for (const TMeasuresMessage& m : measures)
            Publish(MeasuresTopic(s_.bench, m.console), MeasuresPayload(m), 0, false);
        for (const TRideMessage& m : rides)
            Publish(RideTopic(s_.bench, m.console), RidePayload(m), 0, false);
        {
            std::lock_guard lock(p_.mutex_);
            p_.counters_.measuresSent += measures.size();
            p_.counters_.ridesSent += rides.size();
        }
        if (outbox) SendOutbox();
        return next;
    }

    void SendInfo() {
        std::vector<TConsoleInfoMessage> info;
        {
            std::lock_guard lock(p_.mutex_);
            for (int console : p_.infoChanged_) info.push_back(p_.info_[console]);
            p_.infoChanged_.clear();
        }
        for (const TConsoleInfoMessage& m : info)
            Publish(InfoTopic(s_.bench, m.console), InfoPayload(m), 1, true);
    }

    void SendOutbox() {
        for (const std::string& name : p_.outbox_.Names()) {
            if (inFlight_.size() >= kRecordsInFlight) break;  // more after the next ack
            if (handed_.count(name) != 0 || stuck_.count(name) != 0) continue;
            TOutboxEntry entry;
            std::string problem = "it holds no topic and record";
            if (p_.outbox_.Read(name, entry))
                problem = CheckRecordProblem(s_.bench, entry.topic, entry.payload);
            else if (access((p_.outbox_.Dir() + "/" + name).c_str(), F_OK) != 0)
                continue;  // gone meanwhile
            int mid = -1;
            if (problem.empty()) {
                const int rc = mosquitto_publish(mosq_, &mid, entry.topic.c_str(),
                                                 static_cast<int>(entry.payload.size()),
                                                 entry.payload.data(), 1, false);
                // The connection's trouble passes; the record's own does not.
                if (rc == MOSQ_ERR_NO_CONN || rc == MOSQ_ERR_CONN_LOST || rc == MOSQ_ERR_NOMEM)
                    return;
                if (rc != MOSQ_ERR_SUCCESS) problem = mosquitto_strerror(rc);
            }
            if (!problem.empty()) {
                SetAside(name, problem);
                continue;
            }
            inFlight_[mid] = name;
            handed_.insert(name);
        }
    }

    // One entry that cannot be published stops no other: it leaves the queue, told once.
    void SetAside(const std::string& name, const std::string& problem) {
        const std::string path = p_.outbox_.Dir() + "/" + name;
        try {
            const std::string aside = p_.outbox_.SetAside(name);
            Notice("outbox record " + path + " cannot be published (" + problem +
                       "); set aside as " + aside,
                   true);
        } catch (const std::exception& e) {
            stuck_.insert(name);
            Notice("outbox record " + path + " cannot be published (" + problem + ") and " +
                       e.what() + "; it is skipped",
                   true);
        }
    }

    void Acknowledged(int mid) {
        if (mid == offlineMid_) offlineAcked_ = true;
        const auto record = inFlight_.find(mid);
        if (record == inFlight_.end()) return;
        p_.outbox_.Remove(record->second);
        inFlight_.erase(record);
        std::lock_guard lock(p_.mutex_);
        ++p_.counters_.checksAcknowledged;
        p_.outboxChanged_ = true;
    }

    // Stop: each console's info, the outbox, "offline" (retained), then a clean
    // disconnection, so that the last will is not sent. A connection lost shortly before
    // is tried again while the grace lasts, when there is something to say: records kept,
    // or "offline" to a broker that had us online.
    void Finish() {
        std::chrono::milliseconds grace;
        {
            std::lock_guard lock(p_.mutex_);
            grace = p_.grace_;
        }
        const auto deadline = Clock::now() + grace;
        finishing_ = true;
        if (!connected_) {
            if (!everConnected_ && p_.outbox_.Names().empty()) return SetState(TBrokerState::Off);
            nextAttempt_ = Clock::now();
        }
        while (Clock::now() < deadline) {
            if (!SocketOpen() && Clock::now() >= nextAttempt_) Attempt();
            if (connected_) {
                // Records kept just before Stop, and those beyond the in-flight window,
                // leave too while the grace lasts.
                SendOutbox();
                if (offlineMid_ < 0) {
                    SendInfo();
                    offlineMid_ = Publish(status_, kOffline, 1, true);
                }
                if (offlineAcked_ && inFlight_.empty()) break;
            }
            Wait(SocketOpen() ? deadline : std::min(deadline, nextAttempt_));
        }
        if (SocketOpen()) {
            mosquitto_disconnect(mosq_);
            if (SocketOpen() && mosquitto_want_write(mosq_)) mosquitto_loop_write(mosq_, 1);
        }
        SetState(TBrokerState::Off);
    }

    void SetState(TBrokerState state) {
        if (p_.state_.exchange(state) != state && p_.OnStateChange) p_.OnStateChange(state);
    }
    void Notice(const std::string& text, bool trouble) {
        if (p_.OnNotice) p_.OnNotice(text, trouble);
    }

    TMqttPublisher& p_;
    const TPublisherSettings& s_;
    const std::string status_;
    mosquitto* mosq_ = nullptr;
    bool connected_ = false;  // the broker accepted the connection
    bool sayOnline_ = false;  // connected, "online" not yet published
    bool everConnected_ = false;
    bool finishing_ = false;  // Stop: a closing connection is no news
    Clock::time_point nextAttempt_;
    milliseconds retry_;
    std::string reported_;                 // the failure told since the last connection
    bool toldLoss_ = false;                // the loss was told: the attempts that follow stay quiet
    std::string refusal_;                  // why the broker refused the last attempt
    std::string tlsError_;                 // the last TLS error the library logged
    std::map<int, std::string> inFlight_;  // message id -> outbox entry
    std::set<std::string> handed_;         // entries sent on this connection
    std::set<std::string> stuck_;          // entries that could not even be set aside
    std::array<Clock::time_point, 256> lastSent_{};
    int offlineMid_ = -1;
    bool offlineAcked_ = false;
};

TMqttPublisher::TMqttPublisher(TPublisherSettings settings)
    : settings_((CheckSettings(settings), std::move(settings))), outbox_(settings_.outboxDir) {
    std::call_once(libraryStarted, [] { mosquitto_lib_init(); });
    wakeFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wakeFd_ < 0) throw std::runtime_error(std::string("eventfd: ") + std::strerror(errno));
}

TMqttPublisher::~TMqttPublisher() {
    Stop();
    close(wakeFd_);
}

void TMqttPublisher::Start() {
    if (thread_.joinable()) return;
    {
        std::lock_guard lock(mutex_);
        stopping_ = false;
    }
    state_ = TBrokerState::Connecting;
    thread_ = std::thread([this] { Run(); });
}

void TMqttPublisher::Stop(std::chrono::milliseconds grace) {
    if (!thread_.joinable()) return;
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        grace_ = grace;
        // The bench stops: no console is connected through it any more.
        for (auto& [console, info] : info_) {
            if (!info.connected) continue;
            info.connected = false;
            infoChanged_.insert(console);
        }
    }
    Wake();
    thread_.join();
}

void TMqttPublisher::Run() {
    try {
        TSession(*this).Run();
    } catch (const std::exception& e) {
        state_ = TBrokerState::Off;
        if (OnNotice) OnNotice(std::string("publishing stopped: ") + e.what(), true);
    }
}

void TMqttPublisher::Wake() {
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = write(wakeFd_, &one, sizeof one);
}

void TMqttPublisher::PublishMeasures(const TMeasuresMessage& message) {
    bool wasPending;
    {
        std::lock_guard lock(mutex_);
        TMeasuresSlot& slot = measures_[message.console];
        wasPending = slot.pending;
        slot.message = message;
        slot.pending = true;
    }
    // A slot already pending is known to the thread; waking it again would buy nothing.
    if (!wasPending) Wake();
}

void TMqttPublisher::PublishInfo(const TConsoleInfoMessage& message) {
    {
        std::lock_guard lock(mutex_);
        const auto known = info_.find(message.console);
        if (known != info_.end() && known->second == message) return;
        info_[message.console] = message;
        infoChanged_.insert(message.console);
    }
    Wake();
}

void TMqttPublisher::PublishRide(const TRideMessage& message) {
    {
        std::lock_guard lock(mutex_);
        if (rides_.size() >= kRideQueue) {
            rides_.pop_front();
            ++counters_.ridesDropped;
        }
        rides_.push_back(message);
    }
    Wake();
}

void TMqttPublisher::PublishCheck(const TCheckRecordMessage& message) {
    if (!IsTopicLevel(message.serial))
        throw std::invalid_argument("check record " + message.id + ": serial '" + message.serial +
                                    "' cannot be a topic level");
    outbox_.Add(CheckTopic(settings_.bench, message.serial), CheckPayload(message));
    {
        std::lock_guard lock(mutex_);
        outboxChanged_ = true;
    }
    Wake();
}

TPublisherCounters TMqttPublisher::Counters() const {
    std::lock_guard lock(mutex_);
    return counters_;
}

}  // namespace wct::publish
