// SPDX-License-Identifier: Apache-2.0
// What the history benchmarks share: a history filled fast through SQL, and their
// figures. Header only; each benchmark is one program.
#pragma once

#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

namespace wct::bench {

using Clock = std::chrono::steady_clock;

inline double Ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

// This thread's CPU time: a busy machine's scheduling delays stay out of it.
inline double CpuMs() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

// Adds `records` records of 8 steps to the history at `path` (made by TCheckHistory), in
// one transaction: record i has serial first + i % serials, starts i minutes after
// 2026-01-01 and fails one in ten. Exits on failure.
inline void Fill(const std::string& path, int records, int first, int serials) {
    sqlite3* db = nullptr;
    sqlite3_open(path.c_str(), &db);
    const std::string sql =
        "BEGIN;"
        "WITH RECURSIVE n(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM n WHERE i < " +
        std::to_string(records - 1) +
        ") INSERT INTO checks(id, run_id, console, serial, version, firmware, plan, station, "
        "operator, started, ended, outcome, message) SELECT printf('bench-%d', i), 'run', "
        "1 + i % 32, " +
        std::to_string(first) + " + i % " + std::to_string(serials) +
        ", 16, '2.3', 'default', 'bench-1', 'anna', "
        "strftime('%Y-%m-%dT%H:%M:%fZ', '2026-01-01', '+' || i || ' minutes'), "
        "strftime('%Y-%m-%dT%H:%M:%fZ', '2026-01-01', '+' || i || ' minutes'), "
        "CASE WHEN i % 10 = 0 THEN 'FAIL' ELSE 'PASS' END, '' FROM n;"
        "WITH RECURSIVE k(p) AS (SELECT 0 UNION ALL SELECT p + 1 FROM k WHERE p < 7) "
        "INSERT INTO steps SELECT seq, p, 'step' || p, 'PASS', 'ACK', 'ACK', 12, '', '[]' "
        "FROM checks, k;"
        "COMMIT;";
    char* error = nullptr;
    if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
        std::fprintf(stderr, "fill: %s\n", error);
        std::exit(1);
    }
    sqlite3_close(db);
}

inline void Report(const char* what, std::vector<double> ms) {
    std::sort(ms.begin(), ms.end());
    std::printf("%s: median %.3f ms, p99 %.3f ms, max %.3f ms (%zu)\n", what, ms[ms.size() / 2],
                ms[ms.size() * 99 / 100], ms.back(), ms.size());
}

}  // namespace wct::bench
