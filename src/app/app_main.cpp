// SPDX-License-Identifier: Apache-2.0
// wirelessconsoletest: the bench's window.
#include <QApplication>
#include <QIcon>
#include <QMessageBox>
#include <csignal>
#include <iostream>
#include <string>

#include "app/application.h"
#include "app/qt_main_thread.h"
#include "app/qt_user_messages.h"
#include "app/trace_log.h"

namespace {

constexpr const char* kHelp =
    "wirelessconsoletest: the test bench for wireless training consoles\n"
    "usage: wirelessconsoletest [--simulate] [--port PATH] [--charts] [Qt options]\n"
    "  --simulate    run on the built-in dongle simulator\n"
    "  --port PATH   the port chosen at the start, beside the machine's own\n"
    "  --charts      open the live charts beside the main window\n"
    "  -h, --help    print this help and exit\n"
    "  --version     print the version and exit\n";

}  // namespace

int main(int argc, char** argv) {
    // Answered before Qt starts, so that they work without a display.
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::cout << kHelp;
            return 0;
        }
        if (arg == "--version") {
            std::cout << "wirelessconsoletest " WCT_VERSION "\n";
            return 0;
        }
    }
    // Installed, the executable's folder is the system's: the log goes to the user's
    // state folder from the start.
    if (wct::ExecutableDirectory().rfind(WCT_BUILD_TREE, 0) != 0) wct::LogToStateDirectory();
    // A vanished device must fail the write, not end the process.
    std::signal(SIGPIPE, SIG_IGN);
    QApplication app(argc, argv);
    QCoreApplication::setApplicationName("WirelessConsoleTest");
    // Built in, so that every window shows it wherever the program runs from.
    QApplication::setWindowIcon(QIcon(":/icons/wirelessconsoletest.png"));

    wct::TAppOptions options;
    try {
        std::vector<std::string> args;
        for (const QString& arg : QCoreApplication::arguments().mid(1))
            args.push_back(arg.toStdString());
        options = wct::ParseAppOptions(args);
    } catch (const std::invalid_argument& e) {
        std::cerr << "wirelessconsoletest: " << e.what() << " (usage: " << wct::kAppUsage
                  << "; see 'wirelessconsoletest --help')\n";
        return 2;
    }

    wct::TQtMainThread mainThread;
    wct::SetMainThread(&mainThread);
    wct::TQtUserMessages messages;
    wct::SetUserMessages(&messages);
    int result;
    try {
        wct::TBenchApp bench(options);
        bench.Show();
        result = QApplication::exec();
    } catch (const std::exception& e) {
        std::cerr << "wirelessconsoletest: " << e.what() << '\n';
        QMessageBox::critical(nullptr, QCoreApplication::applicationName(), e.what());
        result = 1;
    }
    wct::SetUserMessages(nullptr);
    wct::SetMainThread(nullptr);
    return result;
}
