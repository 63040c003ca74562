// SPDX-License-Identifier: Apache-2.0
#include "publish/mqtt_client.h"

#include <mosquitto.h>

#include <cstring>

namespace wct::publish {
namespace {

// The system's CAs by their folder: with MOSQ_OPT_TLS_USE_OS_CERTS alone the library
// refuses every attempt after the first.
constexpr const char* kSystemCaFolder = "/etc/ssl/certs";

}  // namespace

void SetCredentialsAndTls(mosquitto* client, const TBrokerUrl& broker, const std::string& username,
                          const std::string& password, const std::string& tlsCa) {
    if (!username.empty())
        mosquitto_username_pw_set(client, username.c_str(),
                                  password.empty() ? nullptr : password.c_str());
    if (broker.tls)
        mosquitto_tls_set(client, tlsCa.empty() ? nullptr : tlsCa.c_str(),
                          tlsCa.empty() ? kSystemCaFolder : nullptr, nullptr, nullptr, nullptr);
}

std::optional<std::string> TlsErrorOf(int level, const char* line) {
    const std::string text = line;
    if (level != MOSQ_LOG_ERR || text.rfind("OpenSSL Error", 0) != 0) return std::nullopt;
    return text.substr(text.rfind(':') + 1);
}

std::string BrokerErrorText(int rc, int error, const std::string& host,
                            const std::string& tlsError, const std::string& refusal) {
    switch (rc) {
        case MOSQ_ERR_ERRNO:
            return std::strerror(error);
        case MOSQ_ERR_TLS:
            return "TLS failed" + (tlsError.empty() ? "" : ": " + tlsError);
        case MOSQ_ERR_EAI:
            return "cannot find the host " + host;
        case MOSQ_ERR_KEEPALIVE:
            return "the broker does not answer";
        case MOSQ_ERR_SUCCESS:
        case MOSQ_ERR_CONN_LOST:
        case MOSQ_ERR_CONN_REFUSED:
        case MOSQ_ERR_NO_CONN:
            if (!refusal.empty()) return "the broker refused the connection: " + refusal;
            if (!tlsError.empty()) return "TLS failed: " + tlsError;
            return "connection closed";
        default:
            return mosquitto_strerror(rc);
    }
}

}  // namespace wct::publish
