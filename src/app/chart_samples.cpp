#include "app/chart_samples.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace wct {

void TChartSamples::SetSpan(int64_t ms) {
    span_ = ms;
    for (auto& [console, series] : consoles_) {
        if (series.empty()) continue;
        const int64_t oldest = series.back().ms - span_;
        while (series.front().ms < oldest) series.pop_front();
    }
}

void TChartSamples::Add(uint8_t console, const TChartSample& sample) {
    TSeries& series = consoles_[console];
    series.push_back(sample);
    const int64_t oldest = sample.ms - span_;
    while (series.front().ms < oldest) series.pop_front();
}

std::vector<uint8_t> TChartSamples::Consoles() const {
    std::vector<uint8_t> ids;
    for (const auto& [console, series] : consoles_)
        if (!series.empty()) ids.push_back(console);
    return ids;
}

int64_t TChartSamples::Newest() const {
    int64_t newest = 0;
    bool any = false;
    for (const auto& [console, series] : consoles_) {
        if (series.empty()) continue;
        newest = any ? std::max(newest, series.back().ms) : series.back().ms;
        any = true;
    }
    return newest;
}

std::pair<TChartSamples::TSeries::const_iterator, TChartSamples::TSeries::const_iterator>
TChartSamples::Between(const TSeries& series, int64_t from, int64_t to) {
    const auto first = std::lower_bound(series.begin(), series.end(), from,
                                        [](const TChartSample& s, int64_t t) { return s.ms < t; });
    const auto last = std::upper_bound(first, series.end(), to,
                                       [](int64_t t, const TChartSample& s) { return t < s.ms; });
    return {first, last};
}

std::vector<TChartPoint> TChartSamples::Decimated(uint8_t console, TChartQuantity quantity,
                                                  int64_t from, int64_t to, int columns) const {
    std::vector<TChartPoint> points;
    const auto found = consoles_.find(console);
    if (found == consoles_.end() || columns <= 0 || to < from) return points;
    const auto q = static_cast<size_t>(quantity);
    const int64_t width = to - from + 1;

    // The slice being gathered: its lowest and highest sample so far.
    int64_t slice = -1;
    const TChartSample* low = nullptr;
    const TChartSample* high = nullptr;
    const auto close = [&] {
        if (low == nullptr) return;
        const TChartSample* first = low->ms <= high->ms ? low : high;
        const TChartSample* second = first == low ? high : low;
        points.push_back({first->ms, first->values[q]});
        if (second != first) points.push_back({second->ms, second->values[q]});
        low = high = nullptr;
    };
    const auto [begin, end] = Between(found->second, from, to);
    for (auto it = begin; it != end; ++it) {
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
    return points;
}

std::string TChartSamples::Csv(const std::vector<uint8_t>& consoles, int64_t from,
                               int64_t to) const {
    struct TRow {
        int64_t ms;
        uint8_t console;
        const TChartSample* sample;
    };
    std::vector<TRow> rows;
    for (uint8_t console : consoles) {
        const auto found = consoles_.find(console);
        if (found == consoles_.end()) continue;
        const auto [begin, end] = Between(found->second, from, to);
        for (auto it = begin; it != end; ++it) rows.push_back({it->ms, console, &*it});
    }
    std::stable_sort(rows.begin(), rows.end(),
                     [](const TRow& a, const TRow& b) { return a.ms < b.ms; });

    std::string text = "time_s,console,speed_kmh,heart_rate_bpm,cadence_rpm,power_w\n";
    char line[128];
    for (const TRow& row : rows) {
        const auto& v = row.sample->values;
        const float power = v[static_cast<size_t>(TChartQuantity::Power)];
        std::snprintf(line, sizeof line, "%.3f,%d,%.2f,%.0f,%.0f,",
                      static_cast<double>(row.ms - from) / 1000, row.console,
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
