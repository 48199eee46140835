#pragma once
// The comparison table of the calibration form: 10 rows x 9 columns, the module's reading
// beside the standard source's value, judged row by row against the allowed error. Every
// number lives only as its shown text, and the evaluation reads the texts back, so the
// rounding of the display enters the verdict exactly as the technician sees it.
//
//     CellTable t;
//     AdjustTable::Build(t, AdjustView::Circuit);
//     AdjustTable::FillMeter(t, reading);           // column 3
//     AdjustTable::FillStandard(t, AdjustView::Circuit, standard);  // column 2
//     AdjustTable::Evaluate(t, AdjustView::Circuit);  // columns 6 and 8; NG has CellRole::Ng
//
// Texts are formatted without the C locale's help (a Qt application sets the user's
// locale, which could turn the decimal point into a comma).

#include <string>
#include <string_view>

#include "formkit/CellTable.h"

enum class AdjustView { Circuit, IncomingLine };

// One decoded reply of a circuit (12 registers from 12n-2).
struct CircuitReading {
    float current = 0;   // A
    float active = 0;    // W
    float reactive = 0;  // var
    float powerFactor = 0;
    float frequency = 0;  // Hz
};

// One decoded reply of the incoming line (10 registers from 0).
struct LineReading {
    float ua = 0;
    float ub = 0;
    float uc = 0;
};

// What the standard source delivers at the selected steps.
struct StandardValues {
    float ua = 0;
    float ub = 0;
    float uc = 0;
    float current = 0;
    float active = 0;
    float reactive = 0;
    float powerFactor = 0;
    float frequency = 50.0f;
};

class AdjustTable {
public:
    static constexpr int kRows = 10;
    static constexpr int kCols = 9;
    static constexpr int kStandardCol = 2;
    static constexpr int kMeterCol = 3;
    static constexpr int kAllowedCol = 5;
    static constexpr int kRelativeCol = 6;
    static constexpr int kResultCol = 8;

    // Empties the table to 10 x 9 with the headings, row numbers and the view's item,
    // unit and allowed-error texts.
    static void Build(CellTable& t, AdjustView view);
    // Rows of the view that carry data: 5 in the circuit view, 3 in the incoming-line view.
    static int DataRows(AdjustView view) { return view == AdjustView::Circuit ? 5 : 3; }

    static void FillMeter(CellTable& t, const CircuitReading& r);
    static void FillMeter(CellTable& t, const LineReading& r);
    static void FillStandard(CellTable& t, AdjustView view, const StandardValues& s);
    // Relative error in percent from the shown texts, as single-precision floats, and the
    // verdict: "NG" beyond the allowed error, "OK" up to it (the limit included), "\" when
    // the standard reads 0.
    static void Evaluate(CellTable& t, AdjustView view);
    // Some data row of the view says "NG".
    static bool AnyNg(const CellTable& t, AdjustView view);

    // The leading number of a text as atof reads it (0 when there is none).
    static float LeadingFloat(std::string_view text);
    // printf's "%.Nf" in the C locale.
    static std::string Fixed(double value, int decimals);
};
