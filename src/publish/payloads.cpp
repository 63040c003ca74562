// SPDX-License-Identifier: Apache-2.0
#include "publish/payloads.h"

#include <cmath>
#include <nlohmann/json.hpp>
#include <stdexcept>

#include "common/utc_text.h"

namespace wct::publish {
namespace {

using nlohmann::json;

std::string Prefix(const std::string& bench) {
    return "wct/" + bench + "/";
}

// Two decimals, as the bench shows speeds.
double Hundredths(double value) {
    return std::round(value * 100) / 100;
}

}  // namespace

std::string StatusTopic(const std::string& bench) {
    return Prefix(bench) + "status";
}

std::string InfoTopic(const std::string& bench, int console) {
    return Prefix(bench) + "console/" + std::to_string(console) + "/info";
}

std::string MeasuresTopic(const std::string& bench, int console) {
    return Prefix(bench) + "console/" + std::to_string(console) + "/measures";
}

std::string RideTopic(const std::string& bench, int console) {
    return Prefix(bench) + "ride/" + std::to_string(console);
}

std::string CheckTopic(const std::string& bench, const std::string& serial) {
    return Prefix(bench) + "check/" + serial;
}

std::string MeasuresPayload(const TMeasuresMessage& m) {
    return json{{"time", UtcText(m.time)},
                {"console", m.console},
                {"rpm", m.rpm},
                {"speed_kmh", Hundredths(m.speedKmh)},
                {"hr", m.heartRate},
                {"cadence", m.cadence},
                {"keys", m.keys}}
        .dump();
}

std::string InfoPayload(const TConsoleInfoMessage& m) {
    const auto known = [](const auto& value) { return value ? json(*value) : json(nullptr); };
    return json{{"console", m.console},
                {"version", known(m.version)},
                {"serial", known(m.serial)},
                {"firmware", m.firmware.empty() ? json(nullptr) : json(m.firmware)},
                {"connected", m.connected},
                {"silent", m.silent}}
        .dump();
}

std::string RidePayload(const TRideMessage& m) {
    return json{{"time", UtcText(m.time)},
                {"console", m.console},
                {"speed_kmh", Hundredths(m.speedKmh)},
                {"distance_km", std::round(m.distanceKm * 1000) / 1000},
                {"power_w", m.power},
                {"calories", m.calories},
                {"resistance", m.resistance},
                {"hr", m.heartRate},
                {"cadence", m.cadence},
                {"state", m.state}}
        .dump();
}

std::string CheckPayload(const TCheckRecordMessage& m) {
    json record = json::parse(m.json, nullptr, false);
    if (record.is_discarded() || !record.is_object())
        throw std::invalid_argument("check record " + m.id + " is not a JSON object");
    const auto id = record.find("id");
    if (id == record.end())
        record["id"] = m.id;
    else if (!(id->is_string() ? id->get<std::string>() == m.id : id->dump() == m.id))
        throw std::invalid_argument("check record " + m.id + " carries another id: " + id->dump());
    return record.dump();
}

std::string CheckRecordProblem(const std::string& bench, const std::string& topic,
                               const std::string& payload) {
    const std::string prefix = CheckTopic(bench, "");
    if (topic.rfind(prefix, 0) != 0 || !IsTopicLevel(topic.substr(prefix.size())))
        return "its topic '" + topic + "' is not " + prefix + "<serial>";
    const json record = json::parse(payload, nullptr, false);
    if (record.is_discarded()) return "its record is no whole JSON text";
    if (!record.is_object()) return "its record is no JSON object";
    return "";
}

bool IsTopicLevel(const std::string& name) {
    return !name.empty() && name.find_first_of(std::string("/+#\0", 4)) == std::string::npos;
}

}  // namespace wct::publish
