// The check history with 100 000 records (8 steps each, 20 000 serials, 5 records each):
// how long a search by serial takes (what `wct history --serial` and the window's search
// run, statement preparation included), and how long one record takes to be written.
//
// history_bench [FILE]: builds the file (default history_bench.sqlite, replaced), fills
// it in one transaction through SQL, then times 2000 searches of random serials and 200
// record writes through TCheckHistory.
#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <random>
#include <vector>

#include "check/check_history.h"

namespace {

using Clock = std::chrono::steady_clock;
using wct::check::TCheckHistory;

constexpr int kRecords = 100000;
constexpr int kSerials = 20000;
constexpr int kFirstSerial = 0x100000;

double Ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

// This thread's CPU time: a busy machine's scheduling delays stay out of it.
double CpuMs() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

void Fill(const std::string& path) {
    sqlite3* db = nullptr;
    sqlite3_open(path.c_str(), &db);
    const std::string sql =
        "BEGIN;"
        "WITH RECURSIVE n(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM n WHERE i < " +
        std::to_string(kRecords - 1) +
        ") INSERT INTO checks(id, run_id, console, serial, version, firmware, plan, station, "
        "operator, started, ended, outcome, message) SELECT printf('bench-%d', i), 'run', "
        "1 + i % 32, " +
        std::to_string(kFirstSerial) + " + i % " + std::to_string(kSerials) +
        ", 16, '2.3', 'default', 'bench-1', 'anna', "
        "strftime('%Y-%m-%dT%H:%M:%fZ', '2026-01-01', '+' || i || ' minutes'), "
        "strftime('%Y-%m-%dT%H:%M:%fZ', '2026-01-01', '+' || i || ' minutes'), "
        "CASE WHEN i % 10 = 0 THEN 'FAIL' ELSE 'PASS' END, '' FROM n;"
        "WITH RECURSIVE k(p) AS (SELECT 0 UNION ALL SELECT p + 1 FROM k WHERE p < 7) "
        "INSERT INTO steps SELECT seq, p, 'step' || p, 'PASS', 'ACK', 'ACK', 12, '' "
        "FROM checks, k;"
        "COMMIT;";
    char* error = nullptr;
    if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
        std::fprintf(stderr, "fill: %s\n", error);
        std::exit(1);
    }
    sqlite3_close(db);
}

void Report(const char* what, std::vector<double> ms) {
    std::sort(ms.begin(), ms.end());
    std::printf("%s: median %.3f ms, p99 %.3f ms, max %.3f ms (%zu)\n", what, ms[ms.size() / 2],
                ms[ms.size() * 99 / 100], ms.back(), ms.size());
}

}  // namespace

int main(int argc, char** argv) {
    const std::string path = argc > 1 ? argv[1] : "history_bench.sqlite";
    for (const char* suffix : {"", "-wal", "-shm"}) std::filesystem::remove(path + suffix);
    { TCheckHistory create(path, TCheckHistory::TAccess::Write); }
    const auto fillStart = Clock::now();
    Fill(path);
    std::printf("filled %d records of 8 steps in %.0f ms\n", kRecords,
                Ms(Clock::now() - fillStart));

    std::mt19937 random(7);
    std::uniform_int_distribution<int> serial(kFirstSerial, kFirstSerial + kSerials - 1);
    std::vector<double> searches, searchesCpu;
    size_t found = 0;
    const TCheckHistory reader(path, TCheckHistory::TAccess::Read);
    for (int i = 0; i < 2000; ++i) {
        wct::check::THistoryFilter filter;
        filter.serial = serial(random);
        const auto start = Clock::now();
        const double cpu = CpuMs();
        found += reader.Find(filter).size();
        searchesCpu.push_back(CpuMs() - cpu);
        searches.push_back(Ms(Clock::now() - start));
    }
    Report("search by serial, wall", searches);
    Report("search by serial, CPU", searchesCpu);
    std::printf("records found per search: %.1f\n", static_cast<double>(found) / 2000);

    TCheckHistory writer(path, TCheckHistory::TAccess::Write);
    std::vector<double> writes;
    for (int i = 0; i < 200; ++i) {
        wct::check::TCheckRecord r;
        r.id = wct::check::NewRecordId();
        r.serial = serial(random);
        r.started = r.ended = wct::check::UtcNow();
        r.steps.resize(8, {"step", wct::check::TOutcome::Pass, "ACK", "ACK", 12, "", {}});
        const auto start = Clock::now();
        writer.Add(r);
        writes.push_back(Ms(Clock::now() - start));
    }
    Report("one record written (one transaction)", writes);
    return 0;
}
