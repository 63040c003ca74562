// SPDX-License-Identifier: Apache-2.0
// THistoryView: the production check's history, page by page, newest first, searched by
// serial. The history is the bench's file or a line's central one (a postgresql:// URL).
// Each page is read on a worker thread with its own read-only connection to the history
// (the file opened afresh for each page; the central history's connection kept while it
// works), so a history of a million records never holds the window: the view shows
// "Searching..." meanwhile and takes the page when it comes. A search asked while one
// runs replaces it; only the page of the newest search is shown. A history that cannot
// be read says why in the view, in place of the records; none written yet says so.
//
// Main thread only. The worker is joined when the view is destroyed; a page it finished
// meanwhile is dropped.
#pragma once

#include <QGroupBox>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "check/check_history.h"

class QLabel;
class QLineEdit;
class QPushButton;
class QTableWidget;

namespace wct {
namespace central {
class TCentralHistory;
}

class THistoryView : public QGroupBox {
public:
    // `path`: the history file, or a postgresql:// URL.
    explicit THistoryView(std::string path, QWidget* parent = nullptr);
    ~THistoryView() override;

    static constexpr size_t kPageSize = 100;

    // Searches again from the newest page with the serial field's text.
    void Search();
    // Reads another history from the next search on.
    void SetPath(std::string path) { path_ = std::move(path); }
    const std::string& Path() const { return path_; }
    // A search is running; its page is not shown yet.
    bool Searching() const { return asked_ != shown_; }

private:
    struct TRequest {
        unsigned generation = 0;
        std::string path;
        check::THistoryFilter filter;
        std::optional<check::THistoryKey> after;
    };
    struct TAnswer {
        check::THistoryPage page;
        std::string problem;  // why the history could not be read
        bool missing = false;  // no history written yet
    };

    void Ask(std::optional<check::THistoryKey> after);
    void Older();
    void Newer();
    void Show(unsigned generation, const TAnswer& answer);
    void ShowProblem(const QString& text, bool trouble);
    void Work();
    // On the worker: the page `request` asks for.
    TAnswer Read(const TRequest& request);

    std::string path_;  // main thread; each request carries it to the worker
    QLineEdit* serial_ = nullptr;
    QPushButton* newer_ = nullptr;
    QPushButton* older_ = nullptr;
    QLabel* position_ = nullptr;
    QLabel* problem_ = nullptr;
    QTableWidget* table_ = nullptr;

    // Main thread: the filter shown, and where each page up to the one shown starts.
    check::THistoryFilter filter_;
    std::vector<std::optional<check::THistoryKey>> starts_;
    std::optional<check::THistoryKey> next_;  // of the page shown
    unsigned asked_ = 0;  // generation of the newest request
    unsigned shown_ = 0;  // generation of the page shown

    std::mutex mutex_;  // protects request_ and stop_
    std::condition_variable wake_;
    std::optional<TRequest> request_;  // the newest request not yet taken by the worker
    bool stop_ = false;
    // The worker's only: the central history it reads, while it works.
    std::unique_ptr<central::TCentralHistory> central_;
    std::string centralUrl_;
    std::thread worker_;
};

}  // namespace wct
