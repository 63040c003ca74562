// wct-sim: the simulators as a program. Prints the port to connect to on its first line,
// then runs until SIGINT or SIGTERM.
#include <signal.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <iostream>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "common/wire_recording.h"
#include "sim/dongle_simulator.h"
#include "sim/replay_simulator.h"
#include "sim/wired_trainer_simulator.h"

namespace {

using namespace wct::sim;

constexpr const char* kUsage =
    "usage: wct-sim dongle [--consoles N] [--registered N] [--rate HZ] [--join-delay MS]\n"
    "                      [--version BYTE] [--no-version] [--corrupt-length FRACTION]\n"
    "                      [--unknown-codes FRACTION] [--measures-0x21]\n"
    "                      [--nack CODE[,CODE]] [--silent-tests CODE[,CODE]]\n"
    "                      [--lost-writes ID[,ID]]\n"
    "                      [--rider ID:rpm=R,hr=H,cad=C]... [common options]\n"
    "       wct-sim wired --generation G [--serial NUMBER] [--product-version BYTE]\n"
    "                     [--silent-after S] [--speak-after S] [--keep-alive MS]\n"
    "                     [--rider speed=KMH,hr=BPM,cad=RPM[,keys=BITS]]\n"
    "                     [--answer right|wrong|none] [--unknown-commands FRACTION]\n"
    "                     [--command5 FRACTION] [--garbage-f0 FRACTION] [common options]\n"
    "       wct-sim replay FILE [--speed X] [--loop] [--log]\n"
    "common options: [--log] [--seed N] [--drop FRACTION] [--delay MS] [--split BYTES]\n"
    "                [--garbage] [--vanish-after S] [--back-after S] [--link PATH]\n"
    "Numbers are decimal or 0x-prefixed hex. S is seconds from the start; --back-after\n"
    "and --speak-after count from the vanishing and the silence. --keep-alive 0 keeps\n"
    "the trainer measuring when the PC sends nothing; hr=0 is no heart signal, cad=0\n"
    "no pedalling. --link makes PATH a symbolic link to the current port.\n"
    "--nack: every console refuses those commands; --silent-tests: no console answers\n"
    "those tests (0x16 to 0x19); --lost-writes: those consoles acknowledge memory writes\n"
    "but keep what their memory held.\n"
    "A dongle reads script lines on its standard input, one command each:\n"
    "  keys ID BYTE | leave ID | back ID | silent ID | report ID | rider ID:rpm=R,hr=H,cad=C\n";

struct TUsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

double Number(const std::string& option, const std::string& text, double low, double high) {
    double value = 0;
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const char* first = text.data() + (hex ? 2 : 0);
    const char* last = text.data() + text.size();
    std::from_chars_result result{};
    if (hex) {
        unsigned long integer = 0;
        result = std::from_chars(first, last, integer, 16);
        value = static_cast<double>(integer);
    } else {
        result = std::from_chars(first, last, value);
    }
    if (text.empty() || result.ec != std::errc() || result.ptr != last || value < low ||
        value > high) {
        throw TUsageError(option + ": '" + text + "' is not a number from " + std::to_string(low) +
                          " to " + std::to_string(high));
    }
    return value;
}

TIdentification Identification(const std::string& text) {
    if (text == "right") return TIdentification::Correct;
    if (text == "wrong") return TIdentification::Wrong;
    if (text == "none") return TIdentification::None;
    throw TUsageError("--answer: '" + text + "' is not right, wrong or none");
}

// speed=KMH,hr=BPM,cad=RPM[,keys=BITS], in any order; what is left out is 0.
TWiredRider Rider(const std::string& text) {
    TWiredRider rider;
    size_t at = 0;
    while (at <= text.size()) {
        const size_t comma = std::min(text.find(',', at), text.size());
        const std::string item = text.substr(at, comma - at);
        const size_t eq = item.find('=');
        if (eq == std::string::npos)
            throw TUsageError("--rider: '" + item + "' is not NAME=VALUE (speed, hr, cad, keys)");
        const std::string name = item.substr(0, eq);
        const std::string value = item.substr(eq + 1);
        if (name == "speed") {
            rider.speedKmh = Number("--rider speed", value, 0, 200);
        } else if (name == "hr") {
            const double bpm = Number("--rider hr", value, 0, 300);
            rider.heartPeriodMs = bpm > 0 ? 60000 / bpm : 0;
        } else if (name == "cad") {
            const double rpm = Number("--rider cad", value, 0, 300);
            rider.pedalPeriodMs = rpm > 0 ? 60000 / rpm : 0;
        } else if (name == "keys") {
            rider.keys = static_cast<uint8_t>(Number("--rider keys", value, 0, 15));
        } else {
            throw TUsageError("--rider: unknown item '" + name + "' (speed, hr, cad, keys)");
        }
        at = comma + 1;
    }
    return rider;
}

// "A,B,...": numbers from `low` to `high`.
std::vector<uint8_t> ByteList(const std::string& option, const std::string& text, double low,
                              double high) {
    std::vector<uint8_t> list;
    for (size_t at = 0; at <= text.size();) {
        const size_t comma = std::min(text.find(',', at), text.size());
        list.push_back(
            static_cast<uint8_t>(Number(option, text.substr(at, comma - at), low, high)));
        at = comma + 1;
    }
    return list;
}

// Something the run does `at` seconds after the start.
struct TDue {
    double at;
    std::function<void()> action;
};

// Waits for SIGINT or SIGTERM (blocked in every thread), running `due` on time meanwhile.
void RunUntilStopped(const sigset_t& stopSignals, std::vector<TDue> due) {
    std::sort(due.begin(), due.end(), [](const TDue& a, const TDue& b) { return a.at < b.at; });
    timespec start{};
    clock_gettime(CLOCK_MONOTONIC, &start);
    for (size_t next = 0;;) {
        timespec now{};
        clock_gettime(CLOCK_MONOTONIC, &now);
        const double elapsed = static_cast<double>(now.tv_sec - start.tv_sec) +
                               static_cast<double>(now.tv_nsec - start.tv_nsec) / 1e9;
        while (next < due.size() && due[next].at <= elapsed) due[next++].action();
        const double wait = next < due.size() ? due[next].at - elapsed : 3600;
        timespec timeout{
            static_cast<time_t>(wait),
            static_cast<long>((wait - static_cast<double>(static_cast<time_t>(wait))) * 1e9)};
        if (sigtimedwait(&stopSignals, nullptr, &timeout) >= 0) return;
        if (errno != EAGAIN && errno != EINTR) return;
    }
}

std::mutex scriptMutex;  // protects scriptTarget
TDongleSimulator* scriptTarget = nullptr;

// Runs the script lines of standard input on `dongle` until the input ends; a line that
// is wrong is reported and skipped. The reader stays blocked on its input at the end of
// the run, so it is detached and told that the dongle is gone.
void ReadScript(TDongleSimulator* dongle) {
    scriptTarget = dongle;
    std::thread([] {
        for (std::string line; std::getline(std::cin, line);) {
            if (line.empty()) continue;
            std::lock_guard lock(scriptMutex);
            if (scriptTarget == nullptr) return;
            try {
                scriptTarget->RunScriptLine(line);
            } catch (const std::invalid_argument& e) {
                std::fprintf(stderr, "wct-sim: %s\n", e.what());
            }
        }
    }).detach();
}

// The signals that end a run, blocked before any simulator thread starts.
sigset_t BlockStopSignals() {
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    return stopSignals;
}

int Replay(int argc, char** argv) {
    if (argc < 3) throw TUsageError("replay needs the recording to play");
    const std::string path = argv[2];
    TReplayOptions options;
    TSimSettings settings;
    for (int i = 3; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--speed") {
            if (i + 1 >= argc) throw TUsageError(arg + " needs a value");
            options.speed = Number(arg, argv[++i], 0.001, 1000);
        } else if (arg == "--loop") {
            options.loop = true;
        } else if (arg == "--log") {
            settings.log = [](const std::string& line) {
                std::fprintf(stderr, "%s\n", line.c_str());
            };
        } else {
            throw TUsageError("unknown option '" + arg + "' for replay");
        }
    }
    std::vector<wct::TWireChunk> recording;
    try {
        recording = wct::ReadWireRecording(path);
    } catch (const wct::EWireRecording& e) {
        std::fprintf(stderr, "wct-sim: %s: %s\n", path.c_str(), e.what());
        return 2;
    }
    TReplaySimulator sim(recording, options, settings);
    const sigset_t stopSignals = BlockStopSignals();
    sim.Start();
    std::printf("%s\n", sim.PortPath().c_str());
    std::fflush(stdout);
    RunUntilStopped(stopSignals, {});
    sim.Stop();
    return 0;
}

