// SPDX-License-Identifier: Apache-2.0
// TMiraWireTap: sees the raw bytes of the dongle link as they pass, both ways, for a
// recording. The protocol component calls it on the main thread: Read with every chunk
// read from the port (before the framer cuts it, so noise and cut frames are seen too),
// Written with every frame the send path handed to the port. Not owned by the component.
#pragma once

#include <string>

namespace wct {

class TMiraWireTap {
public:
    virtual ~TMiraWireTap() = default;
    virtual void Written(const std::string& bytes) = 0;
    virtual void Read(const char* bytes, int count) = 0;
};

}  // namespace wct
