// SPDX-License-Identifier: Apache-2.0
// TPcapngFile: writes a capture that Wireshark, tshark and capinfos open: a pcapng file of
// one section (the writing program named in its header), one interface per port (its link
// type, name and line speed) and one enhanced packet block per packet, with microsecond
// time stamps and the packet's direction.
//
// Blocks are little-endian, whatever the host (the section's byte-order magic says so).
// Each block goes to the file in one write(2) without user-space buffering, so a crash
// loses at most the block being written. A failed write (disk full) ends the file, cut
// back to its last whole block: Error() then says why and nothing more is written;
// callers go on without it.
//
// Plain standard library and POSIX; one thread at a time.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

namespace wct {

// The private link types the bench's traffic is written under: tcpdump's user link types,
// which Wireshark hands to the dissectors registered for them (wtap_encap user0, user1).
constexpr uint16_t kLinkTypeDongle = 147;        // LINKTYPE_USER0: wireless dongle frames
constexpr uint16_t kLinkTypeWiredTrainer = 148;  // LINKTYPE_USER1: wired trainer frames

enum class TPacketDirection { pdInbound, pdOutbound };  // as the host sees it

class TPcapngFile {
public:
    TPcapngFile() = default;
    ~TPcapngFile();
    TPcapngFile(const TPcapngFile&) = delete;
    TPcapngFile& operator=(const TPcapngFile&) = delete;

    // Creates or truncates `path` and writes the section header naming `application`
    // (e.g. "wct 0.1"); throws std::runtime_error with the path and the system's reason.
    void Open(const std::string& path, const std::string& application);
    void Close();
    bool IsOpen() const { return fd_ >= 0; }
    // Empty while all went well.
    const std::string& Error() const { return error_; }
    const std::string& Path() const { return path_; }

    // Describes one more interface; returns its number for AddPacket (0 for the first).
    // `bitsPerSecond` 0 leaves the speed out.
    uint32_t AddInterface(uint16_t linkType, const std::string& name, uint64_t bitsPerSecond);
    // `micros`: microseconds since 1970-01-01 UTC.
    void AddPacket(uint32_t interface, uint64_t micros, TPacketDirection direction,
                   std::string_view bytes);

private:
    void WriteAll(const std::string& block);

    int fd_ = -1;
    uint32_t interfaces_ = 0;
    uint64_t size_ = 0;  // bytes of whole blocks written
    std::string path_;
    std::string error_;
};

// The time stamps of a live capture: wall-clock microseconds as of its start, moving on by
// the monotonic clock, so that a clock set during the capture does not reorder it.
class TCaptureClock {
public:
    TCaptureClock();
    uint64_t NowMicros() const;

private:
    uint64_t startMicros_;
    std::chrono::steady_clock::time_point start_;
};

}  // namespace wct
