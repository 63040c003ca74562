// SPDX-License-Identifier: Apache-2.0
#include "check/check_plan.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <toml++/toml.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <sstream>
#include <utility>

#include "common/hex.h"
#include "common/number_text.h"
#include "protocol/wireless_frame.h"

namespace wct::check {
namespace {

struct TKindName {
    const char* name;
    TStepKind kind;
    uint8_t command;
};

constexpr std::array<TKindName, 8> kKinds = {{{"identity", TStepKind::Identity, 0},
                                              {"keys", TStepKind::Test, mcTestKeys},
                                              {"cardio", TStepKind::Test, mcTestCardio},
                                              {"signals", TStepKind::Test, mcTestSignals},
                                              {"clock", TStepKind::Test, mcTriggerClock},
                                              {"memory", TStepKind::Memory, 0},
                                              {"total_rolls", TStepKind::TotalRolls, 0},
                                              {"radio", TStepKind::Radio, 0}}};

TPlanStep Step(const TKindName& k) {
    TPlanStep step;
    step.kind = k.kind;
    step.name = k.name;
    step.command = k.command;
    return step;
}

// Reads one plan file's table; every error names the line and the key.
class TPlanReader {
public:
    explicit TPlanReader(std::string source) : source_(std::move(source)) {}

    TCheckPlan Read(const toml::table& root) {
        TCheckPlan plan;
        plan.steps.clear();
        for (auto&& [key, node] : root) {
            const std::string k(key.str());
            if (k == "name") {
                plan.name = String(node, k);
            } else if (k == "reply_timeout_ms") {
                plan.replyTimeoutMs = static_cast<int>(Integer(node, k, 1, 600000));
            } else if (k == "step") {
                const toml::array* steps = node.as_array();
                if (steps == nullptr || !steps->is_array_of_tables())
                    Fail(node, k, "wants [[step]] tables");
                if (steps->size() > kMaxPlanSteps)
                    Fail(node, k,
                         std::to_string(steps->size()) + " steps; a plan has at most " +
                             std::to_string(kMaxPlanSteps));
                for (size_t i = 0; i < steps->size(); ++i)
                    plan.steps.push_back(ReadStep(*steps->get(i)->as_table(), i + 1));
            } else {
                Fail(node, k, "unknown key (name, reply_timeout_ms, step)");
            }
        }
        if (plan.steps.empty()) throw ECheckPlan(source_ + ": the plan has no [[step]]");
        return plan;
    }

private:
    [[noreturn]] void Fail(const toml::node& node, const std::string& key,
                           const std::string& what) const {
        throw ECheckPlan(source_ + ":" + std::to_string(node.source().begin.line) + ": " + key +
                         ": " + what);
    }

    std::string String(const toml::node& node, const std::string& key) const {
        const auto value = node.value<std::string>();
        if (!value || !node.is_string()) Fail(node, key, "wants a string");
        return *value;
    }

    int64_t Integer(const toml::node& node, const std::string& key, int64_t min,
                    int64_t max) const {
        const auto value = node.value<int64_t>();
        if (!node.is_integer() || !value || *value < min || *value > max)
            Fail(node, key,
                 "wants a whole number from " + std::to_string(min) + " to " + std::to_string(max));
        return *value;
    }

    double Number(const toml::node& node, const std::string& key, double min, double max) const {
        const auto value = node.value<double>();
        if (!(node.is_integer() || node.is_floating_point()) || !value || !(*value >= min) ||
            !(*value <= max)) {
            std::ostringstream range;
            range << "wants a number from " << min << " to " << max;
            Fail(node, key, range.str());
        }
        return *value;
    }

