#include "check/check_record.h"

#include <chrono>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <random>

#include "common/utc_text.h"

namespace wct::check {

const char* OutcomeText(TOutcome outcome) {
    switch (outcome) {
        case TOutcome::Pass:
            return "PASS";
        case TOutcome::Fail:
            return "FAIL";
        case TOutcome::Error:
            break;
    }
    return "ERROR";
}

std::optional<TOutcome> ParseOutcome(const std::string& text) {
    for (TOutcome o : {TOutcome::Pass, TOutcome::Fail, TOutcome::Error})
        if (text == OutcomeText(o)) return o;
    return std::nullopt;
}

TOutcome Worse(TOutcome a, TOutcome b) {
    return static_cast<int>(a) > static_cast<int>(b) ? a : b;
}

nlohmann::json RecordToJson(const TCheckRecord& r) {
    nlohmann::json steps = nlohmann::json::array();
    for (const TStepResult& s : r.steps) {
        steps.push_back({{"name", s.name},
                         {"outcome", OutcomeText(s.outcome)},
                         {"value", s.value},
                         {"limits", s.limits},
                         {"ms", s.ms},
                         {"message", s.message}});
    }
    const auto optional = [](const auto& value) {
        return value ? nlohmann::json(*value) : nlohmann::json(nullptr);
    };
    return {{"id", r.id},
            {"run_id", r.runId},
            {"console", r.console},
            {"serial", optional(r.serial)},
            {"version", optional(r.version)},
            {"firmware", r.firmware.empty() ? nlohmann::json(nullptr) : nlohmann::json(r.firmware)},
            {"plan", r.plan},
            {"station", r.station},
            {"operator", r.operatorName},
            {"started", r.started},
            {"ended", r.ended},
            {"outcome", OutcomeText(r.outcome)},
            {"message", r.message},
            {"steps", steps}};
}

std::string SerialLabel(const TCheckRecord& r) {
    return r.serial ? std::to_string(*r.serial) : "unknown-console-" + std::to_string(r.console);
}

std::string NotPassed(const TCheckRecord& r, const std::string& separator) {
    std::string names;
    for (const TStepResult& s : r.steps)
        if (s.outcome != TOutcome::Pass) names += (names.empty() ? "" : separator) + s.name;
    return names;
}

std::string NewRecordId() {
    // Seeded once per process from the system's entropy; ids need to be unique, not secret.
    static thread_local std::mt19937_64 random{(uint64_t{std::random_device{}()} << 32) ^
                                               std::random_device{}()};
    const uint64_t high = random();
    const uint64_t low = random();
    char text[37];
    std::snprintf(text, sizeof text, "%08x-%04x-4%03x-%04x-%012llx",
                  static_cast<unsigned>(high >> 32), static_cast<unsigned>((high >> 16) & 0xFFFF),
                  static_cast<unsigned>(high & 0x0FFF),
                  static_cast<unsigned>(0x8000 | ((low >> 48) & 0x3FFF)),
                  static_cast<unsigned long long>(low & 0xFFFFFFFFFFFFull));
    return text;
}

std::string UtcNow() {
    return UtcText(std::chrono::system_clock::now());
}

}  // namespace wct::check
