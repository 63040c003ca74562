// SPDX-License-Identifier: Apache-2.0
// Soak run: a simulated dongle with 32 consoles streams measures at (a little over) the
// full 115200 bit/s line rate through a pseudo-terminal into TMiraWirelessProtocol for N
// minutes (default 30), with the trace on and every trace line appended to a log file, as
// the window does.
//
//   soak_bench [MINUTES] [LOG_FILE]
//
// Reports measures frames sent by the dongle against those decoded (OnMeasuresReceived),
// trace lines against log-file lines, the CPU share of this process, its resident memory
// at start and end, and the worst delay of a message posted to the main thread. Exits 1
// when a frame or a log line was lost or memory moved more than 5 %.
//
// The dongle runs in a child process forked before this one starts any thread, so that
// its hex logging (how it counts what it sent) is not charged to the protocol's CPU.
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>

#include "support/process_usage.h"
#include "app/log_to_file.h"
#include "app/trace_log.h"
#include "common/main_thread.h"
#include "common/tick_count.h"
#include "protocol/wireless_protocol.h"
#include "sim/dongle_simulator.h"

using namespace wct;
using bench::CpuSeconds;
using bench::ResidentKiB;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kConsoles = 32;
// A measures frame is 11 bytes, 110 bits at 8N1: 1047 frames a second fill 115200 bit/s.
// 36 a second from each of 32 consoles is 1152 frames, a little over the line, so that
// the line is never what holds the stream back.
constexpr double kRatePerConsole = 36;
constexpr double kBitsPerFrame = 110;

long LinesInFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return std::count(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>(), '\n');
}

bool ReadLine(int fd, std::string& line) {
    line.clear();
    char c;
    while (read(fd, &c, 1) == 1) {
        if (c == '\n') return true;
        line += c;
    }
    return false;
}

// Child: plays the dongle until a byte arrives on `control`, then writes
// "SENT LINE_FULL\n" to `out` and exits.
[[noreturn]] void RunDongle(int control, int out) {
    std::atomic<long> sent{0};
    std::atomic<long> lineFull{0};
    sim::TDongleOptions options;
    for (int id = 1; id <= kConsoles; ++id) options.consoles.push_back(sim::DefaultConsole(id));
    options.joinDelayMs = 20;
    options.measureRate = kRatePerConsole;
    sim::TSimSettings settings;
    settings.log = [&](const std::string& line) {
        if (line.rfind("-> 3E01", 0) == 0) ++sent;
        if (line.rfind("-- line full", 0) == 0) ++lineFull;
    };
    sim::TDongleSimulator dongle(options, settings);
    dongle.Start();
    const std::string path = dongle.PortPath() + "\n";
    if (write(out, path.data(), path.size()) < 0) _exit(2);
    char c;
    [[maybe_unused]] const ssize_t n = read(control, &c, 1);
    dongle.Stop();
    const std::string counts = std::to_string(sent) + " " + std::to_string(lineFull) + "\n";
    if (write(out, counts.data(), counts.size()) < 0) _exit(2);
    _exit(0);
}

// Counts the trace lines and hands each to the log file, as the window's memo does.
class TLoggedMemo : public TDebugMemo {
public:
    explicit TLoggedMemo(TTraceLog& log) : log_(log) {}
    void Add(const std::string& line) override {
        ++lines;
        log_.Write(line);
    }
    long lines = 0;

private:
    TTraceLog& log_;
};

// Posts a time-stamped message to the main thread every 50 ms and keeps the longest wait
// before one ran: how long the main thread was unresponsive at worst.
class TDelayProbe {
public:
    explicit TDelayProbe(TMainThread& main)
        : thread_([this, &main] {
              while (!stop_) {
                  const auto posted = Clock::now();
                  main.Post([this, posted] {
                      const auto waited =
                          std::chrono::duration<double, std::milli>(Clock::now() - posted);
                      worstMs = std::max(worstMs, waited.count());
                  });
                  std::this_thread::sleep_for(std::chrono::milliseconds(50));
              }
          }) {}
    ~TDelayProbe() {
        stop_ = true;
        thread_.join();
    }
    double worstMs = 0;  // main thread only

private:
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

}  // namespace

