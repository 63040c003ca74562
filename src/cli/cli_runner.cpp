// SPDX-License-Identifier: Apache-2.0
#include "cli/cli_runner.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <memory>
#include <set>
#include <system_error>

#include "cli/cli_export.h"
#include "cli/cli_publish.h"
#include "cli/cli_stats.h"
#include "common/delay_with_messages.h"
#include "common/hex.h"
#include "common/main_thread.h"
#include "common/tick_count.h"
#include "protocol/progress_bar.h"
#include "protocol/wireless_protocol.h"
#include "serial/com_port.h"
#include "serial/ecomport.h"
#include "serial/port_inventory.h"
#include "serial/usb_identity.h"
#include "sim/dongle_simulator.h"
#include "testbench/testbench.h"

namespace wct::cli {
namespace {

// Trace lines to a stream. The lines of one delivery from the port go out together once
// the main thread has handled it: a watching script sees each line at once, without a
// write(2) for every frame at the line's rate.
class TStreamMemo : public TDebugMemo {
public:
    explicit TStreamMemo(std::ostream& stream) : state_(std::make_shared<TState>(&stream)) {}
    ~TStreamMemo() override {
        state_->stream->flush();
        state_->stream = nullptr;
    }
    void Add(const std::string& line) override {
        *state_->stream << line << '\n';
        if (state_->flushPosted) return;
        state_->flushPosted = true;
        // Runs after the handler that is adding lines now; the memo may be gone by then.
        MainThread().Post([state = state_] {
            state->flushPosted = false;
            if (state->stream != nullptr) state->stream->flush();
        });
    }

private:
    struct TState {
        explicit TState(std::ostream* s) : stream(s) {}
        std::ostream* stream;
        bool flushPosted = false;
    };
    std::shared_ptr<TState> state_;
};

// Forwards trace lines to the --trace target and, while `echoReplies` is set, prints the
// received ones on stdout (the `send` command).
class TCliMemo : public TDebugMemo {
public:
    explicit TCliMemo(std::ostream& out) : out_(out) {}
    void SetTrace(TDebugMemo* trace) { trace_ = trace; }
    void Add(const std::string& line) override {
        if (trace_ != nullptr) trace_->Add(line);
        if (echoReplies && line.find("<-") != std::string::npos) out_ << line << std::endl;
    }
    bool echoReplies = false;

private:
    TDebugMemo* trace_ = nullptr;
    std::ostream& out_;
};

// The search windows as one status line on a terminal's stderr.
class TTerminalProgressBar : public TPlainProgressBar {
public:
    void Show() override { Draw(); }
    void Close() override { std::fputs("\r\033[K", stderr); }
    void SetText(const std::string& text) override {
        TPlainProgressBar::SetText(text);
        Draw();
    }
    void SetPosition(int position) override {
        TPlainProgressBar::SetPosition(position);
        Draw();
    }

private:
    void Draw() const {
        std::fprintf(stderr, "\r\033[K%s [%d/%d]", Text().c_str(), Position(), Max());
        std::fflush(stderr);
    }
};

// Why `port` cannot be opened; empty when it opens.
std::string OpenFailure(const std::string& port) {
    TComPort probe;
    try {
        probe.SetPort(port);
        probe.Open();
    } catch (const EComPort& e) {
        return CannotOpen(port, e);
    }
    probe.Close();
    return {};
}

std::string HexList(const uint8_t* bytes, size_t count) {
    std::string text;
    // Piece by piece: " " + a temporary makes GCC 12 at -O3 warn falsely (-Wrestrict).
    for (size_t i = 0; i < count; ++i) {
        if (i != 0) text += ' ';
        text += BytesToHex(std::string(1, static_cast<char>(bytes[i])));
    }
    return text;
}

class TRunner {
public:
    TRunner(const TCliOptions& o, std::ostream& out, std::ostream& err,
            const volatile bool* interrupted)
        : o_(o), out_(out), err_(err), interrupted_(interrupted), memo_(out) {}

