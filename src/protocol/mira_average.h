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
    // One line per slot from the newest, each in the shortest text that reads back.
    void ToStrings(std::vector<std::string>& lines) const;
    const std::vector<double>& Window() const { return window_; }

private:
    std::vector<double> window_;
};

}  // namespace wct
