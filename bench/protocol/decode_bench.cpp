// SPDX-License-Identifier: Apache-2.0
// How fast recorded measures frames from many consoles go through the framer and the
// reply decoder, against the rate the 115200 bit/s line can deliver them.
#include <chrono>
#include <cstdio>
#include <random>
#include <string>

#include "protocol/wireless_frame.h"
#include "protocol/wireless_protocol.h"
#include "serial/com_data_packet.h"

using namespace wct;

int main() {
    constexpr int kConsoles = 60;
    constexpr int kFrames = 20000;
    std::mt19937 random(7);
    std::string stream;
    for (int i = 0; i < kFrames; ++i) {
        std::string payload(5, '\0');
        const int rpm = 300 + static_cast<int>(random() % 1500);
        payload[0] = static_cast<char>(rpm >> 8);
        payload[1] = static_cast<char>(rpm & 0xFF);
        payload[2] = static_cast<char>(60 + random() % 120);
        payload[3] = static_cast<char>(random() % 110);
        payload[4] = static_cast<char>(random() % 8 == 0 ? 1 : 0);
        stream += BuildFrame(mcMeasures, static_cast<uint8_t>(1 + i % kConsoles), payload);
    }

    TMiraWirelessProtocol protocol;
    TComDataPacket framer;
    framer.SetStartString(">");
    framer.SetStopString("!");
    framer.SetIncludeStrings(true);
    framer.SetCaseInsensitive(true);
    // As the component frames: by the length byte, so stop bytes in payloads are no matter.
    framer.OnCustomStop = [](TComponent*, const std::string& buffered, int& position) {
        position = FrameEnd(buffered);
    };
    long decoded = 0;
    protocol.OnMeasuresReceived = [&](const TMiraWirelessConsoleMeasures&, uint8_t) { ++decoded; };
    framer.OnPacket = [&](TComponent* s, const std::string& p) { protocol.PacketReceived(s, p); };

    // Chunks of the size the port typically reads at once.
    constexpr size_t kChunk = 64;
    constexpr int kRounds = 50;
    const auto start = std::chrono::steady_clock::now();
    for (int round = 0; round < kRounds; ++round)
        for (size_t at = 0; at < stream.size(); at += kChunk)
            framer.AddData(stream.substr(at, kChunk));
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

    const double frameBits = 11 * 10;  // 11 bytes, start and stop bit each
    const double lineFramesPerSecond = 115200 / frameBits;
    const double framesPerSecond = decoded / seconds;
    std::printf("frames decoded: %ld (expected %d)\n", decoded, kFrames * kRounds);
    std::printf("decode rate: %.0f frames/s, %.1f ns per frame\n", framesPerSecond,
                1e9 * seconds / decoded);
    std::printf("line rate: %.0f frames/s; decoding is %.0f times faster (target: 5000)\n",
                lineFramesPerSecond, framesPerSecond / lineFramesPerSecond);
    return decoded == long{kFrames} * kRounds ? 0 : 1;
}