    int Run() {
        if (o_.command == "ports") return Ports();
        if (o_.command == "map") return RunMap(o_.map, std::cin, out_, err_);
        if (o_.command == "history") return RunHistory(o_.history, out_, err_);
        if (o_.command == "collect") return RunCollect(o_.collect, out_, err_, interrupted_);
        if (o_.command == "export") return RunExport(o_.recording, *o_.pcap, err_);
        if (o_.trace) {
            if (*o_.trace == "-") {
                trace_ = std::make_unique<TStreamMemo>(out_);
            } else {
                traceFile_.open(*o_.trace, std::ios::app);
                if (!traceFile_) {
                    err_ << "wct: cannot write the trace file " << *o_.trace << '\n';
                    return exUsage;
                }
                trace_ = std::make_unique<TStreamMemo>(traceFile_);
            }
            memo_.SetTrace(trace_.get());
        }
        try {
            if (o_.record) bench_.Recording().StartRecording(*o_.record);
            if (o_.pcap) bench_.Recording().StartCapture(*o_.pcap, "wct " WCT_VERSION);
        } catch (const std::exception& e) {
            err_ << "wct: " << e.what() << '\n';
            return exUsage;
        }
        int code = Session();
        // Either file cut short fails a command that went well.
        for (const std::string& error : bench_.Recording().Stop()) {
            err_ << "wct: " << error << '\n';
            if (code == exDone) code = exFailed;
        }
        return code;
    }

private:
    // Everything after the global set-up: the simulator, the dongle, the command.
    int Session() {
        if (o_.simulate && !StartSimulator()) return exNoDongle;
        if (isatty(STDERR_FILENO))
            SetProgressBarFactory([] { return std::make_unique<TTerminalProgressBar>(); });

        protocol_.SetDebugMemo(&memo_);
        protocol_.SetDebugTime(o_.time);
        if (o_.replyTimeout) {
            protocol_.SetReplyTimeOut(*o_.replyTimeout);
            protocol_.SetDongleReplyTimeOut(*o_.replyTimeout);
        }
        protocol_.SetPortDef(o_.port);
        if (!protocol_.FindDongle()) {
            ReportNoDongle();
            return exNoDongle;
        }
        // An unplugged dongle ends any command: the port's hang-up, or a failed write.
        protocol_.OnDisconnection = [this] { lost_ = true; };
        const int code = Command();
        protocol_.OnDisconnection = nullptr;
        protocol_.Disconnect();
        SetProgressBarFactory(nullptr);
        if (lost_) {
            err_ << "wct: dongle lost on " << PortDevicePath(protocol_.Port()->Port()) << '\n';
            return exNoDongle;
        }
        return code;
    }

    // Each port the search tried that cannot be opened, with the reason, apart from those
    // that opened and did not answer.
    void ReportNoDongle() {
        // --port first, as the search tried it, by the path it opened. (Inserting it at the
        // front made GCC 12 at -O3 warn falsely of a null pointer.)
        std::vector<std::string> ports;
        const std::string path = o_.port.empty() ? std::string() : PortDevicePath(o_.port);
        if (!path.empty()) ports.push_back(path);
        for (std::string& name : FindSerialPorts())
            if (name != path) ports.push_back(std::move(name));
        std::string silent;
        for (const std::string& port : ports) {
            const std::string failure = OpenFailure(port);
            if (failure.empty())
                silent += (silent.empty() ? "" : ", ") + port;
            else
                err_ << "wct: " << failure << '\n';
        }
        if (ports.empty())
            err_ << "wct: no dongle found: there is no serial port\n";
        else if (!silent.empty())
            err_ << "wct: no dongle found: no dongle answered on " << silent << '\n';
    }

    int Ports() {
        std::vector<std::string> names;
        try {
            EnumPortNames(names);
        } catch (const EComPort& e) {
            err_ << "wct: cannot list the serial ports: " << e.what() << '\n';
            return exFailed;
        }
        if (o_.usb) out_ << "port vendor product serial\n";
        for (const auto& name : names) {
            out_ << name;
            if (o_.usb) {
                const std::optional<TUsbIdentity> usb = UsbIdentity(name);
                const auto field = [](const std::string& text) {
                    return text.empty() ? "-" : text;
                };
                out_ << ' '
                     << (usb ? usb->vendor + ' ' + usb->product + ' ' + field(usb->serial)
                             : std::string("- - -"));
            }
            out_ << '\n';
        }
        return exDone;
    }

    bool StartSimulator() {
        sim::TSimSettings settings;
        settings.registerPort = true;
        simulator_ = std::make_unique<sim::TDongleSimulator>(sim::BuiltInDongleOptions(), settings);
        try {
            simulator_->Start();
        } catch (const std::exception& e) {
            err_ << "wct: cannot start the simulator: " << e.what() << '\n';
            return false;
        }
        if (o_.port.empty()) o_.port = simulator_->PortPath();
        return true;
    }

