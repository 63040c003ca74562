// SPDX-License-Identifier: Apache-2.0
// The reports of a check run: JSON and JUnit parsed back, and written whole or not at all.
#include "check/check_report.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <libxml/parser.h>
#include <libxml/xpath.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>

#include "check/report_schema.h"

namespace wct::check {
namespace {

namespace fs = std::filesystem;

TCheckRun TwoConsoles() {
    TCheckRun run;
    run.id = NewRecordId();
    run.plan = "default";
    run.station = "bench <1>";
    run.operatorName = "Anna & Co";
    run.started = run.ended = UtcNow();
    TCheckRecord a;
    a.id = NewRecordId();
    a.console = 1;
    a.serial = 1048849;
    a.runId = run.id;
    a.station = run.station;
    a.operatorName = run.operatorName;
    a.started = a.ended = "2026-12-08T12:14:28.123Z";
    a.steps = {{"identity", TOutcome::Pass, "16/1048849/2.3", "-", 10, "", {}},
               {"keys", TOutcome::Fail, "NACK", "ACK", 4, "refused \"keys\"", {}},
               {"radio",
                TOutcome::Fail,
                "rate=3.56fps,lost=1.0%",
                "rate>=3.60fps,lost<5.0%",
                2000,
                "frame rate below the limit",
                {ShownMeasure("rate", "fps", 2, 3.5649, 3.6),
                 ShownMeasure("lost", "%", 1, 1.04, std::nullopt, std::nullopt, 5)}}};
    a.outcome = TOutcome::Fail;
    TCheckRecord b = a;
    b.id = NewRecordId();
    b.console = 2;
    b.serial.reset();
    b.steps = {{"identity", TOutcome::Error, "none", "-", 3000, "no answer", {}}};
    b.outcome = TOutcome::Error;
    run.records = {a, b};
    return run;
}

// The number an XPath expression counts in `xml`.
double Count(const std::string& xml, const char* expression) {
    xmlDocPtr doc = xmlReadMemory(xml.data(), static_cast<int>(xml.size()), "junit.xml", nullptr,
                                  XML_PARSE_NONET);
    if (doc == nullptr) return -1;
    xmlXPathContextPtr context = xmlXPathNewContext(doc);
    xmlXPathObjectPtr result =
        xmlXPathEvalExpression(reinterpret_cast<const xmlChar*>(expression), context);
    const double value = result != nullptr ? xmlXPathCastToNumber(result) : -1;
    xmlXPathFreeObject(result);
    xmlXPathFreeContext(context);
    xmlFreeDoc(doc);
    return value;
}

TEST(CheckReportTest, TheJsonReportHoldsTheRunAndEachRecordAsItsOwnJson) {
    const TCheckRun run = TwoConsoles();
    const nlohmann::json report = nlohmann::json::parse(RunToJson(run).dump(2));
    EXPECT_EQ(report["run"]["outcome"], "ERROR");
    EXPECT_EQ(report["run"]["consoles"], 2);
    EXPECT_EQ(report["records"][0], RecordToJson(run.records[0]));
    EXPECT_EQ(report["records"][0]["steps"][1]["outcome"], "FAIL");
    EXPECT_TRUE(report["records"][1]["serial"].is_null());
    EXPECT_EQ(report["format_version"], kReportFormatVersion);
    EXPECT_EQ(report["records"][0]["steps"][2]["measures"],
              nlohmann::json::parse(R"([{"name":"rate","value":3.56,"unit":"fps","decimals":2,
                                         "min":3.6},
                                        {"name":"lost","value":1.0,"unit":"%","decimals":1,
                                         "below":5.0}])"));
    EXPECT_EQ(MeasuresFromJson(report["records"][0]["steps"][2]["measures"]),
              run.records[0].steps[2].measures);
}

// The schema shipped in docs/ takes the report as written and refuses what breaks it.
TEST(CheckReportTest, TheJsonReportFollowsItsSchemaAndTheSchemaRefusesWhatBreaksIt) {
    const nlohmann::json report = RunToJson(TwoConsoles());
    EXPECT_EQ(test::SchemaErrors(report), "");
    struct TCase {
        const char* name;
        std::function<void(nlohmann::json&)> change;
        const char* error;  // a part of the validator's message
    };
    const TCase cases[] = {
        {"no version", [](nlohmann::json& r) { r.erase("format_version"); },
         "'format_version' is a required property"},
        {"another version", [](nlohmann::json& r) { r["format_version"] = 1; }, "2 was expected"},
        {"a value as text",
         [](nlohmann::json& r) { r["records"][0]["steps"][2]["measures"][0]["value"] = "3.56fps"; },
         "is not of type 'number'"},
        {"a unit unknown",
         [](nlohmann::json& r) { r["records"][0]["steps"][2]["measures"][1]["unit"] = "%lost"; },
         "is not one of"},
        {"an operator with a line break",
         [](nlohmann::json& r) { r["run"]["operator"] = "anna\n1 1 PASS"; }, "does not match"},
        {"an outcome unknown", [](nlohmann::json& r) { r["records"][1]["outcome"] = "OK"; },
         "is not one of"},
        {"a field unknown", [](nlohmann::json& r) { r["run"]["extra"] = true; },
         "Additional properties are not allowed"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.name);
        nlohmann::json broken = report;
        c.change(broken);
        const std::string errors = test::SchemaErrors(broken);
        EXPECT_NE(errors.find(c.error), std::string::npos) << errors;
    }
}

// A value and its limits are judged as they read: rounded to the decimals shown.
TEST(CheckReportTest, AMeasureIsJudgedAsItIsShown) {
    struct TCase {
        TMeasure measure;
        const char* value;
        const char* limits;
        bool within;
    };
    const TCase cases[] = {
        {ShownMeasure("rate", "fps", 2, 3.5951, 3.6049), "rate=3.60fps", "rate>=3.60fps", true},
        {ShownMeasure("rate", "fps", 2, 3.5949, 3.6), "rate=3.59fps", "rate>=3.60fps", false},
        {ShownMeasure("rate", "fps", 2, 3.6051, 3.6), "rate=3.61fps", "rate>=3.60fps", true},
        {ShownMeasure("lost", "%", 1, 4.96, std::nullopt, std::nullopt, 5), "lost=5.0%",
         "lost<5.0%", false},
        {ShownMeasure("lost", "%", 1, 4.94, std::nullopt, std::nullopt, 5), "lost=4.9%",
         "lost<5.0%", true},
        {ShownMeasure("total_rolls", "", 0, 20, 10, 20), "total_rolls=20", "total_rolls=10..20",
         true},
        {ShownMeasure("total_rolls", "", 0, 21, 10, 20), "total_rolls=21", "total_rolls=10..20",
         false},
        {ShownMeasure("total_rolls", "", 0, 9, 10), "total_rolls=9", "total_rolls>=10", false},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.value);
        EXPECT_EQ(ValueText(c.measure), c.value);
        EXPECT_EQ(LimitsText(c.measure), c.limits);
        EXPECT_EQ(Within(c.measure), c.within);
    }
}

