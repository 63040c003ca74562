// SPDX-License-Identifier: Apache-2.0
// The history view over a line's central history in a real PostgreSQL server: pages and
// searches as over the bench's file, a server that is down says so in the view, and the
// next search after it is back reads again.
#include <gtest/gtest.h>

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>
#include <memory>

#include "app/history_view.h"
#include "central/central_history.h"
#include "central/sample_records.h"
#include "central/test_postgres.h"
#include "gui_support.h"

namespace wct::test {
namespace {

class CentralHistoryViewTest : public ::testing::Test {
protected:
    void SetUp() override {
        central::TCentralHistory history(pg.Url(), central::TCentralHistory::TAccess::Write);
        for (int i = 0; i < 150; ++i) {
            const std::string started = "2026-12-10T08:" + std::to_string(10 + i / 7) + ":00.000Z";
            history.Add(SampleRecord(1000 + i % 3, started, check::TOutcome::Pass,
                                     "bench-" + std::to_string(i)),
                        "bench");
        }
        view = std::make_unique<THistoryView>(pg.Url());
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
        ASSERT_TRUE(QTest::qWaitFor([&] { return !view->Searching(); }, kWaitMs));
    }
    QString Position() { return In<QLabel>("HistoryPosition").text(); }
    int Rows() { return In<QTableWidget>("History").rowCount(); }

    TTestPostgres pg;
    std::unique_ptr<THistoryView> view;
};

TEST_F(CentralHistoryViewTest, PagesAndSearchesAndSaysWhenTheServerIsDown) {
    Search("");
    EXPECT_EQ(Position(), "1 to 100");
    EXPECT_EQ(In<QTableWidget>("History").item(0, 5)->text(), "bench-149");
    In<QPushButton>("Older").click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !view->Searching(); }, kWaitMs));
    EXPECT_EQ(Position(), "101 to 150");
    EXPECT_EQ(In<QTableWidget>("History").item(49, 5)->text(), "bench-0");
    Search("1001");
    EXPECT_EQ(Rows(), 50);

    pg.Stop();
    Search("");
    EXPECT_EQ(Rows(), 0);
    EXPECT_NE(In<QLabel>("HistoryProblem").text().indexOf("The history cannot be read: PostgreSQL"),
              -1);
    pg.Start();
    Search("");
    EXPECT_EQ(Rows(), 100);
    EXPECT_TRUE(In<QLabel>("HistoryProblem").isHidden());
}

}  // namespace
}  // namespace wct::test
