// SPDX-License-Identifier: Apache-2.0
#include "app/click_guard.h"

#include <QCoreApplication>
#include <QKeyEvent>
#include <QPalette>
#include <exception>

#include "common/user_messages.h"

namespace wct {
namespace {

// Marks `button` busy for its lifetime; a button that never waits is restored before
// anything repaints it.
class TBusyLook {
public:
    explicit TBusyLook(QPushButton* button) : button_(button), palette_(button->palette()) {
        QPalette busy = palette_;
        busy.setColor(QPalette::Button, QColor(0xF6, 0xC3, 0x44));
        button_->setPalette(busy);
        button_->setCursor(Qt::BusyCursor);
        button_->setProperty("busy", true);
    }
    ~TBusyLook() {
        button_->setProperty("busy", false);
        button_->unsetCursor();
        button_->setPalette(palette_);
    }
    TBusyLook(const TBusyLook&) = delete;
    TBusyLook& operator=(const TBusyLook&) = delete;

private:
    QPushButton* button_;
    QPalette palette_;
};

}  // namespace

class TClickGuard::TEscapeFilter : public QObject {
public:
    explicit TEscapeFilter(std::function<bool()> onEscape) : onEscape_(std::move(onEscape)) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::KeyPress &&
            static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape && onEscape_())
            return true;
        return QObject::eventFilter(watched, event);
    }

private:
    std::function<bool()> onEscape_;
};

TClickGuard::TClickGuard(std::function<bool()> onEscape) {
    if (onEscape) escape_ = std::make_unique<TEscapeFilter>(std::move(onEscape));
}

TClickGuard::~TClickGuard() = default;

void TClickGuard::Run(QPushButton* button, const std::function<void()>& handler) {
    if (!running_.insert(button).second) return;
    if (escape_ && running_.size() == 1)
        QCoreApplication::instance()->installEventFilter(escape_.get());
    std::exception_ptr failure;
    {
        TBusyLook look(button);
        try {
            handler();
        } catch (const std::exception&) {
            failure = std::current_exception();
        }
    }
    running_.erase(button);
    if (escape_ && running_.empty()) QCoreApplication::instance()->removeEventFilter(escape_.get());
    // Shown once the handler is over: an Esc in the message box closes it.
    if (failure) {
        try {
            std::rethrow_exception(failure);
        } catch (const std::exception& e) {
            UserMessages().ShowException(e);
        }
    }
}

}  // namespace wct
