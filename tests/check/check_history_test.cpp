// SPDX-License-Identifier: Apache-2.0
// The check history on real SQLite files in a temporary folder.
#include "check/check_history.h"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <thread>

#include "common/tick_count.h"

namespace wct::check {
namespace {

namespace fs = std::filesystem;

TCheckRecord Record(int32_t serial, const std::string& started, TOutcome outcome) {
    TCheckRecord r;
    r.id = NewRecordId();
    r.runId = "run";
    r.console = 2;
    r.serial = serial;
    r.version = 16;
    r.firmware = "2.3";
    r.plan = "default";
    r.station = "bench-1";
    r.operatorName = "anna";
    r.started = started;
    r.ended = started;
    r.outcome = outcome;
    r.steps = {
        {"identity", TOutcome::Pass, "16/1/2.3", "-", 12, "", {}},
        {"keys", outcome, outcome == TOutcome::Pass ? "ACK" : "NACK", "ACK", 3, "refused", {}},
        {"total_rolls",
         TOutcome::Pass,
         "total_rolls=160000",
         "total_rolls>=0",
         5,
         "",
         {ShownMeasure("total_rolls", "", 0, 160000, 0)}}};
    return r;
}

class CheckHistoryTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir = fs::temp_directory_path() /
              ("wct-history-" + std::to_string(getpid()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        path = (dir / "sub" / "checks.sqlite").string();
    }
    void TearDown() override { fs::remove_all(dir); }

    std::vector<std::string> Ids(const std::vector<TCheckRecord>& records) {
        std::vector<std::string> ids;
        for (const auto& r : records) ids.push_back(r.id);
        return ids;
    }

    fs::path dir;
    std::string path;
};

TEST_F(CheckHistoryTest, RecordsComeBackWholeNewestFirstAndFiltered) {
    TCheckHistory history(path, TCheckHistory::TAccess::Write);
    const TCheckRecord a = Record(100, "2026-12-01T08:00:00.000Z", TOutcome::Pass);
    const TCheckRecord b = Record(200, "2026-12-05T08:00:00.000Z", TOutcome::Fail);
    const TCheckRecord c = [] {
        TCheckRecord r = Record(100, "2026-12-07T08:00:00.000Z", TOutcome::Fail);
        r.station = "bench-2";
        return r;
    }();
    for (const auto* r : {&a, &b, &c}) history.Add(*r);

    const TCheckHistory reader(path, TCheckHistory::TAccess::Read);
    const auto all = reader.Find({});
    EXPECT_EQ(Ids(all), (std::vector<std::string>{c.id, b.id, a.id}));
    EXPECT_EQ(RecordToJson(all[2]), RecordToJson(a));
    EXPECT_EQ(Ids(reader.Find({100, "", std::nullopt, ""})),
              (std::vector<std::string>{c.id, a.id}));
    EXPECT_EQ(Ids(reader.Find({std::nullopt, ParseSince("2026-12-05"), std::nullopt, ""})),
              (std::vector<std::string>{c.id, b.id}));
    EXPECT_EQ(Ids(reader.Find({100, "", TOutcome::Fail, ""})), (std::vector<std::string>{c.id}));
    EXPECT_EQ(Ids(reader.Find({std::nullopt, "", std::nullopt, "bench-1"})),
              (std::vector<std::string>{b.id, a.id}));
    EXPECT_TRUE(reader.Find({999, "", std::nullopt, ""}).empty());
}

TEST_F(CheckHistoryTest, ASinceIncludesItsInstantAndRecordsOfOneInstantComeLatestFirst) {
    TCheckHistory history(path, TCheckHistory::TAccess::Write);
    const TCheckRecord before = Record(1, "2026-12-05T07:59:59.999Z", TOutcome::Pass);
    const TCheckRecord at = Record(2, "2026-12-05T08:00:00.000Z", TOutcome::Pass);
    const TCheckRecord alsoAt = Record(3, "2026-12-05T08:00:00.000Z", TOutcome::Pass);
    for (const auto* r : {&before, &at, &alsoAt}) history.Add(*r);
    EXPECT_EQ(Ids(history.Find({std::nullopt, ParseSince("2026-12-05T08:00"), std::nullopt, ""})),
              (std::vector<std::string>{alsoAt.id, at.id}));
}

TEST_F(CheckHistoryTest, ARecordIsKeptWholeOrNotAtAllAndEachOnlyOnce) {
    TCheckHistory history(path, TCheckHistory::TAccess::Write);
    const TCheckRecord kept = Record(1, "2026-12-01T08:00:00.000Z", TOutcome::Pass);
    history.Add(kept);
    EXPECT_THROW(history.Add(kept), ECheckHistory);
    {
        // A step that cannot be written, as a full disk would refuse it halfway.
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
        ASSERT_EQ(
            sqlite3_exec(db,
                         "CREATE TRIGGER no_keys BEFORE INSERT ON steps WHEN NEW.name = 'keys' "
                         "BEGIN SELECT RAISE(ABORT, 'disk full'); END",
                         nullptr, nullptr, nullptr),
            SQLITE_OK);
        sqlite3_close(db);
    }
    EXPECT_THROW(history.Add(Record(2, "2026-12-02T08:00:00.000Z", TOutcome::Pass)), ECheckHistory);
    const auto records = history.Find({});
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].steps.size(), 3u);
}

