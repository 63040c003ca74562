#include "device/resistance_map.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <stdexcept>

#include "common/emnox.h"
#include "common/locale_info.h"
#include "common/string_fields.h"

namespace wct {
namespace {

constexpr char kTab = '\t';
constexpr int32_t kMapError = 4;

// A field as the locale reads a floating-point number: `separator` is the decimal point,
// blanks around the number are allowed.
double LocaleFloat(const std::string& field, char separator) {
    const auto invalid = [&] {
        return std::invalid_argument("'" + field + "' is not a valid floating point value");
    };
    const size_t first = field.find_first_not_of(' ');
    const size_t last = field.find_last_not_of(' ');
    if (first == std::string::npos) throw invalid();
    std::string text = field.substr(first, last - first + 1);
    // from_chars knows neither a plus sign nor another decimal point; it knows "inf" and
    // "nan", which are no numbers here.
    if (text[0] == '+') text.erase(0, 1);
    for (char& c : text) {
        if (c == separator) {
            c = '.';
        } else if (c == '.' || !(std::isdigit(static_cast<unsigned char>(c)) || c == '-' ||
                                 c == 'e' || c == 'E')) {
            throw invalid();
        }
    }
    double value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size()) throw invalid();
    return value;
}

std::string SpeedText(double speed) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", speed);
    return text;
}

}  // namespace

TResistanceMap::TResistanceMap(TComponent* owner) : TComponent(owner) {}

TResistanceMap::~TResistanceMap() {
    OnStringsChange = nullptr;
    OnStringsChanging = nullptr;
}

void TResistanceMap::DefineProperties(TPropertyList& p) {
    p.AddFloat(
        "VeloxVersion", [this] { return veloxVersion_; }, [this](double v) { SetVeloxVersion(v); },
        std::nullopt);
    p.AddFloat(
        "ResistanceMapAdapter", [this] { return resistanceMapAdapter_; },
        [this](double v) { SetResistanceMapAdapter(v); }, std::nullopt);
    p.AddInteger(
        "ResistanceLatency", [this] { return resistanceLatency_; },
        [this](int64_t v) { SetResistanceLatency(static_cast<int32_t>(v)); }, 0);
    // The lines, written only when there are some.
    p.AddString(
        "StrData", [this] { return Text(); }, [this](const std::string& v) { SetText(v); }, "");
}

void TResistanceMap::Changing() {
    if (!Loading() && OnStringsChanging) OnStringsChanging(this);
}

void TResistanceMap::Changed() {
    if (!Loading() && OnStringsChange) OnStringsChange(this);
}

void TResistanceMap::SetStrings(const std::vector<std::string>& lines) {
    Changing();
    lines_ = lines;
    Changed();
}

std::string TResistanceMap::Text() const {
    std::string text;
    for (const std::string& line : lines_) text += line + '\n';
    return text;
}

void TResistanceMap::SetText(std::string_view text) {
    std::vector<std::string> lines;
    while (!text.empty()) {
        const size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        // Every CR before the line end goes, not only a CRLF's: a line kept ending in CR
        // would lose it when Text, which ends lines with LF, is read back.
        while (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        lines.emplace_back(line);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    }
    SetStrings(lines);
}

void TResistanceMap::SetResistanceLatency(int32_t value) {
    resistanceLatency_ = value;
}

void TResistanceMap::SetVeloxVersion(double value) {
    veloxVersion_ = value;
}

void TResistanceMap::SetResistanceMapAdapter(double value) {
    if (value == resistanceMapAdapter_) return;
    resistanceMapAdapter_ = value == 0 ? 1.0 : value;
}

void TResistanceMap::DoResistanceMapLoaded() {
    if (OnResistanceMapLoaded) OnResistanceMapLoaded(this);
}

void TResistanceMap::LoadMap() {
    cells_.clear();
    rowCount_ = 0;
    columnCount_ = 0;
    try {
        Parse();
        CheckGrid();
    } catch (const std::exception& e) {
        throw EMNox(kMapError, std::string("Please, contact the Corvi support\r\n\r\n") + e.what());
    }
}

void TResistanceMap::Parse() {
    if (lines_.empty()) throw std::invalid_argument("The resistance map has no lines");
    columnCount_ = FieldCount(lines_[0], kTab);
    // The closing empty line is not part of the grid; a text without it keeps its last
    // line rather than losing it.
    rowCount_ = static_cast<int>(lines_.size()) - (lines_.back().empty() ? 1 : 0);
    cells_.assign(static_cast<size_t>(rowCount_) * static_cast<size_t>(columnCount_), 0.0);
    const char separator = LocaleInfo().DecimalSeparator();
    for (int row = 0; row < rowCount_; ++row) {
        for (int column = 0; column < columnCount_; ++column) {
            std::string field = GetField(lines_[static_cast<size_t>(row)], kTab, column);
            if (field.empty() || field == " ") continue;
            if (separator != ',') {
                for (char& c : field)
                    if (c == ',') c = separator;
            }
            cells_[static_cast<size_t>(row * columnCount_ + column)] =
                LocaleFloat(field, separator);
        }
    }
}

// The lookup walks up from the strongest level to the first one and needs the first
// level to have a power at every speed.
void TResistanceMap::CheckGrid() const {
    if (columnCount_ < 2)
        throw std::invalid_argument("The first line of the resistance map names no speed");
    if (rowCount_ < 2)
        throw std::invalid_argument("The resistance map has no resistance level line");
    for (int column = 1; column < columnCount_; ++column) {
        if (Cell(1, column) == 0) {
            throw std::invalid_argument("The first resistance level (line 2) has no power at " +
                                        SpeedText(Cell(0, column)) + " km/h");
        }
    }
}

void TResistanceMap::ApplyAdapter() {
    if (veloxVersion_ < 4) return;
    if (resistanceMapAdapter_ == 0) resistanceMapAdapter_ = 1;
    if (columnCount_ < 2 || rowCount_ < 2) return;
    for (int row = 1; row < rowCount_; ++row) {
        for (int column = 1; column < columnCount_; ++column) {
            double& cell = cells_[static_cast<size_t>(row * columnCount_ + column)];
            cell = std::nearbyint(cell * resistanceMapAdapter_);
        }
    }
}

}  // namespace wct
