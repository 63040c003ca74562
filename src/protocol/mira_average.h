// SPDX-License-Identifier: Apache-2.0
// Moving average over a fixed window of samples, newest first. The mean always divides
// by the window's length, so it reaches the true mean only once the window is full.
#pragma once

#include <string>
#include <vector>

namespace wct {

class TMiraAverage {
public:
    // n > 0 resizes the window, keeping the newest samples and filling new slots with 0;
    // n <= 0 changes nothing.
    void SetLength(int n);
    int Length() const { return static_cast<int>(window_.size()); }
    // Pushes a sample in at index 0; the oldest drops out. No effect on an empty window.
    void Add(double value);
    // Mean of all slots; 0 for an empty window.
    long double Value() const;
    // Mean of the samples pushed since the last Clear, at most a window's worth: a window
    // that is still filling shows what was measured, not a ramp up from zero. 0 before the
    // first sample.
    long double SampleMean() const;
    // Every slot back to 0, as before the first sample.
    void Clear();
    // One line per slot from the newest, each in the shortest text that reads back.
    void ToStrings(std::vector<std::string>& lines) const;
    const std::vector<double>& Window() const { return window_; }

private:
    std::vector<double> window_;
    size_t samples_ = 0;  // pushed since the last Clear, up to the window's length
};

}  // namespace wct
