// SPDX-License-Identifier: Apache-2.0
// The older wired roll trainer, of one protocol generation.
//
// Byte protocol (generations 1, 2, 3): the raw byte 0x28 asks for identification and is
// answered 0x50; any other byte received is the brake level. Frame generations (4 short,
// 4.5 to 7 long): 6-byte requests F0 cmd p1 p2 00 F7; identification (8) is answered
// with a 6-byte frame carrying 0x50 plus the generation's code, serial number (3) and
// product version (9) in the generation's own frame size, and load frames (1) set the
// brake level and the elevation byte: 0 leaves the roll as on the flat, any other value
// is a slope of (byte - 126) / 5 percent.
//
// The byte 0x28 is also a brake level of 40. The trainer takes it as an identification
// request until it has answered one, and again once it stopped for want of keep-alive;
// while it is being driven after an answer, 0x28 is a brake level like any other.
//
// From power-on the trainer streams what its rider does: a measures frame every 100 ms
// and a roll total every second (frame generations), or one flags byte every 10 ms (byte
// protocol), with heart beats, pedal revolutions and keys. The rider is a seeded ride
// profile (TRideProfile, slowed by brake and slope) unless a fixed rider is set. Measures
// follow the trainer's clock: every frame that fell due while its thread was late goes
// out when it wakes, with the rider as at the frame's own time; a trainer that did not
// measure (silent, or stopped for want of keep-alive) resumes on the current clock and
// owes nothing for that time. A roll event is one roll turn of the geometry the driver
// uses for the generation; the roll total counts them from power-on (from `rollTotal`, as
// if it had rolled before).
//
// Heart beats and pedal revolutions happen at their own times, a beat's interval varied
// by up to `heartVariationMs` either way. A frame flags each one that fell in its period;
// long frames carry the period between the last two, held until the next event, and
// 0xFFFF before two events were timed or once the next is overdue by a whole period (the
// signal is gone: timing starts afresh).
//
// A trainer only keeps working while the PC keeps sending: after `keepAliveMs` without a
// byte from the PC it stops measuring (it still answers requests) until the PC sends
// again. It falls silent, neither sending nor answering, while told to. It warns in its
// log when the client's line settings are not 9600 8E1 (bytes still get through: a
// pseudo-terminal does not garble them).
//
// Everything in TPtySimulator applies (threads, vanish and return, link, link faults).
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "sim/frame_reader.h"
#include "sim/pty_simulator.h"
#include "sim/ride_profile.h"

namespace wct::sim {

enum class TIdentification {
    Correct,  // 0x50 plus the generation's code
    Wrong,    // 0x51, which no generation answers
    None,     // no answer at all
};

struct TWiredOptions {
    double generation = 5;       // 1, 2, 3, 4, 4.5, 5, 5.5, 6 or 7
    uint32_t serial = 0x012345;  // 24 bits
    int8_t rotation1 = 1;        // orientation bytes of the long serial-number frame
    int8_t rotation2 = 1;
    uint8_t productVersion = 0x12;
    TIdentification identification = TIdentification::Correct;
    uint32_t keepAliveMs = 5000;  // 0: measures never stop
    uint32_t rollTotal = 0;       // roll events counted before the simulator started
    uint32_t heartVariationMs = 0;
};

// A rider who does the same thing all the time.
struct TWiredRider {
    double speedKmh = 0;       // roll surface speed
    double heartPeriodMs = 0;  // between beats; 0: no heart signal
    double pedalPeriodMs = 0;  // between pedal revolutions; 0: not pedalling
    uint8_t keys = 0;          // flags bits 0 to 3 held (several at once are allowed)
};

// Frames a trainer of frame generations sends besides its own, each after a measures
// frame with the given chance (0 to 1).
struct TWiredFaults {
    double unknownCommandFraction = 0;  // F0 cc ... F7 with a command the PC does not know
    double command5Fraction = 0;        // F0 05 ... F7
    double garbageF0Fraction = 0;       // 0xF0 and 1 to 3 bytes that are no frame
};

// speed=KMH,hr=BPM,cad=RPM[,keys=BITS], in any order; what is left out is 0. Throws
// std::invalid_argument naming what is wrong.
TWiredRider ParseWiredRider(const std::string& text);

// 0x50 plus the generation's code. Throws std::invalid_argument for a generation that
// does not exist.
uint8_t IdentificationAnswer(double generation);

// Metres the roll surface travels per roll event for the generation: the roll
// circumference times the turns per event. Throws like IdentificationAnswer.
double MetresPerRollEvent(double generation);

class TWiredTrainerSimulator : public TPtySimulator {
public:
    // Throws std::invalid_argument for a generation that does not exist.
    explicit TWiredTrainerSimulator(TWiredOptions options, const TSimSettings& settings = {});
    ~TWiredTrainerSimulator() override;

    void SetSilent(bool silent);
    // A fixed rider, or the ride profile again (nullopt).
    void SetRider(const std::optional<TWiredRider>& rider);
    void SetFaults(const TWiredFaults& faults);
    void SetIdentification(TIdentification identification);
    // One script line: "rider speed=KMH,hr=BPM,cad=RPM[,keys=BITS]" (a new fixed rider),
    // "silent" or "speak". Throws std::invalid_argument for a line that is none of them.
    void RunScriptLine(const std::string& line);

private:
    enum class TFraming { Bytes, Short, Long };

    // When heart beats or pedal revolutions happen, and the period the trainer holds.
    struct TEventTimer {
        double untilNextMs = 0;   // 0: none due (no signal)
        double sinceLastMs = -1;  // -1: not timing
        double heldMs = 0;        // 0: no period to report
    };

    void Received(std::string_view bytes) override;
    int64_t Tick(int64_t now) override;

    void CheckLineSettings();
    void Handle(const std::string& frame);
    void Identify();
    void SendFrame(uint8_t command, std::string payload, bool answer);
    void SendMeasures(int64_t due);
    void SendFaults();
    void Resume(int64_t now);
    int64_t MeasurePeriod() const;
    // Moves `timer` on by `elapsedMs` for events `periodMs` apart (0: none); true when
    // one fell in that time.
    bool Advance(TEventTimer& timer, double elapsedMs, double periodMs, double variationMs);

    TWiredOptions options_;
    TFraming framing_;
    double metresPerRollEvent_;
    TRideProfile ride_;
    TFrameReader reader_;

    // Simulator thread.
    std::optional<TWiredRider> rider_;
    TWiredFaults faults_;
    std::optional<TLineSettings> warnedLine_;
    bool silent_ = false;
    bool streaming_ = true;
    bool identified_ = false;
    int64_t lastHeard_ = 0;
    int64_t nextMeasure_ = 0;
    int64_t lastMeasure_ = 0;
    int measuresSinceTotal_ = 0;
    uint8_t brake_ = 0;
    double slope_ = 0;
    double rollEvents_ = 0;  // not yet reported
    double rollTotal_ = 0;
    TEventTimer pedal_;
    TEventTimer heart_;
};

}  // namespace wct::sim