    int Command() {
        const std::string& c = o_.command;
        if (c == "find") {
            out_ << PortDevicePath(protocol_.Port()->Port()) << '\n';
            return exDone;
        }
        if (c == "register") return Register();
        if (c == "consoles") return Consoles();
        if (c == "measure") return Measure();
        if (c == "test") return Test();
        if (c == "read") return Read();
        if (c == "read-page") return ReadPage();
        if (c == "write") return Write();
        if (c == "rolls") return Rolls();
        if (c == "reset-rolls") {
            protocol_.ResetTotalRolls(Console());
            return exDone;
        }
        if (c == "remove") {
            protocol_.RemoveConsole(Console());
            TMiraWirelessProtocol::WaitWithMessages(WaitMs(500));
            return exDone;
        }
        if (c == "send") return Send();
        if (c == "ride") return RunRide(o_.ride, o_.wait, bench_, out_, err_, interrupted_);
        if (c == "check")
            return RunCheck(o_.check, o_.wait, bench_, out_, err_,
                            [this] { return Interrupted(); });
        if (c == "publish")
            return RunPublish(
                o_.publish, bench_, out_, err_,
                [this](uint32_t ms, const std::function<void()>& each) { Serve(ms, each); },
                [this] { return Interrupted(); });
        if (c == "stats") {
            TellSilences();
            return RunStats(
                protocol_, *o_.seconds, o_.rate.value_or(0), o_.json, out_,
                [this](uint32_t ms) { Serve(ms); }, [this] { return Interrupted(); });
        }
        return Resistance();
    }

    // A console that falls silent, and one that sends again, each said once on stderr.
    void TellSilences() {
        protocol_.OnConsoleSilent = [this](int id) {
            err_ << "wct: console " << id << " is silent: no measures for "
                 << SilenceAfterMs((*protocol_.LastMeasure())[static_cast<size_t>(id)]) << " ms"
                 << std::endl;
        };
        protocol_.OnConsoleBack = [this](int id) {
            err_ << "wct: console " << id << " sends measures again" << std::endl;
        };
    }

    uint8_t Console() const { return static_cast<uint8_t>(*o_.console); }
    uint32_t WaitMs(int fallback) const {
        return static_cast<uint32_t>(o_.wait.value_or(fallback));
    }
    // Interrupted by the user, or the dongle is gone.
    bool Interrupted() const { return lost_ || (interrupted_ != nullptr && *interrupted_); }

    static constexpr uint32_t kFlushMs = 50;
    // How long `resistance` listens for the measures of the consoles it sets, at most.
    static constexpr uint32_t kHeartListenMs = 3000;

    // Waits `ms` while the main thread serves replies, or until interrupted. What the
    // replies printed is flushed every kFlushMs: a watching script sees each line that
    // soon, without a write(2) for every line at the line's rate.
    // `each`, when given, runs between passes too.
    void Serve(uint32_t ms, const std::function<void()>& each = nullptr) {
        uint32_t flushed = GetTickCount();
        // Short waits so that an interrupt is seen soon; replies end them at once anyway.
        ServeUntil(
            [&] {
                if (each) each();
                protocol_.WatchSilence();  // nothing arrives to tell it when all fall silent
                if (GetTickCount() - flushed >= kFlushMs) {
                    out_.flush();
                    flushed = GetTickCount();
                }
                return Interrupted();
            },
            ms, kFlushMs);
        out_.flush();
    }

    int Register() {
        const int wanted = o_.count.value_or(1);
        if (o_.wait) protocol_.SetTimeToWaitAddNewConsole(*o_.wait);
        protocol_.OpenRegistration();
        int found = 0;
        for (; found < wanted; ++found) {
            int version = -1, serial = -1;
            const uint8_t id = protocol_.FindConsole(version, serial);
            if (id == 0) break;
            out_ << int(id) << ' ' << version << ' ' << serial << std::endl;
        }
        protocol_.CloseRegistration();
        if (found < wanted) {
            err_ << "wct: " << found << " of " << wanted << " consoles joined within "
                 << protocol_.TimeToWaitAddNewConsole() << " ms\n";
            return exFailed;
        }
        return exDone;
    }

