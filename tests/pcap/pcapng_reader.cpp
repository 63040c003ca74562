// SPDX-License-Identifier: Apache-2.0
#include "pcapng_reader.h"

#include <fstream>
#include <sstream>
#include <stdexcept>

namespace wct::test {
namespace {

uint32_t Le(const std::string& s, size_t at, int bytes) {
    if (at + static_cast<size_t>(bytes) > s.size()) throw std::runtime_error("block cut short");
    uint32_t v = 0;
    for (int i = bytes - 1; i >= 0; --i) v = v << 8 | static_cast<uint8_t>(s[at + i]);
    return v;
}

// Options from `at` to the block's end: code, length, value padded to 4.
template <class F>
void Options(const std::string& body, size_t at, F each) {
    while (at + 4 <= body.size()) {
        const uint32_t code = Le(body, at, 2);
        const uint32_t length = Le(body, at + 2, 2);
        if (code == 0) return;
        if (at + 4 + length > body.size()) throw std::runtime_error("option past its block");
        each(code, body.substr(at + 4, length));
        at += 4 + (length + 3) / 4 * 4;
    }
    throw std::runtime_error("options without their end");
}

}  // namespace

TReadCapture ReadPcapng(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) throw std::runtime_error("cannot read " + path);
    std::ostringstream all;
    all << file.rdbuf();
    const std::string s = all.str();
    TReadCapture capture;
    for (size_t at = 0; at < s.size();) {
        const uint32_t type = Le(s, at, 4);
        const uint32_t length = Le(s, at + 4, 4);
        if (length % 4 != 0 || length < 12 || at + length > s.size())
            throw std::runtime_error("block length " + std::to_string(length));
        if (Le(s, at + length - 4, 4) != length)
            throw std::runtime_error("trailing length differs");
        const std::string body = s.substr(at + 8, length - 12);
        if (at == 0 && type != 0x0A0D0D0A) throw std::runtime_error("no section header first");
        if (type == 0x0A0D0D0A) {
            if (Le(body, 0, 4) != 0x1A2B3C4D) throw std::runtime_error("byte order magic");
            if (Le(body, 4, 2) != 1 || Le(body, 6, 2) != 0) throw std::runtime_error("version");
            Options(body, 16, [&](uint32_t code, const std::string& v) {
                if (code == 4) capture.application = v;
            });
        } else if (type == 1) {
            TReadInterface i;
            i.linkType = static_cast<uint16_t>(Le(body, 0, 2));
            Options(body, 8, [&](uint32_t code, const std::string& v) {
                if (code == 2) i.name = v;
                if (code == 8) i.speed = Le(v, 0, 4) | uint64_t{Le(v, 4, 4)} << 32;
                if (code == 9) i.timeResolution = static_cast<uint8_t>(v.at(0));
            });
            capture.interfaces.push_back(i);
        } else if (type == 6) {
            TReadPacket p;
            p.interface = Le(body, 0, 4);
            p.micros = uint64_t{Le(body, 4, 4)} << 32 | Le(body, 8, 4);
            const uint32_t captured = Le(body, 12, 4);
            if (Le(body, 16, 4) != captured) throw std::runtime_error("lengths differ");
            p.bytes = body.substr(20, captured);
            if (p.interface >= capture.interfaces.size())
                throw std::runtime_error("packet on an undescribed interface");
            Options(body, 20 + (captured + 3) / 4 * 4, [&](uint32_t code, const std::string& v) {
                if (code == 2) p.flags = Le(v, 0, 4);
            });
            capture.packets.push_back(p);
        } else {
            throw std::runtime_error("unexpected block type " + std::to_string(type));
        }
        at += length;
    }
    return capture;
}

}  // namespace wct::test
