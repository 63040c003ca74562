// SPDX-License-Identifier: Apache-2.0
// What the bench publishes, as plain values, and their topics and JSON payloads.
//
// Topics live under `wct/<bench>/`: `status` ("online"/"offline"), `console/<id>/info`,
// `console/<id>/measures`, `ride/<id>` and `check/<serial>`. The values here carry no
// reference into the protocol or the devices, so any thread may hand them over.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

namespace wct::publish {

using TUtcTime = std::chrono::system_clock::time_point;

// One measures frame of a console.
struct TMeasuresMessage {
    uint8_t console = 0;
    TUtcTime time;
    uint16_t rpm = 0;
    double speedKmh = 0;
    uint8_t heartRate = 0;
    uint8_t cadence = 0;
    uint8_t keys = 0;
};

// What is known of a console; published retained whenever it changes. Its identity is
// empty until the console told it: no value stands in for one not read yet.
struct TConsoleInfoMessage {
    uint8_t console = 0;
    std::optional<int> version;
    std::optional<int32_t> serial;
    std::string firmware;  // "major.minor"; empty until known
    bool connected = false;
    // It sent measures, and none for longer than its silence bound: its last ones are old.
    bool silent = false;
    bool operator==(const TConsoleInfoMessage&) const = default;
};

// One statistics step of a rider device, in kilometres whatever the device shows.
struct TRideMessage {
    int console = 0;
    TUtcTime time;
    double speedKmh = 0;
    double distanceKm = 0;
    int power = 0;
    int calories = 0;
    int resistance = 0;
    int heartRate = 0;
    int cadence = 0;
    std::string state;
};

// A production-check record as its producer hands it over: its id (so that a record
// that arrives twice is known), the console's serial and the record's own JSON text.
struct TCheckRecordMessage {
    std::string id;
    std::string serial;
    std::string json;
};

std::string StatusTopic(const std::string& bench);
std::string InfoTopic(const std::string& bench, int console);
std::string MeasuresTopic(const std::string& bench, int console);
std::string RideTopic(const std::string& bench, int console);
std::string CheckTopic(const std::string& bench, const std::string& serial);

std::string MeasuresPayload(const TMeasuresMessage& m);
std::string InfoPayload(const TConsoleInfoMessage& m);
std::string RidePayload(const TRideMessage& m);
// The record's JSON object, with "id" added when it lacks one. Throws std::invalid_argument
// when the text is no JSON object, or its id differs from the message's.
std::string CheckPayload(const TCheckRecordMessage& m);
// Why a check record kept for `bench` cannot be published as it is, or "" when it can: its
// topic must be this bench's check topic, its payload a whole JSON object.
std::string CheckRecordProblem(const std::string& bench, const std::string& topic,
                               const std::string& payload);

// A name that can stand as one topic level: not empty, no '/', '+', '#' or NUL.
bool IsTopicLevel(const std::string& name);

}  // namespace wct::publish
