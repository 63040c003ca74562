// SPDX-License-Identifier: Apache-2.0
#include "publish/broker_settings.h"

#include <unistd.h>

#include <cstdlib>
#include <fstream>

#include "common/number_text.h"
#include "common/printable_name.h"
#include "common/state_folder.h"
#include "publish/payloads.h"

namespace wct::publish {

std::string TBrokerUrl::Text() const {
    return std::string(tls ? "mqtts" : "mqtt") + "://" + host + ":" + std::to_string(port);
}

TBrokerUrl ParseBrokerUrl(const std::string& text) {
    const auto bad = [&](const std::string& why) {
        return EBrokerSettings("broker URL '" + text + "': " + why +
                               " (mqtt://host:port or mqtts://host:port)");
    };
    TBrokerUrl url;
    std::string rest;
    if (text.rfind("mqtt://", 0) == 0) {
        rest = text.substr(7);
    } else if (text.rfind("mqtts://", 0) == 0) {
        rest = text.substr(8);
        url.tls = true;
        url.port = 8883;
    } else {
        throw bad("unknown scheme");
    }
    if (!rest.empty() && rest.back() == '/') rest.pop_back();
    const size_t colon = rest.rfind(':');
    url.host = rest.substr(0, colon);
    if (colon != std::string::npos) {
        const std::string port = rest.substr(colon + 1);
        const std::optional<int> value = InRange(ReadNumber<int>(port), 1, 65535);
        if (!value) throw bad("'" + port + "' is no port from 1 to 65535");
        url.port = *value;
    }
    if (url.host.empty()) throw bad("no host");
    if (url.host.find_first_of("/@?# ") != std::string::npos) throw bad("a host name only");
    return url;
}

std::string DefaultBenchName() {
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') return "bench";
    return name;
}

std::string DefaultOutboxDir(const std::string& bench) {
    // Without a home, somewhere any user can write; the outbox only bridges broker outages.
    const std::string folder = StateFolder();
    return (folder.empty() ? "/tmp/WirelessConsoleTest/" : folder) + "outbox/" + bench;
}

std::string ReadPasswordFile(const std::string& path) {
    std::ifstream file(path);
    std::string line;
    if (!file || !std::getline(file, line))
        throw EBrokerSettings("cannot read the password file " + path);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return line;
}

void CheckSettings(const TPublisherSettings& s) {
    if (const std::string problem = NameProblem(s.bench, "bench name"); !problem.empty())
        throw EBrokerSettings(problem);
    if (!IsTopicLevel(s.bench))
        throw EBrokerSettings("bench name '" + s.bench +
                              "' cannot be a topic level (no '/', '+' or '#', not empty)");
    if (!(s.rate >= 0.1 && s.rate <= 100))
        throw EBrokerSettings("measures rate " + std::to_string(s.rate) +
                              " is outside 0.1 to 100 a second");
    if (!s.password.empty() && s.username.empty())
        throw EBrokerSettings("a password needs a user name");
    if (!s.tlsCa.empty() && !s.broker.tls)
        throw EBrokerSettings("a TLS CA file needs an mqtts:// broker");
    if (!s.tlsCa.empty() && access(s.tlsCa.c_str(), R_OK) != 0)
        throw EBrokerSettings("cannot read the TLS CA file " + s.tlsCa);
}

}  // namespace wct::publish
