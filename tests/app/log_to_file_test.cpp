// SPDX-License-Identifier: Apache-2.0
// The log file writer and the trace log's fallback, on real files in a temporary folder.
#include "app/log_to_file.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "app/trace_log.h"
#include "common/stored_form.h"
#include "common/tick_count.h"

namespace wct {
namespace {

namespace fs = std::filesystem;

std::string Read(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

class LogToFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/wct-log-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
        SetExecutableDirectory(dir.string());
    }
    void TearDown() override {
        SetExecutableDirectory("");
        fs::remove_all(dir);
    }

    fs::path dir;
    TLogToFile log;
};

TEST_F(LogToFileTest, ARelativeNameIsMadeAbsoluteFromTheExecutablesDirectoryAtTheFirstOpen) {
    log.SetLogFileName("VxWireless.log");
    ASSERT_TRUE(log.OpenLog());
    log.CloseLog();
    EXPECT_EQ(log.LogFileName(), (dir / "VxWireless.log").string());
    EXPECT_TRUE(fs::exists(dir / "VxWireless.log"));
    ASSERT_TRUE(log.OpenLog());  // already absolute: kept as it is
    log.CloseLog();
    EXPECT_EQ(log.LogFileName(), (dir / "VxWireless.log").string());
}

TEST_F(LogToFileTest, WithoutADirectorySetRelativeNamesGoBesideTheRunningProgram) {
    SetExecutableDirectory("");
    const std::string exe = fs::read_symlink("/proc/self/exe").string();
    EXPECT_EQ(ExecutableDirectory(), exe.substr(0, exe.rfind('/') + 1));
}

TEST_F(LogToFileTest, AnAbsoluteNameIsKept) {
    const std::string name = (dir / "sub.log").string();
    log.SetLogFileName(name);
    log.WriteLog("x", 0, 0);
    EXPECT_EQ(log.LogFileName(), name);
    EXPECT_EQ(Read(name), "x\r\n");
}

TEST_F(LogToFileTest, AnExistingFileIsAppendedToUnlessOverwriteExistingFile) {
    log.SetLogFileName("a.log");
    log.WriteLog("one", 0, 0);
    log.WriteLog("two", 0, 0);
    EXPECT_EQ(Read(dir / "a.log"), "one\r\ntwo\r\n");
    log.SetOverwriteExistingFile(true);
    log.WriteLog("three", 0, 0);
    EXPECT_EQ(Read(dir / "a.log"), "three\r\n");
}

TEST_F(LogToFileTest, AFileMovedOrDeletedIsMadeAgainUnderItsNameWithinAMovedCheck) {
    TScopedVirtualClock clock;
    log.SetLogFileName("a.log");
    log.WriteLog("one", 0, 0);
    fs::rename(dir / "a.log", dir / "a.log.1");  // as log rotation does
    log.WriteLog("two", 0, 0);                   // before the next look: the moved file
    clock.Advance(TLogToFile::kMovedCheckMs);
    log.WriteLog("three", 0, 0);
    fs::remove(dir / "a.log");
    clock.Advance(TLogToFile::kMovedCheckMs);
    log.WriteLog("four", 0, 0);
    EXPECT_EQ(Read(dir / "a.log.1"), "one\r\ntwo\r\n");
    EXPECT_EQ(Read(dir / "a.log"), "four\r\n");
}

TEST_F(LogToFileTest, PrefixSeparatorAndSuffixFrameTheTextWhenTheirFlagsAreSet) {
    log.SetLogFileName("a.log");
    log.SetPrefix("P");
    log.SetSeparator("S");
    log.SetSuffix("X");
    log.WriteLog("abc", 0, 0);
    log.SetIncPrefix(true);
    log.SetIncSeparator(true);
    log.SetIncSuffix(true);
    log.WriteLog("abc", 0, 0);
    EXPECT_EQ(Read(dir / "a.log"), "abc\r\nPSabcX\r\n");
}

TEST_F(LogToFileTest, BlankLinesGoBeforeAndAfterTheLine) {
    log.SetLogFileName("a.log");
    log.WriteLog("abc", 2, 1);
    EXPECT_EQ(Read(dir / "a.log"), "\r\n\r\nabc\r\n\r\n");
}

TEST_F(LogToFileTest, AnEmptyDateFormatBecomesTheLocalesShortDateAndLongTime) {
    log.SetLogFileName("a.log");
    log.SetIncDateTime(true);
    log.SetDateTimeFormatStr("");
    log.WriteLog("abc", 0, 0);
    EXPECT_EQ(log.DateTimeFormatStr(), "c");
    const std::string line = Read(dir / "a.log");
    EXPECT_GT(line.size(), std::string("abc\r\n").size() + 8);
    EXPECT_EQ(line.substr(line.size() - 5), "abc\r\n");
}

TEST_F(LogToFileTest, DateFormatsFollowTheRuntimesPatterns) {
    std::tm local{};
    local.tm_year = 2024 - 1900;
    local.tm_mon = 2;
    local.tm_mday = 7;
    local.tm_hour = 9;
    local.tm_min = 5;
    local.tm_sec = 3;
    local.tm_isdst = -1;
    const auto when =
        std::chrono::system_clock::from_time_t(std::mktime(&local)) + std::chrono::milliseconds(42);
    EXPECT_EQ(FormatDateTime("yyyy-mm-dd hh:nn:ss.zzz", when), "2024-03-07 09:05:03.042");
    EXPECT_EQ(FormatDateTime("d/m/yy h:n:s", when), "7/3/24 9:5:3");
    EXPECT_EQ(FormatDateTime("'day' dd", when), "day 07");
}

TEST_F(LogToFileTest, ClearonCreateTruncatesOnceWhenLoadedFromAStoredForm) {
    {
        std::ofstream old(dir / "c.log");
        old << "old run\r\n";
    }
    TComponent owner;
    auto* loaded = new TLogToFile(&owner);
    loaded->SetName("Log1");
    ReadComponent("object Owner: TComponent\n  object Log1: TLogToFile\n    LogFileName = '" +
                      (dir / "c.log").string() + "'\n    ClearonCreate = True\n  end\nend\n",
                  owner);
    EXPECT_EQ(Read(dir / "c.log"), "");
    EXPECT_FALSE(loaded->OverwriteExistingFile());
    loaded->WriteLog("new", 0, 0);
    loaded->WriteLog("more", 0, 0);
    EXPECT_EQ(Read(dir / "c.log"), "new\r\nmore\r\n");
}

TEST_F(LogToFileTest, AFailedOpenIsSwallowedAndTheWriteRaisesNamingTheFileAndTheReason) {
    log.SetLogFileName("/proc/no-such-dir/x.log");
    EXPECT_FALSE(log.OpenLog());
    try {
        log.WriteLog("lost?", 0, 0);
        FAIL() << "no error raised";
    } catch (const EInOutError& e) {
        EXPECT_STREQ(
            e.what(),
            "Cannot write the log file /proc/no-such-dir/x.log: No such file or directory");
        EXPECT_EQ(e.ErrorCode(), ENOENT);
    }
    EXPECT_THROW(log.CloseLog(), EInOutError);
}

// Lines of 9 bytes with their CR LF; a limit of 3 lines.
class LogLimitTest : public LogToFileTest {
protected:
    void SetUp() override {
        LogToFileTest::SetUp();
        log.SetLogFileName("a.log");
        log.SetMaxFileBytes(27);
    }
    void Write(std::initializer_list<const char*> lines) {
        for (const char* line : lines) log.WriteLog(line, 0, 0);
    }
};

TEST_F(LogLimitTest, TheLineThatWouldPassTheLimitMovesTheFileAsideAndStartsANewOne) {
    Write({"line-01", "line-02", "line-03"});
    EXPECT_EQ(Read(dir / "a.log"), "line-01\r\nline-02\r\nline-03\r\n");
    EXPECT_FALSE(fs::exists(dir / "a.log.1"));
    Write({"line-04"});
    EXPECT_EQ(Read(dir / "a.log.1"), "line-01\r\nline-02\r\nline-03\r\n");
    EXPECT_EQ(Read(dir / "a.log"), "line-04\r\n");
}

TEST_F(LogLimitTest, OnlyTheNewestTwoFilesAreKept) {
    Write({"line-01", "line-02", "line-03", "line-04", "line-05", "line-06", "line-07"});
    EXPECT_EQ(Read(dir / "a.log.1"), "line-04\r\nline-05\r\nline-06\r\n");
    EXPECT_EQ(Read(dir / "a.log"), "line-07\r\n");
    EXPECT_FALSE(fs::exists(dir / "a.log.2"));
}

TEST_F(LogLimitTest, AFileLeftFullByAnEarlierRunIsMovedAsideAtTheFirstLine) {
    std::ofstream(dir / "a.log", std::ios::binary) << "earlier\r\nearlier\r\nearlier\r\n";
    Write({"line-01"});
    EXPECT_EQ(Read(dir / "a.log.1"), "earlier\r\nearlier\r\nearlier\r\n");
    EXPECT_EQ(Read(dir / "a.log"), "line-01\r\n");
}

TEST_F(LogLimitTest, ALineLongerThanTheLimitIsWrittenWholeToAFileOfItsOwn) {
    const std::string longLine(40, 'x');
    Write({"line-01"});
    log.WriteLog(longLine, 0, 0);
    Write({"line-02"});
    EXPECT_EQ(Read(dir / "a.log.1"), longLine + "\r\n");
    EXPECT_EQ(Read(dir / "a.log"), "line-02\r\n");
}

TEST_F(LogLimitTest, AMoveThatFailsLeavesTheLinesGoingToTheFullFile) {
    fs::create_directories(dir / "a.log.1" / "in-the-way");  // rename(2) onto it fails
    Write({"line-01", "line-02", "line-03", "line-04"});
    EXPECT_EQ(Read(dir / "a.log"), "line-01\r\nline-02\r\nline-03\r\nline-04\r\n");
}

TEST_F(LogLimitTest, NoLimitKeepsOneFile) {
    log.SetMaxFileBytes(0);
    Write({"line-01", "line-02", "line-03", "line-04"});
    EXPECT_EQ(Read(dir / "a.log"), "line-01\r\nline-02\r\nline-03\r\nline-04\r\n");
    EXPECT_FALSE(fs::exists(dir / "a.log.1"));
}

class TraceLogTest : public LogToFileTest {
protected:
    void SetUp() override {
        LogToFileTest::SetUp();
        const char* state = std::getenv("XDG_STATE_HOME");
        savedState = state != nullptr ? std::optional<std::string>(state) : std::nullopt;
        setenv("XDG_STATE_HOME", (dir / "state").c_str(), 1);
    }
    void TearDown() override {
        if (savedState)
            setenv("XDG_STATE_HOME", savedState->c_str(), 1);
        else
            unsetenv("XDG_STATE_HOME");
        LogToFileTest::TearDown();
    }

