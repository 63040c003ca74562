// SPDX-License-Identifier: Apache-2.0
// The window at the line's limit, side by side with `wct`: for each run `wct-sim` (another
// process) streams measures from 32 consoles at 32 per second each (1,024 measures
// frames/s, what 115200 bit/s carries) and one client takes them:
//
//   trace   the main window, trace memo shown, every line to the log file
//   nodata  the same with "No data messages" ticked
//   charts  the same as trace, with the live charts open
//   wct     `wct --trace FILE measure`, its output read and dropped
//
// For each it prints the client's CPU as a share of one core, per measures frame, and its
// resident memory over the run; then, for the window, the longest stall of its main thread
// (how late a 10 ms timer fires) over a further half as long. The window runs on the
// platform QT_QPA_PLATFORM names (offscreen when unset; `xvfb-run -a env
// QT_QPA_PLATFORM=xcb window_bench` for an X server).
//
//   window_bench [SECONDS] [RUN...]   (default 20 seconds, every run)
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

#include "app/application.h"
#include "app/log_to_file.h"
#include "app/memo_hex.h"
#include "app/qt_main_thread.h"
#include "support/process_usage.h"

using namespace wct;
using bench::CpuSeconds;
using bench::ResidentKiB;

namespace {

struct TFigures {
    long frames = 0;
    double wall = 0;
    double cpu = 0;
    qint64 worstStall = -1;  // -1: not measured
    long rssStart = 0, rssMax = 0, rssEnd = 0;
};

// The stall probe runs after the CPU run: half as long, 5 s to 60 s.
int StallSeconds(int seconds) {
    return std::clamp(seconds / 2, 5, 60);
}

struct TChild {
    pid_t pid = -1;
    int out = -1;  // its stdout
};

TChild Spawn(std::vector<std::string> args) {
    int out[2];
    if (pipe(out) != 0) return {};
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(out[1], STDOUT_FILENO);
        close(out[0]);
        std::vector<char*> argv;
        for (std::string& arg : args) argv.push_back(arg.data());
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(out[1]);
    return {pid, out[0]};
}

void Stop(const TChild& child) {
    kill(child.pid, SIGTERM);
    waitpid(child.pid, nullptr, 0);
    close(child.out);
}

std::string ReadLine(int fd) {
    std::string line;
    char c;
    while (read(fd, &c, 1) == 1 && c != '\n') line += c;
    return line;
}

TChild StartSimulator(std::string& port) {
    const TChild sim =
        Spawn({WCT_SIM, "dongle", "--consoles", "32", "--registered", "32", "--rate", "32"});
    port = ReadLine(sim.out);
    return sim;
}

// CPU seconds of every thread of another process.
double CpuSecondsOf(pid_t pid) {
    double total = 0;
    const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
    for (const auto& task : std::filesystem::directory_iterator(tasks)) {
        std::ifstream file(task.path() / "schedstat");
        unsigned long long ns = 0;
        if (file >> ns) total += static_cast<double>(ns) / 1e9;
    }
    return total;
}

TFigures RunWindow(const std::string& run, int seconds, TQtMainThread& mainThread) {
    TFigures f;
    std::string port;
    const TChild sim = StartSimulator(port);
    {
        TBenchApp bench(TAppOptions{});
        TForm1& form = bench.Form1();
        form.SelectPort(port);
        form.show();
        form.findChild<QPushButton*>("Connect")->click();
        if (!form.tmp().Connected()) {
            std::printf("%s: no dongle on %s\n", run.c_str(), port.c_str());
            Stop(sim);
            return f;
        }
        if (run == "nodata") form.findChild<QCheckBox*>("No data messages")->click();
        if (run == "charts") form.ShowLiveCharts();
        form.findChild<QPushButton*>("Start Measure")->click();
        form.tmp().OnMeasuresReceived = [&, window = form.tmp().OnMeasuresReceived](
                                            const TMiraWirelessConsoleMeasures& val, uint8_t id) {
            ++f.frames;
            window(val, id);
        };
        // Settle, then measure.
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < 1000) mainThread.ProcessMessagesFor(50);
        // The application's own loop, as in the program: a loop of ProcessMessagesFor would
        // add a timer to every pass.
        const auto runFor = [](int ms) {
            QEventLoop loop;
            QTimer::singleShot(ms, &loop, &QEventLoop::quit);
            loop.exec();
        };
        // CPU and memory first, with nothing of the benchmark's waking the main thread but a
        // memory reading once a second (told once a minute).
        f.frames = 0;
        f.rssStart = f.rssMax = ResidentKiB();
        const double cpuStart = CpuSeconds();
        clock.restart();
        std::vector<long> minutes;
        QTimer memory;
        QObject::connect(&memory, &QTimer::timeout, [&] {
            const long kib = ResidentKiB();
            f.rssMax = std::max(f.rssMax, kib);
            if (clock.elapsed() >= static_cast<qint64>(minutes.size() + 1) * 60000)
                minutes.push_back(kib);
        });
        memory.start(1000);
        runFor(seconds * 1000);
        f.cpu = CpuSeconds() - cpuStart;
        f.wall = clock.elapsed() / 1000.0;
        f.rssEnd = ResidentKiB();
        memory.stop();
        const long frames = f.frames;
        if (!minutes.empty()) {
            std::printf("%s: KiB resident after each minute:", run.c_str());
            for (long kib : minutes) std::printf(" %ld", kib);
            std::printf("\n");
        }
        // Then the stalls: how late a 10 ms timer fires. It wakes the main thread 100 times a
        // second, which would count in the CPU above.
        QElapsedTimer sinceTick;
        sinceTick.start();
        f.worstStall = 0;
        QTimer probe;
        probe.setTimerType(Qt::PreciseTimer);
        QObject::connect(&probe, &QTimer::timeout,
                         [&] { f.worstStall = std::max(f.worstStall, sinceTick.restart() - 10); });
        probe.start(10);
        runFor(StallSeconds(seconds) * 1000);
        f.frames = frames;
        form.findChild<QPushButton*>("Stop Measure")->click();
    }
    Stop(sim);
    return f;
}

