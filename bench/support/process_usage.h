// SPDX-License-Identifier: Apache-2.0
// What this process uses, for the benchmarks that report it.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
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

// Resident memory in KiB. The file stays open: opening a /proc file costs more than the
// read, and a benchmark that reads it while it measures counts what it spends.
inline long ResidentKiB() {
    static const int statm = open("/proc/self/statm", O_RDONLY | O_CLOEXEC);
    char text[128];
    const ssize_t n = pread(statm, text, sizeof text - 1, 0);
    if (n <= 0) return 0;
    text[n] = '\0';
    long pages = 0, resident = 0;
    if (std::sscanf(text, "%ld %ld", &pages, &resident) != 2) return 0;
    return resident * sysconf(_SC_PAGESIZE) / 1024;
}

}  // namespace wct::bench
