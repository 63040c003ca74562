// SPDX-License-Identifier: Apache-2.0
#include "check/check_record.h"

#include <chrono>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <random>
#include <stdexcept>

#include "common/round_decimals.h"
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
                         {"message", s.message},
                         {"measures", MeasuresToJson(s.measures)}});
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

namespace {

TOutcome OutcomeField(const nlohmann::json& json) {
    const std::string text = json.at("outcome").get<std::string>();
    const std::optional<TOutcome> outcome = ParseOutcome(text);
    if (!outcome) throw std::invalid_argument("outcome '" + text + "' is not PASS, FAIL or ERROR");
    return *outcome;
}

template <typename T>
std::optional<T> Known(const nlohmann::json& json, const char* key) {
    const nlohmann::json& value = json.at(key);
    return value.is_null() ? std::nullopt : std::optional<T>(value.get<T>());
}

}  // namespace

TCheckRecord RecordFromJson(const nlohmann::json& json) {
    TCheckRecord r;
    r.id = json.at("id").get<std::string>();
    if (r.id.empty()) throw std::invalid_argument("the record has an empty id");
    r.runId = json.at("run_id").get<std::string>();
    r.console = json.at("console").get<int>();
    r.serial = Known<int32_t>(json, "serial");
    r.version = Known<int>(json, "version");
    r.firmware = Known<std::string>(json, "firmware").value_or("");
    r.plan = json.at("plan").get<std::string>();
    r.station = json.at("station").get<std::string>();
    r.operatorName = json.at("operator").get<std::string>();
    r.started = json.at("started").get<std::string>();
    r.ended = json.at("ended").get<std::string>();
    r.outcome = OutcomeField(json);
    r.message = json.at("message").get<std::string>();
    for (const nlohmann::json& item : json.at("steps")) {
        TStepResult s;
        s.name = item.at("name").get<std::string>();
        s.outcome = OutcomeField(item);
        s.value = item.at("value").get<std::string>();
        s.limits = item.at("limits").get<std::string>();
        s.ms = item.at("ms").get<uint32_t>();
        s.message = item.at("message").get<std::string>();
        s.measures = MeasuresFromJson(item.at("measures"));
        r.steps.push_back(std::move(s));
    }
    return r;
}

TMeasure ShownMeasure(std::string name, std::string unit, int decimals, double value,
                      std::optional<double> min, std::optional<double> max,
                      std::optional<double> below) {
    const auto shown = [decimals](double x) {
        return static_cast<double>(RoundDecimals(decimals, x));
    };
    const auto shownLimit = [&](std::optional<double> x) {
        return x ? std::optional<double>(shown(*x)) : std::nullopt;
    };
    return {.name = std::move(name),
            .value = shown(value),
            .unit = std::move(unit),
            .decimals = decimals,
            .min = shownLimit(min),
            .max = shownLimit(max),
            .below = shownLimit(below)};
}

bool Within(const TMeasure& m) {
    return (!m.min || m.value >= *m.min) && (!m.max || m.value <= *m.max) &&
           (!m.below || m.value < *m.below);
}

namespace {

std::string Number(double value, int decimals) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

}  // namespace

std::string ValueText(const TMeasure& m) {
    return m.name + "=" + Number(m.value, m.decimals) + m.unit;
}

std::string LimitsText(const TMeasure& m) {
    std::string text;
    const auto add = [&](const char* relation, const std::string& limit) {
        text += (text.empty() ? "" : ",") + m.name + relation + limit + m.unit;
    };
    if (m.min && m.max)
        add("=", Number(*m.min, m.decimals) + ".." + Number(*m.max, m.decimals));
    else if (m.min)
        add(">=", Number(*m.min, m.decimals));
    else if (m.max)
        add("<=", Number(*m.max, m.decimals));
    if (m.below) add("<", Number(*m.below, m.decimals));
    return text;
}

nlohmann::json MeasuresToJson(const std::vector<TMeasure>& measures) {
    nlohmann::json list = nlohmann::json::array();
    for (const TMeasure& m : measures) {
        nlohmann::json item = {
            {"name", m.name}, {"value", m.value}, {"unit", m.unit}, {"decimals", m.decimals}};
        if (m.min) item["min"] = *m.min;
        if (m.max) item["max"] = *m.max;
        if (m.below) item["below"] = *m.below;
        list.push_back(std::move(item));
    }
    return list;
}

std::vector<TMeasure> MeasuresFromJson(const nlohmann::json& json) {
    std::vector<TMeasure> measures;
    for (const nlohmann::json& item : json) {
        TMeasure m;
        m.name = item.at("name").get<std::string>();
        m.value = item.at("value").get<double>();
        m.unit = item.at("unit").get<std::string>();
        m.decimals = item.at("decimals").get<int>();
        if (item.contains("min")) m.min = item["min"].get<double>();
        if (item.contains("max")) m.max = item["max"].get<double>();
        if (item.contains("below")) m.below = item["below"].get<double>();
        measures.push_back(std::move(m));
    }
    return measures;
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
