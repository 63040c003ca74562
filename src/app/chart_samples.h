// TChartSamples: what the live charts plot. Per console, the measures of the last `span`
// milliseconds, oldest first; cut down to the pixels a chart has (Decimated) and written
// as CSV text (Csv). Needs no Qt, so it is tested without a display.
//
// Times are milliseconds on the caller's steady clock; samples of one console must come
// in time order. Not thread-safe: the window's main thread owns it.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <map>
#include <string>
#include <vector>

namespace wct {

// The charts, in the order they are drawn.
enum class TChartQuantity { Speed, HeartRate, Cadence, Power };
inline constexpr int kChartQuantities = 4;

struct TChartSample {
    int64_t ms = 0;
    // By TChartQuantity: km/h, beats/min, rpm, watts. NaN where nothing was measured (power
    // without a rider device on the console).
    std::array<float, kChartQuantities> values{};
};

struct TChartPoint {
    int64_t ms;
    float value;
};

class TChartSamples {
public:
    explicit TChartSamples(int64_t spanMs) : span_(spanMs) {}

    int64_t Span() const { return span_; }
    // A shorter span drops what falls out of it at once.
    void SetSpan(int64_t ms);
    // Drops what is older than the span before this sample, on the same console.
    void Add(uint8_t console, const TChartSample& sample);
    void Clear() { consoles_.clear(); }

    // Consoles with samples, ascending.
    std::vector<uint8_t> Consoles() const;
    // The newest sample's time over all consoles; 0 when there is none.
    int64_t Newest() const;

    // One quantity of `console` between `from` and `to` (both included), at most two
    // points for each of `columns` equal slices of that time: the slice's lowest and
    // highest, in the order they came. Unmeasured values are left out.
    std::vector<TChartPoint> Decimated(uint8_t console, TChartQuantity quantity, int64_t from,
                                       int64_t to, int columns) const;
    // Every sample of `consoles` between `from` and `to`, in time order, under the header
    // "time_s,console,speed_kmh,heart_rate_bpm,cadence_rpm,power_w"; time in seconds from
    // `from`, power empty where unmeasured. Lines end with "\n".
    std::string Csv(const std::vector<uint8_t>& consoles, int64_t from, int64_t to) const;

private:
    using TSeries = std::deque<TChartSample>;
    // The samples of `series` from `from` to `to`, as a pair of iterators.
    static std::pair<TSeries::const_iterator, TSeries::const_iterator> Between(
        const TSeries& series, int64_t from, int64_t to);

    int64_t span_;
    std::map<uint8_t, TSeries> consoles_;
};

}  // namespace wct
