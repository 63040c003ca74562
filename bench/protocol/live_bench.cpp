// SPDX-License-Identifier: Apache-2.0
// A live run at full line rate: `wct-sim` (another process) streams measures from 20
// consoles at 50 per second each, about what 115200 bit/s carries, through a
// pseudo-terminal into OnMeasuresReceived with the trace on. Prints the CPU this process
// spends (port event thread + main thread) as a share of one core. With `--record` the
// wire is recorded to a temporary file as well, so the two runs show what recording costs.
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "support/counting_memo.h"
#include "support/process_usage.h"
#include "common/main_thread.h"
#include "common/tick_count.h"
#include "protocol/wire_recorder.h"
#include "protocol/wireless_protocol.h"

using namespace wct;
using bench::CpuSeconds;

int main(int argc, char** argv) {
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 10;
    const bool record = argc > 2 && std::string(argv[2]) == "--record";
    TPlainMainThread mainThread;
    SetMainThread(&mainThread);

    int out[2];
    if (pipe(out) != 0) return 2;
    const pid_t sim = fork();
    if (sim == 0) {
        dup2(out[1], STDOUT_FILENO);
        execl(WCT_SIM, WCT_SIM, "dongle", "--consoles", "20", "--rate", "50", "--join-delay", "20",
              static_cast<char*>(nullptr));
        _exit(127);
    }
    close(out[1]);
    std::string path;
    char c;
    while (read(out[0], &c, 1) == 1 && c != '\n') path += c;
    std::printf("simulator on %s\n", path.c_str());

    bench::TCountingMemo memo;
    TMiraWirelessProtocol protocol;
    protocol.SetDebugMemo(&memo);
    protocol.SetPortDef(path);
    TWireRecorder recorder;
    char recording[] = "/tmp/live_bench_XXXXXX";
    if (record) {
        const int fd = mkstemp(recording);
        if (fd < 0) return 2;
        close(fd);
        recorder.Open(recording);
        protocol.SetWireTap(&recorder);
    }
    if (!protocol.FindDongle()) {
        std::printf("no dongle\n");
        kill(sim, SIGTERM);
        return 1;
    }
    protocol.OpenRegistration();
    const uint32_t joinStart = GetTickCount();
    while (protocol.NumberOfConsole() < 20 && GetTickCount() - joinStart < 5000)
        mainThread.ProcessMessages();
    protocol.CloseRegistration();

    long measures = 0;
    protocol.OnMeasuresReceived = [&](const TMiraWirelessConsoleMeasures&, uint8_t) { ++measures; };
    protocol.SetMeasure(true);
    TMiraWirelessProtocol::WaitWithMessages(1000);  // let the stream settle

    const long measuresBefore = measures;
    const double cpuBefore = CpuSeconds();
    const uint32_t start = GetTickCount();
    TMiraWirelessProtocol::WaitWithMessages(static_cast<uint32_t>(seconds) * 1000);
    const double wall = (GetTickCount() - start) / 1000.0;
    const double cpu = CpuSeconds() - cpuBefore;
    const long received = measures - measuresBefore;

    std::printf("consoles joined: %d\n", protocol.NumberOfConsole());
    protocol.SetMeasure(false);
    protocol.Disconnect();
    kill(sim, SIGTERM);
    waitpid(sim, nullptr, 0);

    std::printf("measures frames: %ld in %.1f s (%.0f per second, %.0f bit/s of line)\n", received,
                wall, received / wall, received / wall * 110);
    std::printf("trace lines: %ld\n", memo.lines);
    if (record) {
        protocol.SetWireTap(nullptr);
        recorder.Close();
        std::printf("recorded %ld bytes%s\n",
                    static_cast<long>(std::filesystem::file_size(recording)),
                    recorder.Error().empty() ? "" : (" - " + recorder.Error()).c_str());
        unlink(recording);
    }
    std::printf("CPU of this process: %.2f%% of one core (target: under 2%%)\n", 100 * cpu / wall);
    return 0;
}
