// SPDX-License-Identifier: Apache-2.0
#include "cli/cli_trainer.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <ostream>

#include "cli/cli_options.h"
#include "cli/cli_runner.h"
#include "common/delay_with_messages.h"
#include "common/pcapng_file.h"
#include "common/tick_count.h"
#include "serial/com_port.h"
#include "serial/ecomport.h"
#include "sim/wired_trainer_simulator.h"
#include "wired/velox_device.h"
#include "wired/velox_frame.h"

namespace wct::cli {

namespace {

using wired::TVeloxDevice;

constexpr uint32_t kAnswerWaitMs = 500;
constexpr int kMaxSeconds = 24 * 3600;

const char* StatusName(wired::TVeloxDeviceStatus status) {
    static constexpr const char* kNames[] = {"disconnected", "connected", "running", "paused",
                                             "stopped"};
    return kNames[status];
}

// The trainer's traffic as a capture: a packet per frame the driver sends or takes in, per
// byte in the byte protocol (each is a message there), and the bytes its framer threw away.
class TTrainerCapture {
public:
    // Throws std::runtime_error naming the file and the reason.
    void Open(const std::string& path, const std::string& port, uint64_t bitsPerSecond) {
        file_.Open(path, "wct " WCT_VERSION);
        clock_ = TCaptureClock();
        file_.AddInterface(kLinkTypeWiredTrainer, port, bitsPerSecond);
    }
    void Add(TPacketDirection direction, const std::string& bytes, bool bytewise) {
        const uint64_t now = clock_.NowMicros();
        if (!bytewise) {
            file_.AddPacket(0, now, direction, bytes);
            return;
        }
        for (char byte : bytes) file_.AddPacket(0, now, direction, std::string_view(&byte, 1));
    }
    TPcapngFile& File() { return file_; }

private:
    TPcapngFile file_;
    TCaptureClock clock_;
};

// The driver, remembering the load it last sent, its traffic captured while `capture`.
class TCliVelox : public TVeloxDevice {
public:
    bool ParseMessage(const std::string& bytes) override {
        if (capture != nullptr) capture->Add(TPacketDirection::pdInbound, bytes, Version() < 4);
        return TVeloxDevice::ParseMessage(bytes);
    }
    void SendBytes(const std::string& bytes) override {
        const bool sent = ComPortConnected();
        TVeloxDevice::SendBytes(bytes);
        if (capture != nullptr && sent) capture->Add(TPacketDirection::pdOutbound, bytes, false);
        if (bytes.size() == wired::kShortFrameSize && bytes[1] == wired::vcLoad) {
            loadByte = static_cast<uint8_t>(bytes[2]);
            elevationByte = static_cast<uint8_t>(bytes[3]);
        } else if (bytes.size() == 1 && Connected()) {
            loadByte = static_cast<uint8_t>(bytes[0]);
        }
    }
    int loadByte = 0;
    int elevationByte = 0;
    TTrainerCapture* capture = nullptr;
};

class TTrainerRun {
public:
    TTrainerRun(const TTrainerOptions& o, std::ostream& out, std::ostream& err,
                const volatile bool* interrupted)
        : o_(o), out_(out), err_(err), interrupted_(interrupted) {}

