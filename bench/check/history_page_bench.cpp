// SPDX-License-Identifier: Apache-2.0
// The production check's history at 1,000,000 records (8 steps each, 200,000 serials, 5
// records each), as the window's history view reads it: each page on its own read-only
// connection, opened for the page.
//
// history_page_bench [FILE]: fills FILE (default history_page_bench.sqlite) unless it
// already holds the bench's records, then times
// - a search by serial: its first page, connection opened, 1000 random serials;
// - a page of the whole history at a random depth (keyset), 1000 pages;
// - the view itself (THistoryView, offscreen unless QT_QPA_PLATFORM says otherwise): 300
//   searches and pages clicked one after the other, each from the click to its page shown,
//   while a 5 ms timer on the main thread tells how late it fires (the longest stall)
//   and how much CPU the main thread used between two fires (its own work in the stall).
#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <filesystem>
#include <random>

#include "app/history_view.h"
#include "check/check_history.h"
#include "check/history_fill.h"

namespace {

using namespace wct::bench;
using wct::check::TCheckHistory;

constexpr int kRecords = 1000000;
constexpr int kSerials = 200000;
constexpr int kFirstSerial = 0x100000;

int64_t Count(const std::string& path) {
    try {
        const TCheckHistory history(path, TCheckHistory::TAccess::Read);
    } catch (const std::exception&) {
        return -1;
    }
    sqlite3* db = nullptr;
    sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
    sqlite3_stmt* count = nullptr;
    int64_t n = -1;
    if (sqlite3_prepare_v2(db, "SELECT count(*) FROM checks", -1, &count, nullptr) == SQLITE_OK &&
        sqlite3_step(count) == SQLITE_ROW)
        n = sqlite3_column_int64(count, 0);
    sqlite3_finalize(count);
    sqlite3_close(db);
    return n;
}

// Where the page after record `seq` starts.
wct::check::THistoryKey KeyOf(sqlite3* db, int64_t seq) {
    sqlite3_stmt* query = nullptr;
    sqlite3_prepare_v2(db, "SELECT started FROM checks WHERE seq = ?", -1, &query, nullptr);
    sqlite3_bind_int64(query, 1, seq);
    wct::check::THistoryKey key{"", seq};
    if (sqlite3_step(query) == SQLITE_ROW)
        key.started = reinterpret_cast<const char*>(sqlite3_column_text(query, 0));
    sqlite3_finalize(query);
    return key;
}

void CorePages(const std::string& path) {
    std::mt19937 random(7);
    std::uniform_int_distribution<int> serial(kFirstSerial, kFirstSerial + kSerials - 1);
    std::vector<double> wall, cpu;
    size_t found = 0;
    for (int i = 0; i < 1000; ++i) {
        wct::check::THistoryFilter filter;
        filter.serial = serial(random);
        const auto start = Clock::now();
        const double cpuStart = CpuMs();
        const TCheckHistory history(path, TCheckHistory::TAccess::Read);
        found += history.FindPage(filter, std::nullopt, wct::THistoryView::kPageSize)
                     .records.size();
        cpu.push_back(CpuMs() - cpuStart);
        wall.push_back(Ms(Clock::now() - start));
    }
    Report("search by serial, first page, wall", wall);
    Report("search by serial, first page, CPU", cpu);
    std::printf("records found per search: %.1f\n", static_cast<double>(found) / 1000);

    sqlite3* db = nullptr;
    sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
    std::uniform_int_distribution<int64_t> seq(2, kRecords);
    wall.clear();
    cpu.clear();
    found = 0;
    for (int i = 0; i < 1000; ++i) {
        const wct::check::THistoryKey key = KeyOf(db, seq(random));
        const auto start = Clock::now();
        const double cpuStart = CpuMs();
        const TCheckHistory history(path, TCheckHistory::TAccess::Read);
        found += history.FindPage({}, key, wct::THistoryView::kPageSize).records.size();
        cpu.push_back(CpuMs() - cpuStart);
        wall.push_back(Ms(Clock::now() - start));
    }
    sqlite3_close(db);
    Report("a page of the whole history at a random depth, wall", wall);
    Report("a page of the whole history at a random depth, CPU", cpu);
    std::printf("records per page: %.1f\n", static_cast<double>(found) / 1000);
}

void ViewPages(QApplication& app, const std::string& path) {
    wct::THistoryView view(path);
    view.resize(1100, 500);
    view.show();
    auto* serialField = view.findChild<QLineEdit*>("SerialSearch");
    auto* search = view.findChild<QPushButton*>("Search");
    auto* older = view.findChild<QPushButton*>("Older");

    // How late the timer fires is the stall as the operator sees it, the machine's load
    // included; the main thread's CPU between two fires is the window's own part of it.
    constexpr int kProbeMs = 5;
    double longest = 0, longestCpu = 0;
    std::vector<double> late, busy;
    auto last = Clock::now();
    double lastCpu = CpuMs();
    QTimer probe;
    QObject::connect(&probe, &QTimer::timeout, [&] {
        const auto now = Clock::now();
        const double cpu = CpuMs();
        const double stall = Ms(now - last) - kProbeMs;
        late.push_back(stall);
        busy.push_back(cpu - lastCpu);
        longest = std::max(longest, stall);
        longestCpu = std::max(longestCpu, cpu - lastCpu);
        last = now;
        lastCpu = cpu;
    });
    probe.start(kProbeMs);

    std::mt19937 random(11);
    std::uniform_int_distribution<int> serial(kFirstSerial, kFirstSerial + kSerials - 1);
    std::vector<double> shown;
    for (int i = 0; i < 300; ++i) {
        // A serial, the whole history, then its older pages, as an operator goes.
        const int step = i % 6;
        serialField->setText(step == 0 ? QString::number(serial(random)) : QString());
        const auto start = Clock::now();
        if (step <= 1 || !older->isEnabled())
            search->click();
        else
            older->click();
        while (view.Searching()) app.processEvents(QEventLoop::WaitForMoreEvents);
        shown.push_back(Ms(Clock::now() - start));
    }
    probe.stop();
    Report("the view: from a click to its page shown", shown);
    Report("the view: how late the main thread's 5 ms timer fired", late);
    Report("the view: main thread's CPU between two fires", busy);
    std::printf("the view: longest main-thread stall %.1f ms, of which the main thread's own "
                "work at most %.1f ms\n",
                longest, longestCpu);
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const std::string path = argc > 1 ? argv[1] : "history_page_bench.sqlite";
    if (Count(path) != kRecords) {
        for (const char* suffix : {"", "-wal", "-shm"}) std::filesystem::remove(path + suffix);
        { TCheckHistory create(path, TCheckHistory::TAccess::Write); }
        const auto fillStart = Clock::now();
        Fill(path, kRecords, kFirstSerial, kSerials);
        std::printf("filled %d records of 8 steps in %.0f ms\n", kRecords,
                    Ms(Clock::now() - fillStart));
    }
    CorePages(path);
    ViewPages(app, path);
    return 0;
}