    // The consoles present: those that join while registration is open for --wait ms,
    // and those already registered, which show themselves by sending measures meanwhile.
    int Consoles() {
        std::set<uint8_t> reporting;
        protocol_.OnMeasuresReceived = [&](const TMiraWirelessConsoleMeasures&, uint8_t id) {
            reporting.insert(id);
        };
        protocol_.OpenRegistration();
        protocol_.SetMeasure(true);
        TMiraWirelessProtocol::WaitWithMessages(WaitMs(1500));
        protocol_.SetMeasure(false);
        protocol_.CloseRegistration();
        protocol_.OnMeasuresReceived = nullptr;
        std::set<uint8_t> ids = reporting;
        for (size_t id = 1; id < protocol_.Consoles().size(); ++id)
            if (protocol_.IsConsoleConnected(static_cast<uint8_t>(id)))
                ids.insert(static_cast<uint8_t>(id));
        for (uint8_t id : ids) {
            protocol_.RequestSerial(id);
            protocol_.RequestVersion(id);
            protocol_.RequestFirmware(id);
            protocol_.RequestTotalRolls(id);  // its wait lets the other answers in too
        }
        out_ << "id version serial firmware total_rolls connected used\n";
        for (uint8_t id : ids) {
            const TMiraConsoleInfo& c = protocol_.Consoles()[id];
            const bool connected = c.Connected || reporting.count(id) != 0;
            out_ << int(id) << ' ' << int(c.Version) << ' ' << c.Serial << ' '
                 << int(c.FirmwareMajor) << '.' << int(c.FirmwareMinor) << ' ' << c.TotalRolls
                 << ' ' << (connected ? "yes" : "no") << ' ' << (c.Used ? "yes" : "no") << '\n';
        }
        return exDone;
    }

    int Measure() {
        const uint32_t start = GetTickCount();
        const char sep = o_.csv ? ',' : ' ';
        if (o_.csv) out_ << "time_ms,console,rpm,kmh,heart_rate,cadence,keys\n";
        protocol_.OnMeasuresReceived = [&](const TMiraWirelessConsoleMeasures& val, uint8_t id) {
            const TMiraConsoleMeasure& m = (*val)[id];
            const double kmh = RollSpeedKmh(m.Rpm);
            char speed[32];
            std::snprintf(speed, sizeof speed, "%.2f", kmh);
            out_ << GetTickCount() - start << sep << int(id) << sep << m.Rpm << sep << speed << sep
                 << int(m.HeartRate) << sep << int(m.Cadence) << sep << int(m.Keys) << '\n';
        };
        TellSilences();
        protocol_.SetMeasure(true);
        Serve(static_cast<uint32_t>(*o_.seconds) * 1000);
        protocol_.SetMeasure(false);
        protocol_.OnMeasuresReceived = nullptr;
        return exDone;
    }

    int Test() {
        const uint8_t id = Console();
        bool ok = false;
        if (o_.test == "keys")
            ok = protocol_.TestKeys(id);
        else if (o_.test == "cardio")
            ok = protocol_.TestCardio(id);
        else if (o_.test == "signals")
            ok = protocol_.TestSignals(id);
        else
            ok = protocol_.TriggerClock(id);
        if (ok) return exDone;
        err_ << "wct: test " << o_.test << " on console " << int(id)
             << " was refused or not answered within " << protocol_.ReplyTimeOut() << " ms\n";
        return exFailed;
    }

    int Read() {
        const uint8_t id = Console();
        if (!protocol_.ReadValue(id, static_cast<uint16_t>(*o_.address),
                                 static_cast<uint8_t>(*o_.count))) {
            err_ << "wct: nothing read from console " << int(id) << '\n';
            return exFailed;
        }
        const TMiraConsoleInfo& c = protocol_.Consoles()[id];
        out_ << HexList(c.Data.data(), static_cast<size_t>(c.DataCount)) << '\n';
        return exDone;
    }

    int ReadPage() {
        const uint8_t id = Console();
        int failed = 0;
        for (int i = 0; i < 256 && !Interrupted(); ++i) {
            const auto address = static_cast<uint16_t>(*o_.address + i * 8);
            char head[8];
            std::snprintf(head, sizeof head, "%04X:", address);
            if (isatty(STDERR_FILENO))
                std::fprintf(stderr, "\r\033[Kreading %s %d/256", head, i + 1);
            if (!protocol_.ReadValue(id, address, 8)) {
                err_ << head << " read failed\n";
                ++failed;
                continue;
            }
            const TMiraConsoleInfo& c = protocol_.Consoles()[id];
            out_ << head << ' ' << HexList(c.Data.data(), static_cast<size_t>(c.DataCount))
                 << std::endl;
        }
        if (isatty(STDERR_FILENO)) std::fputs("\r\033[K", stderr);
        if (failed == 0) return exDone;
        err_ << "wct: " << failed << " of 256 reads failed\n";
        return exFailed;
    }

