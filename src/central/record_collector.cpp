// SPDX-License-Identifier: Apache-2.0
#include "central/record_collector.h"

#include <mosquitto.h>
#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <stdexcept>
#include <thread>

#include "central/central_history.h"
#include "check/check_report.h"
#include "publish/mqtt_client.h"

namespace wct::central {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

std::once_flag libraryStarted;

// What a message on the check topics holds: the bench and the record, or why it is none.
struct TParsed {
    std::string bench;
    std::optional<check::TCheckRecord> record;
    std::string problem;
};

TParsed Parse(const std::string& topic, const std::string& payload) {
    TParsed p;
    // wct/<bench>/check/<serial>, as the subscription guarantees.
    const size_t start = topic.find('/') + 1;
    p.bench = topic.substr(start, topic.find('/', start) - start);
    const nlohmann::json json = nlohmann::json::parse(payload, nullptr, false);
    if (json.is_discarded()) {
        p.problem = "its payload is no JSON text";
    } else if (!json.is_object()) {
        p.problem = "its payload is no JSON object";
    } else if (json.contains("format_version") &&
               json["format_version"] != check::kReportFormatVersion) {
        p.problem = "its format_version is " + json["format_version"].dump() + ", this wct reads " +
                    std::to_string(check::kReportFormatVersion);
    } else {
        try {
            p.record = check::RecordFromJson(json);
        } catch (const std::exception& e) {
            p.problem = std::string("it is no check record: ") + e.what();
        }
    }
    return p;
}

}  // namespace

// The two connections and what is owed on them; lives on Run's thread.
class TRecordCollector::TSession {
public:
    explicit TSession(TRecordCollector& owner)
        : c_(owner), s_(owner.settings_), dbRetry_(s_.firstRetry), brokerRetry_(s_.firstRetry) {}
    ~TSession() { DropBroker(); }
    TSession(const TSession&) = delete;
    TSession& operator=(const TSession&) = delete;

    void Run(const volatile bool* stop) {
        // The database first: the broker keeps the records while there is nowhere to put them.
        while (!*stop) {
            const auto now = Clock::now();
            if (!db_) {
                if (now >= dbNext_)
                    ConnectDb();
                else
                    Pause(dbNext_);
            } else if (!mosq_) {
                if (now >= brokerNext_)
                    ConnectBroker();
                else
                    Pause(brokerNext_);
            } else {
                Serve();
            }
        }
        Leave();
    }

private:
    static TSession& Self(void* object) { return *static_cast<TSession*>(object); }

    static void OnConnect(mosquitto*, void* object, int rc) {
        TSession& self = Self(object);
        if (rc != 0) {
            self.refusal_ = mosquitto_connack_string(rc);
            return;
        }
        self.connected_ = true;
        self.subscribe_ = true;
        self.brokerRetry_ = self.s_.firstRetry;
        self.Recovered("broker", "connected to the broker " + self.s_.broker.Text() + " again");
    }

    static void OnSubscribe(mosquitto*, void* object, int, int count, const int* granted) {
        TSession& self = Self(object);
        // QoS 0 would mean records no one acknowledges: as good as refused.
        if (count < 1 || granted[0] != 1) {
            self.Trouble("broker", "the broker " + self.s_.broker.Text() + " refused " +
                                       kCheckTopics + " with QoS 1");
            return;
        }
        self.Notice(std::string("collecting ") + kCheckTopics + " from " + self.s_.broker.Text() +
                    " into " + ShownUrl(self.s_.db));
    }

    static void OnMessage(mosquitto*, void* object, const mosquitto_message* m) {
        TSession& self = Self(object);
        // Once a record could not be kept, the ones after it wait at the broker too.
        if (self.poisoned_) return;
        const std::string topic = m->topic;
        const std::string payload = m->payloadlen > 0
                                        ? std::string(static_cast<const char*>(m->payload),
                                                      static_cast<size_t>(m->payloadlen))
                                        : std::string();
        try {
            self.Keep(topic, payload);
        } catch (const std::exception& e) {
            // Its acknowledgement waits in the library's queue: the connection is dropped
            // before anything more is written.
            self.poisoned_ = true;
            self.dbTrouble_ = e.what();
        }
    }

