// SPDX-License-Identifier: Apache-2.0
// What every MQTT client of the bench sets up and says alike, the publisher's and the
// collector's: credentials and TLS on a libmosquitto client, the reason in an OpenSSL log
// line, and a failed attempt in words a person can act on.
#pragma once

#include <optional>
#include <string>

#include "publish/broker_settings.h"

struct mosquitto;

namespace wct::publish {

// The user (and password, when given) and, for an mqtts broker, TLS checked against
// `tlsCa` or, without one, the system's CAs.
void SetCredentialsAndTls(mosquitto* client, const TBrokerUrl& broker, const std::string& username,
                          const std::string& password, const std::string& tlsCa);

// OpenSSL's reason from the library's log line "OpenSSL Error[0]: error:...:reason" at
// error level; none for any other line.
std::optional<std::string> TlsErrorOf(int level, const char* line);

// Why an attempt on `host` failed: the library's result `rc`, errno `error` taken right
// after it, and what the broker or TLS said meanwhile (each may be empty).
std::string BrokerErrorText(int rc, int error, const std::string& host,
                            const std::string& tlsError, const std::string& refusal);

}  // namespace wct::publish