    std::optional<std::string> savedState;
    std::vector<std::string> notes;
    TTraceLog trace{log, [this](const std::string& note) { notes.push_back(note); }};
};

TEST_F(TraceLogTest, LinesGoToTheNamedFileWhileItCanBeWritten) {
    log.SetLogFileName("VxWireless.log");
    trace.Write("one");
    trace.Write("two");
    EXPECT_EQ(Read(dir / "VxWireless.log"), "one\r\ntwo\r\n");
    EXPECT_TRUE(notes.empty());
}

TEST_F(TraceLogTest, AnUnwritableFileMovesToTheStateDirectoryAndSaysSoOnce) {
    SetExecutableDirectory("/proc");
    log.SetLogFileName("VxWireless.log");
    trace.Write("one");
    trace.Write("two");
    const fs::path moved = dir / "state/WirelessConsoleTest/VxWireless.log";
    EXPECT_EQ(Read(moved), "one\r\ntwo\r\n");
    ASSERT_EQ(notes.size(), 1u);
    EXPECT_EQ(notes[0],
              "Cannot write the log file /proc/VxWireless.log: No such file or directory; the "
              "trace is logged to " +
                  moved.string());
    EXPECT_FALSE(trace.Lost());
}

TEST_F(TraceLogTest, AnInstalledBenchLogsToTheStateDirectoryFromTheStart) {
    ASSERT_TRUE(LogToStateDirectory());
    log.SetLogFileName("VxWireless.log");
    trace.Write("one");
    EXPECT_EQ(Read(dir / "state/WirelessConsoleTest/VxWireless.log"), "one\r\n");
    EXPECT_TRUE(notes.empty());
    setenv("XDG_STATE_HOME", "/proc/nowhere", 1);
    EXPECT_FALSE(LogToStateDirectory());
}

TEST_F(TraceLogTest, WithNowhereToWriteTheLossIsToldOnceAndLaterLinesAreDropped) {
    setenv("XDG_STATE_HOME", "/proc/nowhere", 1);
    log.SetLogFileName("/proc/VxWireless.log");
    trace.Write("one");
    trace.Write("two");
    ASSERT_EQ(notes.size(), 1u);
    EXPECT_NE(notes[0].find("; the trace is not logged"), std::string::npos) << notes[0];
    EXPECT_TRUE(trace.Lost());
}

}  // namespace
}  // namespace wct