    static void OnLog(mosquitto*, void* object, int level, const char* text) {
        if (auto reason = publish::TlsErrorOf(level, text)) Self(object).tlsError_ = std::move(*reason);
    }

    // Commits the record, or keeps aside what is none; throws ECentralHistory when the
    // database could do neither.
    void Keep(const std::string& topic, const std::string& payload) {
        const TParsed p = Parse(topic, payload);
        if (!p.record) return Reject(topic, payload, p.problem);
        TStored stored;
        try {
            stored = db_->Add(*p.record, p.bench);
        } catch (const ECentralRecord& e) {
            return Reject(topic, payload, std::string("the database cannot keep it: ") + e.what());
        }
        switch (stored) {
            case TStored::New:
                ++c_.counters_.stored;
                break;
            case TStored::Again:
                ++c_.counters_.again;
                break;
            case TStored::Conflict:
                Reject(topic, payload,
                       "its id " + p.record->id + " already holds another record, which is kept");
                break;
        }
    }

    void Reject(const std::string& topic, const std::string& payload, const std::string& why) {
        db_->Reject(topic, payload, why);
        ++c_.counters_.rejected;
        Notice("the message on " + topic + " is set aside in the table rejected: " + why);
    }

    void ConnectDb() {
        try {
            db_ = std::make_unique<TCentralHistory>(s_.db, TCentralHistory::TAccess::Write);
            dbRetry_ = s_.firstRetry;
            Recovered("db", "PostgreSQL " + ShownUrl(s_.db) + " is back");
        } catch (const ECentralRefused&) {
            throw;
        } catch (const ECentralHistory& e) {
            Trouble("db", std::string(e.what()) + "; trying again in the background");
            dbNext_ = Clock::now() + dbRetry_;
            dbRetry_ = std::min(dbRetry_ * 2, s_.longestRetry);
        }
    }

