// SPDX-License-Identifier: Apache-2.0
// TChartSamples: what the live charts plot. Per console, the measures of the last `span`
// milliseconds, oldest first; cut down to the pixels a chart has (Decimated) and written
// as CSV text (Csv). Needs no Qt, so it is tested without a display.
//
// A console that falls silent leaves a gap: a sample that comes more than the console's
// silence bound after its previous one starts a new run, and nothing is drawn across the
// silence (Decimated gives each run apart) nor written there (Csv marks where it fell
// silent with a row of no values), so the last values before a silence never stand in for
// the time nobody measured.
//
// Times are milliseconds on the caller's clock (TChartClock); samples of one console must
// come in time order. Not thread-safe: the window's main thread owns it.
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
// Points drawn as one line: the console sent measures all along.
using TChartRun = std::vector<TChartPoint>;

// The tick counter (which wraps after 49.7 days) as milliseconds that do not wrap, so that
// the charts and the protocol's silence bounds count the same time. Read it at least once
// every 24 days.
class TChartClock {
public:
    int64_t Read(uint32_t tick);

private:
    bool started_ = false;
    uint32_t last_ = 0;
    int64_t ms_ = 0;
};

class TChartSamples {
public:
    explicit TChartSamples(int64_t spanMs) : span_(spanMs) {}

    int64_t Span() const { return span_; }
    // A shorter span drops what falls out of it at once.
    void SetSpan(int64_t ms);
    // Drops what is older than the span before this sample, on the same console.
    // `silenceMs`: the console's silence bound now; a sample later than that after the
    // previous one comes after a silence.
    void Add(uint8_t console, const TChartSample& sample, int64_t silenceMs);
    void Clear() { consoles_.clear(); }

    // Consoles with samples, ascending.
    std::vector<uint8_t> Consoles() const;
    // The newest sample's time over all consoles; 0 when there is none.
    int64_t Newest() const;

    // One quantity of `console` between `from` and `to` (both included), one run between
    // each two silences, at most two points for each of `columns` equal slices of that
    // time in each run: the slice's lowest and highest, in the order they came.
    // Unmeasured values are left out.
    std::vector<TChartRun> Decimated(uint8_t console, TChartQuantity quantity, int64_t from,
                                     int64_t to, int columns) const;
    // Every sample of `consoles` between `from` and `to`, in time order, under the header
    // "time_s,console,speed_kmh,heart_rate_bpm,cadence_rpm,power_w"; time in seconds from
    // `from`, power empty where unmeasured. Where a console fell silent (its bound after
    // its last sample before the silence, up to `to` for a console silent still), a row
    // with its time and console and every value empty. Lines end with "\n".
    std::string Csv(const std::vector<uint8_t>& consoles, int64_t from, int64_t to) const;

private:
    struct TGap {
        int64_t silentAt;  // the last sample before the silence, plus the bound
        int64_t backAt;    // the first sample after it
    };
    struct TSeries {
        std::deque<TChartSample> samples;
        std::deque<TGap> gaps;  // oldest first
        int64_t silenceMs = 0;  // the bound given with the newest sample
        void DropBefore(int64_t oldest);
    };
    using TSampleIt = std::deque<TChartSample>::const_iterator;
    // The samples of `series` from `from` to `to`, as a pair of iterators.
    static std::pair<TSampleIt, TSampleIt> Between(const TSeries& series, int64_t from, int64_t to);

    int64_t span_;
    std::map<uint8_t, TSeries> consoles_;
};

}  // namespace wct
