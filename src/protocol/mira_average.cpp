// SPDX-License-Identifier: Apache-2.0
#include "protocol/mira_average.h"

#include <algorithm>
#include <charconv>

namespace wct {

void TMiraAverage::SetLength(int n) {
    if (n <= 0) return;
    window_.resize(static_cast<size_t>(n), 0.0);
    samples_ = std::min(samples_, window_.size());
}

void TMiraAverage::Add(double value) {
    if (window_.empty()) return;
    std::shift_right(window_.begin(), window_.end(), 1);
    window_.front() = value;
    samples_ = std::min(samples_ + 1, window_.size());
}

long double TMiraAverage::Value() const {
    if (window_.empty()) return 0;
    long double sum = 0;
    for (double v : window_) sum += v;
    return sum / static_cast<long double>(window_.size());
}

long double TMiraAverage::SampleMean() const {
    if (samples_ == 0) return 0;
    long double sum = 0;
    for (size_t i = 0; i < samples_; ++i) sum += window_[i];
    return sum / static_cast<long double>(samples_);
}

void TMiraAverage::Clear() {
    std::fill(window_.begin(), window_.end(), 0.0);
    samples_ = 0;
}

void TMiraAverage::ToStrings(std::vector<std::string>& lines) const {
    lines.clear();
    for (double v : window_) {
        char text[32];
        auto [end, ec] = std::to_chars(text, text + sizeof text, v);
        lines.emplace_back(text, end);
    }
}

}  // namespace wct
