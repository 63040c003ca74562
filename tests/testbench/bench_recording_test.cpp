// SPDX-License-Identifier: Apache-2.0
// The bench's recording of the wire on a protocol component: on the protocol's tap while
// either file records, a recording and a capture at once as wct's --record and --pcap
// ask, each kind chosen by name for the window, and a file that cannot be written named.
#include "testbench/bench_recording.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <stdexcept>
#include <string>

#include "protocol/wireless_protocol.h"

namespace wct::testbench {
namespace {

namespace fs = std::filesystem;

TEST(BenchRecordingTest, TapsTheProtocolWhileEitherFileRecordsAndNamesAFileItCannotWrite) {
    const fs::path folder = fs::temp_directory_path() / ("wct-recording-" + std::to_string(getpid()));
    fs::create_directories(folder);
    TMiraWirelessProtocol protocol;
    {
        TBenchRecording recording(protocol);
        const std::string rec = (folder / "a.rec").string();
        const std::string pcap = (folder / "a.PcapNG").string();
        recording.Start(rec, "test");
        recording.Start(pcap, "test");  // by its name, a capture beside the recording
        EXPECT_TRUE(recording.Recording());
        EXPECT_FALSE(recording.Broken());
        EXPECT_NE(protocol.WireTap(), nullptr);
        EXPECT_EQ(recording.Path(), pcap);
        EXPECT_TRUE(recording.Stop().empty());
        EXPECT_EQ(protocol.WireTap(), nullptr);
        EXPECT_FALSE(recording.Recording());
        EXPECT_GT(fs::file_size(pcap), 0u);  // the section header at least
        EXPECT_TRUE(fs::exists(rec));

        const std::string missing = (folder / "none" / "b.rec").string();
        try {
            recording.StartRecording(missing);
            FAIL();
        } catch (const std::runtime_error& e) {
            EXPECT_NE(std::string(e.what()).find(missing), std::string::npos) << e.what();
        }
        EXPECT_FALSE(recording.Recording());
        EXPECT_EQ(protocol.WireTap(), nullptr);
        EXPECT_EQ(recording.Path(), pcap);  // still the last one made
        recording.StartCapture(pcap, "test");
    }
    // Destroyed while recording: the tap is taken off.
    EXPECT_EQ(protocol.WireTap(), nullptr);
    fs::remove_all(folder);
}

}  // namespace
}  // namespace wct::testbench
