// SPDX-License-Identifier: Apache-2.0
// A live ride on a generation-5 trainer: `wct-sim wired` (another process) streams a
// measures frame every 100 ms through a pseudo-terminal; the driver rides with its
// statistics tick, heart rate and cadence on. Prints the CPU this process spends (port
// event thread, timer threads and main thread) as a share of one core.
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "support/process_usage.h"
#include "common/delay_with_messages.h"
#include "common/main_thread.h"
#include "wired/velox_device.h"

using namespace wct;
using bench::CpuSeconds;

namespace {

double WallSeconds() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

}  // namespace

int main(int argc, char** argv) {
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 10;
    TPlainMainThread mainThread;
    SetMainThread(&mainThread);

    int out[2];
    if (pipe(out) != 0) return 2;
    const pid_t sim = fork();
    if (sim == 0) {
        dup2(out[1], STDOUT_FILENO);
        execl(WCT_SIM, WCT_SIM, "wired", "--generation", "5", "--rider", "speed=32,hr=140,cad=90",
              static_cast<char*>(nullptr));
        _exit(127);
    }
    close(out[1]);
    std::string path;
    char c;
    while (read(out[0], &c, 1) == 1 && c != '\n') path += c;

    int code = 0;
    {
        wired::TVeloxDevice device;
        device.SetComPortPort(path);
        device.SetComPortConnected(true);
        if (!device.Connect(500)) {
            std::printf("no trainer on %s\n", path.c_str());
            code = 1;
        } else {
            device.SetHeartEnabled(true);
            device.SetAlarmHeartHighLimit(1000);
            device.SetAlarmHeartAbsoluteLimit(1000);
            device.Start();
            const double cpu0 = CpuSeconds();
            const double wall0 = WallSeconds();
            DelayWithMessages(static_cast<uint32_t>(seconds) * 1000);
            const double cpu = CpuSeconds() - cpu0;
            const double wall = WallSeconds() - wall0;
            std::printf("generation %g, %d s: %d messages, %.2f km/h, %d bpm, %d rpm\n",
                        device.Version(), seconds, device.ReceivedMessages(),
                        static_cast<double>(device.Speed()), device.HeartRate(), device.Cadence());
            std::printf("driver CPU: %.3f s in %.1f s = %.3f %% of a core\n", cpu, wall,
                        100 * cpu / wall);
            device.Stop();
        }
    }
    kill(sim, SIGTERM);
    SetMainThread(nullptr);
    return code;
}
