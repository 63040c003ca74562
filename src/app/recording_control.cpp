#include "app/recording_control.h"

#include <cctype>
#include <stdexcept>

namespace wct {
namespace {

// The recorder's texts begin in lower case, to follow a program's name.
std::string Sentence(std::string text) {
    if (!text.empty())
        text[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(text[0])));
    return text;
}

}  // namespace

TRecordingControl::~TRecordingControl() {
    Stop();
}

void TRecordingControl::Start(const std::string& path) {
    if (Recording()) return;
    try {
        recorder_.Open(path);
    } catch (const std::runtime_error& e) {
        throw std::runtime_error(Sentence(e.what()));
    }
    path_ = path;
    protocol_.SetWireTap(&recorder_);
}

std::string TRecordingControl::Stop() {
    if (!Recording()) return {};
    protocol_.SetWireTap(nullptr);
    recorder_.Close();
    return Sentence(recorder_.Error());
}

}  // namespace wct
