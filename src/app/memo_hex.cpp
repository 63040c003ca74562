#include "app/memo_hex.h"

#include <QFontDatabase>
#include <QScrollBar>

namespace wct {

TMemoHEX::TMemoHEX(QWidget* parent) : QPlainTextEdit(parent) {
    setReadOnly(true);
    // An undo history of appended lines would grow for as long as the bench runs.
    setUndoRedoEnabled(false);
    setLineWrapMode(QPlainTextEdit::NoWrap);
    setMaximumBlockCount(kMaxLinesShown);
    setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    flushTimer_.setSingleShot(true);
    flushTimer_.setInterval(kBatchMs);
    connect(&flushTimer_, &QTimer::timeout, this, [this] { Flush(); });
}

void TMemoHEX::Add(const std::string& line) {
    pending_.append(QString::fromStdString(line));
    // Lines that would scroll off before the next batch is drawn are never drawn.
    if (pending_.size() > kMaxLinesShown) pending_.removeFirst();
    lastLine_ = line;
    if (!flushTimer_.isActive()) flushTimer_.start();
    if (OnChange) OnChange();
}

QStringList TMemoHEX::Lines() {
    Flush();
    if (document()->isEmpty()) return {};
    return toPlainText().split('\n');
}

void TMemoHEX::Clear() {
    pending_.clear();
    flushTimer_.stop();
    lastLine_.clear();
    clear();
}

void TMemoHEX::Flush() {
    flushTimer_.stop();
    if (pending_.isEmpty()) return;
    // Follow the end only when the reader is there already.
    QScrollBar* bar = verticalScrollBar();
    const bool atEnd = bar->value() == bar->maximum();
    appendPlainText(pending_.join('\n'));
    pending_.clear();
    if (atEnd) bar->setValue(bar->maximum());
}

}  // namespace wct
