// SPDX-License-Identifier: Apache-2.0
// TClickGuard: how the windows run their buttons' click handlers. A handler may wait
// with the event loop running, so a second click of the same button arrives inside the
// first: it is ignored until the first returns, and meanwhile the button looks busy
// (amber, with a busy cursor; its "busy" property is true). While a handler runs, Esc
// pressed in any window of the program goes to the window's escape handler first, so
// that a wait can be ended whichever window (a progress window, say) has the keyboard.
// A handler's failure is shown to the user rather than thrown through Qt.
#pragma once

#include <QPushButton>
#include <QString>
#include <functional>
#include <memory>
#include <set>

namespace wct {

class TClickGuard {
public:
    // `onEscape` says whether it took the Esc (a wait ended); an Esc it leaves goes on
    // to its window as usual (a message box closes).
    explicit TClickGuard(std::function<bool()> onEscape = nullptr);
    ~TClickGuard();
    TClickGuard(const TClickGuard&) = delete;
    TClickGuard& operator=(const TClickGuard&) = delete;

    void Run(QPushButton* button, const std::function<void()>& handler);
    // A handler is running (waiting, when this is asked from inside it).
    bool Running() const { return !running_.empty(); }

    // A new button named `caption` whose clicks run `handler` on `form` through Run.
    template <typename Form>
    QPushButton* Button(Form* form, const QString& caption, void (Form::*handler)()) {
        auto* button = new QPushButton(caption);
        button->setObjectName(caption);
        QObject::connect(button, &QPushButton::clicked, form, [this, form, button, handler] {
            Run(button, [form, handler] { (form->*handler)(); });
        });
        return button;
    }

private:
    class TEscapeFilter;

    std::set<QPushButton*> running_;
    std::unique_ptr<TEscapeFilter> escape_;  // installed while a handler runs
};

}  // namespace wct
