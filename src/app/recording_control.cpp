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

bool TRecordingControl::IsCapture(const std::string& path) {
    const std::string suffix = ".pcapng";
    if (path.size() < suffix.size()) return false;
    for (size_t i = 0; i < suffix.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(path[path.size() - suffix.size() + i])) !=
            suffix[i])
            return false;
    return true;
}

void TRecordingControl::Start(const std::string& path) {
    if (Recording()) return;
    const bool capture = IsCapture(path);
    try {
        if (capture)
            capture_.Open(path, "wirelessconsoletest " WCT_VERSION);
        else
            recorder_.Open(path);
    } catch (const std::runtime_error& e) {
        throw std::runtime_error(Sentence(e.what()));
    }
    path_ = path;
    active_ = capture ? static_cast<TMiraWireTap*>(&capture_) : &recorder_;
    protocol_.SetWireTap(active_);
}

bool TRecordingControl::Broken() const {
    if (!Recording()) return false;
    return active_ == &capture_ ? !capture_.IsOpen() : !recorder_.IsOpen();
}

std::string TRecordingControl::Stop() {
    if (!Recording()) return {};
    protocol_.SetWireTap(nullptr);
    std::string error;
    if (active_ == &capture_) {
        capture_.Close();
        error = capture_.Error();
    } else {
        recorder_.Close();
        error = recorder_.Error();
    }
    active_ = nullptr;
    return Sentence(error);
}

}  // namespace wct