// A file from before the steps kept their measures: read as it is, its steps without
// measures; opened for writing, it takes records with measures beside the old ones.
TEST_F(CheckHistoryTest, AFileOfTheFirstSchemaIsReadAsItIsAndMigratedForWriting) {
    fs::create_directories(dir / "sub");
    {
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
        ASSERT_EQ(sqlite3_exec(db, R"(
            CREATE TABLE checks(seq INTEGER PRIMARY KEY, id TEXT NOT NULL UNIQUE,
              run_id TEXT NOT NULL, console INTEGER NOT NULL, serial INTEGER, version INTEGER,
              firmware TEXT NOT NULL, plan TEXT NOT NULL, station TEXT NOT NULL,
              operator TEXT NOT NULL, started TEXT NOT NULL, ended TEXT NOT NULL,
              outcome TEXT NOT NULL, message TEXT NOT NULL);
            CREATE TABLE steps(check_seq INTEGER NOT NULL, position INTEGER NOT NULL,
              name TEXT NOT NULL, outcome TEXT NOT NULL, value TEXT NOT NULL,
              limits TEXT NOT NULL, ms INTEGER NOT NULL, message TEXT NOT NULL,
              PRIMARY KEY (check_seq, position)) WITHOUT ROWID;
            INSERT INTO checks VALUES(1, 'old', 'run', 1, 7, 16, '2.3', 'default', 'b', 'a',
              '2026-11-01T08:00:00.000Z', '2026-11-01T08:00:01.000Z', 'PASS', '');
            INSERT INTO steps VALUES(1, 0, 'radio', 'PASS', '4.00fps,0.0%lost',
              '>=3.60fps,<5.0%lost', 3000, '');
            PRAGMA user_version=1;)",
                               nullptr, nullptr, nullptr),
                  SQLITE_OK);
        sqlite3_close(db);
    }
    {
        const TCheckHistory reader(path, TCheckHistory::TAccess::Read);
        const auto records = reader.Find({});
        ASSERT_EQ(records.size(), 1u);
        EXPECT_EQ(records[0].steps.at(0).value, "4.00fps,0.0%lost");
        EXPECT_TRUE(records[0].steps.at(0).measures.empty());
    }
    TCheckHistory history(path, TCheckHistory::TAccess::Write);
    const TCheckRecord added = Record(8, "2026-12-01T08:00:00.000Z", TOutcome::Pass);
    history.Add(added);
    const auto records = history.Find({});
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(RecordToJson(records[0]), RecordToJson(added));
    EXPECT_TRUE(records[1].steps.at(0).measures.empty());

    // Its steps are numbered from 0, as the file's earlier ones are.
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    std::string positions;
    sqlite3_exec(
        db, "SELECT position FROM steps WHERE check_seq = 2 ORDER BY position",
        [](void* out, int, char** values, char**) {
            *static_cast<std::string*>(out) += std::string(values[0]) + " ";
            return 0;
        },
        &positions, nullptr);
    sqlite3_close(db);
    EXPECT_EQ(positions, "0 1 2 ");
}

