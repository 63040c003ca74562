// SPDX-License-Identifier: Apache-2.0
// GUI test entry point: a QApplication on the offscreen platform (unless the caller chose
// one) with the Qt main-thread dispatcher installed, as the bench runs.
#include <gtest/gtest.h>

#include <QApplication>
#include <csignal>

#include "app/qt_main_thread.h"

namespace {

QtMessageHandler qtHandler = nullptr;

// The offscreen platform says for every window that it cannot raise or resize it.
void QuietOffscreen(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    if (text.startsWith("This plugin does not support")) return;
    qtHandler(type, context, text);
}

}  // namespace

int main(int argc, char** argv) {
    qtHandler = qInstallMessageHandler(QuietOffscreen);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    // A vanished simulator must fail the write, not end the tests.
    std::signal(SIGPIPE, SIG_IGN);
    QApplication app(argc, argv);
    QCoreApplication::setApplicationName("WirelessConsoleTest");
    wct::TQtMainThread dispatcher;
    wct::SetMainThread(&dispatcher);
    ::testing::InitGoogleTest(&argc, argv);
    const int result = RUN_ALL_TESTS();
    wct::SetMainThread(nullptr);
    return result;
}
