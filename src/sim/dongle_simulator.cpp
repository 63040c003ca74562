// SPDX-License-Identifier: Apache-2.0
#include "sim/dongle_simulator.h"

#include <algorithm>
#include <cmath>
#include <sstream>
#include <stdexcept>

#include "common/number_text.h"

namespace wct::sim {

namespace {

constexpr uint8_t kStart = 0x3E;
constexpr uint8_t kStop = 0x21;
constexpr size_t kMaxTransfer = 8;             // bytes a console reads or writes at once
constexpr double kRollCircumference = 0.1241;  // metres, a 39.5 mm roll
// Reply codes no dongle uses, for the unknown-code fault.
constexpr uint8_t kUnknownCodes[] = {0x11, 0x12, 0x1A, 0x30, 0x7F, 0xA5};

enum : uint8_t {
    kMeasures = 0x01,
    kOpenRegistration = 0x02,
    kCloseRegistration = 0x03,
    kNumberOfConsoles = 0x04,
    kConsoleAdded = 0x05,
    kRemove = 0x06,
    kSelect = 0x07,
    kDeselect = 0x08,
    kSerial = 0x09,
    kVersion = 0x0A,
    kTotalRolls = 0x0B,
    kResetTotalRolls = 0x0C,
    kWriteValue = 0x0E,
    kReadValue = 0x0F,
    kResistances = 0x10,
    kMeasure = 0x13,
    kRoll = 0x14,
    kFirmware = 0x15,
    kTriggerClock = 0x16,
    kTestCardio = 0x19,
    kNack = 0xFE,
    kAck = 0xFF,
    kAllConsoles = 0xFF,
};

size_t FrameLength(std::string_view head) {
    return head.size() < 4 ? 0 : static_cast<uint8_t>(head[3]) + size_t{6};
}

std::string Bytes(std::initializer_list<unsigned> values) {
    std::string bytes;
    for (unsigned v : values) bytes += static_cast<char>(v & 0xFF);
    return bytes;
}

uint8_t At(std::string_view payload, size_t i) {
    return static_cast<uint8_t>(payload[i]);
}

}  // namespace

std::pair<uint8_t, TScriptedRider> ParseRiderScript(const std::string& text) {
    const auto number = [&](const std::string& what, std::string_view digits, unsigned max) {
        const std::optional<unsigned> value = InRange(ReadNumber<unsigned>(digits), 0u, max);
        if (!value) {
            throw std::invalid_argument("rider '" + text + "': " + what + " '" +
                                        std::string(digits) + "' is not a number from 0 to " +
                                        std::to_string(max));
        }
        return *value;
    };
    const size_t colon = text.find(':');
    if (colon == std::string::npos)
        throw std::invalid_argument("rider '" + text + "': wanted ID:rpm=R,hr=H,cad=C");
    const unsigned id = number("console ID", std::string_view(text).substr(0, colon), 254);
    if (id == 0) throw std::invalid_argument("rider '" + text + "': console IDs start at 1");
    TScriptedRider rider;
    std::vector<std::string> seen;
    std::string_view rest = std::string_view(text).substr(colon + 1);
    while (!rest.empty()) {
        const std::string_view item = rest.substr(0, rest.find(','));
        rest.remove_prefix(std::min(rest.size(), item.size() + 1));
        const size_t eq = item.find('=');
        const std::string key(item.substr(0, eq));
        if (eq == std::string_view::npos || std::find(seen.begin(), seen.end(), key) != seen.end())
            throw std::invalid_argument("rider '" + text + "': '" + std::string(item) +
                                        "' is not one new rpm=, hr= or cad=");
        seen.push_back(key);
        const std::string_view value = item.substr(eq + 1);
        if (key == "rpm")
            rider.rpm = static_cast<uint16_t>(number(key, value, 65535));
        else if (key == "hr")
            rider.heartRate = static_cast<uint8_t>(number(key, value, 255));
        else if (key == "cad")
            rider.cadence = static_cast<uint8_t>(number(key, value, 255));
        else
            throw std::invalid_argument("rider '" + text + "': unknown key '" + key +
                                        "' (rpm, hr, cad)");
    }
    return {static_cast<uint8_t>(id), rider};
}

TConsoleConfig DefaultConsole(uint8_t id) {
    TConsoleConfig console;
    console.id = id;
    console.serial = 0x100000u + id * 0x111u;
    console.firmwareMajor = 2;
    console.firmwareMinor = 3;
    return console;
}

TDongleOptions BuiltInDongleOptions() {
    TDongleOptions options;
    for (uint8_t id = 1; id <= 6; ++id) {
        options.consoles.push_back(DefaultConsole(id));
        options.consoles.back().joinedAtStart = id <= 4;
    }
    return options;
}

TDongleSimulator::TDongleSimulator(TDongleOptions options, const TSimSettings& settings)
    : TPtySimulator(settings, kStart),
      options_(std::move(options)),
      reader_({kStart, kStop, &FrameLength}) {
    for (const TConsoleConfig& config : options_.consoles) {
        TConsole console{config, TRideProfile(settings.seed * 131u + config.id)};
        console.revolutions = config.totalRolls;
        console.joined = config.joinedAtStart;
        consoles_.push_back(std::move(console));
    }
}

TDongleSimulator::~TDongleSimulator() {
    Stop();
}

void TDongleSimulator::SetFaults(const TDongleFaults& faults) {
    Call([&] { faults_ = faults; });
}

void TDongleSimulator::Script(uint8_t id, const std::function<void(TConsole&)>& change) {
    Call([&] {
        for (TConsole& console : consoles_) {
            if (console.config.id == id) return change(console);
        }
        throw std::invalid_argument("no console " + std::to_string(id) + " in the simulator");
    });
}

void TDongleSimulator::SetRider(uint8_t id, const TScriptedRider& rider) {
    Script(id, [&](TConsole& console) { console.rider = rider; });
}

void TDongleSimulator::PressKeys(uint8_t id, uint8_t keys) {
    Script(id, [&](TConsole& console) { console.pendingKeys = keys; });
}

void TDongleSimulator::SetReporting(uint8_t id, bool reporting) {
    Script(id, [&](TConsole& console) {
        // Nothing is owed for the time it kept quiet.
        if (reporting && !console.reporting) console.nextMeasure = Now() + MeasurePeriod();
        console.reporting = reporting;
    });
}

void TDongleSimulator::Leave(uint8_t id) {
    Script(id, [&](TConsole& console) {
        console.inReach = false;
        if (!console.joined) return;
        UpdateRolls(Now());
        console.joined = false;
        console.rolling = false;
        Reply(kRemove, 0, Bytes({id}), false);
    });
}

void TDongleSimulator::ComeBack(uint8_t id) {
    Script(id, [&](TConsole& console) {
        console.inReach = true;
        if (registrationOpen_ && !console.joined && nextJoin_ == kNever)
            nextJoin_ = Now() + options_.joinDelayMs;
    });
}

uint8_t TDongleSimulator::Brake(uint8_t id) {
    uint8_t brake = 0;
    Script(id, [&](TConsole& console) { brake = console.brake; });
    return brake;
}

void TDongleSimulator::RunScriptLine(const std::string& line) {
    std::istringstream words(line);
    std::string verb, argument, extra;
    words >> verb >> argument;
    const auto id = [&] {
        const std::optional<unsigned> value = InRange(ReadNumber<unsigned>(argument), 1u, 254u);
        if (!value)
            throw std::invalid_argument("'" + line + "': '" + argument + "' is no console ID");
        return static_cast<uint8_t>(*value);
    };
    if (verb == "keys") {
        std::string keys;
        words >> keys;
        const std::optional<unsigned> value = InRange(ReadNumberOrHex<unsigned>(keys), 0u, 255u);
        if (!value) throw std::invalid_argument("'" + line + "': keys want a byte, 0 to 255");
        PressKeys(id(), static_cast<uint8_t>(*value));
    } else if (verb == "leave") {
        Leave(id());
    } else if (verb == "back") {
        ComeBack(id());
    } else if (verb == "silent") {
        SetReporting(id(), false);
    } else if (verb == "report") {
        SetReporting(id(), true);
    } else if (verb == "rider") {
        const auto [console, rider] = ParseRiderScript(argument);
        SetRider(console, rider);
    } else {
        throw std::invalid_argument(
            "'" + line + "': unknown command (keys, leave, back, silent, report, rider)");
    }
    if (words >> extra) throw std::invalid_argument("'" + line + "': '" + extra + "' is too much");
}

void TDongleSimulator::Received(std::string_view bytes) {
    HandleFrames(reader_, bytes, [this](const std::string& frame) { Handle(frame); });
}

int64_t TDongleSimulator::Tick(int64_t now) {
    for (TConsole& console : consoles_)
        console.nextMeasure = Recent(console.nextMeasure, MeasurePeriod(), now);
    if (registrationOpen_ && nextJoin_ != kNever) nextJoin_ = Recent(nextJoin_, 1, now);
    // Joins and measures in the order they fell due, the rolls counted up to each.
    for (;;) {
        int64_t due = registrationOpen_ ? nextJoin_ : kNever;
        TConsole* measured = nullptr;
        for (TConsole& console : consoles_) {
            if (measuring_ && console.joined && console.reporting && console.nextMeasure < due) {
                due = console.nextMeasure;
                measured = &console;
            }
        }
        if (due > now) {
            UpdateRolls(now);
            return due;
        }
        UpdateRolls(due);
        if (measured == nullptr) {
            Join(due);
        } else {
            SendMeasures(*measured, due);
            measured->nextMeasure += MeasurePeriod();
        }
    }
}

void TDongleSimulator::Join(int64_t due) {
    nextJoin_ = kNever;
    const auto waiting = [](const TConsole& c) { return !c.joined && c.inReach; };
    const auto joining = std::find_if(consoles_.begin(), consoles_.end(), waiting);
    if (joining == consoles_.end()) return;
    joining->joined = true;
    joining->nextMeasure = due + MeasurePeriod();
    Reply(kConsoleAdded, 0, Bytes({joining->config.id}), false);
    if (std::any_of(consoles_.begin(), consoles_.end(), waiting))
        nextJoin_ = due + options_.joinDelayMs;
}

int64_t TDongleSimulator::MeasurePeriod() const {
    return std::max<int64_t>(1, std::llround(1000.0 / options_.measureRate));
}

void TDongleSimulator::Handle(const std::string& frame) {
    const auto code = static_cast<uint8_t>(frame[1]);
    const auto id = static_cast<uint8_t>(frame[2]);
    const std::string_view payload = std::string_view(frame).substr(4, frame.size() - 6);
    switch (code) {
        case kOpenRegistration: {
            registrationOpen_ = true;
            const auto joined = std::count_if(consoles_.begin(), consoles_.end(),
                                              [](const TConsole& c) { return c.joined; });
            Reply(kOpenRegistration, 0, Bytes({static_cast<unsigned>(joined)}));
            if (std::any_of(consoles_.begin(), consoles_.end(),
                            [](const TConsole& c) { return !c.joined && c.inReach; })) {
                nextJoin_ = Now() + options_.joinDelayMs;
            }
            return;
        }
        case kCloseRegistration:
            registrationOpen_ = false;
            nextJoin_ = kNever;
            return;
        case kNumberOfConsoles: {
            const auto joined = std::count_if(consoles_.begin(), consoles_.end(),
                                              [](const TConsole& c) { return c.joined; });
            Reply(kNumberOfConsoles, 0, Bytes({static_cast<unsigned>(joined)}));
            return;
        }
        case kRemove:
            for (TConsole& console : consoles_) {
                if (!console.joined || (id != kAllConsoles && id != console.config.id)) continue;
                console.joined = false;
                Reply(kRemove, 0, Bytes({console.config.id}));
            }
            return;
        case kResistances:
            // p0 is 0x00; then one brake level per console, console 1 first.
            for (size_t i = 1; i < payload.size(); ++i) {
                for (TConsole& console : consoles_) {
                    if (console.config.id == i) console.brake = At(payload, i);
                }
            }
            return;
        case kMeasure:
            if (payload.size() != 1 || At(payload, 0) > 1) break;
            measuring_ = At(payload, 0) == 1;
            for (TConsole& console : consoles_) console.nextMeasure = Now() + MeasurePeriod();
            return;
        case kSerial:
        case kVersion:
            if (id != 0) break;
            if (code == kSerial) {
                const uint32_t s = options_.serial;
                Reply(kSerial, 0, Bytes({s >> 16, s >> 8, s}));
            } else if (options_.version) {
                Reply(kVersion, 0, Bytes({*options_.version}));
            }
            return;
        default:
            break;
    }
    if (id == 0 || id == kAllConsoles) {
        Log("-- ignored " + BytesToHex(frame) + ": nothing to do");
        return;
    }
    TConsole* console = Joined(id);
    if (!console) {
        Log("-- no console " + std::to_string(id) + " in reach");
        return;
    }
    HandleConsoleCommand(*console, code, payload);
}

void TDongleSimulator::HandleConsoleCommand(TConsole& console, uint8_t code,
                                            std::string_view payload) {
    const TConsoleConfig& config = console.config;
    const uint8_t id = config.id;
    if (config.refused.count(code) != 0) {
        Reply(kNack, id, Bytes({code}));
        return;
    }
    switch (code) {
        case kSelect:
        case kDeselect:
            // Selection changes nothing a console reports.
            return;
        case kSerial:
            Reply(kSerial, id, Bytes({config.serial >> 16, config.serial >> 8, config.serial}));
            return;
        case kVersion:
            Reply(kVersion, id, Bytes({config.version}));
            return;
        case kFirmware:
            Reply(kFirmware, id, Bytes({config.firmwareMajor, config.firmwareMinor}));
            return;
        case kTotalRolls: {
            UpdateRolls(Now());
            const auto count = static_cast<unsigned>(std::min(console.revolutions / 32, 65535.0));
            Reply(kTotalRolls, id, Bytes({count >> 8, count}));
            return;
        }
        case kResetTotalRolls:
            UpdateRolls(Now());
            console.revolutions = 0;
            return;
        case kRoll:
            if (payload.size() != 1 || At(payload, 0) > 1) break;
            UpdateRolls(Now());
            console.rolling = At(payload, 0) == 1;
            return;
        case kReadValue: {
            if (payload.size() != 3) break;
            const size_t address = At(payload, 0) * 256u + At(payload, 1);
            size_t count = At(payload, 2);
            if (count > kMaxTransfer || address + count > config.memory.size()) count = 0;
            std::string reply = Bytes({static_cast<unsigned>(count)});
            for (size_t i = 0; i < count; ++i)
                reply += static_cast<char>(config.memory[address + i]);
            Reply(kReadValue, id, reply);
            return;
        }
        case kWriteValue: {
            if (payload.size() < 3 || payload.size() != At(payload, 2) + size_t{3}) break;
            const size_t address = At(payload, 0) * 256u + At(payload, 1);
            const size_t count = At(payload, 2);
            if (config.memoryReadOnly || count > kMaxTransfer ||
                address + count > config.memory.size()) {
                Reply(kNack, id, Bytes({kWriteValue}));
                return;
            }
            if (!config.writesLost) {
                std::copy(payload.begin() + 3, payload.end(),
                          console.config.memory.begin() + static_cast<std::ptrdiff_t>(address));
            }
            Reply(kAck, id, Bytes({kWriteValue}));
            return;
        }
        default:
            if (code >= kTriggerClock && code <= kTestCardio) {
                const auto answer = config.testAnswers.find(code);
                const TTestAnswer how =
                    answer == config.testAnswers.end() ? TTestAnswer::Ack : answer->second;
                if (how == TTestAnswer::None) {
                    Log("-- console " + std::to_string(id) + " leaves the test unanswered");
                } else {
                    Reply(how == TTestAnswer::Ack ? kAck : kNack, id, Bytes({code}));
                }
                return;
            }
            break;
    }
    Log("-- ignored command " + BytesToHex(Bytes({code})) + " with payload " + BytesToHex(payload));
}

void TDongleSimulator::Reply(uint8_t code, uint8_t id, std::string_view payload, bool answer) {
    std::string frame = Bytes({kStart, code, id, static_cast<unsigned>(payload.size())});
    frame.append(payload);
    frame += Bytes({0x00, kStop});
    std::uniform_real_distribution<double> chance(0.0, 1.0);
    if (faults_.corruptLengthFraction > 0 && chance(Random()) < faults_.corruptLengthFraction) {
        std::uniform_int_distribution<int> delta(1, 3);
        frame[3] = static_cast<char>(static_cast<uint8_t>(frame[3]) + delta(Random()));
    }
    Send(std::move(frame), answer);
    if (faults_.unknownCodeFraction > 0 && chance(Random()) < faults_.unknownCodeFraction) {
        std::uniform_int_distribution<size_t> pick(0, std::size(kUnknownCodes) - 1);
        Send(Bytes({kStart, kUnknownCodes[pick(Random())], id, 0x01, id, 0x00, kStop}), false);
    }
}

void TDongleSimulator::SendMeasures(TConsole& console, int64_t due) {
    std::uniform_real_distribution<double> chance(0.0, 1.0);
    if (console.config.radioLoss > 0 && chance(Random()) < console.config.radioLoss) {
        Log("-- measures of console " + std::to_string(console.config.id) + " lost on the radio");
        return;
    }
    unsigned rpm = RollRpm(console, due);
    if (faults_.measuresHold0x21) rpm = (rpm & 0xFF00u) | kStop;
    unsigned heart = 0;
    unsigned cadence = 0;
    unsigned keys = console.pendingKeys;
    console.pendingKeys = 0;
    if (console.rider) {
        heart = console.rider->heartRate;
        cadence = console.rider->cadence;
    } else {
        const TRiderState rider = console.ride.At(due);
        heart = static_cast<unsigned>(std::clamp(std::lround(rider.heartRate), 0L, 255L));
        cadence = static_cast<unsigned>(std::clamp(std::lround(rider.cadence), 0L, 255L));
        keys |= rider.keys;
    }
    Reply(kMeasures, console.config.id, Bytes({rpm >> 8, rpm, heart, cadence, keys}), false);
}

uint16_t TDongleSimulator::RollRpm(TConsole& console, int64_t at) {
    if (console.rider) return console.rider->rpm;
    const double speed = RollSpeed(console.ride.At(at).power, console.brake);
    return static_cast<uint16_t>(std::min(std::lround(speed / kRollCircumference * 60), 65535L));
}

void TDongleSimulator::UpdateRolls(int64_t until) {
    // In steps short enough for totals to follow the ride's speed.
    constexpr int64_t kRollStepMs = 100;
    while (lastRollUpdate_ < until) {
        const int64_t end = std::min(until, lastRollUpdate_ + kRollStepMs);
        const auto elapsed = static_cast<double>(end - lastRollUpdate_);
        lastRollUpdate_ = end;
        for (TConsole& console : consoles_) {
            if (console.rolling) console.revolutions += RollRpm(console, end) * elapsed / 60000;
        }
    }
}

TDongleSimulator::TConsole* TDongleSimulator::Joined(uint8_t id) {
    for (TConsole& console : consoles_) {
        if (console.joined && console.config.id == id) return &console;
    }
    return nullptr;
}

}  // namespace wct::sim