TEST_F(CheckHistoryTest, TwoBenchesWriteOneFile) {
    TCheckHistory first(path, TCheckHistory::TAccess::Write);
    TCheckHistory second(path, TCheckHistory::TAccess::Write);
    first.Add(Record(1, "2026-12-01T08:00:00.000Z", TOutcome::Pass));
    second.Add(Record(2, "2026-12-01T08:00:01.000Z", TOutcome::Pass));
    first.Add(Record(3, "2026-12-01T08:00:02.000Z", TOutcome::Pass));
    EXPECT_EQ(second.Find({}).size(), 3u);
}

TEST_F(CheckHistoryTest, AFileThatCannotBeOpenedOrWrittenIsRefused) {
    fs::create_directories(dir);
    const auto refused = [](const std::string& p, TCheckHistory::TAccess access) {
        try {
            TCheckHistory history(p, access);
        } catch (const ECheckHistory& e) {
            return std::string(e.what());
        }
        return std::string("accepted");
    };
    EXPECT_NE(refused(dir.string(), TCheckHistory::TAccess::Write), "accepted");
    const std::string text = (dir / "notes.txt").string();
    std::ofstream(text) << "this is no database, only some words that fill a page header......"
                           "...................................................................";
    EXPECT_NE(refused(text, TCheckHistory::TAccess::Write).find("notes.txt"), std::string::npos);
    EXPECT_NE(refused((dir / "missing.sqlite").string(), TCheckHistory::TAccess::Read)
                  .find("no such file"),
              std::string::npos);

    const std::string newer = (dir / "newer.sqlite").string();
    { TCheckHistory history(newer, TCheckHistory::TAccess::Write); }
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(newer.c_str(), &db), SQLITE_OK);
    sqlite3_exec(db, "PRAGMA user_version=9", nullptr, nullptr, nullptr);
    sqlite3_close(db);
    EXPECT_NE(refused(newer, TCheckHistory::TAccess::Write).find("newer"), std::string::npos);

    if (geteuid() == 0) GTEST_SKIP() << "root writes read-only files";
    const std::string readOnly = (dir / "read-only.sqlite").string();
    { TCheckHistory history(readOnly, TCheckHistory::TAccess::Write); }
    chmod(readOnly.c_str(), 0444);
    EXPECT_NE(refused(readOnly, TCheckHistory::TAccess::Write), "accepted");
}

