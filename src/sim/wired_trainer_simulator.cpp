#include "sim/wired_trainer_simulator.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <stdexcept>

namespace wct::sim {

namespace {

constexpr uint8_t kStart = 0xF0;
constexpr uint8_t kStop = 0xF7;
constexpr uint8_t kIdentificationByte = 0x28;
constexpr double kRollTickSeconds = 26.4e-6;
constexpr int kMeasuresPerTotal = 10;
// Frames owed after a long pause are sent at once up to this many, the rest skipped.
constexpr int kMaxCatchUp = 100;

enum : uint8_t {
    kLoad = 1,
    kMeasures = 1,
    kRollTotal = 2,
    kSerial = 3,
    kIdentify = 8,
    kVersion = 9
};

enum : uint8_t { kPedalBit = 0x10, kHeartBit = 0x20, kRollBit = 0x40 };

size_t RequestLength(std::string_view) {
    return 6;
}

std::string Bytes(std::initializer_list<unsigned> values) {
    std::string bytes;
    for (unsigned v : values) bytes += static_cast<char>(v & 0xFF);
    return bytes;
}

unsigned Period(double perMinute) {
    if (perMinute <= 0) return 0xFFFF;
    return static_cast<unsigned>(std::clamp(std::lround(60000 / perMinute), 1L, 0xFFFEL));
}

}  // namespace

uint8_t IdentificationAnswer(double generation) {
    struct TCode {
        double generation;
        uint8_t answer;
    };
    static constexpr TCode kCodes[] = {{1, 0x50}, {2, 0x50},   {3, 0x50}, {4, 0x50}, {4.5, 0x55},
                                       {5, 0x54}, {5.5, 0x5A}, {6, 0x58}, {7, 0x5C}};
    for (const TCode& code : kCodes) {
        if (code.generation == generation) return code.answer;
    }
    throw std::invalid_argument("no wired trainer of generation " + std::to_string(generation));
}

TWiredTrainerSimulator::TWiredTrainerSimulator(TWiredOptions options, const TSimSettings& settings)
    : TPtySimulator(settings, kStart),
      options_(options),
      framing_(options.generation < 4    ? TFraming::Bytes
               : options.generation == 4 ? TFraming::Short
                                         : TFraming::Long),
      answer_(IdentificationAnswer(options.generation)),
      // Frame generations count each turn of a 39.5 mm roll; the byte protocol every
      // second turn of a 40 mm (generation 1) or 30 mm roll.
      metresPerRollEvent_(framing_ != TFraming::Bytes ? 0.1241
                          : options.generation == 1   ? std::numbers::pi * 0.040 * 2
                                                      : std::numbers::pi * 0.030 * 2),
      ride_(settings.seed),
      reader_({kStart, kStop, &RequestLength}) {}

TWiredTrainerSimulator::~TWiredTrainerSimulator() {
    Stop();
}

void TWiredTrainerSimulator::SetSilent(bool silent) {
    Call([&] {
        silent_ = silent;
        // Nothing is owed for the silent time.
        nextMeasure_ = Now() + MeasurePeriod();
        Log(silent ? "-- falls silent" : "-- speaks again");
    });
}

void TWiredTrainerSimulator::Received(std::string_view bytes) {
    if (silent_) {
        Log("-- silent, ignored " + ToHex(bytes));
        return;
    }
    if (framing_ == TFraming::Bytes) {
        for (char byte : bytes) {
            if (static_cast<uint8_t>(byte) == kIdentificationByte) {
                Identify();
            } else {
                brake_ = static_cast<uint8_t>(byte);
            }
        }
        return;
    }
    HandleFrames(reader_, bytes, [this](const std::string& frame) { Handle(frame); });
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
            slope_ = (p2 - 126) / 5.0;  // the elevation byte is 126 on the flat, 5 per percent
            return;
        default:
            Log("-- ignored command " + ToHex(frame.substr(1, 1)));
    }
}

void TWiredTrainerSimulator::Identify() {
    if (framing_ == TFraming::Bytes) {
        Send(Bytes({answer_}), true);
    } else {
        // Always 6 bytes: the PC does not know the generation yet.
        Send(Bytes({kStart, kIdentify, answer_, 0x00, 0x00, kStop}), true);
    }
    if (!streaming_) {
        streaming_ = true;
        nextMeasure_ = Now() + MeasurePeriod();
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
    if (!streaming_ || silent_) return kNever;
    const int64_t period = MeasurePeriod();
    if (now - nextMeasure_ >= period * kMaxCatchUp) {
        nextMeasure_ = now - period * (kMaxCatchUp - 1);
    }
    while (nextMeasure_ <= now) {
        SendMeasures();
        nextMeasure_ += period;
    }
    return nextMeasure_;
}

void TWiredTrainerSimulator::SendMeasures() {
    const auto periodMs = static_cast<double>(MeasurePeriod());
    const TRiderState rider = ride_.At(nextMeasure_);
    const double speed = RollSpeed(rider.power, brake_, slope_);
    const double events = speed * periodMs / 1000 / metresPerRollEvent_;
    rollEvents_ += events;
    rollTotal_ += events;
    pedalPhase_ += rider.cadence * periodMs / 60000;
    heartPhase_ += rider.heartRate * periodMs / 60000;

    uint8_t flags = rider.keys;
    if (pedalPhase_ >= 1) {
        flags |= kPedalBit;
        pedalPhase_ -= 1;
    }
    if (heartPhase_ >= 1) {
        flags |= kHeartBit;
        heartPhase_ -= 1;
    }
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
                    : 0xFFFF;
            const unsigned pedal = Period(rider.cadence);
            const unsigned heart = Period(rider.heartRate);
            SendFrame(kMeasures,
                      Bytes({flags, roll >> 8, roll, pedal >> 8, pedal, heart >> 8, heart}), false);
            break;
        }
    }
    if (++measuresSinceTotal_ == kMeasuresPerTotal) {
        measuresSinceTotal_ = 0;
        const auto total = static_cast<uint32_t>(rollTotal_) & 0xFFFFFF;
        SendFrame(kRollTotal, Bytes({total >> 16, total >> 8, total}), false);
    }
}

}  // namespace wct::sim
