// SPDX-License-Identifier: Apache-2.0
#include "app/qt_main_thread.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QThread>
#include <QTimer>

#include "common/tick_count.h"
#include "common/user_messages.h"

namespace wct {

TQtMainThread::TQtMainThread() {
    context_.moveToThread(QCoreApplication::instance()->thread());
}

bool TQtMainThread::IsMainThread() const {
    return QThread::currentThread() == context_.thread();
}

void TQtMainThread::ProcessMessagesFor(uint32_t ms) {
    // WaitForMoreEvents returns at once when something is pending and otherwise sleeps
    // until an event arrives; the single-shot timer bounds that sleep.
    bool timedOut = false;
    QTimer limit;
    limit.setSingleShot(true);
    limit.setTimerType(Qt::PreciseTimer);
    QObject::connect(&limit, &QTimer::timeout, [&timedOut] { timedOut = true; });
    limit.start(TickSource().WaitSlice(ms));
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    if (timedOut) TickSource().Idle();
}

void TQtMainThread::Post(std::function<void()> work) {
    QMetaObject::invokeMethod(
        &context_,
        [work = std::move(work)] {
            // Nobody waits for a posted call: its failure goes to the application's
            // exception display, as an event handler's would, not through Qt's loop.
            try {
                work();
            } catch (const std::exception& e) {
                UserMessages().ShowException(e);
            }
        },
        Qt::QueuedConnection);
}

void TQtMainThread::Wake() {
    if (QAbstractEventDispatcher* dispatcher =
            QAbstractEventDispatcher::instance(context_.thread()))
        dispatcher->wakeUp();
}

}  // namespace wct