    void ConnectBroker() {
        mosq_ = mosquitto_new(s_.clientId.c_str(), false, this);
        if (mosq_ == nullptr) throw std::runtime_error("cannot create the MQTT client");
        // Packets wait in the library's queue until Serve writes them: the acknowledgement
        // of a record leaves only after the handler committed it.
        mosquitto_threaded_set(mosq_, true);
        mosquitto_int_option(mosq_, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
        mosquitto_connect_callback_set(mosq_, &TSession::OnConnect);
        mosquitto_subscribe_callback_set(mosq_, &TSession::OnSubscribe);
        mosquitto_message_callback_set(mosq_, &TSession::OnMessage);
        mosquitto_log_callback_set(mosq_, &TSession::OnLog);
        publish::SetCredentialsAndTls(mosq_, s_.broker, s_.username, s_.password, s_.tlsCa);
        refusal_.clear();
        tlsError_.clear();
        const int rc = mosquitto_connect_async(mosq_, s_.broker.host.c_str(), s_.broker.port,
                                               s_.keepAliveSeconds);
        const int error = errno;
        if (rc != MOSQ_ERR_SUCCESS) BrokerDown(ErrorText(rc, error));
    }

    // Waits for the broker, runs the library's share, and writes only when every record
    // read was committed.
    void Serve() {
        const int socket = mosquitto_socket(mosq_);
        if (socket < 0) return BrokerDown(ErrorText(MOSQ_ERR_NO_CONN, 0));
        pollfd fd = {socket, POLLIN, 0};
        if (mosquitto_want_write(mosq_)) fd.events |= POLLOUT;
        if (poll(&fd, 1, 250) < 0) return;  // EINTR: the caller looks at its stop flag
        int rc = MOSQ_ERR_SUCCESS;
        int error = 0;
        if (fd.revents & (POLLIN | POLLERR | POLLHUP)) {
            rc = mosquitto_loop_read(mosq_, 1);
            error = errno;
        }
        if (poisoned_) return DbLost();
        if (subscribe_ && connected_) {
            subscribe_ = false;
            mosquitto_subscribe(mosq_, nullptr, kCheckTopics, 1);
        }
        if (rc == MOSQ_ERR_SUCCESS && Open() && mosquitto_want_write(mosq_)) {
            rc = mosquitto_loop_write(mosq_, 1);
            error = errno;
        }
        if (rc == MOSQ_ERR_SUCCESS && Open()) {
            rc = mosquitto_loop_misc(mosq_);
            error = errno;
        }
        if (!Open()) BrokerDown(ErrorText(rc, error));
    }

    bool Open() const { return mosquitto_socket(mosq_) >= 0; }

    void DbLost() {
        Trouble("db", "lost PostgreSQL (" + dbTrouble_ +
                          "); the records wait at the broker until it is back");
        db_.reset();
        DropBroker();
        dbNext_ = Clock::now() + dbRetry_;
        dbRetry_ = std::min(dbRetry_ * 2, s_.longestRetry);
        brokerNext_ = Clock::now();
    }

    void BrokerDown(const std::string& why) {
        Trouble("broker", (connected_ ? "lost the broker " : "broker ") + s_.broker.Text() + ": " +
                              why + "; trying again in the background");
        DropBroker();
        brokerNext_ = Clock::now() + brokerRetry_;
        brokerRetry_ = std::min(brokerRetry_ * 2, s_.longestRetry);
    }

    // Closes the connection without writing what waits in the library's queue.
    void DropBroker() {
        if (mosq_ != nullptr) mosquitto_destroy(mosq_);
        mosq_ = nullptr;
        connected_ = false;
        subscribe_ = false;
        poisoned_ = false;
    }

    // Acknowledges what was committed and says goodbye, so the session waits for the next
    // run; a record not committed stays with the broker.
    void Leave() {
        if (mosq_ != nullptr && connected_ && !poisoned_) {
            mosquitto_disconnect(mosq_);
            for (int i = 0; i < 20 && Open() && mosquitto_want_write(mosq_); ++i) {
                pollfd fd = {mosquitto_socket(mosq_), POLLOUT, 0};
                poll(&fd, 1, 100);
                if (mosquitto_loop_write(mosq_, 1) != MOSQ_ERR_SUCCESS) break;
            }
        }
        DropBroker();
    }

    void Pause(Clock::time_point until) {
        std::this_thread::sleep_for(
            std::min<Clock::duration>(until - Clock::now(), milliseconds(100)));
    }

    std::string ErrorText(int rc, int error) const {
        return publish::BrokerErrorText(rc, error, s_.broker.host, tlsError_, refusal_);
    }

    // Each kind of trouble ("db", "broker") is told once, until that side works again.
    void Trouble(const std::string& kind, const std::string& text) {
        if (told_.count(kind) != 0) return;
        told_[kind] = text;
        Notice(text);
    }
    void Recovered(const std::string& kind, const std::string& text) {
        if (told_.erase(kind) != 0) Notice(text);
    }
    void Notice(const std::string& text) {
        if (c_.OnNotice) c_.OnNotice(text);
    }

    TRecordCollector& c_;
    const TCollectorSettings& s_;
    std::unique_ptr<TCentralHistory> db_;
    mosquitto* mosq_ = nullptr;
    bool connected_ = false;  // the broker accepted the connection
    bool subscribe_ = false;  // connected, not yet subscribed
    bool poisoned_ = false;   // a record read on this connection was not committed
    std::string dbTrouble_;   // why it was not
    Clock::time_point dbNext_;
    Clock::time_point brokerNext_;
    milliseconds dbRetry_;
    milliseconds brokerRetry_;
    std::string refusal_;   // why the broker refused the last attempt
    std::string tlsError_;  // the last TLS error the library logged
    std::map<std::string, std::string> told_;
};

TRecordCollector::TRecordCollector(TCollectorSettings settings) : settings_(std::move(settings)) {
    std::call_once(libraryStarted, [] { mosquitto_lib_init(); });
}

TRecordCollector::~TRecordCollector() = default;

void TRecordCollector::Run(const volatile bool* stop) {
    TSession(*this).Run(stop);
}

}  // namespace wct::central
