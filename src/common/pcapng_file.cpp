// SPDX-License-Identifier: Apache-2.0
#include "common/pcapng_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace wct {
namespace {

constexpr uint32_t kSectionHeader = 0x0A0D0D0A;
constexpr uint32_t kInterfaceDescription = 1;
constexpr uint32_t kEnhancedPacket = 6;
constexpr uint32_t kByteOrderMagic = 0x1A2B3C4D;

constexpr uint16_t kOptEnd = 0;
constexpr uint16_t kShbUserApplication = 4;
constexpr uint16_t kIfName = 2;
constexpr uint16_t kIfSpeed = 8;
constexpr uint16_t kIfTimeResolution = 9;
constexpr uint16_t kEpbFlags = 2;
constexpr uint32_t kFlagInbound = 1;
constexpr uint32_t kFlagOutbound = 2;
constexpr uint8_t kMicroseconds = 6;

void Put16(std::string& out, uint16_t v) {
    out += static_cast<char>(v & 0xFF);
    out += static_cast<char>(v >> 8);
}

void Put32(std::string& out, uint32_t v) {
    Put16(out, static_cast<uint16_t>(v & 0xFFFF));
    Put16(out, static_cast<uint16_t>(v >> 16));
}

void Put64(std::string& out, uint64_t v) {
    Put32(out, static_cast<uint32_t>(v & 0xFFFFFFFF));
    Put32(out, static_cast<uint32_t>(v >> 32));
}

void PadTo4(std::string& out) {
    while (out.size() % 4 != 0) out += '\0';
}

void PutOption(std::string& out, uint16_t code, std::string_view value) {
    Put16(out, code);
    Put16(out, static_cast<uint16_t>(value.size()));
    out += value;
    PadTo4(out);
}

// Type, total length, body, total length again.
std::string Block(uint32_t type, const std::string& body) {
    std::string block;
    const auto length = static_cast<uint32_t>(12 + body.size());
    Put32(block, type);
    Put32(block, length);
    block += body;
    Put32(block, length);
    return block;
}

std::string SectionHeader(const std::string& application) {
    std::string body;
    Put32(body, kByteOrderMagic);
    Put16(body, 1);  // version 1.0
    Put16(body, 0);
    Put64(body, ~uint64_t{0});  // section length not given
    PutOption(body, kShbUserApplication, application);
    Put32(body, kOptEnd);
    return Block(kSectionHeader, body);
}

std::string InterfaceDescription(uint16_t linkType, const std::string& name,
                                 uint64_t bitsPerSecond) {
    std::string body;
    Put16(body, linkType);
    Put16(body, 0);  // reserved
    Put32(body, 0);  // no snapshot limit
    PutOption(body, kIfName, name);
    if (bitsPerSecond != 0) {
        std::string speed;
        Put64(speed, bitsPerSecond);
        PutOption(body, kIfSpeed, speed);
    }
    PutOption(body, kIfTimeResolution, std::string(1, static_cast<char>(kMicroseconds)));
    Put32(body, kOptEnd);
    return Block(kInterfaceDescription, body);
}

std::string EnhancedPacket(uint32_t interface, uint64_t micros, TPacketDirection direction,
                           std::string_view bytes) {
    std::string body;
    Put32(body, interface);
    Put32(body, static_cast<uint32_t>(micros >> 32));
    Put32(body, static_cast<uint32_t>(micros & 0xFFFFFFFF));
    Put32(body, static_cast<uint32_t>(bytes.size()));
    Put32(body, static_cast<uint32_t>(bytes.size()));
    body += bytes;
    PadTo4(body);
    std::string flags;
    Put32(flags, direction == TPacketDirection::pdInbound ? kFlagInbound : kFlagOutbound);
    PutOption(body, kEpbFlags, flags);
    Put32(body, kOptEnd);
    return Block(kEnhancedPacket, body);
}

}  // namespace

TPcapngFile::~TPcapngFile() {
    Close();
}

void TPcapngFile::Open(const std::string& path, const std::string& application) {
    Close();
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        throw std::runtime_error("cannot write the capture " + path + ": " + std::strerror(errno));
    fd_ = fd;
    path_ = path;
    error_.clear();
    interfaces_ = 0;
    size_ = 0;
    WriteAll(SectionHeader(application));
    if (!error_.empty()) throw std::runtime_error(error_);
}

void TPcapngFile::Close() {
    if (fd_ < 0) return;
    if (::close(fd_) != 0 && error_.empty())
        error_ = "writing the capture " + path_ + " failed: " + std::strerror(errno);
    fd_ = -1;
}

uint32_t TPcapngFile::AddInterface(uint16_t linkType, const std::string& name,
                                   uint64_t bitsPerSecond) {
    WriteAll(InterfaceDescription(linkType, name, bitsPerSecond));
    return interfaces_++;
}

void TPcapngFile::AddPacket(uint32_t interface, uint64_t micros, TPacketDirection direction,
                            std::string_view bytes) {
    WriteAll(EnhancedPacket(interface, micros, direction, bytes));
}

void TPcapngFile::WriteAll(const std::string& block) {
    if (fd_ < 0) return;
    for (size_t done = 0; done < block.size();) {
        const ssize_t n = ::write(fd_, block.data() + done, block.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            error_ =
                "writing the capture " + path_ + " failed: " + std::strerror(n < 0 ? errno : EIO);
            // Without the part of the block that went out, the file stays a whole capture;
            // should the cut fail too, readers report a cut block.
            [[maybe_unused]] const int cut =
                done != 0 ? ::ftruncate(fd_, static_cast<off_t>(size_)) : 0;
            ::close(fd_);
            fd_ = -1;
            return;
        }
        done += static_cast<size_t>(n);
    }
    size_ += block.size();
}

TCaptureClock::TCaptureClock()
    : startMicros_(static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(
                                             std::chrono::system_clock::now().time_since_epoch())
                                             .count())),
      start_(std::chrono::steady_clock::now()) {}

uint64_t TCaptureClock::NowMicros() const {
    return startMicros_ + static_cast<uint64_t>(
                              std::chrono::duration_cast<std::chrono::microseconds>(
                                  std::chrono::steady_clock::now() - start_)
                                  .count());
}

}  // namespace wct
