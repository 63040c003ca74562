// SPDX-License-Identifier: Apache-2.0
// What the window tests share: protocol time that runs faster than real time, the
// simulator's record of the bytes it received, and a fixture that starts a simulator and
// the bench and finds the window's controls.
#pragma once

#include <gtest/gtest.h>

#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <chrono>
#include <cmath>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "app/application.h"
#include "app/file_dialog.h"
#include "app/log_to_file.h"
#include "app/memo_hex.h"
#include "app/string_grid.h"
#include "common/tick_count.h"
#include "common/virtual_ports.h"
#include "protocol/wireless_frame.h"
#include "common/hex.h"
#include "serial/port_inventory.h"
#include "sim/dongle_simulator.h"
#include "support/recording_messages.h"

namespace wct::test {

// How long a test waits for what it expects: a bound for a hang on a busy machine, never a
// measurement (what must not happen is watched for its own, short, time).
constexpr int kWaitMs = 30000;

// The protocol's clock, `factor` times real time, for the life of the object: a 20 s
// reply time-out passes in 5 s at 4 times and the simulator follows, while Qt's own timers keep
// real time.
class TScopedFastTicks : public TTickSource {
public:
    explicit TScopedFastTicks(double factor) : factor_(factor) { SetTickSource(this); }
    ~TScopedFastTicks() override { SetTickSource(nullptr); }
    uint32_t Now() override {
        const std::chrono::duration<double, std::milli> real = Clock::now() - start_;
        return 100000u + static_cast<uint32_t>(real.count() * factor_);
    }
    std::chrono::milliseconds WaitSlice(uint32_t ticks) override {
        return std::chrono::milliseconds(static_cast<int64_t>(std::ceil(ticks / factor_)));
    }

private:
    using Clock = std::chrono::steady_clock;
    double factor_;
    Clock::time_point start_ = Clock::now();
};

// Every byte the simulator received, as hex (its log runs on its own thread).
class TSimLog {
public:
    sim::TLogSink Sink() {
        return [this](const std::string& line) {
            std::lock_guard lock(mutex_);
            if (line.rfind("<- ", 0) == 0) received_ += line.substr(3);
        };
    }
    std::string Received() {
        std::lock_guard lock(mutex_);
        return received_;
    }
    // How often `frame` arrived.
    int Count(const std::string& frame) {
        const std::string hex = Received(), wanted = BytesToHex(frame);
        int n = 0;
        // Frames start on even offsets of the hex text.
        for (size_t at = hex.find(wanted); at != std::string::npos; at = hex.find(wanted, at + 1))
            n += at % 2 == 0;
        return n;
    }

private:
    std::mutex mutex_;  // protects received_
    std::string received_;
};

inline std::string Frame(uint8_t code, uint8_t id, std::initializer_list<uint8_t> payload = {}) {
    std::string bytes;
    for (uint8_t b : payload) bytes += static_cast<char>(b);
    return BuildFrame(code, id, bytes);
}

// Reads a whole file; empty when it cannot.
std::string ReadFile(const std::string& path);
// Saves a picture of `widget` as <name>.png in $WCT_ARTIFACTS_DIR/screenshots, or in
// <build>/screenshots. A folder that cannot be written only loses the picture.
void SaveScreenshot(QWidget& widget, const std::string& name);

// Answers the file dialog with `answer`, for its lifetime.
class TAnsweringFileDialog : public TFileDialog {
public:
    TAnsweringFileDialog() { SetFileDialog(this); }
    ~TAnsweringFileDialog() override { SetFileDialog(nullptr); }
    QString SaveFileName(QWidget*, const QString&, const QString& start, const QString&) override {
        suggested.push_back(start);
        return answer;
    }
    QString answer;
    std::vector<QString> suggested;
};

class BenchTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Starts a simulator with `options` (consoles 1 to 3 by default) and the bench with
    // its port selected, shown as `appOptions` ask.
    void StartBench(sim::TDongleOptions options, const TAppOptions& appOptions = {});
    void StartBench();
    // Clicks "Connect" and waits for the connection.
    void Connect();

    TForm1& Form() { return app->Form1(); }
    QPushButton& Button(const char* name);
    template <typename T>
    T& Control(const char* name) {
        T* control = Form().findChild<T*>(name);
        if (control == nullptr) throw std::runtime_error(std::string("no control ") + name);
        return *control;
    }
    TStringGrid& Grid(const char* name) { return Control<TStringGrid>(name); }
    void Click(const char* name) { QTest::mouseClick(&Button(name), Qt::LeftButton); }
    void SetText(const char* edit, const QString& text) { Control<QLineEdit>(edit).setText(text); }
    bool Traced(const std::string& text);
    bool Shown(const std::string& text) const;
    std::string LogText() { return ReadFile(logDir.filePath("VxWireless.log").toStdString()); }

    // Fast enough that a 20 s time-out passes in 5 s.
    TScopedFastTicks ticks{4};
    TRecordingMessages messages;
    QTemporaryDir logDir;  // where the executable's log file goes
    TSimLog simLog;
    std::unique_ptr<sim::TDongleSimulator> simulator;
    std::unique_ptr<TBenchApp> app;
};

}  // namespace wct::test
