// wirelessconsoletest: the bench's window.
#include <QApplication>
#include <QMessageBox>
#include <csignal>
#include <iostream>

#include "app/application.h"
#include "app/qt_main_thread.h"
#include "app/qt_user_messages.h"

int main(int argc, char** argv) {
    // A vanished device must fail the write, not end the process.
    std::signal(SIGPIPE, SIG_IGN);
    QApplication app(argc, argv);
    QCoreApplication::setApplicationName("WirelessConsoleTest");

    wct::TAppOptions options;
    try {
        std::vector<std::string> args;
        for (const QString& arg : QCoreApplication::arguments().mid(1))
            args.push_back(arg.toStdString());
        options = wct::ParseAppOptions(args);
    } catch (const std::invalid_argument& e) {
        std::cerr << "wirelessconsoletest: " << e.what() << '\n' << wct::kAppUsage;
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
