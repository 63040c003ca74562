// SPDX-License-Identifier: Apache-2.0
#include "common/wire_recording.h"

#include <fstream>
#include <sstream>

#include "common/hex.h"
#include "common/number_text.h"

namespace wct {

const char* const kWireRecordingHeader = "# wct wire recording 1";

EWireRecording::EWireRecording(int line, const std::string& message)
    : std::runtime_error(line > 0 ? "line " + std::to_string(line) + ": " + message : message),
      line_(line) {}

namespace {

TWireChunk ParseLine(std::string_view line, int number) {
    TWireChunk chunk;
    const size_t firstBlank = line.find(' ');
    const std::string_view time = line.substr(0, firstBlank);
    const std::optional<uint64_t> micros = ReadNumber<uint64_t>(time);
    if (!micros)
        throw EWireRecording(number, "'" + std::string(time) + "' is not a time in microseconds");
    if (firstBlank == std::string_view::npos || line.size() < firstBlank + 4 ||
        line[firstBlank + 3] != ' ')
        throw EWireRecording(number, "expected \"TIME -> HEX\" or \"TIME <- HEX\"");
    chunk.micros = *micros;
    const std::string_view arrow = line.substr(firstBlank + 1, 2);
    if (arrow == "->")
        chunk.direction = TWireDirection::wdToDevice;
    else if (arrow == "<-")
        chunk.direction = TWireDirection::wdFromDevice;
    else
        throw EWireRecording(number, "unknown direction '" + std::string(arrow) + "'");
    const std::string_view hex = line.substr(firstBlank + 4);
    if (hex.empty()) throw EWireRecording(number, "no bytes");
    if (hex.size() % 2 != 0) throw EWireRecording(number, "odd number of hex digits");
    chunk.bytes.reserve(hex.size() / 2);
    for (size_t i = 0; i < hex.size(); i += 2) {
        const int high = HexDigitValue(hex[i]);
        const int low = HexDigitValue(hex[i + 1]);
        if (high < 0 || low < 0)
            throw EWireRecording(number, "'" + std::string(hex.substr(i, 2)) + "' is not hex");
        chunk.bytes += static_cast<char>(high * 16 + low);
    }
    return chunk;
}

}  // namespace

std::string FormatWireChunk(const TWireChunk& chunk) {
    std::string line = std::to_string(chunk.micros);
    line += chunk.direction == TWireDirection::wdToDevice ? " -> " : " <- ";
    line += BytesToHex(chunk.bytes);
    line += '\n';
    return line;
}

std::vector<TWireChunk> ParseWireRecording(std::string_view text) {
    std::vector<TWireChunk> chunks;
    int number = 0;
    uint64_t last = 0;
    for (size_t at = 0; at < text.size();) {
        ++number;
        const size_t end = text.find('\n', at);
        if (end == std::string_view::npos)
            throw EWireRecording(number, "truncated: the last line has no line end");
        std::string_view line = text.substr(at, end - at);
        at = end + 1;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (number == 1) {
            if (line != kWireRecordingHeader)
                throw EWireRecording(1, "not a wire recording (the first line must be \"" +
                                            std::string(kWireRecordingHeader) + "\")");
            continue;
        }
        if (line.empty() || line.front() == '#') continue;
        TWireChunk chunk = ParseLine(line, number);
        if (chunk.micros < last)
            throw EWireRecording(number, "time " + std::to_string(chunk.micros) +
                                             " is before the previous line's " +
                                             std::to_string(last));
        last = chunk.micros;
        chunks.push_back(std::move(chunk));
    }
    if (number == 0) throw EWireRecording(0, "the recording is empty");
    return chunks;
}

std::vector<TWireChunk> ReadWireRecording(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) throw EWireRecording(0, "cannot read " + path);
    std::ostringstream text;
    text << file.rdbuf();
    if (file.bad()) throw EWireRecording(0, "cannot read " + path);
    return ParseWireRecording(text.str());
}

}  // namespace wct
