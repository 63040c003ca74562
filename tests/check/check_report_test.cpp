// The reports of a check run: JSON and JUnit parsed back, and written whole or not at all.
#include "check/check_report.h"

#include <gtest/gtest.h>
#include <libxml/parser.h>
#include <libxml/xpath.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>

namespace wct::check {
namespace {

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
    a.operatorName = run.operatorName;
    a.started = a.ended = "2026-12-08T12:14:28.123Z";
    a.steps = {{"identity", TOutcome::Pass, "16/1048849/2.3", "-", 10, ""},
               {"keys", TOutcome::Fail, "NACK", "ACK", 4, "refused \"keys\""}};
    a.outcome = TOutcome::Fail;
    TCheckRecord b = a;
    b.id = NewRecordId();
    b.console = 2;
    b.serial.reset();
    b.steps = {{"identity", TOutcome::Error, "none", "-", 3000, "no answer"}};
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
}

TEST(CheckReportTest, TheJUnitReportHasASuitePerConsoleAndACasePerStep) {
    const std::string xml = JUnitText(TwoConsoles());
    EXPECT_EQ(Count(xml, "count(/testsuites/testsuite)"), 2);
    EXPECT_EQ(Count(xml, "count(//testcase)"), 3);
    EXPECT_EQ(Count(xml, "number(/testsuites/@failures)"), 1);
    EXPECT_EQ(Count(xml, "number(/testsuites/@errors)"), 1);
    EXPECT_EQ(Count(xml, "count(//testcase[@name='keys']/failure[@message='refused \"keys\"'])"),
              1);
    EXPECT_EQ(Count(xml, "count(//testsuite[@name='console 2 serial unknown']/testcase/error)"), 1);
    EXPECT_EQ(Count(xml, "number(//testsuite[2]/@time)"), 3);
    EXPECT_EQ(Count(xml, "count(//property[@name='operator' and @value='Anna & Co'])"), 2);
}

TEST(CheckReportTest, AReportFileIsWrittenWholeOrNotAtAll) {
    namespace fs = std::filesystem;
    const fs::path dir = fs::temp_directory_path() / ("wct-report-" + std::to_string(getpid()));
    fs::create_directories(dir);
    const std::string path = (dir / "run.json").string();
    { TReportFile dropped(path); }
    EXPECT_TRUE(fs::is_empty(dir));
    {
        TReportFile file(path);
        file.Commit("{}\n");
    }
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    EXPECT_EQ(text.str(), "{}\n");
    EXPECT_THROW(TReportFile((dir / "no" / "such" / "dir.json").string()), EReportFile);
    fs::remove_all(dir);
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
