// SPDX-License-Identifier: Apache-2.0
// The line's central history: how many records a second the collector keeps, and a
// search by serial over 1,000,000 records.
//
// collector_bench [RECORDS]: starts a PostgreSQL server that flushes each commit to disk
// and a Mosquitto broker of its own (as the tests do), then
// - runs the collector (in-process, as `wct collect` does) while a client publishes
//   RECORDS check records of 8 steps (5000 unless given) with QoS 1, at most 500 ahead
//   of what is kept (the broker's queue for a client holds 1000): records a second from
//   the first publication to the last commit;
// - fills the history to 1,000,000 records of 8 steps (200,000 serials, 5 each) through
//   SQL, then times 1000 searches of a random serial, the first page of 100 as
//   `wct history` and the window read it, on one connection: wall and CPU, median, p99;
//   and the summary of all of them, as `wct history --summary` makes it.
#include <libpq-fe.h>
#include <mosquitto.h>

#include <atomic>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <random>
#include <thread>

#include "central/central_history.h"
#include "central/record_collector.h"
#include "central/test_postgres.h"
#include "history_fill.h"
#include "publish/test_broker.h"

namespace {

using namespace wct::bench;
using wct::central::TCentralHistory;

constexpr int kRecords = 1000000;
constexpr int kSerials = 200000;
constexpr int kFirstSerial = 0x100000;

wct::check::TCheckRecord Record(int i) {
    wct::check::TCheckRecord r;
    r.id = wct::check::NewRecordId();
    r.runId = "run";
    r.console = 1 + i % 32;
    r.serial = kFirstSerial + i;
    r.version = 16;
    r.firmware = "2.3";
    r.plan = "default";
    r.station = "bench-1";
    r.operatorName = "anna";
    r.started = wct::check::UtcNow();
    r.ended = r.started;
    for (int s = 0; s < 8; ++s)
        r.steps.push_back({"step" + std::to_string(s),
                           wct::check::TOutcome::Pass,
                           "ACK",
                           "ACK",
                           12,
                           "",
                           {wct::check::ShownMeasure("rate", "fps", 2, 36, 3.6)}});
    return r;
}

// The records kept, counted on one connection of the benchmark's own.
int64_t Kept(const wct::test::TTestPostgres& pg) {
    static PGconn* conn = PQconnectdb(pg.Url().c_str());
    PGresult* result = PQexec(conn, "SELECT count(*) FROM checks");
    const int64_t kept = PQntuples(result) == 1 ? std::stoll(PQgetvalue(result, 0, 0)) : -1;
    PQclear(result);
    return kept;
}

void CollectorRate(const wct::test::TTestPostgres& pg, int records) {
    wct::test::TTestBroker broker;
    broker.Start();
    wct::central::TCollectorSettings s;
    s.broker = wct::publish::ParseBrokerUrl(broker.Url());
    s.db = pg.Url();
    wct::central::TRecordCollector collector(s);
    std::atomic<bool> subscribed = false;
    collector.OnNotice = [&](const std::string& text) {
        if (text.rfind("collecting", 0) == 0) subscribed = true;
    };
    volatile bool stop = false;
    std::thread running([&] { collector.Run(&stop); });
    while (!subscribed) std::this_thread::sleep_for(std::chrono::milliseconds(10));

    std::vector<std::string> payloads;
    for (int i = 0; i < records; ++i)
        payloads.push_back(wct::check::RecordToJson(Record(i)).dump());
    mosquitto* client = mosquitto_new(nullptr, true, nullptr);
    mosquitto_connect(client, "127.0.0.1", broker.Port(), 10);
    mosquitto_loop_start(client);
    const int64_t before = Kept(pg);
    const auto start = Clock::now();
    for (int i = 0; i < records; ++i) {
        while (i % 100 == 0 && i - (Kept(pg) - before) > 500)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        mosquitto_publish(client, nullptr, "wct/bench-1/check/1",
                          static_cast<int>(payloads[i].size()), payloads[i].data(), 1, false);
    }
    while (Kept(pg) - before < records) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    const double seconds = Ms(Clock::now() - start) / 1000;
    std::printf("collector: %d records of 8 steps kept in %.2f s: %.0f records/s\n", records,
                seconds, records / seconds);
    mosquitto_disconnect(client);
    mosquitto_loop_stop(client, false);
    mosquitto_destroy(client);
    stop = true;
    running.join();
}

void Fill(const wct::test::TTestPostgres& pg, int64_t have) {
    const auto start = Clock::now();
    const std::string from = std::to_string(have);
    pg.Query(
        "INSERT INTO checks(id, run_id, console, serial, version, firmware, plan, station, "
        "operator, started, ended, outcome, message, bench) SELECT 'bench-' || i, 'run', 1 + i % "
        "32, " +
        std::to_string(kFirstSerial) + " + i % " + std::to_string(kSerials) +
        ", 16, '2.3', 'default', 'bench-1', 'anna', to_char(timestamp '2026-01-01' + i * "
        "interval '1 minute', 'YYYY-MM-DD\"T\"HH24:MI:SS.MS\"Z\"'), to_char(timestamp "
        "'2026-01-01' + i * interval '1 minute', 'YYYY-MM-DD\"T\"HH24:MI:SS.MS\"Z\"'), CASE WHEN "
        "i % 10 = 0 THEN 'FAIL' ELSE 'PASS' END, '', 'bench-1' FROM generate_series(" +
        from + ", " + std::to_string(kRecords - 1) + ") AS i");
    pg.Query(
        "INSERT INTO steps SELECT seq, p, 'step' || p, 'PASS', 'ACK', 'ACK', 12, '', '[]' FROM "
        "checks, generate_series(0, 7) AS p WHERE NOT EXISTS (SELECT 1 FROM steps WHERE "
        "check_seq = seq)");
    pg.Query("ANALYZE");
    std::printf("filled to %d records in %.0f s\n", kRecords, Ms(Clock::now() - start) / 1000);
}

void SearchBySerial(const wct::test::TTestPostgres& pg) {
    const TCentralHistory history(pg.Url(), TCentralHistory::TAccess::Read);
    std::mt19937 random(7);
    std::uniform_int_distribution<int> serial(kFirstSerial, kFirstSerial + kSerials - 1);
    std::vector<double> wall, cpu;
    size_t found = 0;
    for (int i = 0; i < 1000; ++i) {
        wct::check::THistoryFilter filter;
        filter.serial = serial(random);
        const auto start = Clock::now();
        const double cpuStart = CpuMs();
        found += history.FindPage(filter, std::nullopt, 100).records.size();
        cpu.push_back(CpuMs() - cpuStart);
        wall.push_back(Ms(Clock::now() - start));
    }
    Report("search by serial over 1,000,000 records, first page, wall", wall);
    Report("search by serial over 1,000,000 records, first page, CPU", cpu);
    std::printf("records found: %zu (5 a serial expected)\n", found);
    const auto start = Clock::now();
    const wct::check::TCheckSummary summary = wct::check::Summarize(history.SummaryRows({}));
    std::printf("summary of the whole history (wct history --summary): %.2f s, %zu days\n",
                Ms(Clock::now() - start) / 1000, summary.yield.size());
}

}  // namespace

int main(int argc, char** argv) {
    const int records = argc > 1 ? std::atoi(argv[1]) : 5000;
    mosquitto_lib_init();
    wct::test::TTestPostgres pg(true);
    { TCentralHistory made(pg.Url(), TCentralHistory::TAccess::Write); }
    CollectorRate(pg, records);
    Fill(pg, Kept(pg));
    SearchBySerial(pg);
    return 0;
}
