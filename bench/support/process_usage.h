// What this process uses, for the benchmarks that report it.
#pragma once

#include <unistd.h>

#include <filesystem>
#include <fstream>

namespace wct::bench {

// CPU time of every thread of this process, from the scheduler's own accounting (finer
// than getrusage, which may count whole ticks).
inline double CpuSeconds() {
    double total = 0;
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
        std::ifstream file(task.path() / "schedstat");
        unsigned long long ns = 0;
        if (file >> ns) total += static_cast<double>(ns) / 1e9;
    }
    return total;
}

// Resident memory in KiB.
inline long ResidentKiB() {
    std::ifstream statm("/proc/self/statm");
    long pages = 0, resident = 0;
    statm >> pages >> resident;
    return resident * sysconf(_SC_PAGESIZE) / 1024;
}

}  // namespace wct::bench
