// SPDX-License-Identifier: Apache-2.0
// TResistanceMap: the trainer's calibration table. For each brake resistance level it
// gives the power in watts a rider produces at each roll speed.
//
// The map is held as text lines (stored as `StrData`): a header line of speeds in km/h,
// then one line per resistance level with its powers, fields cut at TAB, the text ending
// with an empty line. LoadMap parses the lines once into a grid of numbers; changing the
// lines later does not re-parse them. Row 0 of the grid is the header (column 0 a corner
// value, then the speeds), rows 1 and up are the levels (column 0 the level, then the
// powers); a cell that holds 0 has no value. The rider device's ResistanceForPower is the
// grid's reader. Main thread only.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "common/component.h"

namespace wct {

class TResistanceMap : public TComponent {
public:
    explicit TResistanceMap(TComponent* owner = nullptr);
    ~TResistanceMap() override;
    std::string ClassName() const override { return "TResistanceMap"; }
    void DefineProperties(TPropertyList& properties) override;

    // ---- The text ----
    const std::vector<std::string>& Strings() const { return lines_; }
    // Assigning copies the lines.
    void SetStrings(const std::vector<std::string>& lines);
    // The lines as one text, each followed by a line break (so a map's closing empty line
    // shows as a blank line at the end).
    std::string Text() const;
    // Cuts `text` into lines at LF, dropping any CRs just before it (CR LF files); a text
    // that ends with a line break has no extra line after it.
    void SetText(std::string_view text);
    void Assign(const TResistanceMap& source) { SetStrings(source.Strings()); }
    void AssignTo(std::vector<std::string>& lines) const { lines = lines_; }

    // ---- Properties ----
    int32_t ResistanceLatency() const { return resistanceLatency_; }
    virtual void SetResistanceLatency(int32_t value);
    double VeloxVersion() const { return veloxVersion_; }
    virtual void SetVeloxVersion(double value);
    double ResistanceMapAdapter() const { return resistanceMapAdapter_; }
    // 0 is stored as 1.
    virtual void SetResistanceMapAdapter(double value);

    // ---- The grid ----
    // Fields of the header line; 0 until LoadMap runs.
    int32_t ColumnCount() const { return columnCount_; }
    int RowCount() const { return rowCount_; }
    // Row `row`, ColumnCount() cells; rows from 0 to RowCount() - 1.
    const double* Row(int row) const { return cells_.data() + row * columnCount_; }
    double Cell(int row, int column) const { return Row(row)[column]; }

    // ---- Operations ----
    virtual void DoResistanceMapLoaded();
    // Parses the lines into the grid. A field that is not a number, a map without a speed
    // column or a level line, speeds or levels that do not rise, a blank line between
    // levels, a level without a power, a first level line without a power at every
    // speed, or a level line whose powers have a gap, reach past the line before it, fall
    // along the line or fall below the level before it raise EMNox code 4, "Error while
    // reading the resistance map", naming the fault and its line (and field) as an editor
    // counts them; the grid then holds what was read before it. A map that loads answers
    // every lookup. Empty fields that end the header are no speed columns.
    virtual void LoadMap();
    // Scales every power cell by ResistanceMapAdapter (trainer versions 4 and up).
    virtual void ApplyAdapter();

    // ---- Events ----
    TNotifyEvent OnResistanceMapLoaded;
    // Before and after any change of the lines, except while loading the stored form.
    TNotifyEvent OnStringsChanging;
    TNotifyEvent OnStringsChange;

private:
    void Changing();
    void Changed();
    void Parse();
    void CheckGrid() const;
    void CheckLevelLine(int row) const;

    int32_t resistanceLatency_ = 0;
    int32_t columnCount_ = 0;
    double veloxVersion_ = 4.0;
    double resistanceMapAdapter_ = 1.0;
    std::vector<double> cells_;  // row after row
    int rowCount_ = 0;
    std::vector<std::string> lines_;
};

// The map the main window carries, in its stored text form.
const std::string& ShippedResistanceMapText();

}  // namespace wct
