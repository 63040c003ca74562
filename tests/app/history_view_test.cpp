// SPDX-License-Identifier: Apache-2.0
// The production check's history view over a real SQLite file: pages walk the whole
// history newest first, with neither gap nor repeat where records started in the same
// millisecond; a search by serial pages the same way; a history that cannot be read says
// why in the view.
#include "app/history_view.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <fstream>
#include <memory>

#include "gui_support.h"

namespace wct::test {
namespace {

class HistoryViewTest : public ::testing::Test {
protected:
    std::string Path() const { return dir.filePath("checks.sqlite").toStdString(); }

    // `count` records; record i has station "bench-i" and serial 1000 + i % 3, and seven
    // records in a row share their start, so that ties straddle the page boundaries.
    void Fill(int count) {
        check::TCheckHistory history(Path(), check::TCheckHistory::TAccess::Write);
        for (int i = 0; i < count; ++i) {
            check::TCheckRecord r;
            r.id = check::NewRecordId();
            r.runId = "run";
            r.console = 1 + i % 4;
            r.serial = 1000 + i % 3;
            r.plan = "default";
            r.station = "bench-" + std::to_string(i);
            r.operatorName = "anna";
            r.started = "2026-12-10T08:" + std::to_string(10 + i / 7) + ":00.000Z";
            r.ended = r.started;
            r.outcome = i % 5 == 0 ? check::TOutcome::Fail : check::TOutcome::Pass;
            check::TStepResult step;
            step.name = "keys";
            step.outcome = r.outcome;
            r.steps = {step};
            history.Add(r);
        }
    }
    void Open() {
        view = std::make_unique<THistoryView>(Path());
        view->resize(900, 500);
        view->show();
    }
    template <typename T>
    T& In(const char* name) {
        T* control = view->findChild<T*>(name);
        if (control == nullptr) throw std::runtime_error(std::string("no control ") + name);
        return *control;
    }
    void Search(const QString& serial) {
        In<QLineEdit>("SerialSearch").setText(serial);
        In<QPushButton>("Search").click();
        Wait();
    }
    void Press(const char* button) {
        In<QPushButton>(button).click();
        Wait();
    }
    void Wait() { ASSERT_TRUE(QTest::qWaitFor([&] { return !view->Searching(); }, kWaitMs)); }
    QStringList Column(int column) {
        QStringList cells;
        auto& table = In<QTableWidget>("History");
        for (int row = 0; row < table.rowCount(); ++row) cells << table.item(row, column)->text();
        return cells;
    }
    QString Problem() { return In<QLabel>("HistoryProblem").text(); }
    bool ProblemShown() { return !In<QLabel>("HistoryProblem").isHidden(); }

    QTemporaryDir dir;
    std::unique_ptr<THistoryView> view;
};

TEST_F(HistoryViewTest, PagesWalkTheWholeHistoryNewestFirstWithoutGapOrRepeat) {
    Fill(230);
    Open();
    In<QPushButton>("Search").click();
    // The page is read on the worker: the click returned before it came.
    EXPECT_TRUE(view->Searching());
    Wait();
    EXPECT_FALSE(ProblemShown());
    EXPECT_FALSE(In<QPushButton>("Newer").isEnabled());

    QStringList stations, positions;
    for (;;) {
        stations << Column(5);
        positions << In<QLabel>("HistoryPosition").text();
        if (!In<QPushButton>("Older").isEnabled()) break;
        Press("Older");
    }
    EXPECT_EQ(positions, QStringList({"1 to 100", "101 to 200", "201 to 230"}));
    QStringList expected;
    for (int i = 229; i >= 0; --i) expected << QString("bench-%1").arg(i);
    EXPECT_EQ(stations, expected);
    SaveScreenshot(*view, "history_view");

    Press("Newer");
    EXPECT_EQ(In<QLabel>("HistoryPosition").text(), "101 to 200");
    EXPECT_EQ(Column(5).first(), "bench-129");
    Press("Newer");
    EXPECT_EQ(In<QLabel>("HistoryPosition").text(), "1 to 100");
    EXPECT_FALSE(In<QPushButton>("Newer").isEnabled());
    EXPECT_EQ(Column(4).first(), "");            // bench-229 passed
    EXPECT_EQ(Column(4)[4], "keys");             // bench-225 failed its step
    EXPECT_EQ(Column(3)[4], "FAIL");
}

TEST_F(HistoryViewTest, ASearchBySerialShowsThatSerialsRecordsAlone) {
    Fill(230);
    Open();
    Search("1001");
    const QStringList serials = Column(1);
    EXPECT_EQ(serials.size(), 77);  // i % 3 == 1 for i below 230
    EXPECT_EQ(serials.count("1001"), serials.size());
    EXPECT_EQ(Column(5).first(), "bench-229");
    EXPECT_FALSE(In<QPushButton>("Older").isEnabled());

    Search("7");
    EXPECT_EQ(In<QTableWidget>("History").rowCount(), 0);
    EXPECT_EQ(Problem(), "No record of serial 7.");
    Search("");
    EXPECT_EQ(In<QTableWidget>("History").rowCount(), 100);
    EXPECT_FALSE(ProblemShown());
}

TEST_F(HistoryViewTest, AHistoryThatCannotBeReadSaysWhyInTheView) {
    struct TCase {
        const char* name;
        std::function<void(const std::string& path)> make;
        QString serial;
        const char* says;
    } const cases[] = {
        {"no database", [](const std::string& p) { std::ofstream(p) << std::string(4096, 'x'); },
         "", "file is not a database"},
        {"newer schema",
         [](const std::string& p) {
             sqlite3* db = nullptr;
             sqlite3_open(p.c_str(), &db);
             sqlite3_exec(db, "PRAGMA user_version=99", nullptr, nullptr, nullptr);
             sqlite3_close(db);
         },
         "", "written by a newer wct (schema 99"},
        {"no file", [](const std::string&) {}, "", "No check has been recorded yet ("},
        {"no serial", [this](const std::string&) { Fill(3); }, "12a",
         "'12a' is no serial number."},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.name);
        std::remove(Path().c_str());
        c.make(Path());
        Open();
        Search(c.serial);
        EXPECT_TRUE(ProblemShown());
        EXPECT_NE(Problem().indexOf(c.says), -1) << Problem().toStdString();
        EXPECT_EQ(In<QTableWidget>("History").rowCount(), 0);
    }
    SaveScreenshot(*view, "history_view_problem");
}

}  // namespace
}  // namespace wct::test
