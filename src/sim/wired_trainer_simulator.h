// The older wired roll trainer, of one protocol generation.
//
// Byte protocol (generations 1, 2, 3): the raw byte 0x28 asks for identification and is
// answered 0x50; any other byte received is the brake level. Frame generations (4 short,
// 4.5 to 7 long): 6-byte requests F0 cmd p1 p2 00 F7; identification (8) is answered
// with a 6-byte frame carrying 0x50 plus the generation's code, serial number (3) and
// product version (9) in the generation's own frame size, and load frames (1) set the
// brake level and, from the elevation byte, the slope.
//
// Once identified the trainer streams what its rider does (TRideProfile): a measures
// frame every 100 ms and a roll total every second (frame generations), or one flags
// byte every 10 ms (byte protocol), with heart beats, pedal revolutions and keys. It
// falls silent, neither sending nor answering, while told to.
//
// Everything in TPtySimulator applies (threads, vanish and return, link faults).
#pragma once

#include <cstdint>

#include "sim/frame_reader.h"
#include "sim/pty_simulator.h"
#include "sim/ride_profile.h"

namespace wct::sim {

struct TWiredOptions {
    double generation = 5;       // 1, 2, 3, 4, 4.5, 5, 5.5, 6 or 7
    uint32_t serial = 0x012345;  // 24 bits
    int8_t rotation1 = 1;        // orientation bytes of the long serial-number frame
    int8_t rotation2 = 1;
    uint8_t productVersion = 0x12;
};

// 0x50 plus the generation's code. Throws std::invalid_argument for a generation that
// does not exist.
uint8_t IdentificationAnswer(double generation);

class TWiredTrainerSimulator : public TPtySimulator {
public:
    // Throws std::invalid_argument for a generation that does not exist.
    explicit TWiredTrainerSimulator(TWiredOptions options, const TSimSettings& settings = {});
    ~TWiredTrainerSimulator() override;

    void SetSilent(bool silent);

private:
    enum class TFraming { Bytes, Short, Long };

    void Received(std::string_view bytes) override;
    int64_t Tick(int64_t now) override;

    void Handle(const std::string& frame);
    void Identify();
    void SendFrame(uint8_t command, std::string payload, bool answer);
    void SendMeasures();
    int64_t MeasurePeriod() const;

    TWiredOptions options_;
    TFraming framing_;
    uint8_t answer_;
    double metresPerRollEvent_;
    TRideProfile ride_;
    TFrameReader reader_;

    // Simulator thread.
    bool silent_ = false;
    bool streaming_ = false;
    int64_t nextMeasure_ = 0;
    int measuresSinceTotal_ = 0;
    uint8_t brake_ = 0;
    double slope_ = 0;
    double rollEvents_ = 0;  // not yet reported
    double rollTotal_ = 0;
    double pedalPhase_ = 0;
    double heartPhase_ = 0;
};

}  // namespace wct::sim
