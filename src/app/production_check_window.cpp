// SPDX-License-Identifier: Apache-2.0
#include "app/production_check_window.h"

#include <QCloseEvent>
#include <QDir>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QSettings>
#include <QSpinBox>
#include <QSplitter>
#include <QSysInfo>
#include <QTableWidget>
#include <QVBoxLayout>

#include "app/check_tables.h"
#include "app/history_view.h"
#include "central/central_history.h"
#include "check/check_history.h"
#include "common/printable_name.h"
#include "common/user_messages.h"
#include "protocol/wireless_protocol.h"
#include "testbench/testbench.h"

namespace wct {
namespace {

constexpr const char* kFolderKey = "ReportsFolder";
constexpr const char* kHistoryKey = "HistoryDatabase";

// ~/.config/WirelessConsoleTest/ProductionCheck.conf
QSettings Settings() {
    return QSettings("WirelessConsoleTest", "ProductionCheck");
}


}  // namespace

TProductionCheckWindow::TProductionCheckWindow(testbench::TTestBench& bench, QWidget* parent)
    : QWidget(parent, Qt::Window), bench_(bench) {
    setObjectName("ProductionCheckWindow");
    setWindowTitle("Production Check");

    operator_ = new QLineEdit;
    operator_->setObjectName("Operator");
    station_ = new QLineEdit(QSysInfo::machineHostName());
    station_->setObjectName("Station");
    console_ = new QSpinBox;
    console_->setObjectName("Console");
    console_->setRange(1, 254);
    runSelected_ = guard_.Button(this, "Run Selected", &TProductionCheckWindow::RunSelectedClick);
    runAll_ = guard_.Button(this, "Run All", &TProductionCheckWindow::RunAllClick);
    stop_ = guard_.Button(this, "Stop", &TProductionCheckWindow::StopClick);
    auto* top = new QHBoxLayout;
    top->addWidget(new QLabel("Operator"));
    top->addWidget(operator_, 1);
    top->addWidget(new QLabel("Station"));
    top->addWidget(station_, 1);
    top->addWidget(new QLabel("Console"));
    top->addWidget(console_);
    top->addWidget(runSelected_);
    top->addWidget(runAll_);
    top->addWidget(stop_);

    folder_ = new QLineEdit(Settings().value(kFolderKey).toString());
    folder_->setObjectName("ReportsFolder");
    folder_->setReadOnly(true);
    folder_->setPlaceholderText("no reports: pick a folder");
    auto* choose =
        guard_.Button(this, "Reports Folder...", &TProductionCheckWindow::ChooseFolderClick);
    status_ = new QLabel;
    status_->setObjectName("Status");
    auto* reports = new QHBoxLayout;
    reports->addWidget(new QLabel("Reports"));
    reports->addWidget(folder_, 1);
    reports->addWidget(choose);
    reports->addWidget(status_, 1);

    steps_ = CheckTable("Steps",
                   {"Console", "Serial", "Step", "Outcome", "Value", "Limits", "ms", "Message"});
    results_ = CheckTable("Results", {"Console", "Serial", "Outcome", "Message"});
    auto* split = new QSplitter;
    split->addWidget(steps_);
    split->addWidget(results_);
    split->setStretchFactor(0, 3);
    split->setStretchFactor(1, 1);
    split->setSizes({760, 340});

    database_ = new QLineEdit;
    database_->setObjectName("HistoryDatabase");
    database_->setReadOnly(true);
    database_->setPlaceholderText("this bench's history file");
    auto* pick =
        guard_.Button(this, "History Database...", &TProductionCheckWindow::ChooseDatabaseClick);
    auto* source = new QHBoxLayout;
    source->addWidget(new QLabel("History shown"));
    source->addWidget(database_, 1);
    source->addWidget(pick);

    history_ = new THistoryView(testbench::TTestBench::HistoryPath());
    // A URL the settings file holds is checked as one typed in.
    const QString stored = Settings().value(kHistoryKey).toString();
    if (HistoryDatabaseProblem(stored).isEmpty()) ShowHistoryDatabase(stored);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addLayout(reports);
    layout->addWidget(split, 3);
    layout->addLayout(source);
    layout->addWidget(history_, 2);
    ShowRunning(false);
    resize(1100, 700);
}

void TProductionCheckWindow::SetReportsFolder(const QString& folder) {
    folder_->setText(folder);
    Settings().setValue(kFolderKey, folder);
}

QString TProductionCheckWindow::ReportsFolder() const {
    return folder_->text();
}

void TProductionCheckWindow::ChooseFolderClick() {
    const QString folder =
        QFileDialog::getExistingDirectory(this, "Reports Folder", ReportsFolder());
    if (!folder.isEmpty()) SetReportsFolder(folder);
}

QString TProductionCheckWindow::HistoryDatabaseProblem(const QString& url) {
    const std::string text = url.trimmed().toStdString();
    if (text.empty()) return "";
    if (!central::IsCentralUrl(text)) return "'" + url + "' is no postgresql:// URL";
    return QString::fromStdString(central::CentralUrlProblem(text));
}

void TProductionCheckWindow::ShowHistoryDatabase(const QString& url) {
    const std::string text = url.trimmed().toStdString();
    database_->setText(QString::fromStdString(text));
    history_->SetPath(text.empty() ? testbench::TTestBench::HistoryPath() : text);
}

QString TProductionCheckWindow::SetHistoryDatabase(const QString& url) {
    if (const QString problem = HistoryDatabaseProblem(url); !problem.isEmpty()) return problem;
    ShowHistoryDatabase(url);
    Settings().setValue(kHistoryKey, database_->text());
    return "";
}

void TProductionCheckWindow::ChooseDatabaseClick() {
    bool ok = false;
    const QString url = QInputDialog::getText(
        this, "History Database",
        "A line's central history (postgresql://host/database),\nor empty for this bench's "
        "file. Its password comes from ~/.pgpass or PGSERVICE.",
        QLineEdit::Normal, database_->text(), &ok);
    if (!ok) return;
    if (const QString problem = SetHistoryDatabase(url); !problem.isEmpty()) {
        QMessageBox::warning(this, "History Database", problem);
        return;
    }
    RefreshHistory();
}

void TProductionCheckWindow::RunSelectedClick() {
    Run(false);
}

void TProductionCheckWindow::RunAllClick() {
    Run(true);
}

void TProductionCheckWindow::StopClick() {
    interrupt_ = true;
}

bool TProductionCheckWindow::Escape() {
    if (!running_) return false;
    interrupt_ = true;
    return true;
}

void TProductionCheckWindow::ShowRunning(bool running) {
    running_ = running;
    runSelected_->setEnabled(!running);
    runAll_->setEnabled(!running);
    stop_->setEnabled(running);
}

void TProductionCheckWindow::Run(bool all) {
    if (running_) return;
    const auto refuse = [](const std::string& text) {
        UserMessages().MessageDlg(text, TMsgDlgType::mtWarning, mbOK);
    };
    if (!bench_.Protocol().Connected()) return refuse("Connect to the dongle first.");
    const std::string operatorName = operator_->text().trimmed().toStdString();
    if (operatorName.empty()) return refuse("Enter the operator's name first.");
    const std::string station = station_->text().trimmed().toStdString();
    std::string problem = NameProblem(operatorName, "operator");
    if (problem.empty()) problem = NameProblem(station, "station");
    if (!problem.empty()) return refuse("The " + problem + ".");

    testbench::TCheckRequest request;
    if (!all) request.consoles.push_back(static_cast<uint8_t>(console_->value()));
    request.session = {station_->text().trimmed().toStdString(), operatorName};
    request.history = testbench::TTestBench::HistoryPath();
    if (!ReportsFolder().isEmpty()) {
        const QString stamp =
            QString::fromStdString(check::UtcNow()).remove(':').remove('-').left(15);
        const QDir dir(ReportsFolder());
        request.report = dir.filePath("check-" + stamp + ".json").toStdString();
        request.junit = dir.filePath("check-" + stamp + ".xml").toStdString();
    }
    testbench::TPublisherSink published([this] { return bench_.Publisher(); });
    request.sinks = {&published};
    request.Interrupted = [this] { return interrupt_; };
    request.OnStart = [this] {
        steps_->setRowCount(0);
        results_->setRowCount(0);
    };
    request.OnStep = [this](const check::TCheckRecord& r, const check::TStepResult& s) {
        status_->setText(QString("Checking console %1: %2").arg(r.console).arg(Q(s.name)));
        AddStepRow(r, s);
    };
    request.OnRecord = [this](const check::TCheckRecord& r) { AddResultRow(r); };

    ShowRunning(true);
    interrupt_ = false;
    status_->setText(all ? "Looking for consoles..." : "");
    testbench::TCheckSummary summary;
    std::string refused;
    try {
        summary = bench_.RunCheck(request);
    } catch (const testbench::ECheckRefused& e) {
        refused = std::string(e.what()) + "\nNothing was checked.";
    }
    ShowRunning(false);
    if (!refused.empty() || summary.noConsole) {
        status_->setText("");
        refuse(refused.empty() ? "No console is present." : refused);
    } else {
        status_->setText(QString("%1 of %2 consoles passed%3")
                             .arg(summary.passed)
                             .arg(summary.run.records.size())
                             .arg(summary.run.interrupted ? " (interrupted)" : ""));
        RefreshHistory();
        std::string notKept;
        for (const std::string& line : summary.notKept) notKept += line + "\n";
        if (!notKept.empty())
            UserMessages().MessageDlg("Not everything was kept:\n" + notKept,
                                      TMsgDlgType::mtError, mbOK);
    }
    if (closeAfterRun_) {
        closeAfterRun_ = false;
        close();
    }
}

void TProductionCheckWindow::AddStepRow(const check::TCheckRecord& r, const check::TStepResult& s) {
    AddCheckRow(*steps_,
           {QString::number(r.console), SerialText(r), Q(s.name), check::OutcomeText(s.outcome),
            Q(s.value), Q(s.limits), QString::number(s.ms), Q(s.message)},
           3, s.outcome);
    steps_->scrollToBottom();
}

void TProductionCheckWindow::AddResultRow(const check::TCheckRecord& r) {
    // Without a message of its own, a record that did not pass names the steps to look at.
    QString message = Q(r.message);
    if (message.isEmpty() && r.outcome != check::TOutcome::Pass)
        message = "not passed: " + Q(check::NotPassed(r, ", "));
    AddCheckRow(*results_, {QString::number(r.console), SerialText(r), check::OutcomeText(r.outcome), message},
           2, r.outcome);
}

void TProductionCheckWindow::RefreshHistory() {
    history_->Search();
}

void TProductionCheckWindow::showEvent(QShowEvent* event) {
    RefreshHistory();
    QWidget::showEvent(event);
}

void TProductionCheckWindow::closeEvent(QCloseEvent* event) {
    if (!running_) return QWidget::closeEvent(event);
    // The run is on the stack below: it ends at its next step and closes the window then.
    interrupt_ = true;
    closeAfterRun_ = true;
    event->ignore();
}

void ShowProductionCheckWindow(testbench::TTestBench& bench, QWidget* parent) {
    auto* window = parent->findChild<TProductionCheckWindow*>("ProductionCheckWindow");
    if (window == nullptr) window = new TProductionCheckWindow(bench, parent);
    window->show();
    window->raise();
    window->activateWindow();
}

}  // namespace wct
