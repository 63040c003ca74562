// SPDX-License-Identifier: Apache-2.0
// The check plan: the ordered steps a production check runs on each console, with the
// limits each measured value is judged against. A plan is built in (DefaultPlan) and can
// be replaced by a small TOML file:
//
//   name = "line 2"
//   reply_timeout_ms = 3000          # how long a console has to answer a step's command
//
//   [[step]]
//   kind = "identity"                # version, serial and firmware read
//   firmware = ["2.3", "2.4"]        # optional: the firmware versions allowed
//   [[step]]
//   kind = "keys"                    # also cardio, signals, clock: ACK passes, NACK fails
//   [[step]]
//   kind = "memory"                  # write, read back and restore a scratch area
//   address = 0xF0
//   pattern = "A55AC33C"             # 1 to 8 bytes, hex
//   [[step]]
//   kind = "total_rolls"             # optional min, max
//   [[step]]
//   kind = "radio"                   # the frames a console sent while measuring
//   seconds = 3
//   min_rate = 0.9                   # frames per second, as a share of the expected rate
//   max_lost = 0.05                  # share of frames lost, below this
//   expected_fps = 4.0               # optional: else each console's own rate
//
// A file with an error is refused whole, naming its line and key. Only a regular file of
// at most kMaxPlanBytes with at most kMaxPlanSteps steps is taken.
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace wct::check {

class ECheckPlan : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

enum class TStepKind { Identity, Test, Memory, TotalRolls, Radio };

// A firmware version, compared part by part: "2.03" and "2.3" are one version.
struct TFirmwareVersion {
    int major = 0;
    int minor = 0;
    bool operator==(const TFirmwareVersion&) const = default;
    std::string Text() const;  // "2.3"
};

struct TPlanStep {
    TStepKind kind = TStepKind::Identity;
    std::string name;  // as recorded: the kind's name, or the test's

    std::vector<TFirmwareVersion> firmware;  // identity: those allowed; empty: any
    uint8_t command = 0;                // test: its command code
    uint16_t address = 0x00F0;          // memory
    std::string pattern = "\xA5\x5A\xC3\x3C";
    int64_t minRolls = 0;  // total rolls
    std::optional<int64_t> maxRolls;
    double seconds = 3;  // radio
    double minRate = 0.9;
    double maxLost = 0.05;
    double expectedFps = 0;  // 0: each console's own rate
};

struct TCheckPlan {
    std::string name = "default";
    int replyTimeoutMs = 3000;
    std::vector<TPlanStep> steps;
};

constexpr size_t kMaxPlanBytes = 1 << 20;
constexpr size_t kMaxPlanSteps = 1000;

// Identity, the four self-tests, memory at 0x00F0, total rolls, radio for 3 s.
TCheckPlan DefaultPlan();
// Throws ECheckPlan, "FILE:LINE: KEY: what is wrong".
TCheckPlan ReadPlan(const std::string& path);
TCheckPlan ParsePlan(const std::string& text, const std::string& source);

}  // namespace wct::check