TFigures RunCli(int seconds, const std::string& traceFile) {
    TFigures f;
    std::string port;
    const TChild sim = StartSimulator(port);
    const TChild wct = Spawn({WCT, "--port", port, "--trace", traceFile, "measure", "--seconds",
                              std::to_string(seconds + 30)});
    // Its first measures line, then a second to settle.
    ReadLine(wct.out);
    QElapsedTimer clock;
    clock.start();
    char buffer[65536];
    const auto drain = [&](qint64 until, bool count) {
        while (clock.elapsed() < until) {
            const ssize_t n = read(wct.out, buffer, sizeof buffer);
            if (n <= 0) return;
            if (count)
                for (ssize_t i = 0; i < n; ++i) f.frames += buffer[i] == '\n';
        }
    };
    drain(1000, false);
    const double cpuStart = CpuSecondsOf(wct.pid);
    clock.restart();
    drain(seconds * 1000LL, true);
    f.cpu = CpuSecondsOf(wct.pid) - cpuStart;
    f.wall = clock.elapsed() / 1000.0;
    Stop(wct);
    Stop(sim);
    return f;
}

}  // namespace

int main(int argc, char** argv) {
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 20;
    std::vector<std::string> runs(argv + std::min(argc, 2), argv + argc);
    if (runs.empty()) runs = {"trace", "nodata", "charts", "wct"};
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    std::signal(SIGPIPE, SIG_IGN);
    QApplication app(argc, argv);
    TQtMainThread mainThread;
    SetMainThread(&mainThread);
    QTemporaryDir logDir;
    SetExecutableDirectory(logDir.path().toStdString());

    std::printf("%d s a run, platform %s\n", seconds, qPrintable(QGuiApplication::platformName()));
    std::printf("%-7s %8s %7s %9s %7s %22s\n", "run", "frames/s", "CPU %", "us/frame", "stall",
                "RSS KiB start/max/end");
    int result = 0;
    for (const std::string& run : runs) {
        const TFigures f = run == "wct"
                               ? RunCli(seconds, logDir.filePath("wct-trace.log").toStdString())
                               : RunWindow(run, seconds, mainThread);
        if (f.frames == 0) {
            std::printf("%-7s no measures\n", run.c_str());
            result = 1;
            continue;
        }
        const std::string stall = f.worstStall < 0 ? "-" : std::to_string(f.worstStall) + " ms";
        const std::string rss = f.rssStart == 0
                                    ? "-"
                                    : std::to_string(f.rssStart) + "/" + std::to_string(f.rssMax) +
                                          "/" + std::to_string(f.rssEnd);
        std::printf("%-7s %8.0f %7.2f %9.1f %7s %22s\n", run.c_str(), f.frames / f.wall,
                    100 * f.cpu / f.wall, 1e6 * f.cpu / static_cast<double>(f.frames),
                    stall.c_str(), rss.c_str());
        std::fflush(stdout);
    }
    SetMainThread(nullptr);
    return result;
}
