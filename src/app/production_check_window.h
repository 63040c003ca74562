// SPDX-License-Identifier: Apache-2.0
// TProductionCheckWindow, "Production Check": the end-of-line check of consoles from one
// button. The operator names themself, runs the built-in plan on the selected console or
// on every console present, and watches the steps fill in, coloured by outcome, with the
// result of each console beside them. Each record goes to the history (the default
// file) as its console is done; the history below is searched by serial, page by page,
// off the main thread (THistoryView). When a reports
// folder has been picked (it is remembered), every run leaves its JSON and JUnit reports
// there. While the main window publishes to a broker, each record is also published.
// With no console present the run is refused and nothing is written.
// Closing the window during a run interrupts it: the current console's record is
// kept as ERROR "interrupted" and the window closes when the run has ended. Stop, or Esc,
// interrupts a run the same way.
//
// Main thread only; the bench must outlive the window.
#pragma once

#include <QWidget>
#include <string>
#include <vector>

#include "app/click_guard.h"

class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;
class QTableWidget;

namespace wct {

namespace check {
struct TCheckRecord;
struct TStepResult;
}  // namespace check
namespace testbench {
class TTestBench;
}
class THistoryView;

class TProductionCheckWindow : public QWidget {
public:
    explicit TProductionCheckWindow(testbench::TTestBench& bench, QWidget* parent = nullptr);

    bool Running() const { return running_; }
    // Where the reports go; empty: none are written. Remembered for the next start.
    void SetReportsFolder(const QString& folder);
    QString ReportsFolder() const;
    // Searches the history again from its newest page; the page comes a moment later.
    void RefreshHistory();
    // The history shown below: a line's central one (a postgresql:// URL), or empty for
    // this bench's file. Remembered for the next start. Returns why `url` cannot be used
    // (and changes nothing), or empty. Records are kept in the bench's file either way.
    QString SetHistoryDatabase(const QString& url);

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void RunSelectedClick();
    void RunAllClick();
    void StopClick();
    // Esc during a run stops it, as Stop does.
    bool Escape();
    void ChooseFolderClick();
    void ChooseDatabaseClick();
    // Why `url` cannot be the history shown, or empty.
    static QString HistoryDatabaseProblem(const QString& url);
    void ShowHistoryDatabase(const QString& url);
    void Run(bool all);
    void AddStepRow(const check::TCheckRecord& record, const check::TStepResult& step);
    void AddResultRow(const check::TCheckRecord& record);
    void ShowRunning(bool running);

    testbench::TTestBench& bench_;
    TClickGuard guard_{[this] { return Escape(); }};
    QLineEdit* operator_ = nullptr;
    QLineEdit* station_ = nullptr;
    QSpinBox* console_ = nullptr;
    QPushButton* runSelected_ = nullptr;
    QPushButton* runAll_ = nullptr;
    QPushButton* stop_ = nullptr;
    QLineEdit* folder_ = nullptr;
    QLineEdit* database_ = nullptr;
    QTableWidget* steps_ = nullptr;
    QTableWidget* results_ = nullptr;
    THistoryView* history_ = nullptr;
    QLabel* status_ = nullptr;
    bool running_ = false;
    bool interrupt_ = false;
    bool closeAfterRun_ = false;
};

// Shows the main window's production check window, creating it on first use as a
// window of `parent`'s. Each record is published while the bench is.
void ShowProductionCheckWindow(testbench::TTestBench& bench, QWidget* parent);

}  // namespace wct