TEST(CheckReportTest, TheJUnitReportHasASuitePerConsoleAndACasePerStep) {
    const std::string xml = JUnitText(TwoConsoles());
    EXPECT_EQ(Count(xml, "count(/testsuites/testsuite)"), 2);
    EXPECT_EQ(Count(xml, "count(//testcase)"), 4);
    EXPECT_EQ(Count(xml, "number(/testsuites/@failures)"), 2);
    EXPECT_EQ(Count(xml, "number(/testsuites/@errors)"), 1);
    EXPECT_EQ(Count(xml, "count(//testcase[@name='keys']/failure[@message='refused \"keys\"'])"),
              1);
    EXPECT_EQ(Count(xml, "count(//testsuite[@name='console 2 serial unknown']/testcase/error)"), 1);
    EXPECT_EQ(Count(xml, "number(//testsuite[2]/@time)"), 3);
    EXPECT_EQ(Count(xml, "count(//property[@name='operator' and @value='Anna & Co'])"), 2);
}

class ReportFileTest : public ::testing::Test {
protected:
    void SetUp() override { fs::create_directories(dir); }
    void TearDown() override {
        fs::permissions(dir, fs::perms::owner_all, fs::perm_options::add);
        fs::remove_all(dir);
    }
    std::string In(const std::string& name) const { return (dir / name).string(); }

    const fs::path dir = fs::temp_directory_path() / ("wct-report-" + std::to_string(getpid()));
    int fifoReader = -1;
};