    int Write() {
        const uint8_t id = Console();
        uint8_t data[8] = {};
        std::copy(o_.hex.begin(), o_.hex.end(), data);
        if (protocol_.WriteValue(id, static_cast<uint16_t>(*o_.address),
                                 static_cast<uint8_t>(o_.hex.size()), data))
            return exDone;
        err_ << "wct: console " << int(id) << " refused the write or did not answer\n";
        return exFailed;
    }

    int Rolls() {
        const int32_t total = protocol_.RequestTotalRolls(Console());
        if (total < 0) {
            err_ << "wct: console " << int(Console()) << " did not report its total rolls\n";
            return exFailed;
        }
        out_ << total << '\n';
        return exDone;
    }

    int Send() {
        memo_.echoReplies = true;
        protocol_.SendFrame(o_.hex,
                            " Hand-typed frame" + TBrakeInterlock::PastInterlockNote(o_.hex));
        Serve(WaitMs(1000));
        memo_.echoReplies = false;
        return exDone;
    }

    int Resistance() {
        // Resistances are only kept while the dongle reports consoles.
        protocol_.AskNumberOfConsole();
        ServeUntil([this] { return protocol_.NumberOfConsole() > 0; },
                   static_cast<uint32_t>(protocol_.ReplyTimeOut()));
        if (protocol_.NumberOfConsole() <= 0) {
            err_ << "wct: the dongle reports no console to send resistances to\n";
            return exFailed;
        }
        // The interlock watches the hearts in the measures: they flow while levels go out,
        // and each console is heard before its first level.
        protocol_.BrakeInterlock().SetBenchMaximum(o_.maxHeartRate);
        protocol_.SetMeasure(true);
        const auto heard = [this](int console) {
            return static_cast<size_t>(console) < protocol_.LastMeasure()->size() &&
                   (*protocol_.LastMeasure())[static_cast<size_t>(console)].MeasureTick != 0;
        };
        ServeUntil(
            [&] {
                return Interrupted() ||
                       std::all_of(o_.levels.begin(), o_.levels.end(),
                                   [&](const auto& set) { return heard(set.first); });
            },
            kHeartListenMs, kFlushMs);
        for (const auto& [console, level] : o_.levels)
            if (!heard(console))
                err_ << "wct: console " << console
                     << " sends no measures: its heart rate is not watched\n";
        protocol_.OnBeforeSendResistance = [this] {
            for (const auto& [console, level] : o_.levels)
                protocol_.SetConsoleResistance(console, static_cast<uint8_t>(level), 0, 0);
        };
        protocol_.StartResistanceSending();
        Serve(static_cast<uint32_t>(*o_.seconds) * 1000);
        protocol_.StopResistanceSending();
        protocol_.OnBeforeSendResistance = nullptr;
        protocol_.SetMeasure(false);
        return exDone;
    }

    TCliOptions o_;
    std::ostream& out_;
    std::ostream& err_;
    const volatile bool* interrupted_;
    bool lost_ = false;
    std::ofstream traceFile_;
    std::unique_ptr<TDebugMemo> trace_;
    TCliMemo memo_;
    std::unique_ptr<sim::TDongleSimulator> simulator_;
    testbench::TTestBench bench_;
    TMiraWirelessProtocol& protocol_ = bench_.Protocol();
};

}  // namespace

std::string CannotOpen(const std::string& port, const EComPort& failure) {
    const int error = failure.SystemErrorCode();
    std::string text = "cannot open " + PortDevicePath(port) + ": ";
    if (error <= 0) return text + failure.what();
    text += failure.SystemErrorText();
    if (error == EACCES) text += ": join the dialout group";
    return text;
}

int RunCommand(const TCliOptions& options, std::ostream& out, std::ostream& err,
               const volatile bool* interrupted) {
    return TRunner(options, out, err, interrupted).Run();
}

}  // namespace wct::cli