// Files of other programs: refused on opening, for reading and for writing, with what is
// wrong, rather than failing on every record later.
TEST_F(CheckHistoryTest, AnotherProgramsFileIsRefusedWhenOpened) {
    fs::create_directories(dir);
    struct TCase {
        const char* what;
        const char* sql;
        const char* said;
    };
    const TCase cases[] = {
        {"a version and tables of its own", "CREATE TABLE notes(text); PRAGMA user_version=1;",
         "without a table 'checks'"},
        {"tables and no version", "CREATE TABLE notes(text);", "it holds 'notes'"},
        {"a history's tables without the columns of its version",
         "CREATE TABLE checks(seq, id, run_id, console, serial, version, firmware, plan, "
         "station, operator, started, ended, outcome, message); CREATE TABLE steps(check_seq, "
         "position, name, outcome, value, limits, ms, message); PRAGMA user_version=2;",
         "table 'steps' has no column 'measures'"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string other = (dir / "other.sqlite").string();
        fs::remove(other);
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(other.c_str(), &db), SQLITE_OK);
        ASSERT_EQ(sqlite3_exec(db, c.sql, nullptr, nullptr, nullptr), SQLITE_OK);
        sqlite3_close(db);
        for (const auto access : {TCheckHistory::TAccess::Write, TCheckHistory::TAccess::Read}) {
            try {
                TCheckHistory history(other, access);
                ADD_FAILURE() << "accepted";
            } catch (const ECheckHistory& e) {
                const std::string text = e.what();
                EXPECT_NE(text.find("is not a check history"), std::string::npos) << text;
                EXPECT_NE(text.find(c.said), std::string::npos) << text;
                EXPECT_NE(text.find(other), std::string::npos) << text;
            }
        }
        // Nothing of a history was added to it.
        ASSERT_EQ(sqlite3_open(other.c_str(), &db), SQLITE_OK);
        sqlite3_stmt* tables = nullptr;
        sqlite3_prepare_v2(db, "SELECT count(*) FROM sqlite_master WHERE name = 'checks_by_start'",
                           -1, &tables, nullptr);
        ASSERT_EQ(sqlite3_step(tables), SQLITE_ROW);
        EXPECT_EQ(sqlite3_column_int(tables, 0), 0);
        sqlite3_finalize(tables);
        sqlite3_close(db);
    }
}

// Another connection holds the write lock (BEGIN EXCLUSIVE): a record waits for it on the
// tick counter, and fails, keeping nothing, once the busy time-out has passed.
TEST_F(CheckHistoryTest, ARecordWaitsForALockUpToTheBusyTimeOut) {
    TScopedVirtualClock clock(1000, 10);
    TCheckHistory history(path, TCheckHistory::TAccess::Write);
    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &other), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(other, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);
    const uint32_t before = clock.Now();
    try {
        history.Add(Record(1, "2026-12-01T08:00:00.000Z", TOutcome::Pass));
        ADD_FAILURE() << "kept under another's lock";
    } catch (const ECheckHistory& e) {
        EXPECT_NE(std::string(e.what()).find("database is locked by another program for 5 s"),
                  std::string::npos)
            << e.what();
    }
    EXPECT_GE(clock.Now() - before, TCheckHistory::kBusyTimeoutMs);
    EXPECT_LT(clock.Now() - before, TCheckHistory::kBusyTimeoutMs + 100);

    // Let go within the time-out, the lock costs only the wait.
    std::atomic<bool> done{false};
    std::thread release([&] {
        while (!done && clock.Now() - before < TCheckHistory::kBusyTimeoutMs + 1000)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr);
    });
    const TCheckRecord kept = Record(2, "2026-12-01T08:00:01.000Z", TOutcome::Pass);
    EXPECT_NO_THROW(history.Add(kept));
    done = true;
    release.join();
    sqlite3_close(other);
    EXPECT_EQ(Ids(history.Find({})), std::vector<std::string>{kept.id});
}

TEST(CheckHistorySinceTest, DatesAndTimesBecomeTheRecordsForm) {
    EXPECT_EQ(ParseSince("2026-12-08"), "2026-12-08T00:00:00.000Z");
    EXPECT_EQ(ParseSince("2026-12-08T10:05"), "2026-12-08T10:05:00.000Z");
    EXPECT_EQ(ParseSince("2026-12-08T10:05:07.250Z"), "2026-12-08T10:05:07.250Z");
    // Each field at its ends, and just beyond.
    for (const char* good : {"2026-01-01T00:00:00", "2026-12-31T23:59:59.999"})
        EXPECT_NO_THROW(ParseSince(good)) << good;
    for (const char* bad :
         {"yesterday", "2026-13-01", "2026-00-10", "2026-12-32", "2026-12-00", "2026-12-08T24:00",
          "2026-12-08T23:60", "2026-12-08T23:59:60", "2026-12-8", ""})
        EXPECT_THROW(ParseSince(bad), ECheckHistory) << bad;
}

}  // namespace
}  // namespace wct::check