std::string ReadText(const fs::path& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

TEST_F(ReportFileTest, AReportIsWrittenWholeOrNotAtAll) {
    const std::string path = In("run.json");
    {
        // Nothing on disk until Commit: a run killed meanwhile leaves nothing behind.
        TReportFile dropped(path);
        EXPECT_TRUE(fs::is_empty(dir));
    }
    EXPECT_TRUE(fs::is_empty(dir));
    {
        TReportFile file(path);
        file.Commit("{}\n");
    }
    EXPECT_EQ(ReadText(path), "{}\n");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1);
}

// What each kind of path becomes: a file is replaced by a new one, a link keeps pointing
// where it did, anything else is written through and stays what it was.
TEST_F(ReportFileTest, EachKindOfPathIsWrittenTheWayThatKeepsIt) {
    struct TCase {
        const char* name;
        std::function<std::string()> make;  // the report's path
        std::function<void(const std::string& path)> check;
    };
    const TCase cases[] = {
        {"a file replaced, its mode kept",
         [&] {
             std::ofstream(In("old.json")) << "old report, longer than the new one\n";
             fs::permissions(In("old.json"), fs::perms::owner_read | fs::perms::owner_write);
             return In("old.json");
         },
         [&](const std::string& path) {
             EXPECT_EQ(ReadText(path), "report\n");
             EXPECT_EQ(fs::status(path).permissions() & fs::perms::all,
                       fs::perms::owner_read | fs::perms::owner_write);
         }},
        {"a link to a file not made yet",
         [&] {
             fs::create_symlink(dir / "target.json", dir / "dangling.json");
             return In("dangling.json");
         },
         [&](const std::string& path) {
             EXPECT_TRUE(fs::is_symlink(path));
             EXPECT_EQ(ReadText(dir / "target.json"), "report\n");
         }},
        {"a FIFO",
         [&] {
             EXPECT_EQ(mkfifo(In("fifo").c_str(), 0600), 0);
             fifoReader = open(In("fifo").c_str(), O_RDONLY | O_NONBLOCK);
             return In("fifo");
         },
         [&](const std::string& path) {
             EXPECT_TRUE(fs::is_fifo(path));
             char text[64] = {};
             EXPECT_EQ(read(fifoReader, text, sizeof text), 7);
             EXPECT_STREQ(text, "report\n");
             close(fifoReader);
         }},
        {"a device", [] { return std::string("/dev/null"); },
         [](const std::string& path) { EXPECT_TRUE(fs::is_character_file(path)); }},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = c.make();
        EXPECT_EQ(CheckReportPath(path), "");
        {
            TReportFile file(path);
            file.Commit("report\n");
        }
        c.check(path);
        // Nothing of the writing is left beside it.
        for (const auto& entry : fs::recursive_directory_iterator(dir))
            EXPECT_EQ(entry.path().filename().string().rfind(".", 0), std::string::npos)
                << entry.path();
    }
}

// Beside those wct refuses (tests/check/wct_check_inputs_test.cpp).
TEST_F(ReportFileTest, APathThatCannotTakeAReportIsRefusedBeforeAnythingIsWritten) {
    fs::create_symlink("loop-b", dir / "loop-a");
    fs::create_symlink("loop-a", dir / "loop-b");
    std::vector<std::pair<std::string, const char*>> cases = {{In("loop-a"), "symbolic links"},
                                                              {"", "no file named"}};
    // The superuser writes anywhere.
    fs::create_directories(dir / "locked");
    fs::permissions(dir / "locked", fs::perms::owner_read | fs::perms::owner_exec);
    if (geteuid() != 0) cases.push_back({In("locked/run.json"), "cannot be written"});
    for (const auto& [path, why] : cases) {
        SCOPED_TRACE(path);
        EXPECT_NE(CheckReportPath(path).find(why), std::string::npos) << CheckReportPath(path);
        EXPECT_THROW(TReportFile{path}, EReportFile);
    }
}

TEST(CheckReportTest, RecordIdsAreUuidsThatDoNotRepeat) {
    std::set<std::string> ids;
    for (int i = 0; i < 1000; ++i) ids.insert(NewRecordId());
    EXPECT_EQ(ids.size(), 1000u);
    const std::string id = *ids.begin();
    EXPECT_EQ(id.size(), 36u);
    EXPECT_EQ(id[14], '4');
    EXPECT_EQ(id.find_first_not_of("0123456789abcdef-"), std::string::npos);
}

}  // namespace
}  // namespace wct::check
