// SPDX-License-Identifier: Apache-2.0
// The USB wireless dongle and the consoles that reach the PC through it.
//
// It answers the dongle's own requests, lets its consoles join while registration is
// open (one reply 0x05 each, `joinDelayMs` apart, the first `joinDelayMs` after the
// opening), streams every joined console's measures while measuring is on, and answers
// the console commands of any joined console. A console that has not joined, or has
// left, does not answer at all. Frames are exact: 3E, code, console ID, N, payload,
// 00, 21.
//
// Each console rides its own TRideProfile (seeded by the settings' seed and its ID); the
// roll rpm it reports is the roll speed for the rider's effort under the brake level the
// last resistance frame gave it. Its total rolls grow with the roll revolutions while
// its roll is started (0x14), which it is not at power-on.
//
// A console can also be scripted, so that a test or a user reaches exact figures: a
// rider with fixed roll rpm, heart rate and cadence, keys pressed on demand, a console
// that stops reporting, or one that leaves the network and comes back.
//
// Everything in TPtySimulator applies (threads, vanish and return, link faults).
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "sim/frame_reader.h"
#include "sim/pty_simulator.h"
#include "sim/ride_profile.h"

namespace wct::sim {

enum class TTestAnswer { Ack, Nack, None };

struct TConsoleConfig {
    uint8_t id = 1;
    uint8_t version = 0x10;
    uint32_t serial = 0;  // 24 bits
    uint8_t firmwareMajor = 1;
    uint8_t firmwareMinor = 0;
    uint32_t totalRolls = 0;  // roll revolutions counted at power-on
    std::vector<uint8_t> memory = std::vector<uint8_t>(256);  // from address 0
    bool memoryReadOnly = false;
    // Writes are acknowledged but the memory keeps what it held.
    bool writesLost = false;
    // Commands the console refuses with a NACK naming them, whatever they are.
    std::set<uint8_t> refused;
    // Registered in an earlier session: the console answers from power-on, without
    // joining again when registration opens.
    bool joinedAtStart = false;
    // Answer to each test command (0x16 to 0x19); an ACK for those not listed.
    std::map<uint8_t, TTestAnswer> testAnswers;
    // Share of its measures frames that never reach the dongle, 0 to 1.
    double radioLoss = 0;
};

// Fixed figures that replace a console's ride profile.
struct TScriptedRider {
    uint16_t rpm = 0;
    uint8_t heartRate = 0;
    uint8_t cadence = 0;
};

// Reads "ID:rpm=R,hr=H,cad=C": any of the three keys, in any order, each at most once;
// those left out are 0. Throws std::invalid_argument naming what is wrong.
std::pair<uint8_t, TScriptedRider> ParseRiderScript(const std::string& text);

// Console `id` as `wct-sim dongle --consoles N` has it.
TConsoleConfig DefaultConsole(uint8_t id);

struct TDongleOptions {
    std::optional<uint8_t> version = 0x78;  // none: the version request is never answered
    uint32_t serial = 0x0A0B0C;             // 24 bits
    std::vector<TConsoleConfig> consoles;   // the consoles in reach, in joining order
    uint32_t joinDelayMs = 300;
    double measureRate = 4;  // measures per second per console
};

// Faults of the dongle's own making, on top of the link faults.
struct TDongleFaults {
    double corruptLengthFraction = 0;  // share of frames sent with a wrong length byte
    double unknownCodeFraction = 0;    // share of frames followed by one with an unknown code
    bool measuresHold0x21 = false;     // every measures payload carries 0x21 (rpm low byte)
};

// The built-in simulator of `wct --simulate` and of the window's --simulate: consoles 1
// to 4 registered in an earlier session, 5 and 6 waiting to join.
TDongleOptions BuiltInDongleOptions();

class TDongleSimulator : public TPtySimulator {
public:
    explicit TDongleSimulator(TDongleOptions options, const TSimSettings& settings = {});
    ~TDongleSimulator() override;

    void SetFaults(const TDongleFaults& faults);

    // Scripting of one console. Each throws std::invalid_argument for an ID that is not
    // among the consoles.
    // The console reports these figures from now on, whatever the brake.
    void SetRider(uint8_t id, const TScriptedRider& rider);
    // Its next measures carry `keys` (bit 4 +, 1 -, 8 E, 2 T; several at once if asked),
    // the ones after it no key again.
    void PressKeys(uint8_t id, uint8_t keys);
    // Not reporting, the console stays joined but sends no measures.
    void SetReporting(uint8_t id, bool reporting);
    // The console leaves the network: the dongle reports it removed (0x06) and it stays
    // out of reach, joining no registration, until it comes back.
    void Leave(uint8_t id);
    // Back in reach: it joins the next time registration is open (soon, when it is now).
    void ComeBack(uint8_t id);
    // The brake level the last resistance frame gave the console.
    uint8_t Brake(uint8_t id);
    // One line of the script language of `wct-sim dongle` (its standard input):
    //   keys ID BYTE | leave ID | back ID | silent ID | report ID | rider ID:rpm=R,hr=H,cad=C
    // Throws std::invalid_argument naming what is wrong.
    void RunScriptLine(const std::string& line);

private:
    struct TConsole {
        TConsoleConfig config;
        TRideProfile ride;
        bool joined = false;
        bool rolling = false;
        double revolutions = 0;
        uint8_t brake = 0;
        int64_t nextMeasure = 0;
        std::optional<TScriptedRider> rider{};
        uint8_t pendingKeys = 0;
        bool reporting = true;
        bool inReach = true;
    };

    void Received(std::string_view bytes) override;
    int64_t Tick(int64_t now) override;

    void Handle(const std::string& frame);
    void HandleConsoleCommand(TConsole& console, uint8_t code, std::string_view payload);
    void Reply(uint8_t code, uint8_t id, std::string_view payload, bool answer = true);
    void Join(int64_t due);
    void SendMeasures(TConsole& console, int64_t due);
    // Counts the rolls of the rolling consoles up to `until`.
    void UpdateRolls(int64_t until);
    TConsole* Joined(uint8_t id);
    // Runs `change` on console `id` on the simulator thread.
    void Script(uint8_t id, const std::function<void(TConsole&)>& change);
    uint16_t RollRpm(TConsole& console, int64_t at);
    int64_t MeasurePeriod() const;

    // Simulator thread.
    TDongleOptions options_;
    TDongleFaults faults_;
    std::vector<TConsole> consoles_;
    TFrameReader reader_;
    bool measuring_ = false;
    bool registrationOpen_ = false;
    int64_t nextJoin_ = kNever;
    int64_t lastRollUpdate_ = 0;
};

}  // namespace wct::sim
