// GUI test entry point: a QApplication on the offscreen platform (unless the caller chose
// one) with the Qt main-thread dispatcher installed, as the bench runs.
#include <gtest/gtest.h>

#include <QApplication>
#include <csignal>

#include "app/qt_main_thread.h"

int main(int argc, char** argv) {
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
