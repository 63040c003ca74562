// SPDX-License-Identifier: Apache-2.0
#include "sim/wired_trainer_simulator.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <sstream>
#include <stdexcept>

#include "common/number_text.h"

namespace wct::sim {

namespace {

constexpr uint8_t kStart = 0xF0;
constexpr uint8_t kStop = 0xF7;
constexpr uint8_t kIdentificationByte = 0x28;
constexpr uint8_t kWrongAnswer = 0x51;
constexpr double kRollTickSeconds = 26.4e-6;
constexpr int kMeasuresPerTotal = 10;
constexpr unsigned kNoPeriod = 0xFFFF;
const TLineSettings kTrainerLine{9600, 8, 'E', 1};

enum : uint8_t {
    kLoad = 1,
    kMeasures = 1,
    kRollTotal = 2,
    kSerial = 3,
    kUnparsed = 5,
    kIdentify = 8,
    kVersion = 9
};

enum : uint8_t { kPedalBit = 0x10, kHeartBit = 0x20, kRollBit = 0x40 };

// Commands no generation sends.
constexpr uint8_t kUnknownCommands[] = {0x04, 0x06, 0x07, 0x0A, 0x0B, 0x0C};

struct TGeneration {
    double generation;
    uint8_t answer;
    double rollDiameterMm;
    double turnsPerEvent;
};

constexpr TGeneration kGenerations[] = {
    {1, 0x50, 40, 2},     {2, 0x50, 30, 2},     {3, 0x50, 30, 2},
    {4, 0x50, 39.5, 0.5}, {4.5, 0x55, 39.5, 1}, {5, 0x54, 45, 1},
    {5.5, 0x5A, 30, 0.5}, {6, 0x58, 40, 1},     {7, 0x5C, 30, 1}};

const TGeneration& Generation(double generation) {
    for (const TGeneration& g : kGenerations)
        if (g.generation == generation) return g;
    throw std::invalid_argument("no wired trainer of generation " + std::to_string(generation));
}

size_t RequestLength(std::string_view) {
    return 6;
}

std::string Bytes(std::initializer_list<unsigned> values) {
    std::string bytes;
    for (unsigned v : values) bytes += static_cast<char>(v & 0xFF);
    return bytes;
}

// A trainer times periods up to this long; a longer gap starts the timing afresh.
constexpr double kLongestPeriodMs = 6000;

unsigned PeriodWord(double periodMs) {
    if (periodMs <= 0) return kNoPeriod;
    return static_cast<unsigned>(std::clamp(std::lround(periodMs), 1L, 0xFFFEL));
}

}  // namespace

TWiredRider ParseWiredRider(const std::string& text) {
    TWiredRider rider;
    auto number = [&](const std::string& name, const std::string& value, double high) {
        const std::optional<double> result = InRange(ReadNumber<double>(value), 0.0, high);
        if (!result) {
            throw std::invalid_argument("rider " + name + ": '" + value +
                                        "' is not a number from 0 to " +
                                        std::to_string(static_cast<int>(high)));
        }
        return *result;
    };
    size_t at = 0;
    while (at <= text.size()) {
        const size_t comma = std::min(text.find(',', at), text.size());
        const std::string item = text.substr(at, comma - at);
        const size_t eq = item.find('=');
        if (eq == std::string::npos)
            throw std::invalid_argument("rider: '" + item +
                                        "' is not NAME=VALUE (speed, hr, cad, keys)");
        const std::string name = item.substr(0, eq);
        const std::string value = item.substr(eq + 1);
        if (name == "speed") {
            rider.speedKmh = number(name, value, 200);
        } else if (name == "hr") {
            const double bpm = number(name, value, 300);
            rider.heartPeriodMs = bpm > 0 ? 60000 / bpm : 0;
        } else if (name == "cad") {
            const double rpm = number(name, value, 300);
            rider.pedalPeriodMs = rpm > 0 ? 60000 / rpm : 0;
        } else if (name == "keys") {
            rider.keys = static_cast<uint8_t>(number(name, value, 15));
        } else {
            throw std::invalid_argument("rider: unknown item '" + name +
                                        "' (speed, hr, cad, keys)");
        }
        at = comma + 1;
    }
    return rider;
}

uint8_t IdentificationAnswer(double generation) {
    return Generation(generation).answer;
}

double MetresPerRollEvent(double generation) {
    const TGeneration& g = Generation(generation);
    return g.rollDiameterMm * std::numbers::pi * g.turnsPerEvent / 1000;
}

TWiredTrainerSimulator::TWiredTrainerSimulator(TWiredOptions options, const TSimSettings& settings)
    : TPtySimulator(settings, kStart),
      options_(options),
      framing_(options.generation < 4    ? TFraming::Bytes
               : options.generation == 4 ? TFraming::Short
                                         : TFraming::Long),
      metresPerRollEvent_(MetresPerRollEvent(options.generation)),
      ride_(settings.seed),
      reader_({kStart, kStop, &RequestLength}),
      rollTotal_(options.rollTotal) {
    nextMeasure_ = MeasurePeriod();
}

TWiredTrainerSimulator::~TWiredTrainerSimulator() {
    Stop();
}

void TWiredTrainerSimulator::SetSilent(bool silent) {
    Call([&] {
        silent_ = silent;
        Log(silent ? "-- falls silent" : "-- speaks again");
        if (!silent) {
            lastHeard_ = Now();
            Resume(Now());
        }
    });
}

void TWiredTrainerSimulator::SetRider(const std::optional<TWiredRider>& rider) {
    Call([&] { rider_ = rider; });
}

void TWiredTrainerSimulator::SetFaults(const TWiredFaults& faults) {
    Call([&] { faults_ = faults; });
}

void TWiredTrainerSimulator::SetIdentification(TIdentification identification) {
    Call([&] { options_.identification = identification; });
}

void TWiredTrainerSimulator::RunScriptLine(const std::string& line) {
    std::istringstream words(line);
    std::string verb, argument, extra;
    words >> verb >> argument >> extra;
    if (!extra.empty()) throw std::invalid_argument("'" + line + "': '" + extra + "' is too much");
    if (verb == "rider" && !argument.empty()) {
        SetRider(ParseWiredRider(argument));
    } else if ((verb == "silent" || verb == "speak") && argument.empty()) {
        SetSilent(verb == "silent");
    } else {
        throw std::invalid_argument(
            "'" + line +
            "': unknown command (rider speed=KMH,hr=BPM,cad=RPM[,keys=BITS], "
            "silent, speak)");
    }
}

void TWiredTrainerSimulator::Resume(int64_t now) {
    // On the current clock: nothing is owed for the time it did not measure.
    if (!streaming_) Log("-- measures again");
    streaming_ = true;
    nextMeasure_ = now + MeasurePeriod();
    lastMeasure_ = now;
}

void TWiredTrainerSimulator::Received(std::string_view bytes) {
    RelaxSlaveLine();
    if (silent_) {
        Log("-- silent, ignored " + BytesToHex(bytes));
        return;
    }
    CheckLineSettings();
    lastHeard_ = Now();
    if (!streaming_) Resume(Now());
    if (framing_ == TFraming::Bytes) {
        for (char byte : bytes) {
            if (static_cast<uint8_t>(byte) == kIdentificationByte && !identified_) {
                Identify();
            } else {
                brake_ = static_cast<uint8_t>(byte);
            }
        }
        return;
    }
    HandleFrames(reader_, bytes, [this](const std::string& frame) { Handle(frame); });
}

void TWiredTrainerSimulator::CheckLineSettings() {
    const std::optional<TLineSettings> line = SlaveLineSettings();
    if (!line) return;
    if (*line == kTrainerLine) {
        warnedLine_.reset();
        return;
    }
    if (warnedLine_ == line) return;
    warnedLine_ = line;
    Log("-- warning: the line is set to " + LineSettingsText(*line) + ", the trainer talks " +
        LineSettingsText(kTrainerLine));
}

void TWiredTrainerSimulator::Handle(const std::string& frame) {
    const auto p1 = static_cast<uint8_t>(frame[2]);
    const auto p2 = static_cast<uint8_t>(frame[3]);
    const uint32_t serial = options_.serial;
    switch (static_cast<uint8_t>(frame[1])) {
        case kIdentify:
            Identify();
            return;
        case kSerial:
            SendFrame(
                kSerial,
                Bytes({serial >> 16, serial >> 8, serial, static_cast<uint8_t>(options_.rotation1),
                       static_cast<uint8_t>(options_.rotation2)}),
                true);
            return;
        case kVersion:
            SendFrame(kVersion, Bytes({options_.productVersion}), true);
            return;
        case kLoad:
            brake_ = p1;
            // 0 is what the PC sends when it does not use the elevation; 126 is the flat.
            slope_ = p2 == 0 ? 0 : (p2 - 126) / 5.0;
            return;
        default:
            Log("-- ignored command " + BytesToHex(frame.substr(1, 1)));
    }
}

void TWiredTrainerSimulator::Identify() {
    if (options_.identification == TIdentification::None) {
        Log("-- identification request not answered");
        return;
    }
    const bool correct = options_.identification == TIdentification::Correct;
    const uint8_t answer = correct ? IdentificationAnswer(options_.generation) : kWrongAnswer;
    identified_ = correct;
    if (framing_ == TFraming::Bytes) {
        Send(Bytes({answer}), true);
    } else {
        // Always 6 bytes: the PC does not know the generation yet.
        Send(Bytes({kStart, kIdentify, answer, 0x00, 0x00, kStop}), true);
    }
}

int64_t TWiredTrainerSimulator::MeasurePeriod() const {
    return framing_ == TFraming::Bytes ? 10 : 100;
}

void TWiredTrainerSimulator::SendFrame(uint8_t command, std::string payload, bool answer) {
    const size_t payloadSize = framing_ == TFraming::Long ? 7 : 3;
    payload.resize(payloadSize, '\0');
    std::string frame = Bytes({kStart, command});
    frame += payload;
    frame += static_cast<char>(kStop);
    Send(std::move(frame), answer);
}

int64_t TWiredTrainerSimulator::Tick(int64_t now) {
    if (silent_ || !streaming_) return kNever;
    // Measuring stops once the PC has said nothing for keepAliveMs; what fell due before
    // that went out.
    const int64_t keepAlive = options_.keepAliveMs;
    const int64_t lapse = keepAlive > 0 ? lastHeard_ + keepAlive : kNever;
    nextMeasure_ = Recent(nextMeasure_, MeasurePeriod(), now);
    while (nextMeasure_ <= now && nextMeasure_ < lapse) {
        SendMeasures(nextMeasure_);
        nextMeasure_ += MeasurePeriod();
    }
    if (lapse <= now) {
        streaming_ = false;
        identified_ = false;
        Log("-- nothing from the PC for " + std::to_string(keepAlive) + " ms, measures stop");
        return kNever;
    }
    return std::min(nextMeasure_, lapse);
}

void TWiredTrainerSimulator::SendMeasures(int64_t due) {
    const auto periodMs = static_cast<double>(MeasurePeriod());
    const auto elapsedMs = static_cast<double>(due - lastMeasure_);
    lastMeasure_ = due;

    double speed = 0;  // m/s
    double heartPeriodMs = 0;
    double pedalPeriodMs = 0;
    uint8_t keys = 0;
    if (rider_) {
        speed = rider_->speedKmh / 3.6;
        heartPeriodMs = rider_->heartPeriodMs;
        pedalPeriodMs = rider_->pedalPeriodMs;
        keys = rider_->keys & 0x0F;
    } else {
        const TRiderState rider = ride_.At(due);
        speed = RollSpeed(rider.power, brake_, slope_);
        heartPeriodMs = rider.heartRate > 0 ? 60000 / rider.heartRate : 0;
        pedalPeriodMs = rider.cadence > 0 ? 60000 / rider.cadence : 0;
        keys = rider.keys;
    }
    const double events = speed * periodMs / 1000 / metresPerRollEvent_;
    rollEvents_ += events;
    rollTotal_ += events;

    uint8_t flags = keys;
    if (Advance(pedal_, elapsedMs, pedalPeriodMs, 0)) flags |= kPedalBit;
    if (Advance(heart_, elapsedMs, heartPeriodMs, options_.heartVariationMs)) flags |= kHeartBit;
    switch (framing_) {
        case TFraming::Bytes:
            // One revolution flag per byte at most: faster rolls are under-reported, as
            // on the real line.
            if (rollEvents_ >= 1) {
                flags |= kRollBit;
                rollEvents_ = std::min(rollEvents_ - 1, 1.0);
            }
            Send(Bytes({flags}), false);
            return;
        case TFraming::Short: {
            const auto count = static_cast<unsigned>(std::min(std::floor(rollEvents_), 255.0));
            rollEvents_ -= count;
            SendFrame(kMeasures, Bytes({flags, count}), false);
            break;
        }
        case TFraming::Long: {
            rollEvents_ = 0;
            const unsigned roll =
                speed > 0
                    ? static_cast<unsigned>(std::clamp(
                          std::lround(metresPerRollEvent_ / speed / kRollTickSeconds), 1L, 0xFFFEL))
                    : kNoPeriod;
            const unsigned pedal = PeriodWord(pedal_.heldMs);
            const unsigned heart = PeriodWord(heart_.heldMs);
            SendFrame(kMeasures,
                      Bytes({flags, roll >> 8, roll, pedal >> 8, pedal, heart >> 8, heart}), false);
            break;
        }
    }
    SendFaults();
    if (++measuresSinceTotal_ == kMeasuresPerTotal) {
        measuresSinceTotal_ = 0;
        const auto total = static_cast<uint32_t>(rollTotal_) & 0xFFFFFF;
        SendFrame(kRollTotal, Bytes({total >> 16, total >> 8, total}), false);
    }
}

bool TWiredTrainerSimulator::Advance(TEventTimer& timer, double elapsedMs, double periodMs,
                                     double variationMs) {
    auto interval = [&] {
        if (variationMs <= 0) return periodMs;
        std::uniform_real_distribution<double> variation(-variationMs, variationMs);
        return std::max(periodMs + variation(Random()), 1.0);
    };
    if (timer.sinceLastMs >= 0) timer.sinceLastMs += elapsedMs;
    bool happened = false;
    if (periodMs <= 0) {
        timer.untilNextMs = 0;
    } else {
        if (timer.untilNextMs <= 0) timer.untilNextMs = interval();
        timer.untilNextMs -= elapsedMs;
        while (timer.untilNextMs <= 0) {
            const double ago = -timer.untilNextMs;  // it fell this long before the frame
            const double timed = timer.sinceLastMs - ago;
            timer.heldMs = timer.sinceLastMs >= 0 && timed <= kLongestPeriodMs ? timed : 0;
            timer.sinceLastMs = ago;
            timer.untilNextMs += interval();
            happened = true;
        }
    }
    if (timer.sinceLastMs > kLongestPeriodMs ||
        (timer.heldMs > 0 && timer.sinceLastMs > 2 * timer.heldMs)) {
        timer.heldMs = 0;
        timer.sinceLastMs = -1;
    }
    return happened;
}

void TWiredTrainerSimulator::SendFaults() {
    std::uniform_real_distribution<double> chance(0.0, 1.0);
    std::uniform_int_distribution<int> value(0, 255);
    auto payload = [&](size_t count) {
        std::string bytes;
        while (bytes.size() < count) {
            const auto b = static_cast<uint8_t>(value(Random()));
            if (b != kStart && b != kStop) bytes += static_cast<char>(b);
        }
        return bytes;
    };
    if (faults_.unknownCommandFraction > 0 && chance(Random()) < faults_.unknownCommandFraction) {
        std::uniform_int_distribution<size_t> pick(0, std::size(kUnknownCommands) - 1);
        SendFrame(kUnknownCommands[pick(Random())], payload(7), false);
    }
    if (faults_.command5Fraction > 0 && chance(Random()) < faults_.command5Fraction) {
        SendFrame(kUnparsed, payload(7), false);
    }
    if (faults_.garbageF0Fraction > 0 && chance(Random()) < faults_.garbageF0Fraction) {
        std::uniform_int_distribution<size_t> count(1, 3);
        Send(static_cast<char>(kStart) + payload(count(Random())), false);
    }
}

}  // namespace wct::sim
