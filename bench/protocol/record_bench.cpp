// SPDX-License-Identifier: Apache-2.0
// What recording the wire costs: the recorder alone, fed the chunks of a dongle link at
// full line rate (115200 bit/s, 11520 bytes a second) into a real file, first as one
// chunk per measures frame (11 bytes, the usual reads), then as the worst case of one
// chunk per byte. Prints the CPU per chunk and the share of one core that the line rate
// asks for. `live_bench SECONDS --record` measures the same on a live link.
#include <unistd.h>

#include <cstdio>
#include <ctime>
#include <string>

#include "protocol/wire_recorder.h"

using namespace wct;

namespace {

double CpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

constexpr double kLineBytesPerSecond = 11520;

void Run(const std::string& path, size_t chunkBytes, long chunks) {
    TWireRecorder recorder;
    recorder.Open(path);
    const std::string chunk =
        std::string("\x3E\x01\x07\x05\x0B\xB8\x50\x5A\x00\x00\x21", 11).substr(0, chunkBytes);
    const double start = CpuSeconds();
    for (long i = 0; i < chunks; ++i) recorder.Read(chunk.data(), static_cast<int>(chunk.size()));
    const double cpu = CpuSeconds() - start;
    recorder.Close();
    const double perChunk = cpu / static_cast<double>(chunks);
    const double chunksPerSecond = kLineBytesPerSecond / static_cast<double>(chunkBytes);
    std::printf(
        "%2zu-byte chunks: %.2f us CPU each; at full line rate (%.0f a second) %.3f%% of "
        "one core (target: under 1%%)%s\n",
        chunkBytes, perChunk * 1e6, chunksPerSecond, 100 * perChunk * chunksPerSecond,
        recorder.Error().empty() ? "" : (" - " + recorder.Error()).c_str());
}

}  // namespace

int main(int argc, char** argv) {
    const long chunks = argc > 1 ? std::atol(argv[1]) : 200000;
    char path[] = "/tmp/record_bench_XXXXXX";
    const int fd = mkstemp(path);
    if (fd < 0) return 2;
    close(fd);
    Run(path, 11, chunks);
    Run(path, 1, chunks);
    unlink(path);
    return 0;
}
