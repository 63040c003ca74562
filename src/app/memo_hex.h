// TMemoHEX: the trace memo. A read-only, non-wrapping text view that takes the
// protocol's trace lines (it is the protocol's DebugMemo) and the window's own.
//
// Every added line raises OnChange at once, in order, so the log file gets each line
// as it comes. The screen is updated in batches a few times a second and keeps only the
// newest kMaxLinesShown lines, so a connection test at the full line rate neither slows
// the window nor fills the memory; LastLine and Lines see every line added.
#pragma once

#include <QPlainTextEdit>
#include <QStringList>
#include <QTimer>
#include <functional>
#include <string>

#include "protocol/debug_memo.h"

namespace wct {

class TMemoHEX : public QPlainTextEdit, public TDebugMemo {
    Q_OBJECT

public:
    static constexpr int kMaxLinesShown = 20000;
    static constexpr int kBatchMs = 40;

    explicit TMemoHEX(QWidget* parent = nullptr);

    void Add(const std::string& line) override;
    // The line added last ("" once cleared).
    const std::string& LastLine() const { return lastLine_; }
    // The lines kept for the screen, those not yet drawn included.
    QStringList Lines();
    void Clear();

    std::function<void()> OnChange;

private:
    void Flush();

    QStringList pending_;
    QTimer flushTimer_;
    std::string lastLine_;
};

}  // namespace wct
