// SPDX-License-Identifier: Apache-2.0
// The small progress window the protocol shows while it searches for the dongle or for
// consoles. The core drives this interface; the app gives it a real window, the CLI
// prints it, and the plain implementation only keeps its state.
#pragma once

#include <functional>
#include <memory>
#include <string>

namespace wct {

class TMiraProgressBar {
public:
    virtual ~TMiraProgressBar() = default;

    // Brings the window to the front and shows it, only when DisplayFlag is set.
    virtual void Show() = 0;
    virtual void Close() = 0;
    virtual void SetText(const std::string& text) = 0;
    virtual void SetPosition(int position) = 0;
    virtual void SetMax(int max) = 0;
    virtual int Position() const = 0;
    virtual int Max() const = 0;

    bool DisplayFlag() const { return displayFlag_; }
    void SetDisplayFlag(bool value) { displayFlag_ = value; }

private:
    bool displayFlag_ = false;
};

// Keeps the window's state without showing anything: range 0 to 100, position 100.
class TPlainProgressBar : public TMiraProgressBar {
public:
    void Show() override { shown_ = DisplayFlag(); }
    void Close() override { shown_ = false; }
    void SetText(const std::string& text) override { text_ = text; }
    void SetPosition(int position) override { position_ = position; }
    void SetMax(int max) override { max_ = max; }
    int Position() const override { return position_; }
    int Max() const override { return max_; }

    const std::string& Text() const { return text_; }
    bool Shown() const { return shown_; }

private:
    std::string text_ = "TMiraProgressBar";
    int position_ = 100;
    int max_ = 100;
    bool shown_ = false;
};

using TProgressBarFactory = std::function<std::unique_ptr<TMiraProgressBar>()>;

// How the protocol makes its progress windows; an empty factory restores the plain one.
void SetProgressBarFactory(TProgressBarFactory factory);
std::unique_ptr<TMiraProgressBar> CreateProgressBar();

}  // namespace wct
