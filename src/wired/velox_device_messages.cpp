// SPDX-License-Identifier: Apache-2.0
// Decoding the trainer's messages and dispatching them.
#include <cmath>
#include <numbers>

#include "wired/velox_device.h"
#include "wired/velox_frame.h"

namespace wct::wired {

namespace {

uint8_t At(const std::string& message, size_t at) {
    return at < message.size() ? static_cast<uint8_t>(message[at]) : 0;
}

uint32_t Value24(const std::string& message) {
    return uint32_t{At(message, 2)} << 16 | uint32_t{At(message, 3)} << 8 | At(message, 4);
}

}  // namespace

bool TVeloxDevice::ParseMessage(const std::string& bytes) {
    noMessage_ = false;
    if (tryCount_ > 0) TrainerSpeaks();
    if (version_ < 4) {
        ParseBytes(bytes);
        return true;
    }
    CountMessage();
    if ((bytes.size() == kShortFrameSize || bytes.size() == kLongFrameSize) &&
        At(bytes, 0) != kFrameStart) {
        DoMessageRejected(bytes);
        return false;
    }
    const bool longFrames = version_ > 4;
    switch (At(bytes, 1)) {
        case vcIdentification: {
            const uint8_t answer = At(bytes, 2);
            Identified(answer);
            DoVeloxMessage(mtIdentification, answer, -1, -1, bytes);
            return true;
        }
        case vcMeasures:
            if (longFrames)
                ParseLongMeasures(bytes);
            else
                ParseShortMeasures(bytes);
            return true;
        case vcRollTotal:
            if (const uint32_t total = Value24(bytes); total != 0) TakeRollTotal(total);
            DoVeloxMessage(mtRollCount, -1, -1, -1, bytes);
            return true;
        case vcSerialNumber:
            ParseSerialNumber(bytes);
            DoVeloxMessage(mtSerialNumber, -1, -1, -1, bytes);
            return true;
        case vcProductVersion:
            productVersion_ = At(bytes, 2);
            DoVeloxMessage(mtProductVersion, productVersion_, -1, -1, bytes);
            if (!longFrames) DoProductVersion();
            return true;
        case vcUnparsed:
            DoVeloxMessage(mtUnparsed, -1, -1, -1, bytes);
            return true;
        default:
            if (!longFrames) DoMessageRejected(bytes);
            return false;
    }
}

void TVeloxDevice::ParseSerialNumber(const std::string& message) {
    const uint32_t serial = Value24(message);
    if (version_ <= 4) {
        if (serial != 0 && serialNumber_ == 0) {
            serialNumber_ = serial;
            DoSerialNumber();
        }
        return;
    }
    if (serial != 0) serialNumber_ = serial;
    rotationHex1_ = At(message, 5);
    rotationHex2_ = At(message, 6);
    const int l = static_cast<int8_t>(rotationHex1_);
    const int m = static_cast<int8_t>(rotationHex2_);
    if (m == 0) {
        orientation_ = 0;
        return;
    }
    const double o = std::atan(static_cast<double>(l) / m) * 180 / std::numbers::pi;
    orientation_ = m > 0 ? o : l < 0 ? o - 180 : o + 180;
}

void TVeloxDevice::TakeKeys(uint8_t flags) {
    // The lowest key bit wins when several are set.
    for (int key = ckPlus; key <= ckT; ++key) {
        if ((flags >> key & 1) != 0) {
            ConsoleKey(static_cast<TConsoleKey>(key));
            return;
        }
    }
}

void TVeloxDevice::ParseShortMeasures(const std::string& message) {
    const uint8_t flags = At(message, 2);
    TakeKeys(flags);
    const long double r = debugMode_ ? rollValue_ : At(message, 3);
    const bool beat = (flags & vfHeartBeat) != 0;
    const bool pedal = (flags & vfPedal) != 0;
    if (status_ != vdsDisconnected) {
        SpeedSample(r);
        if (status_ == vdsRunning) RollIncrement(r);
        if (beat) HeartBeat();
        if (pedal) CadenceFlag();
        ExpireCadence();
    }
    DoVeloxMessage(mtMeasures, r, beat ? 1 : 0, pedal ? 1 : 0, message);
}

void TVeloxDevice::ParseLongMeasures(const std::string& message) {
    TakeKeys(At(message, 2));
    if (status_ == vdsDisconnected || message.size() < kLongFrameSize) return;
    const long double r = debugMode_ ? rollValue_ : RollEventsPer100ms(Word(message, 3));
    SpeedSample(r);
    if (status_ == vdsRunning) RollIncrement(r);
    long double heart = 0;
    long double cadence = 0;
    if (!debugMode_) LongFramePeriods(Word(message, 5), Word(message, 7), heart, cadence);
    ExpireCadence();
    DoVeloxMessage(mtMeasures, r, heart, cadence, message);
}

void TVeloxDevice::ParseBytes(const std::string& bytes) {
    for (char c : bytes) {
        const auto flags = static_cast<uint8_t>(c);
        if (!connected_) {
            // Not connected, every byte is taken as the identification answer.
            if (flags == 0x50) {
                DoVeloxMessage(mtIdentification, -1, -1, -1, bytes);
                SetConnected(true);
            } else {
                SetConnected(false);
            }
            continue;
        }
        const int r = (flags & vfRoll) != 0 ? 1 : 0;
        byteAccumulator_ += r;
        if (++bytesCounted_ >= 10) {
            SpeedSample(byteAccumulator_);
            byteAccumulator_ = 0;
            bytesCounted_ = 0;
        }
        if (status_ == vdsRunning) RollIncrement(r);
        if (flags == 0) continue;
        TakeKeys(flags);
        const bool beat = (flags & vfHeartBeat) != 0;
        const bool pedal = (flags & vfPedal) != 0;
        if (beat) HeartBeat();
        if (pedal) CadenceFlag();
        ExpireCadence();
        DoVeloxMessage(mtMeasures, r, beat ? 1 : 0, pedal ? 1 : 0, std::string(1, c));
    }
}

}  // namespace wct::wired
