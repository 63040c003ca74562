// SPDX-License-Identifier: Apache-2.0
// Reads back what TPcapngFile writes, block by block, for the tests: a reader written from
// the format's layout alone, so that the writer is checked against it, not against itself.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace wct::test {

struct TReadInterface {
    uint16_t linkType = 0;
    std::string name;
    uint64_t speed = 0;
    int timeResolution = -1;
};

struct TReadPacket {
    uint32_t interface = 0;
    uint64_t micros = 0;
    uint32_t flags = 0;  // epb_flags; 1 inbound, 2 outbound
    std::string bytes;
};

struct TReadCapture {
    std::string application;
    std::vector<TReadInterface> interfaces;
    std::vector<TReadPacket> packets;
};

// Throws std::runtime_error saying what is wrong with the file.
TReadCapture ReadPcapng(const std::string& path);

}  // namespace wct::test
