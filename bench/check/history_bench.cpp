// SPDX-License-Identifier: Apache-2.0
// The check history with 100 000 records (8 steps each, 20 000 serials, 5 records each):
// how long a search by serial takes (what `wct history --serial` and the window's search
// run, statement preparation included), and how long one record takes to be written.
//
// history_bench [FILE]: builds the file (default history_bench.sqlite, replaced), fills
// it in one transaction through SQL, then times 2000 searches of random serials and 200
// record writes through TCheckHistory.
#include <cstdio>
#include <filesystem>
#include <random>
#include <vector>

#include "check/check_history.h"
#include "check/history_fill.h"

namespace {

using namespace wct::bench;
using wct::check::TCheckHistory;

constexpr int kRecords = 100000;
constexpr int kSerials = 20000;
constexpr int kFirstSerial = 0x100000;

}  // namespace

int main(int argc, char** argv) {
    const std::string path = argc > 1 ? argv[1] : "history_bench.sqlite";
    for (const char* suffix : {"", "-wal", "-shm"}) std::filesystem::remove(path + suffix);
    { TCheckHistory create(path, TCheckHistory::TAccess::Write); }
    const auto fillStart = Clock::now();
    Fill(path, kRecords, kFirstSerial, kSerials);
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
