// SPDX-License-Identifier: Apache-2.0
// TMemoHEX: the trace memo. A read-only list of text lines that takes the protocol's
// trace lines (it is the protocol's DebugMemo) and the window's own.
//
// Every added line raises OnChange at once, in order, so the log file gets each line as
// it comes. The lines are kept in a ring of the newest kMaxLinesShown; the view learns of
// new ones in batches five times a second and paints only the rows in sight, so a trace
// at the full line rate costs the window little and its memory stays bounded. Once the
// ring is full the rows keep their places and show ever newer lines. LastLine
// and Lines see every line added, those not yet drawn included. Selected rows are copied
// with the usual copy key.
//
// The batches come with a frame clock: the memo's own, or one the window's other live
// views follow too (FollowClock), so that drawn in the same pass they cost one paint.
#pragma once

#include <QStringList>
#include <QTableView>
#include <QTimer>
#include <functional>
#include <memory>
#include <string>

#include "app/frame_clock.h"
#include "protocol/debug_memo.h"

namespace wct {

class TTraceLines;

class TMemoHEX : public QTableView, public TDebugMemo {
    Q_OBJECT

public:
    static constexpr int kMaxLinesShown = 20000;
    static constexpr int kBatchMs = TFrameClock::kFrameMs;

    explicit TMemoHEX(QWidget* parent = nullptr);
    ~TMemoHEX() override;

    void Add(const std::string& line) override;
    // The line added last ("" once cleared).
    const std::string& LastLine() const { return lastLine_; }
    // The lines kept, oldest first.
    QStringList Lines() const;
    // The rows the view holds now (the lines of the batches drawn so far).
    int RowsShown() const;
    void Clear();
    // Takes its batches with `clock`'s frames from now on.
    void FollowClock(TFrameClock& clock);

    std::function<void()> OnChange;

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void Flush();

    std::unique_ptr<TTraceLines> lines_;
    TFrameClock ownClock_;
    TFrameClock* clock_ = &ownClock_;
    std::string lastLine_;
};

}  // namespace wct