    TPlanStep ReadStep(const toml::table& table, size_t index) {
        const std::string where = "step " + std::to_string(index) + " ";
        const toml::node* kindNode = table.get("kind");
        if (kindNode == nullptr)
            throw ECheckPlan(source_ + ":" + std::to_string(table.source().begin.line) + ": " +
                             where + "kind: missing");
        const std::string kind = String(*kindNode, where + "kind");
        const auto found = std::find_if(kKinds.begin(), kKinds.end(),
                                        [&](const TKindName& k) { return kind == k.name; });
        if (found == kKinds.end())
            Fail(*kindNode, where + "kind",
                 "'" + kind +
                     "' is none of identity, keys, cardio, signals, clock, memory, "
                     "total_rolls, radio");
        TPlanStep step = Step(*found);
        for (auto&& [key, node] : table) {
            const std::string k(key.str());
            const std::string name = where + k;
            if (k == "kind") continue;
            if (step.kind == TStepKind::Identity && k == "firmware") {
                const toml::array* list = node.as_array();
                if (list == nullptr) Fail(node, name, "wants a list of \"major.minor\" texts");
                for (const toml::node& item : *list) step.firmware.push_back(Firmware(item, name));
            } else if (step.kind == TStepKind::Memory && k == "address") {
                step.address = static_cast<uint16_t>(Integer(node, name, 0, 0xFFFF));
            } else if (step.kind == TStepKind::Memory && k == "pattern") {
                step.pattern = Pattern(node, name);
            } else if (step.kind == TStepKind::TotalRolls && k == "min") {
                step.minRolls = Integer(node, name, 0, INT32_MAX);
            } else if (step.kind == TStepKind::TotalRolls && k == "max") {
                step.maxRolls = Integer(node, name, 0, INT32_MAX);
            } else if (step.kind == TStepKind::Radio && k == "seconds") {
                step.seconds = Number(node, name, 0.5, 3600);
            } else if (step.kind == TStepKind::Radio && k == "min_rate") {
                step.minRate = Number(node, name, 0, 1);
            } else if (step.kind == TStepKind::Radio && k == "max_lost") {
                step.maxLost = Number(node, name, 0, 1);
            } else if (step.kind == TStepKind::Radio && k == "expected_fps") {
                step.expectedFps = Number(node, name, 0.1, 1000);
            } else {
                Fail(node, name, "unknown key for a " + kind + " step");
            }
        }
        if (step.maxRolls && *step.maxRolls < step.minRolls)
            Fail(*table.get("max"), where + "max", "is below min");
        return step;
    }

    TFirmwareVersion Firmware(const toml::node& node, const std::string& key) const {
        const std::string text = String(node, key);
        const size_t dot = text.find('.');
        const auto part = [&](std::string_view digits) {
            return InRange(ReadNumber<unsigned>(digits), 0u, 255u);
        };
        std::optional<unsigned> major, minor;
        if (dot != std::string::npos) {
            major = part(std::string_view(text).substr(0, dot));
            minor = part(std::string_view(text).substr(dot + 1));
        }
        if (!major || !minor)
            Fail(node, key, "'" + text + "' is not \"major.minor\" (0 to 255 each)");
        return {static_cast<int>(*major), static_cast<int>(*minor)};
    }

    std::string Pattern(const toml::node& node, const std::string& key) const {
        const std::string text = String(node, key);
        const bool hex = std::all_of(text.begin(), text.end(), [](char c) {
            return std::isxdigit(static_cast<unsigned char>(c));
        });
        if (!hex || text.empty() || text.size() % 2 != 0 || text.size() > 16)
            Fail(node, key, "'" + text + "' is not 1 to 8 bytes of hex");
        return HexToBytes(text);
    }

    std::string source_;
};

}  // namespace

std::string TFirmwareVersion::Text() const {
    return std::to_string(major) + "." + std::to_string(minor);
}

TCheckPlan DefaultPlan() {
    TCheckPlan plan;
    for (const TKindName& k : kKinds) plan.steps.push_back(Step(k));
    return plan;
}

TCheckPlan ParsePlan(const std::string& text, const std::string& source) {
    toml::table root;
    try {
        root = toml::parse(text, source);
    } catch (const toml::parse_error& e) {
        throw ECheckPlan(source + ":" + std::to_string(e.source().begin.line) + ": " +
                         std::string(e.description()));
    }
    return TPlanReader(source).Read(root);
}

TCheckPlan ReadPlan(const std::string& path) {
    // Opened without waiting (a FIFO would wait for a writer) and looked at before a byte
    // is read: only a regular file of bounded size is read.
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) throw ECheckPlan(path + ": cannot be read: " + std::strerror(errno));
    std::string text;
    try {
        struct stat st {};
        if (fstat(fd, &st) != 0) throw ECheckPlan(path + ": " + std::strerror(errno));
        if (!S_ISREG(st.st_mode))
            throw ECheckPlan(path + ": not a regular file; a plan is read from a file only");
        if (st.st_size > static_cast<off_t>(kMaxPlanBytes))
            throw ECheckPlan(path + ": " + std::to_string(st.st_size) +
                             " bytes; a plan has at most " + std::to_string(kMaxPlanBytes));
        char buffer[65536];
        for (;;) {
            const ssize_t n = read(fd, buffer, sizeof buffer);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) throw ECheckPlan(path + ": cannot be read: " + std::strerror(errno));
            if (n == 0) break;
            text.append(buffer, static_cast<size_t>(n));
            // A file that grows while it is read is held to the same bound.
            if (text.size() > kMaxPlanBytes)
                throw ECheckPlan(path + ": more than " + std::to_string(kMaxPlanBytes) +
                                 " bytes; a plan has at most that");
        }
    } catch (...) {
        close(fd);
        throw;
    }
    close(fd);
    return ParsePlan(text, path);
}

}  // namespace wct::check
