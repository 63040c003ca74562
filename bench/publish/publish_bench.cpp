// SPDX-License-Identifier: Apache-2.0
// What publishing costs at the line's limit: `wct-sim` (another process) streams measures
// from 32 consoles at 32 a second each, 1024 frames a second, into the protocol component
// with the trace on. The same run is measured twice, without publishing and then with the
// bench's tables read every 50 ms and published to a Mosquitto broker (another process)
// at 2 messages a second per console. Prints the CPU of this process as a share of one
// core for each half and their difference.
//
//   publish_bench [SECONDS_EACH]
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>

#include "common/main_thread.h"
#include "common/tick_count.h"
#include "protocol/wireless_protocol.h"
#include "publish/bench_feed.h"
#include "publish/mqtt_publisher.h"
#include "support/counting_memo.h"
#include "support/process_usage.h"

using namespace wct;
using bench::CpuSeconds;

namespace {

constexpr int kConsoles = 32;

int FreePort() {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    bind(fd, reinterpret_cast<sockaddr*>(&address), length);
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    close(fd);
    return ntohs(address.sin_port);
}

// Runs `program` with `args`; returns its pid and, when `firstLine` is given, the first line
// it prints.
pid_t Spawn(std::vector<std::string> args, std::string* firstLine) {
    int out[2];
    if (pipe(out) != 0) return -1;
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(out[1], STDOUT_FILENO);
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(out[1]);
    char c;
    while (firstLine != nullptr && read(out[0], &c, 1) == 1 && c != '\n') *firstLine += c;
    return pid;
}

struct TFigures {
    double cpuShare;
    long frames;
    double seconds;
};

// Serves the protocol for `seconds`, calling `poll` every 50 ms.
TFigures Measure(const long& frames, int seconds, const std::function<void()>& poll) {
    const long framesBefore = frames;
    const double cpuBefore = CpuSeconds();
    const uint32_t start = GetTickCount();
    while (GetTickCount() - start < static_cast<uint32_t>(seconds) * 1000) {
        const uint32_t pollStart = GetTickCount();
        while (GetTickCount() - pollStart < 50) MainThread().ProcessMessagesFor(50);
        poll();
    }
    const double wall = (GetTickCount() - start) / 1000.0;
    return {100 * (CpuSeconds() - cpuBefore) / wall, frames - framesBefore, wall};
}

}  // namespace

int main(int argc, char** argv) {
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 30;
    TPlainMainThread mainThread;
    SetMainThread(&mainThread);

    // The broker, with a configuration of its own in a temporary folder.
    char dir[] = "/tmp/publish_bench_XXXXXX";
    if (mkdtemp(dir) == nullptr) return 2;
    const int port = FreePort();
    {
        FILE* conf = std::fopen((std::string(dir) + "/mosquitto.conf").c_str(), "w");
        std::fprintf(conf, "listener %d 127.0.0.1\nallow_anonymous true\nlog_dest none\n%s", port,
                     getuid() == 0 ? "user root\n" : "");
        std::fclose(conf);
    }
    const pid_t broker =
        Spawn({WCT_MOSQUITTO, "-c", std::string(dir) + "/mosquitto.conf"}, nullptr);
    std::string path;
    const pid_t sim = Spawn({WCT_SIM, "dongle", "--consoles", std::to_string(kConsoles),
                             "--registered", std::to_string(kConsoles), "--rate", "32"},
                            &path);
    std::printf("simulator on %s, broker on port %d\n", path.c_str(), port);
    const auto end = [&](int code) {
        kill(sim, SIGTERM);
        kill(broker, SIGTERM);
        waitpid(sim, nullptr, 0);
        waitpid(broker, nullptr, 0);
        std::filesystem::remove_all(dir);
        return code;
    };

    bench::TCountingMemo memo;
    TMiraWirelessProtocol protocol;
    protocol.SetDebugMemo(&memo);
    protocol.SetPortDef(path);
    if (!protocol.FindDongle()) {
        std::printf("no dongle\n");
        return end(1);
    }
    long frames = 0;
    protocol.OnMeasuresReceived = [&](const TMiraWirelessConsoleMeasures&, uint8_t) { ++frames; };
    protocol.SetMeasure(true);
    TMiraWirelessProtocol::WaitWithMessages(1000);  // let the stream settle

    const TFigures without = Measure(frames, seconds, [] {});

    publish::TPublisherSettings settings;
    settings.broker = publish::ParseBrokerUrl("mqtt://127.0.0.1:" + std::to_string(port));
    settings.bench = "bench";
    settings.outboxDir = std::string(dir) + "/outbox";
    publish::TMqttPublisher publisher(settings);
    publish::TBenchFeed feed(protocol, publisher);
    publisher.Start();
    TMiraWirelessProtocol::WaitWithMessages(500);
    const publish::TPublisherCounters before = publisher.Counters();
    const TFigures with = Measure(frames, seconds, [&] { feed.Poll(); });
    const uint64_t sent = publisher.Counters().measuresSent - before.measuresSent;
    const char* state = publish::BrokerStateText(publisher.State());
    publisher.Stop();
    protocol.SetMeasure(false);
    protocol.Disconnect();

    std::printf(
        "without publishing: %ld frames in %.1f s (%.0f a second), CPU %.2f%% of one core\n",
        without.frames, without.seconds, without.frames / without.seconds, without.cpuShare);
    std::printf(
        "with publishing:    %ld frames in %.1f s (%.0f a second), CPU %.2f%% of one core, "
        "%llu measures messages (%.1f a second), broker %s\n",
        with.frames, with.seconds, with.frames / with.seconds, with.cpuShare,
        static_cast<unsigned long long>(sent), sent / with.seconds, state);
    std::printf("publishing adds %.2f%% of one core (target: at most 0.5%%)\n",
                with.cpuShare - without.cpuShare);
    return end(0);
}
