// SPDX-License-Identifier: Apache-2.0
#include "device/resistance_map.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <stdexcept>

#include "common/emnox.h"
#include "common/locale_info.h"
#include "common/number_text.h"
#include "common/string_fields.h"

namespace wct {
namespace {

constexpr char kTab = '\t';
constexpr int32_t kMapError = 4;

// Where a fault is, as an editor counts: lines and fields from 1.
std::string LineName(int row) {
    return "line " + std::to_string(row + 1);
}

std::string FieldName(int row, int column) {
    return LineName(row) + ", field " + std::to_string(column + 1);
}

bool IsBlank(const std::string& text) {
    return text.find_first_not_of(" \t") == std::string::npos;
}

std::string NumberText(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", value);
    return text;
}

// A field as the locale reads a floating-point number: `separator` is the decimal point,
// blanks around the number are allowed.
double LocaleFloat(const std::string& field, char separator, const std::string& where) {
    const auto invalid = [&] {
        return std::invalid_argument(where + ": '" + field +
                                     "' is not a valid floating point value");
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
    const std::optional<double> value = ReadNumber<double>(text);
    if (!value) throw invalid();
    return *value;
}

}  // namespace

TResistanceMap::TResistanceMap(TComponent* owner) : TComponent(owner) {}

TResistanceMap::~TResistanceMap() {
    OnStringsChange = nullptr;
    OnStringsChanging = nullptr;
}

void TResistanceMap::DefineProperties(TPropertyList& p) {
    using C = TResistanceMap;
    p.Bind("VeloxVersion", this, &C::veloxVersion_, &C::SetVeloxVersion, std::nullopt);
    p.Bind("ResistanceMapAdapter", this, &C::resistanceMapAdapter_, &C::SetResistanceMapAdapter,
           std::nullopt);
    p.Bind("ResistanceLatency", this, &C::resistanceLatency_, &C::SetResistanceLatency, 0);
    // The lines, written only when there are some.
    p.Bind("StrData", this, &C::Text, &C::SetText, "");
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
    // Empty fields that end the header (a trailing TAB, as spreadsheets write it) name
    // no speed.
    const std::string& header = lines_[0];
    int columns = FieldCount(header, kTab);
    while (columns > 1 && IsBlank(GetField(header, kTab, columns - 1))) --columns;
    // The closing empty line, and any blank ones before it, are not part of the grid; a
    // text without it keeps its last line rather than losing it. A blank line between
    // levels would read as a level 0 without powers and upset every lookup above it.
    int rows = static_cast<int>(lines_.size());
    while (rows > 1 && IsBlank(lines_[static_cast<size_t>(rows - 1)])) --rows;
    for (int row = 1; row < rows; ++row) {
        if (IsBlank(lines_[static_cast<size_t>(row)]))
            throw std::invalid_argument(LineName(row) + " is blank, between resistance levels");
    }
    // The counts only with their cells: a lookup on a map refused here reads an empty grid.
    rowCount_ = rows;
    columnCount_ = columns;
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
                LocaleFloat(field, separator, FieldName(row, column));
        }
    }
}

// The lookup interpolates between neighbouring speeds and levels, which must rise; it
// walks up from the strongest level to the first one and needs the first level to have
// a power at every speed.
void TResistanceMap::CheckGrid() const {
    if (columnCount_ < 2)
        throw std::invalid_argument("The first line of the resistance map names no speed");
    if (rowCount_ < 2)
        throw std::invalid_argument("The resistance map has no resistance level line");
    for (int column = 1; column < columnCount_; ++column) {
        if (IsBlank(GetField(lines_[0], kTab, column)))
            throw std::invalid_argument(FieldName(0, column) + ": no speed");
        if (column > 1 && Cell(0, column) <= Cell(0, column - 1)) {
            throw std::invalid_argument(FieldName(0, column) + ": the speed " +
                                        NumberText(Cell(0, column)) + " km/h does not rise above " +
                                        NumberText(Cell(0, column - 1)) + " km/h");
        }
    }
    for (int row = 1; row < rowCount_; ++row) {
        const std::string& line = lines_[static_cast<size_t>(row)];
        if (IsBlank(GetField(line, kTab, 0)))
            throw std::invalid_argument(FieldName(row, 0) + ": no resistance level");
        const double level = Cell(row, 0);
        const double* powers = Row(row) + 1;
        if (std::all_of(powers, powers + columnCount_ - 1, [](double p) { return p == 0; })) {
            throw std::invalid_argument(LineName(row) + ": the resistance level " +
                                        NumberText(level) + " has no power");
        }
        if (row > 1 && level <= Cell(row - 1, 0)) {
            throw std::invalid_argument(LineName(row) + ": the resistance level " +
                                        NumberText(level) + " does not rise above " +
                                        NumberText(Cell(row - 1, 0)) + " of " + LineName(row - 1));
        }
    }
    for (int column = 1; column < columnCount_; ++column) {
        if (Cell(1, column) == 0) {
            throw std::invalid_argument("The first resistance level (line 2) has no power at " +
                                        NumberText(Cell(0, column)) + " km/h");
        }
    }
    for (int row = 1; row < rowCount_; ++row) CheckLevelLine(row);
}

// A line stops early, never with a gap, and no later than the level before it (a harder
// level is ridden up to a lower speed); its powers rise with the speed and stand at or
// above the level before it at every speed. Otherwise some lookup in the map's range
// would have nothing to interpolate between.
void TResistanceMap::CheckLevelLine(int row) const {
    const auto power = [&](int r, int c) { return NumberText(Cell(r, c)) + " W"; };
    const auto speed = [&](int c) { return NumberText(Cell(0, c)) + " km/h"; };
    int extent = 1;
    while (extent < columnCount_ && Cell(row, extent) != 0) ++extent;
    for (int column = extent; column < columnCount_; ++column) {
        if (Cell(row, column) != 0)
            throw std::invalid_argument(LineName(row) + ": a power at " + speed(column) +
                                        " after none at " + speed(extent));
    }
    if (row > 1 && extent > 1 && Cell(row - 1, extent - 1) == 0)
        throw std::invalid_argument(LineName(row) + ": a power at " + speed(extent - 1) +
                                    ", where " + LineName(row - 1) + " has none");
    for (int column = 1; column < extent; ++column) {
        if (column > 1 && Cell(row, column) < Cell(row, column - 1))
            throw std::invalid_argument(LineName(row) + ": the power " + power(row, column) +
                                        " at " + speed(column) + " falls below " +
                                        power(row, column - 1) + " at " + speed(column - 1));
        if (row > 1 && Cell(row, column) < Cell(row - 1, column))
            throw std::invalid_argument(LineName(row) + ": the power " + power(row, column) +
                                        " at " + speed(column) + " is below " +
                                        power(row - 1, column) + " of " + LineName(row - 1));
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
