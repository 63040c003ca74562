// SPDX-License-Identifier: Apache-2.0
// TMiraProgressBar as a window: a small frameless window that stays on top, centred over
// the main window while the protocol searches for the dongle or for consoles. It holds a
// label and, under it along the bottom edge, a progress bar.
#pragma once

#include <QPointer>
#include <memory>

#include "protocol/progress_bar.h"

class QLabel;
class QProgressBar;
class QWidget;

namespace wct {

class TMiraProgressWindow : public TMiraProgressBar {
public:
    static constexpr int kWidth = 377;
    static constexpr int kHeight = 50;

    // `over`: the window to centre on (may be null: the screen's centre).
    explicit TMiraProgressWindow(QWidget* over);
    ~TMiraProgressWindow() override;

    void Show() override;
    void Close() override;
    void SetText(const std::string& text) override;
    void SetPosition(int position) override;
    void SetMax(int max) override;
    int Position() const override;
    int Max() const override;

    QWidget& Window() { return *window_; }

private:
    QPointer<QWidget> over_;
    std::unique_ptr<QWidget> window_;
    QLabel* label_;
    QProgressBar* bar_;
};

}  // namespace wct
