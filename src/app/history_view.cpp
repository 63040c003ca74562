// SPDX-License-Identifier: Apache-2.0
#include "app/history_view.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>
#include <filesystem>

#include "app/check_tables.h"
#include "central/central_history.h"

namespace wct {

THistoryView::THistoryView(std::string path, QWidget* parent)
    : QGroupBox("History", parent), path_(std::move(path)) {
    setObjectName("HistoryView");
    serial_ = new QLineEdit;
    serial_->setObjectName("SerialSearch");
    serial_->setPlaceholderText("serial number, empty for all");
    connect(serial_, &QLineEdit::returnPressed, this, [this] { Search(); });
    auto* search = new QPushButton("Search");
    search->setObjectName("Search");
    connect(search, &QPushButton::clicked, this, [this] { Search(); });
    newer_ = new QPushButton("< Newer");
    newer_->setObjectName("Newer");
    connect(newer_, &QPushButton::clicked, this, [this] { Newer(); });
    older_ = new QPushButton("Older >");
    older_->setObjectName("Older");
    connect(older_, &QPushButton::clicked, this, [this] { Older(); });
    position_ = new QLabel;
    position_->setObjectName("HistoryPosition");
    problem_ = new QLabel;
    problem_->setObjectName("HistoryProblem");
    problem_->setWordWrap(true);
    problem_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    problem_->hide();
    table_ = CheckTable("History", {"Started (UTC)", "Serial", "Console", "Outcome",
                                    "Not passed", "Station", "Operator"});

    auto* row = new QHBoxLayout;
    row->addWidget(new QLabel("Serial"));
    row->addWidget(serial_, 1);
    row->addWidget(search);
    row->addSpacing(12);
    row->addWidget(newer_);
    row->addWidget(position_);
    row->addWidget(older_);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(row);
    layout->addWidget(problem_);
    layout->addWidget(table_, 1);
    newer_->setEnabled(false);
    older_->setEnabled(false);

    worker_ = std::thread([this] { Work(); });
}

THistoryView::~THistoryView() {
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    wake_.notify_one();
    worker_.join();
}

void THistoryView::Search() {
    const QString serial = serial_->text().trimmed();
    check::THistoryFilter filter;
    if (!serial.isEmpty()) {
        bool ok = false;
        filter.serial = serial.toInt(&ok);
        if (!ok) {
            shown_ = ++asked_;  // a page on its way is no answer to this
            position_->clear();
            table_->setRowCount(0);
            ShowProblem("'" + serial + "' is no serial number.", false);
            return;
        }
    }
    filter_ = filter;
    starts_ = {std::nullopt};
    Ask(std::nullopt);
}

void THistoryView::Older() {
    if (Searching() || !next_) return;
    starts_.push_back(next_);
    Ask(next_);
}

void THistoryView::Newer() {
    if (Searching() || starts_.size() < 2) return;
    starts_.pop_back();
    Ask(starts_.back());
}

void THistoryView::Ask(std::optional<check::THistoryKey> after) {
    {
        std::lock_guard lock(mutex_);
        request_ = TRequest{++asked_, path_, filter_, std::move(after)};
    }
    wake_.notify_one();
    position_->setText("Searching...");
    newer_->setEnabled(false);
    older_->setEnabled(false);
}

void THistoryView::Work() {
    for (;;) {
        TRequest request;
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [this] { return stop_ || request_; });
            if (stop_) return;
            request = std::move(*request_);
            request_.reset();
        }
        TAnswer answer = Read(request);
        // Dropped with the view: the view joins this thread before it goes.
        QMetaObject::invokeMethod(
            this, [this, generation = request.generation,
                   answer = std::move(answer)] { Show(generation, answer); },
            Qt::QueuedConnection);
    }
}

THistoryView::TAnswer THistoryView::Read(const TRequest& request) {
    TAnswer answer;
    try {
        if (central::IsCentralUrl(request.path)) {
            // One connection while it works; a lost one is made again for the next page.
            if (!central_ || centralUrl_ != request.path) {
                central_.reset();
                central_ = std::make_unique<central::TCentralHistory>(
                    request.path, central::TCentralHistory::TAccess::Read);
                centralUrl_ = request.path;
            }
            answer.page = central_->FindPage(request.filter, request.after, kPageSize);
            return answer;
        }
        std::error_code error;
        if (!std::filesystem::exists(request.path, error)) {
            answer.missing = true;
            return answer;
        }
        const check::TCheckHistory history(request.path, check::TCheckHistory::TAccess::Read);
        answer.page = history.FindPage(request.filter, request.after, kPageSize);
    } catch (const std::exception& e) {
        central_.reset();
        answer.problem = e.what();
    }
    return answer;
}

void THistoryView::Show(unsigned generation, const TAnswer& answer) {
    if (generation != asked_) return;  // a newer search is on its way
    shown_ = generation;
    table_->setRowCount(0);
    next_ = answer.page.next;
    const bool first = starts_.size() <= 1;
    newer_->setEnabled(!first);
    older_->setEnabled(next_.has_value());
    if (answer.missing) {
        position_->clear();
        return ShowProblem("No check has been recorded yet (" + Q(path_) + ").", false);
    }
    if (!answer.problem.empty()) {
        position_->clear();
        return ShowProblem("The history cannot be read: " + Q(answer.problem), true);
    }
    const auto& records = answer.page.records;
    const size_t from = (starts_.size() - 1) * kPageSize;
    if (records.empty()) {
        position_->clear();
        return ShowProblem(filter_.serial ? QString("No record of serial %1.").arg(*filter_.serial)
                                          : QString("No check has been recorded yet."),
                           false);
    }
    problem_->hide();
    position_->setText(QString("%1 to %2").arg(from + 1).arg(from + records.size()));
    table_->setUpdatesEnabled(false);
    for (const check::TCheckRecord& r : records)
        AddCheckRow(*table_,
                    {Q(r.started), SerialText(r), QString::number(r.console),
                     check::OutcomeText(r.outcome), Q(check::NotPassed(r, ", ")), Q(r.station),
                     Q(r.operatorName)},
                    3, r.outcome);
    table_->setUpdatesEnabled(true);
}

void THistoryView::ShowProblem(const QString& text, bool trouble) {
    problem_->setText(text);
    problem_->setStyleSheet(trouble ? "color: #c00000;" : "");
    problem_->show();
}

}  // namespace wct
