// SPDX-License-Identifier: Apache-2.0
#include "app/memo_hex.h"

#include <QAbstractListModel>
#include <QApplication>
#include <QClipboard>
#include <QFontDatabase>
#include <QHeaderView>
#include <QKeyEvent>
#include <QScrollBar>
#include <algorithm>
#include <deque>

#include "app/plain_text_delegate.h"

namespace wct {

// The ring of kept lines, and the part of it the view has been told of. Lines are added
// at once; the view hears of them, and of the oldest ones dropped, only at Publish, so
// its layout runs once a batch rather than once a line.
class TTraceLines : public QAbstractListModel {
public:
    void Add(const std::string& line) {
        lines_.push_back(line);
        if (lines_.size() > static_cast<size_t>(TMemoHEX::kMaxLinesShown)) {
            lines_.pop_front();
            ++dropped_;
        }
    }

    void Publish() {
        if (shownCount_ == TMemoHEX::kMaxLinesShown &&
            lines_.size() == static_cast<size_t>(TMemoHEX::kMaxLinesShown)) {
            // Full: the rows stay and show the newest lines, so the view lays out nothing
            // again and its scroll bar stays as it is; it repaints the rows in sight.
            shownFirst_ = dropped_;
            emit dataChanged(index(0), index(shownCount_ - 1), {Qt::DisplayRole});
            return;
        }
        // Rows the view holds whose lines the ring has dropped meanwhile.
        const long long gone = std::min<long long>(dropped_ - shownFirst_, shownCount_);
        if (gone > 0) {
            beginRemoveRows({}, 0, static_cast<int>(gone - 1));
            shownFirst_ += gone;
            shownCount_ -= static_cast<int>(gone);
            endRemoveRows();
        }
        if (shownCount_ == 0) shownFirst_ = dropped_;
        const auto added = static_cast<int>(dropped_ + static_cast<long long>(lines_.size()) -
                                            shownFirst_ - shownCount_);
        if (added > 0) {
            beginInsertRows({}, shownCount_, shownCount_ + added - 1);
            shownCount_ += added;
            endInsertRows();
        }
    }

    void Clear() {
        beginResetModel();
        lines_.clear();
        dropped_ = shownFirst_ = 0;
        shownCount_ = 0;
        endResetModel();
    }

    QStringList Lines() const {
        QStringList all;
        all.reserve(static_cast<qsizetype>(lines_.size()));
        for (const std::string& line : lines_) all.append(QString::fromStdString(line));
        return all;
    }

    int rowCount(const QModelIndex& parent) const override {
        return parent.isValid() ? 0 : shownCount_;
    }

    QVariant data(const QModelIndex& index, int role) const override {
        if (role != Qt::DisplayRole) return {};
        // A row whose line was dropped since the last batch reads empty until then.
        const long long at = shownFirst_ + index.row() - dropped_;
        if (at < 0 || at >= static_cast<long long>(lines_.size())) return {};
        return QString::fromStdString(lines_[static_cast<size_t>(at)]);
    }

private:
    std::deque<std::string> lines_;
    long long dropped_ = 0;     // lines dropped from the front since the last Clear
    long long shownFirst_ = 0;  // the line of the view's row 0, counted as dropped_ is
    int shownCount_ = 0;        // rows the view holds
};

TMemoHEX::TMemoHEX(QWidget* parent) : QTableView(parent) {
    setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    // One column of rows of one fixed height: the view places rows by arithmetic and
    // paints only those in sight, however many lines it holds. Wide enough for the
    // longest frame's trace line, so the view scrolls sideways.
    lines_ = std::make_unique<TTraceLines>();
    setModel(lines_.get());
    const QFontMetrics metrics(font());
    horizontalHeader()->hide();
    verticalHeader()->hide();
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setMinimumSectionSize(metrics.height());
    verticalHeader()->setDefaultSectionSize(metrics.height());
    setColumnWidth(0, metrics.horizontalAdvance(QString(240, 'W')));
    setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    setShowGrid(false);
    setAutoFillBackground(true);
    setItemDelegate(new TPlainTextDelegate(this));
    setWordWrap(false);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    ownClock_.Follow(this, [this] { Flush(); });
}

TMemoHEX::~TMemoHEX() {
    setModel(nullptr);
}

void TMemoHEX::Add(const std::string& line) {
    lines_->Add(line);
    lastLine_ = line;
    clock_->Request();
    if (OnChange) OnChange();
}

void TMemoHEX::FollowClock(TFrameClock& clock) {
    clock_ = &clock;
    clock.Follow(this, [this] { Flush(); });
}

QStringList TMemoHEX::Lines() const {
    return lines_->Lines();
}

int TMemoHEX::RowsShown() const {
    return lines_->rowCount({});
}

void TMemoHEX::Clear() {
    lastLine_.clear();
    lines_->Clear();
}

void TMemoHEX::Flush() {
    // Follow the end only when the reader is there already.
    const QScrollBar* bar = verticalScrollBar();
    const bool atEnd = bar->value() == bar->maximum();
    lines_->Publish();
    if (atEnd) scrollToBottom();
}

void TMemoHEX::keyPressEvent(QKeyEvent* event) {
    if (!event->matches(QKeySequence::Copy)) {
        QTableView::keyPressEvent(event);
        return;
    }
    QModelIndexList rows = selectionModel()->selectedRows();
    std::sort(rows.begin(), rows.end());
    QStringList text;
    for (const QModelIndex& row : rows) text.append(row.data().toString());
    QApplication::clipboard()->setText(text.join('\n'));
}

}  // namespace wct