    int Run() {
        std::string port = o_.port;
        if (o_.simulate) {
            sim::TWiredOptions options;
            options.generation = o_.generation.value_or(5);
            try {
                simulator_ = std::make_unique<sim::TWiredTrainerSimulator>(options);
                simulator_->Start();
            } catch (const std::exception& e) {
                err_ << "wct: cannot start the trainer simulator: " << e.what() << '\n';
                return exNoDongle;
            }
            port = simulator_->PortPath();
        }
        if (port.empty()) {
            err_ << "wct: trainer needs --port PATH or --simulate\n";
            return exUsage;
        }
        if (o_.pcap) {
            try {
                capture_.Open(*o_.pcap, PortDevicePath(port),
                              static_cast<uint64_t>(BaudRateValue(device_.ComPortBaudRate())));
            } catch (const std::exception& e) {
                err_ << "wct: " << e.what() << '\n';
                return exUsage;
            }
            device_.capture = &capture_;
            device_.OnComDataPacketDiscard = [this](TComponent*, const std::string& bytes) {
                capture_.Add(TPacketDirection::pdInbound, bytes, false);
            };
        }
        int code = Connect(port);
        if (code == exDone) code = o_.command == "identify" ? Identify() : Ride();
        device_.capture = nullptr;
        device_.OnComDataPacketDiscard = nullptr;
        capture_.File().Close();
        if (!capture_.File().Error().empty()) {
            err_ << "wct: " << capture_.File().Error() << '\n';
            if (code == exDone) code = exFailed;
        }
        return code;
    }

private:
    int Connect(const std::string& port) {
        const double generation = o_.generation.value_or(4);
        device_.SetVersion(generation < 4 ? generation : 4);
        bool answered = false;
        device_.OnVeloxMessage = [&](TComponent*, wired::TVeloxDeviceMessageType type, long double,
                                     long double, long double, const std::string&) {
            answered = answered || type == wired::mtIdentification;
        };
        device_.OnComPortRxChar = [&](TComponent*, int count) { answered = answered || count > 0; };
        try {
            device_.SetComPortPort(port);
            device_.SetComPortConnected(true);
        } catch (const EComPort& e) {
            err_ << "wct: " << CannotOpen(port, e) << '\n';
            return exNoDongle;
        }
        const bool connected = device_.Connect(kAnswerWaitMs);
        device_.OnVeloxMessage = nullptr;
        device_.OnComPortRxChar = nullptr;
        if (connected) return exDone;
        if (answered) {
            err_ << "wct: the trainer on " << PortDevicePath(port)
                 << " gave a wrong identification answer\n";
            return exFailed;
        }
        err_ << "wct: no trainer answered on " << PortDevicePath(port) << '\n';
        return exNoDongle;
    }

    int Identify() {
        // Serial number and product version were asked for on connection.
        if (device_.Version() >= 4) {
            const uint32_t start = GetTickCount();
            while ((device_.SerialNumber() == 0 || device_.ProductVersion() == 0) &&
                   GetTickCount() - start < kAnswerWaitMs)
                DelayWithMessages(10);
        }
        char line[64];
        std::snprintf(line, sizeof line, "%g %u %u", device_.Version(), device_.SerialNumber(),
                      unsigned{device_.ProductVersion()});
        out_ << line << std::endl;
        return exDone;
    }

    void ApplyLoad() {
        if (o_.load) device_.SetVeloxResistance(*o_.load);
        if (o_.slope) {
            device_.SetUseElevation(true);
            device_.SetCurrentSlope(*o_.slope);
        }
    }

    int Ride() {
        bool lost = false;
        const int steps = std::max(o_.seconds * 1000 / o_.intervalMs, 1);
        int printed = 0;
        device_.OnVxdErrorInfo = [&](TComponent*, wired::TVxdErrorType, int32_t code,
                                     int32_t occurence) {
            err_ << "wct: " << device_.ErrorText(code)
                 << (occurence >= 0 ? " (" + std::to_string(occurence) + ")" : "") << '\n';
        };
        device_.OnConnectionLost = [&](TComponent*) { lost = true; };
        bool heartCut = false;
        device_.OnStats = [&](TComponent*, int32_t, int32_t, long double, long double, long double,
                              bool) {
            if (printed == steps) return;
            ApplyLoad();
            if (device_.HeartCut() != heartCut) {
                heartCut = device_.HeartCut();
                TellHeartCut(err_, device_.HeartRule());
            }
            PrintStep();
            ++printed;
        };
        // No alarm stops the ride; above --max-hr the driver holds the load at 0.
        device_.SetHeartEnabled(true);
        device_.SetAlarmHeartHighLimit(1000);
        device_.SetAlarmHeartLowLimit(0);
        device_.SetAlarmHeartAbsoluteLimit(o_.maxHeartRate);
        device_.SetStatsInterval(o_.intervalMs);
        device_.SetDisconMaxTry(o_.tries);
        if (o_.csv) out_ << "time_ms,kmh,km,cadence,heart_rate,watts,kcal,load,elevation,status\n";
        device_.Start();
        ApplyLoad();
        // The ride ends with its last step, not with a clock that races it.
        while (!lost && printed < steps && device_.Status() == wired::vdsRunning &&
               !(interrupted_ && *interrupted_))
            DelayWithMessages(20);
        if (lost || !device_.Connected()) {
            err_ << "wct: " << device_.ErrorText(wired::vxeRepairAborted)
                 << ": the trainer is lost\n";
            return exFailed;
        }
        device_.Stop();
        return exDone;
    }