int Run(int argc, char** argv) {
    if (argc < 2) throw TUsageError("which simulator: dongle, wired or replay?");
    const std::string kind = argv[1];
    if (kind == "replay") return Replay(argc, argv);
    if (kind != "dongle" && kind != "wired") throw TUsageError("unknown simulator '" + kind + "'");

    std::map<std::string, std::string> values;
    std::map<std::string, bool> flags;
    const std::vector<std::string> valueOptions =
        kind == "dongle"
            ? std::vector<std::string>{"--consoles",      "--registered", "--rate",
                                       "--join-delay",    "--version",    "--corrupt-length",
                                       "--unknown-codes", "--nack",       "--silent-tests",
                                       "--lost-writes"}
            : std::vector<std::string>{"--generation",   "--serial",      "--product-version",
                                       "--silent-after", "--speak-after", "--keep-alive",
                                       "--rider",        "--answer",      "--unknown-commands",
                                       "--command5",     "--garbage-f0"};
    const std::vector<std::string> flagOptions =
        kind == "dongle" ? std::vector<std::string>{"--no-version", "--measures-0x21"}
                         : std::vector<std::string>{};
    const std::vector<std::string> commonValues = {
        "--seed", "--drop", "--delay", "--split", "--vanish-after", "--back-after", "--link"};
    auto listed = [](const std::vector<std::string>& list, const std::string& name) {
        return std::find(list.begin(), list.end(), name) != list.end();
    };
    std::vector<std::string> riders;
    for (int i = 2; i < argc; ++i) {
        const std::string arg = argv[i];
        if (kind == "dongle" && arg == "--rider") {
            if (i + 1 >= argc) throw TUsageError(arg + " needs a value");
            riders.push_back(argv[++i]);
        } else if (listed(valueOptions, arg) || listed(commonValues, arg)) {
            if (i + 1 >= argc) throw TUsageError(arg + " needs a value");
            values[arg] = argv[++i];
        } else if (listed(flagOptions, arg) || arg == "--log" || arg == "--garbage") {
            flags[arg] = true;
        } else {
            throw TUsageError("unknown option '" + arg + "' for " + kind);
        }
    }
    auto number = [&](const std::string& name, double fallback, double low, double high) {
        const auto found = values.find(name);
        return found == values.end() ? fallback : Number(name, found->second, low, high);
    };

    TSimSettings settings;
    if (values.count("--link")) settings.linkPath = values["--link"];
    settings.seed = static_cast<uint32_t>(number("--seed", 1, 0, 4294967295.0));
    if (flags["--log"]) {
        settings.log = [](const std::string& line) { std::fprintf(stderr, "%s\n", line.c_str()); };
    }
    TLinkFaults link;
    link.dropFraction = number("--drop", 0, 0, 1);
    link.replyDelayMs = static_cast<uint32_t>(number("--delay", 0, 0, 600000));
    link.splitMaxChunk = static_cast<size_t>(number("--split", 0, 0, 4096));
    link.garbage = flags["--garbage"];

    std::unique_ptr<TPtySimulator> sim;
    TDongleSimulator* scripted = nullptr;
    std::vector<TDue> due;
    if (kind == "dongle") {
        TDongleOptions options;
        const int consoles = static_cast<int>(number("--consoles", 1, 0, 254));
        const int registered = static_cast<int>(number("--registered", 0, 0, consoles));
        const auto list = [&](const char* option, double low, double high) {
            return values.count(option) ? ByteList(option, values[option], low, high)
                                        : std::vector<uint8_t>{};
        };
        const std::vector<uint8_t> refused = list("--nack", 0, 255);
        const std::vector<uint8_t> silent = list("--silent-tests", 0x16, 0x19);
        const std::vector<uint8_t> lostWrites = list("--lost-writes", 1, consoles);
        for (int id = 1; id <= consoles; ++id) {
            TConsoleConfig console = DefaultConsole(static_cast<uint8_t>(id));
            console.joinedAtStart = id <= registered;
            console.refused.insert(refused.begin(), refused.end());
            for (uint8_t code : silent) console.testAnswers[code] = TTestAnswer::None;
            console.writesLost = std::count(lostWrites.begin(), lostWrites.end(), id) != 0;
            options.consoles.push_back(std::move(console));
        }
        options.measureRate = number("--rate", 4, 0.1, 1000);
        options.joinDelayMs = static_cast<uint32_t>(number("--join-delay", 300, 0, 600000));
        if (flags["--no-version"]) {
            if (values.count("--version")) throw TUsageError("--version and --no-version");
            options.version.reset();
        } else {
            options.version = static_cast<uint8_t>(number("--version", 0x78, 0, 255));
        }
        TDongleFaults faults;
        faults.corruptLengthFraction = number("--corrupt-length", 0, 0, 1);
        faults.unknownCodeFraction = number("--unknown-codes", 0, 0, 1);
        faults.measuresHold0x21 = flags["--measures-0x21"];
        auto dongle = std::make_unique<TDongleSimulator>(options, settings);
        dongle->SetFaults(faults);
        try {
            for (const std::string& rider : riders) {
                const auto [id, figures] = ParseRiderScript(rider);
                dongle->SetRider(id, figures);
            }
        } catch (const std::invalid_argument& e) {
            throw TUsageError(e.what());
        }
        scripted = dongle.get();
        sim = std::move(dongle);
    } else {
        if (!values.count("--generation")) throw TUsageError("wired needs --generation");
        TWiredOptions options;
        options.generation = number("--generation", 0, 1, 7);
        options.serial = static_cast<uint32_t>(number("--serial", options.serial, 0, 0xFFFFFF));
        options.productVersion =
            static_cast<uint8_t>(number("--product-version", options.productVersion, 0, 255));
        options.keepAliveMs =
            static_cast<uint32_t>(number("--keep-alive", options.keepAliveMs, 0, 3600000));
        if (values.count("--answer")) options.identification = Identification(values["--answer"]);
        TWiredFaults faults;
        faults.unknownCommandFraction = number("--unknown-commands", 0, 0, 1);
        faults.command5Fraction = number("--command5", 0, 0, 1);
        faults.garbageF0Fraction = number("--garbage-f0", 0, 0, 1);
        std::unique_ptr<TWiredTrainerSimulator> wired;
        try {
            wired = std::make_unique<TWiredTrainerSimulator>(options, settings);
        } catch (const std::invalid_argument& e) {
            throw TUsageError(e.what());
        }
        TWiredTrainerSimulator* trainer = wired.get();
        trainer->SetFaults(faults);
        if (values.count("--rider")) trainer->SetRider(Rider(values["--rider"]));
        if (values.count("--silent-after")) {
            const double silentAt = number("--silent-after", 0, 0, 1e6);
            due.push_back({silentAt, [trainer] { trainer->SetSilent(true); }});
            if (values.count("--speak-after")) {
                due.push_back({silentAt + number("--speak-after", 0, 0, 1e6),
                               [trainer] { trainer->SetSilent(false); }});
            }
        } else if (values.count("--speak-after")) {
            throw TUsageError("--speak-after needs --silent-after");
        }
        sim = std::move(wired);
    }
    sim->SetLinkFaults(link);
    TPtySimulator* device = sim.get();
    if (values.count("--vanish-after")) {
        const double vanishAt = number("--vanish-after", 0, 0, 1e6);
        due.push_back({vanishAt, [device] { device->Vanish(); }});
        if (values.count("--back-after")) {
            due.push_back({vanishAt + number("--back-after", 0, 0, 1e6), [device] {
                               device->Return();
                               std::printf("%s\n", device->PortPath().c_str());
                               std::fflush(stdout);
                           }});
        }
    } else if (values.count("--back-after")) {
        throw TUsageError("--back-after needs --vanish-after");
    }
    // The simulator thread must not take the signals: block them before it starts.
    const sigset_t stopSignals = BlockStopSignals();
    sim->Start();
    std::printf("%s\n", sim->PortPath().c_str());
    std::fflush(stdout);
    if (scripted != nullptr) ReadScript(scripted);
    RunUntilStopped(stopSignals, std::move(due));
    {
        std::lock_guard lock(scriptMutex);
        scriptTarget = nullptr;
    }
    sim->Stop();
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    try {
        return Run(argc, argv);
    } catch (const TUsageError& e) {
        std::fprintf(stderr, "wct-sim: %s\n%s", e.what(), kUsage);
        return 2;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "wct-sim: %s\n", e.what());
        return 1;
    }
}
