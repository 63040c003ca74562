// The window at full line rate: `wct-sim` (another process) streams measures from 32
// consoles at 31.25 per second each (about 1,000 measures frames/s, what 115200 bit/s
// carries) into the main window on the offscreen platform, with the trace memo visible
// and every line going to the log file. Prints the CPU this process spends as a share
// of one core, the longest stall of the main thread (how late a 10 ms timer fires) and
// the resident memory over the run.
//
//   window_bench [SECONDS]   (default 20)
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "support/process_usage.h"
#include "app/application.h"
#include "app/log_to_file.h"
#include "app/memo_hex.h"
#include "app/qt_main_thread.h"

using namespace wct;
using bench::CpuSeconds;
using bench::ResidentKiB;

namespace {

void Click(TForm1& form, const char* name) {
    form.findChild<QPushButton*>(name)->click();
}

}  // namespace

int main(int argc, char** argv) {
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 20;
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    std::signal(SIGPIPE, SIG_IGN);
    QApplication app(argc, argv);
    TQtMainThread mainThread;
    SetMainThread(&mainThread);
    QTemporaryDir logDir;
    SetExecutableDirectory(logDir.path().toStdString());

    int out[2];
    if (pipe(out) != 0) return 2;
    const pid_t sim = fork();
    if (sim == 0) {
        dup2(out[1], STDOUT_FILENO);
        execl(WCT_SIM, WCT_SIM, "dongle", "--consoles", "32", "--registered", "32", "--rate",
              "31.25", static_cast<char*>(nullptr));
        _exit(127);
    }
    close(out[1]);
    std::string path;
    char c;
    while (read(out[0], &c, 1) == 1 && c != '\n') path += c;

    int result = 0;
    {
        TBenchApp bench(TAppOptions{});
        TForm1& form = bench.Form1();
        form.SelectPort(path);
        form.show();
        Click(form, "Connect");
        if (!form.tmp().Connected()) {
            std::printf("no dongle on %s\n", path.c_str());
            result = 1;
        } else {
            Click(form, "Start Measure");
            long frames = 0;
            form.tmp().OnMeasuresReceived = [&, window = form.tmp().OnMeasuresReceived](
                                                const TMiraWirelessConsoleMeasures& val,
                                                uint8_t id) {
                ++frames;
                window(val, id);
            };
            // Settle, then measure.
            QElapsedTimer settle;
            settle.start();
            while (settle.elapsed() < 1000) mainThread.ProcessMessagesFor(50);
            frames = 0;
            const long rssStart = ResidentKiB();
            const double cpuStart = CpuSeconds();
            QElapsedTimer run, sinceTick;
            run.start();
            sinceTick.start();
            qint64 worstStall = 0;
            QTimer probe;
            probe.setTimerType(Qt::PreciseTimer);
            QObject::connect(&probe, &QTimer::timeout,
                             [&] { worstStall = std::max(worstStall, sinceTick.restart() - 10); });
            probe.start(10);
            long rssMax = rssStart;
            long rssThird = 0;
            while (run.elapsed() < seconds * 1000LL) {
                mainThread.ProcessMessagesFor(100);
                rssMax = std::max(rssMax, ResidentKiB());
                if (rssThird == 0 && run.elapsed() > seconds * 1000LL / 3) rssThird = ResidentKiB();
            }
            const double cpu = CpuSeconds() - cpuStart;
            const double wall = run.elapsed() / 1000.0;
            std::printf("%ld measures frames in %.1f s (%.0f/s), trace lines shown: %lld\n", frames,
                        wall, frames / wall, static_cast<long long>(form.TraceMemo().blockCount()));
            std::printf("CPU of this process: %.1f %% of one core, %.0f us per measures frame\n",
                        100 * cpu / wall, frames > 0 ? 1e6 * cpu / frames : 0.0);
            std::printf("longest main-thread stall: %lld ms\n", static_cast<long long>(worstStall));
            std::printf(
                "resident memory: %ld KiB at start, %ld KiB after a third, %ld KiB at most, "
                "%ld KiB at end\n",
                rssStart, rssThird, rssMax, ResidentKiB());
            Click(form, "Stop Measure");
        }
    }
    kill(sim, SIGTERM);
    waitpid(sim, nullptr, 0);
    SetMainThread(nullptr);
    return result;
}