int main(int argc, char** argv) {
    const double minutes = argc > 1 ? std::atof(argv[1]) : 30;
    const std::string logPath = std::filesystem::absolute(argc > 2 ? argv[2] : "soak.log");
    if (minutes <= 0) {
        std::fprintf(stderr, "usage: soak_bench [MINUTES] [LOG_FILE]\n");
        return 2;
    }

    int toDongle[2];
    int fromDongle[2];
    if (pipe(toDongle) != 0 || pipe(fromDongle) != 0) return 2;
    const pid_t child = fork();
    if (child < 0) return 2;
    if (child == 0) {
        close(toDongle[1]);
        close(fromDongle[0]);
        RunDongle(toDongle[0], fromDongle[1]);
    }
    close(toDongle[0]);
    close(fromDongle[1]);
    std::string path;
    if (!ReadLine(fromDongle[0], path)) return 2;

    TPlainMainThread mainThread;
    SetMainThread(&mainThread);

    std::filesystem::remove(logPath);
    TLogToFile logFile;
    logFile.SetIncSuffix(true);
    logFile.SetLogFileName(logPath);
    logFile.SetMaxFileBytes(0);  // every line is counted in one file: no rotation
    TTraceLog traceLog(
        logFile, [](const std::string& note) { std::fprintf(stderr, "log: %s\n", note.c_str()); });
    TLoggedMemo memo(traceLog);

    TMiraWirelessProtocol protocol;
    protocol.SetDebugMemo(&memo);
    protocol.SetDebugTime(true);
    protocol.SetPortDef(path);
    long decoded = 0;
    protocol.OnMeasuresReceived = [&](const TMiraWirelessConsoleMeasures&, uint8_t) { ++decoded; };
    std::printf("dongle on %s, log file %s\n", path.c_str(), logPath.c_str());
    if (!protocol.FindDongle()) {
        std::printf("no dongle\n");
        return 1;
    }
    protocol.OpenRegistration();
    const uint32_t joinStart = GetTickCount();
    while (protocol.NumberOfConsole() < kConsoles && GetTickCount() - joinStart < 10000)
        mainThread.ProcessMessages();
    protocol.CloseRegistration();
    std::printf("consoles joined: %d\n", protocol.NumberOfConsole());

    protocol.SetMeasure(true);
    TMiraWirelessProtocol::WaitWithMessages(2000);  // let the stream and the heap settle

    // The probe is the benchmark's, not the component's: its thread's stack and heap are
    // in place before the start reading, so that they do not count as growth.
    auto probe = std::make_unique<TDelayProbe>(mainThread);
    TMiraWirelessProtocol::WaitWithMessages(500);
    const long rssStart = ResidentKiB();
    const double cpuStart = CpuSeconds();
    const long decodedStart = decoded;
    const auto start = Clock::now();
    const auto end = start + std::chrono::duration<double, std::ratio<60>>(minutes);
    for (auto report = start + std::chrono::minutes(1); Clock::now() < end;) {
        TMiraWirelessProtocol::WaitWithMessages(200);
        if (Clock::now() >= report || Clock::now() >= end) {
            const double wall = std::chrono::duration<double>(Clock::now() - start).count();
            std::printf("%6.1f min  frames %ld  CPU %.2f%%  RSS %ld KiB  worst delay %.1f ms\n",
                        wall / 60, decoded - decodedStart,
                        100 * (CpuSeconds() - cpuStart) / wall, ResidentKiB(), probe->worstMs);
            std::fflush(stdout);
            report += std::chrono::minutes(1);
        }
    }
    const double wall = std::chrono::duration<double>(Clock::now() - start).count();
    const double cpu = CpuSeconds() - cpuStart;
    const long rssEnd = ResidentKiB();
    const double worstDelayMs = probe->worstMs;
    probe.reset();
    const long streamed = decoded - decodedStart;

    protocol.SetMeasure(false);
    TMiraWirelessProtocol::WaitWithMessages(1000);  // frames already on the line
    if (write(toDongle[1], "q", 1) != 1) return 2;
    std::string counts;
    ReadLine(fromDongle[0], counts);
    waitpid(child, nullptr, 0);
    long sent = 0;
    long lineFull = 0;
    std::sscanf(counts.c_str(), "%ld %ld", &sent, &lineFull);
    protocol.Disconnect();
    const long logged = LinesInFile(logPath);

    const double memoryChange = 100.0 * static_cast<double>(rssEnd - rssStart) / rssStart;
    std::printf("run: %.1f min, %d consoles at %.0f measures/s each\n", wall / 60, kConsoles,
                kRatePerConsole);
    std::printf("line: %.0f frames/s streamed, %.0f bit/s (%.0f %% of 115200)\n", streamed / wall,
                streamed / wall * kBitsPerFrame, streamed / wall * kBitsPerFrame / 1152);
    std::printf("frames: sent %ld, decoded %ld, lost %ld (dongle could not write: %ld)\n", sent,
                decoded, sent - decoded, lineFull);
    std::printf("trace lines: %ld, log file lines: %ld\n", memo.lines, logged);
    std::printf("CPU: %.2f %% of one core (target: 2 %%)\n", 100 * cpu / wall);
    std::printf("resident memory: %ld KiB at start, %ld KiB at end (%+.1f %%, target: 5 %%)\n",
                rssStart, rssEnd, memoryChange);
    std::printf("worst main-thread delay: %.1f ms\n", worstDelayMs);
    const bool ok =
        sent == decoded && lineFull == 0 && logged == memo.lines && std::abs(memoryChange) <= 5;
    std::printf("%s\n", ok ? "PASS" : "FAIL");
    return ok ? 0 : 1;
}