    void PrintStep() {
        const char sep = o_.csv ? ',' : ' ';
        char speed[32];
        char distance[32];
        std::snprintf(speed, sizeof speed, "%.2f", static_cast<double>(device_.Speed()));
        std::snprintf(distance, sizeof distance, "%.3f", static_cast<double>(device_.Distance()));
        out_ << device_.StatsTimer().ElapsedTime() << sep << speed << sep << distance << sep
             << device_.Cadence() << sep << device_.HeartRate() << sep << device_.Power() << sep
             << device_.Calories() << sep << device_.loadByte << sep << device_.elevationByte << sep
             << StatusName(device_.Status()) << std::endl;
    }

    const TTrainerOptions& o_;
    std::ostream& out_;
    std::ostream& err_;
    const volatile bool* interrupted_;
    std::unique_ptr<sim::TWiredTrainerSimulator> simulator_;
    TTrainerCapture capture_;
    TCliVelox device_;
};

// A decimal number within [low, high].
TValueReader Within(std::optional<double>& target, double low, double high) {
    return [&target, low, high](const std::string& name, const std::string& value) {
        const double number = ParseDecimal(value, name);
        if (number < low || number > high)
            throw EUsage(name + ": " + value + " is outside " + std::to_string(low) + ".." +
                         std::to_string(high));
        target = number;
    };
}

}  // namespace

void DeclareTrainerOptions(TCommand& trainer, TTrainerOptions& o) {
    trainer
        .Option("--generation", "G",
                "1, 2 or 3 drives a byte-protocol trainer; with --simulate the simulated "
                "trainer's generation (5 unless given)",
                Within(o.generation, 1, 7))
        .Check([&o, trainer] {
            o.command = trainer.Chosen();
            if (o.command.empty()) throw EUsage("trainer needs identify or ride");
            if (o.generation && !o.simulate && *o.generation >= 4)
                throw EUsage(
                    "--generation names a byte-protocol trainer (1 to 3) unless simulating");
            if (o.generation) {
                try {
                    sim::IdentificationAnswer(*o.generation);
                } catch (const std::invalid_argument&) {
                    throw EUsage("--generation: no trainer of generation " +
                                 std::to_string(*o.generation));
                }
            }
        });
    trainer.Command("identify", "\"version serial product-version\" of the trainer");
    TCommand ride = trainer.Command(
        "ride",
        "one line per statistics step, S * 1000 / MS in all: time ms, km/h, km, cadence, heart "
        "rate, watts, kcal, load byte, elevation byte, status");
    ride.Option("--seconds", "S", "how long", Number(o.seconds, 1, kMaxSeconds))
        .Require("--seconds")
        .Option("--load", "L", "the load byte", Number(o.load, 0, 255))
        .Option("--slope", "PCT", "the slope ridden, in percent", Within(o.slope, -25, 25))
        .Option("--interval", "MS", "statistics step (1000)", Number(o.intervalMs, 100, 60000))
        .Option("--tries", "N",
                "repair tries before a silent trainer is given up, with exit code 1 (10)",
                Number(o.tries, 0, 1000))
        .Flag("--csv", o.csv, "comma-separated, with a header line")
        .Check([&o] {
            if (o.load && o.slope) throw EUsage("ride takes --load or --slope, not both");
        });
    MaxHeartRate(ride, o.maxHeartRate);
}

int RunTrainer(const TTrainerOptions& options, std::ostream& out, std::ostream& err,
               const volatile bool* interrupted) {
    return TTrainerRun(options, out, err, interrupted).Run();
}

}  // namespace wct::cli
