// SPDX-License-Identifier: Apache-2.0
#include "gui_support.h"

#include <algorithm>
#include <fstream>
#include <sstream>

namespace wct::test {

std::string ReadFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

void SaveScreenshot(QWidget& widget, const std::string& name) {
    // The test command names a place an unprivileged run may write to.
    const QByteArray artifacts = qgetenv("WCT_ARTIFACTS_DIR");
    QDir dir(artifacts.isEmpty() ? QString(WCT_SCREENSHOT_DIR) : artifacts + "/screenshots");
    dir.mkpath(".");
    const QString path = dir.filePath(QString::fromStdString(name) + ".png");
    if (!widget.grab().save(path)) std::printf("screenshot %s not saved\n", qPrintable(path));
}

void BenchTest::SetUp() {
    ASSERT_TRUE(logDir.isValid());
    SetExecutableDirectory(logDir.path().toStdString());
    // Only the ports of this process: the machine's own stay out of the tests.
    SetPortSource([] { return VirtualPorts(); });
}

void BenchTest::TearDown() {
    app.reset();
    simulator.reset();
    SetPortSource(nullptr);
    SetExecutableDirectory("");
}

void BenchTest::StartBench(sim::TDongleOptions options, const TAppOptions& appOptions) {
    sim::TSimSettings settings;
    settings.log = simLog.Sink();
    simulator = std::make_unique<sim::TDongleSimulator>(std::move(options), settings);
    simulator->Start();
    app = std::make_unique<TBenchApp>(appOptions);
    // The simulator's thread keeps real time: on a busy machine the 200 ms the dongle
    // has (50 ms here) can pass before it has run at all.
    Form().tmp().SetDongleReplyTimeOut(2000);
    Form().SelectPort(simulator->PortPath());
    app->Show();
}

void BenchTest::StartBench() {
    sim::TDongleOptions options;
    for (uint8_t id = 1; id <= 3; ++id) {
        options.consoles.push_back(sim::DefaultConsole(id));
        options.consoles.back().joinedAtStart = true;
    }
    StartBench(options);
}

void BenchTest::Connect() {
    Click("Connect");
    ASSERT_TRUE(QTest::qWaitFor([&] { return Form().tmp().Connected(); }, kWaitMs));
}

QPushButton& BenchTest::Button(const char* name) {
    return Control<QPushButton>(name);
}

bool BenchTest::Traced(const std::string& text) {
    const QStringList lines = Form().TraceMemo().Lines();
    return std::any_of(lines.begin(), lines.end(), [&](const QString& line) {
        return line.toStdString().find(text) != std::string::npos;
    });
}

bool BenchTest::Shown(const std::string& text) const {
    return std::any_of(messages.shown.begin(), messages.shown.end(),
                       [&](const auto& m) { return m.text == text; });
}

}  // namespace wct::test
