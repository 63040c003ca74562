// SPDX-License-Identifier: Apache-2.0
#include "app/progress_window.h"

#include <QGuiApplication>
#include <QLabel>
#include <QProgressBar>
#include <QScreen>
#include <QWidget>
#include <algorithm>

namespace wct {

TMiraProgressWindow::TMiraProgressWindow(QWidget* over)
    : over_(over),
      window_(std::make_unique<QWidget>(
          nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint)) {
    window_->setWindowTitle("TMiraProgressBar");
    window_->setObjectName("TMiraProgressBar");
    window_->setFixedSize(kWidth, kHeight);
    window_->setAttribute(Qt::WA_ShowWithoutActivating);
    // A frameless window needs an edge of its own to stand out from what is under it.
    window_->setStyleSheet("#TMiraProgressBar { border: 1px solid palette(dark); }");

    bar_ = new QProgressBar(window_.get());
    bar_->setRange(0, 100);
    bar_->setValue(100);
    bar_->setTextVisible(false);
    const int barWidth = kWidth - 16;
    const int barHeight = kHeight / 2;
    bar_->setGeometry((kWidth - barWidth) / 2, kHeight - barHeight, barWidth, barHeight);

    label_ = new QLabel("TMiraProgressBar", window_.get());
    label_->setGeometry(bar_->x(), 5, barWidth, kHeight - barHeight - 5);
    label_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
}

TMiraProgressWindow::~TMiraProgressWindow() = default;

void TMiraProgressWindow::Show() {
    if (!DisplayFlag()) return;
    QRect area(0, 0, kWidth, kHeight);
    if (QScreen* screen = QGuiApplication::primaryScreen()) area = screen->availableGeometry();
    if (QWidget* over = over_.data(); over != nullptr && over->isVisible())
        area = over->frameGeometry();
    window_->move(area.center() - QPoint(kWidth / 2, kHeight / 2));
    window_->show();
    window_->raise();
}

void TMiraProgressWindow::Close() {
    window_->hide();
}

void TMiraProgressWindow::SetText(const std::string& text) {
    label_->setText(QString::fromStdString(text));
}

// Like a native progress control, the position stays within 0 and the maximum.
void TMiraProgressWindow::SetPosition(int position) {
    bar_->setValue(std::clamp(position, 0, bar_->maximum()));
}

void TMiraProgressWindow::SetMax(int max) {
    const int position = std::min(bar_->value(), max);
    bar_->setMaximum(max);
    bar_->setValue(position);
}

int TMiraProgressWindow::Position() const {
    return bar_->value();
}

int TMiraProgressWindow::Max() const {
    return bar_->maximum();
}

}  // namespace wct
