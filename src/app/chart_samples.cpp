// SPDX-License-Identifier: Apache-2.0
#include "app/chart_samples.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace wct {

int64_t TChartClock::Read(uint32_t tick) {
    if (!started_) {
        started_ = true;
        ms_ = tick;
    } else {
        // Signed, so that a tick read a little before the last one steps back, not ahead.
        ms_ += static_cast<int32_t>(tick - last_);
    }
    last_ = tick;
    return ms_;
}

void TChartSamples::TSeries::DropBefore(int64_t oldest) {
    while (!samples.empty() && samples.front().ms < oldest) samples.pop_front();
    // A gap whose return fell out has nothing left to split.
    while (!gaps.empty() && (samples.empty() || gaps.front().backAt < samples.front().ms))
        gaps.pop_front();
}

void TChartSamples::SetSpan(int64_t ms) {
    span_ = ms;
    for (auto& [console, series] : consoles_)
        if (!series.samples.empty()) series.DropBefore(series.samples.back().ms - span_);
}

void TChartSamples::Add(uint8_t console, const TChartSample& sample, int64_t silenceMs) {
    TSeries& series = consoles_[console];
    if (!series.samples.empty() && sample.ms - series.samples.back().ms > silenceMs)
        series.gaps.push_back({series.samples.back().ms + silenceMs, sample.ms});
    series.samples.push_back(sample);
    series.silenceMs = silenceMs;
    series.DropBefore(sample.ms - span_);
}

std::vector<uint8_t> TChartSamples::Consoles() const {
    std::vector<uint8_t> ids;
    for (const auto& [console, series] : consoles_)
        if (!series.samples.empty()) ids.push_back(console);
    return ids;
}

int64_t TChartSamples::Newest() const {
    int64_t newest = 0;
    bool any = false;
    for (const auto& [console, series] : consoles_) {
        if (series.samples.empty()) continue;
        newest = any ? std::max(newest, series.samples.back().ms) : series.samples.back().ms;
        any = true;
    }
    return newest;
}

std::pair<TChartSamples::TSampleIt, TChartSamples::TSampleIt> TChartSamples::Between(
    const TSeries& series, int64_t from, int64_t to) {
    const auto first = std::lower_bound(series.samples.begin(), series.samples.end(), from,
                                        [](const TChartSample& s, int64_t t) { return s.ms < t; });
    const auto last = std::upper_bound(first, series.samples.end(), to,
                                       [](int64_t t, const TChartSample& s) { return t < s.ms; });
    return {first, last};
}

std::vector<TChartRun> TChartSamples::Decimated(uint8_t console, TChartQuantity quantity,
                                                int64_t from, int64_t to, int columns) const {
    std::vector<TChartRun> runs;
    const auto found = consoles_.find(console);
    if (found == consoles_.end() || columns <= 0 || to < from) return runs;
    const TSeries& series = found->second;
    const auto q = static_cast<size_t>(quantity);
    const int64_t width = to - from + 1;

    runs.emplace_back();
    // The slice being gathered: its lowest and highest sample so far.
    int64_t slice = -1;
    const TChartSample* low = nullptr;
    const TChartSample* high = nullptr;
    const auto close = [&] {
        if (low == nullptr) return;
        const TChartSample* first = low->ms <= high->ms ? low : high;
        const TChartSample* second = first == low ? high : low;
        runs.back().push_back({first->ms, first->values[q]});
        if (second != first) runs.back().push_back({second->ms, second->values[q]});
        low = high = nullptr;
    };
    // The next silence that ends inside the range.
    auto gap = std::lower_bound(series.gaps.begin(), series.gaps.end(), from,
                                [](const TGap& g, int64_t t) { return g.backAt < t; });
    const auto [begin, end] = Between(series, from, to);
    for (auto it = begin; it != end; ++it) {
        if (gap != series.gaps.end() && gap->backAt <= it->ms) {
            close();
            slice = -1;
            if (!runs.back().empty()) runs.emplace_back();
            while (gap != series.gaps.end() && gap->backAt <= it->ms) ++gap;
        }
        const float value = it->values[q];
        if (std::isnan(value)) continue;
        const int64_t at = (it->ms - from) * columns / width;
        if (at != slice) {
            close();
            slice = at;
        }
        if (low == nullptr || value < low->values[q]) low = &*it;
        if (high == nullptr || value > high->values[q]) high = &*it;
    }
    close();
    if (runs.back().empty()) runs.pop_back();
    return runs;
}

std::string TChartSamples::Csv(const std::vector<uint8_t>& consoles, int64_t from,
                               int64_t to) const {
    struct TRow {
        int64_t ms;
        uint8_t console;
        const TChartSample* sample;  // none: the console fell silent here
    };
    std::vector<TRow> rows;
    for (uint8_t console : consoles) {
        const auto found = consoles_.find(console);
        if (found == consoles_.end()) continue;
        const TSeries& series = found->second;
        const auto [begin, end] = Between(series, from, to);
        for (auto it = begin; it != end; ++it) rows.push_back({it->ms, console, &*it});
        for (const TGap& gap : series.gaps)
            if (gap.silentAt >= from && gap.silentAt <= to)
                rows.push_back({gap.silentAt, console, nullptr});
        if (series.samples.empty()) continue;
        const int64_t silentAt = series.samples.back().ms + series.silenceMs;
        if (silentAt < to && silentAt >= from) rows.push_back({silentAt, console, nullptr});
    }
    std::stable_sort(rows.begin(), rows.end(),
                     [](const TRow& a, const TRow& b) { return a.ms < b.ms; });

    std::string text = "time_s,console,speed_kmh,heart_rate_bpm,cadence_rpm,power_w\n";
    char line[128];
    for (const TRow& row : rows) {
        std::snprintf(line, sizeof line, "%.3f,%d,", static_cast<double>(row.ms - from) / 1000,
                      row.console);
        text += line;
        if (row.sample == nullptr) {
            text += ",,,\n";
            continue;
        }
        const auto& v = row.sample->values;
        const float power = v[static_cast<size_t>(TChartQuantity::Power)];
        std::snprintf(line, sizeof line, "%.2f,%.0f,%.0f,",
                      static_cast<double>(v[static_cast<size_t>(TChartQuantity::Speed)]),
                      static_cast<double>(v[static_cast<size_t>(TChartQuantity::HeartRate)]),
                      static_cast<double>(v[static_cast<size_t>(TChartQuantity::Cadence)]));
        text += line;
        if (!std::isnan(power)) text += std::to_string(static_cast<long>(std::lround(power)));
        text += '\n';
    }
    return text;
}

}  // namespace wct
