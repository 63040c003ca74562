// SPDX-License-Identifier: Apache-2.0
// Reply decoding: every valid frame from the dongle updates the tables, raises its event
// and writes its trace line.
#include "common/tick_count.h"
#include "protocol/wireless_frame.h"
#include "protocol/wireless_protocol.h"
#include "common/hex.h"

namespace wct {
namespace {

// Two uppercase hex digits of one byte.
std::string Hex2(uint8_t value) {
    return BytesToHex(std::string(1, static_cast<char>(value)));
}

// Sets the status a NACK or an ACK answers, by the command it names.
void SetAnswerStatus(TMiraConsoleInfo& entry, uint8_t command, uint8_t testValue,
                     uint8_t writeValue) {
    switch (command) {
        case mcTestKeys:
            entry.KeysTestStatus = testValue;
            break;
        case mcTestCardio:
            entry.CardioTestStatus = testValue;
            break;
        case mcTriggerClock:
            entry.ClockTriggerStatus = testValue;
            break;
        case mcTestSignals:
            entry.SignalsTestStatus = testValue;
            break;
        case mcWriteValue:
            entry.WriteStatus = writeValue;
            break;
        default:
            break;
    }
}

}  // namespace

void TMiraWirelessProtocol::PacketReceived(TComponent* /*sender*/, const std::string& packet) {
    if (!IsValidFrame(packet)) {
        statistics_.MalformedFrame();
        return;
    }
    statistics_.FrameReceived(packet, GetTickCount());
    const auto code = static_cast<uint8_t>(packet[1]);
    const auto id = static_cast<uint8_t>(packet[2]);
    const size_t n = static_cast<uint8_t>(packet[3]);
    // Payload byte i, or 0 past the payload: a short reply never reads outside the frame.
    auto p = [&](size_t i) -> uint8_t { return i < n ? static_cast<uint8_t>(packet[4 + i]) : 0; };

    switch (code) {
        case mcMeasures: {
            if (n < 5) {
                if (!debugNoData_) TraceFrame("<-", packet, " ## Measures too short, ignored");
                return;
            }
            const bool wasSilent = id < lastMeasure_->size() && (*lastMeasure_)[id].Silent;
            DecodeMeasures(lastMeasure_, packet, rollState_, GetTickCount());
            interlock_.ConsoleReading(id, (*lastMeasure_)[id].HeartRate);
            if (wasSilent) {
                (*lastMeasure_)[id].Silent = false;
                TraceFailure("Console " + std::to_string(id) + " measures again");
                if (OnConsoleBack) OnConsoleBack(id);
            }
            if (OnMeasuresReceived) OnMeasuresReceived(lastMeasure_, id);
            if (!debugNoData_) TraceFrame("<-", packet, " Data of console n°" + std::to_string(id));
            WatchSilence();
            return;
        }
        case mcNumberOfConsoles:
            numberOfConsole_ = p(0);
            TraceFrame("<-", packet, " Number of Console : " + std::to_string(numberOfConsole_));
            return;
        case mcNAck:
        case mcAck: {
            const bool ack = code == mcAck;
            // Answers from a console beyond the table address no entry: the table only
            // grows with consoles that joined or answered a request.
            if (id < consoles_.size())
                SetAnswerStatus(consoles_[id], p(0), ack ? 1 : 2, ack ? 5 : 2);
            // The event first, then the trace line, as for every reply but console joins
            // and leaves.
            if (ack) {
                if (OnAck) OnAck();
                TraceFrame("<-", packet, " ACK");
            } else {
                ++nacksSeen_;
                if (OnNAck) OnNAck(id, p(0));
                TraceFrame("<-", packet,
                           debugTime_ ? std::string(" NACK")
                                      : " NACK Cmd: " + Hex2(p(0)) + "  IDConsole: " + Hex2(id));
            }
            return;
        }
        case mcConsoleAdded:
            ++numberOfConsole_;
            SetConsoleField(consoles_, p(0), TMiraConsoleField::ID, p(0));
            SetConsoleField(consoles_, p(0), TMiraConsoleField::Connected, 1);
            TraceFrame("<-", packet, " Console Add ID=" + std::to_string(p(0)));
            if (OnConsoleAdd) OnConsoleAdd(p(0));
            return;
        case mcRemoveConsole:
            if (numberOfConsole_ >= 1) --numberOfConsole_;
            SetConsoleField(consoles_, p(0), TMiraConsoleField::Used, 0);
            SetConsoleField(consoles_, p(0), TMiraConsoleField::Connected, 0);
            // The time away is no ride: a console that comes back integrates its roll
            // revolutions from its first measures again, not across the gap.
            if (p(0) < (*lastMeasure_).size()) (*lastMeasure_)[p(0)].MeasureTick = 0;
            TraceFrame("<-", packet, " Console Remove ID=" + std::to_string(p(0)));
            if (OnConsoleRemove) OnConsoleRemove(p(0));
            return;
        case mcOpenRegistration:
            numberOfConsole_ = p(0);
            TraceFrame("<-", packet, " Open Dongle Cons.Nbr.=" + std::to_string(p(0)));
            return;
        case mcSerialNumber:
            SetConsoleField(consoles_, id, TMiraConsoleField::Serial,
                            p(0) * 65536 + p(1) * 256 + p(2));
            TraceFrame("<-", packet,
                       " Serial Nbr.= 0x" + Hex2(p(0)) + Hex2(p(1)) + Hex2(p(2)) +
                           " ID = " + std::to_string(id));
            return;
        case mcVersion:
            SetConsoleField(consoles_, id, TMiraConsoleField::Version, p(0));
            TraceFrame("<-", packet,
                       " Version Nbr.= 0x" + Hex2(p(0)) + " ID = " + std::to_string(id));
            return;
        case mcFirmware:
            SetConsoleField(consoles_, id, TMiraConsoleField::FirmwareMajor, p(0));
            SetConsoleField(consoles_, id, TMiraConsoleField::FirmwareMinor, p(1));
            TraceFrame("<-", packet,
                       " Firmware Version Nbr.= 0x" + Hex2(p(0)) + Hex2(p(1)) +
                           " ID = " + std::to_string(id));
            return;
        case mcTotalRolls: {
            const int32_t total = (p(0) * 256 + p(1)) * 32;
            SetConsoleField(consoles_, id, TMiraConsoleField::TotalRolls, total);
            TraceFrame("<-", packet,
                       " Total Rolls.= " + std::to_string(total) + " ID = " + std::to_string(id));
            return;
        }
        case mcReadValue:
            if (id < consoles_.size()) {
                TMiraConsoleInfo& entry = consoles_[id];
                const size_t count = p(0);
                // A count beyond the 8-byte buffer, or beyond what the frame carries, is a
                // broken answer: reported as nothing read rather than as partial data.
                if (count == 0 || count > entry.Data.size() || count + 1 > n) {
                    entry.ReadStatus = 3;
                } else {
                    entry.DataCount = static_cast<int32_t>(count);
                    for (size_t i = 0; i < count; ++i) entry.Data[i] = p(1 + i);
                    entry.ReadStatus = 1;
                }
            }
            TraceFrame("<-", packet, " Data ID=" + std::to_string(id));
            return;
        default:
            TraceFrame("<-", packet, " ??? unknown message");
            return;
    }
}

}  // namespace wct
