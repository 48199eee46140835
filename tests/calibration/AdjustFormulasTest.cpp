// The calibration's arithmetic with the numbers a production line meets.
#include <gtest/gtest.h>

#include "calibration/AdjustFormulas.h"

TEST(AdjustFormulasTest, PowerGainCorrectionUses65535BelowZero) {
    // Readings 1 % high: c = -0.0099010, truncate(c x 32768 + 65535) = 65210.
    EXPECT_EQ(AdjustFormulas::PowerGainCorrection(1111.0f, 1100.0f), 65210);
    EXPECT_EQ(AdjustFormulas::PowerGainCorrection(1100.0f, 1100.0f), 0);
    // 1 % low: c = +0.010101, truncate(330.99) = 330.
    EXPECT_EQ(AdjustFormulas::PowerGainCorrection(1089.0f, 1100.0f), 330);
}

TEST(AdjustFormulasTest, CurrentAndVoltageGains) {
    EXPECT_EQ(AdjustFormulas::CurrentGain(5.05f, 5.0f), 6314);  // 6378 / 1.01 = 6314.85
    EXPECT_EQ(AdjustFormulas::CurrentGain(4.95f, 5.0f), 6442);  // 6378 / 0.99 = 6442.42
    EXPECT_EQ(AdjustFormulas::CurrentGain(5.0f, 5.0f), 6378);
    // 221 V on phase A against 220 V with the stored gain 16500.
    EXPECT_EQ(AdjustFormulas::VoltageGain(16500, 221.0f, 220.0f), 16425);
    EXPECT_EQ(AdjustFormulas::VoltageGain(16425, 220.0f, 220.0f), 16425);
}

TEST(AdjustFormulasTest, PhaseAndReactiveCorrections) {
    // P 1 % low at 0.5L: d = arcsin(0.01 / sqrt 3) = 0.3308 degrees, truncate(16.54) = 16.
    EXPECT_EQ(AdjustFormulas::PhaseCorrection(0.99f * 550.05f, 550.05f), 16);
    // 1 % high: d = -0.3308, truncate(-16.54 + 256) = 239.
    EXPECT_EQ(AdjustFormulas::PhaseCorrection(1.01f * 550.05f, 550.05f), 239);
    EXPECT_EQ(AdjustFormulas::PhaseCorrection(550.05f, 550.05f), 0);
    // Q 1 % high: r = 0.005774, truncate(189.2) = 189; 1 % low: truncate(65346.8).
    EXPECT_EQ(AdjustFormulas::ReactiveCorrection(1.01f * 952.6f, 952.6f), 189);
    EXPECT_EQ(AdjustFormulas::ReactiveCorrection(0.99f * 952.6f, 952.6f), 65346);
}

TEST(AdjustFormulasTest, ACoefficientOutsideItsRegisterIsRefused) {
    EXPECT_FALSE(AdjustFormulas::CurrentGain(0.05f, 5.0f));     // 637800
    EXPECT_FALSE(AdjustFormulas::CurrentGain(5.0f, 0.0f));      // 0 / 0
    EXPECT_FALSE(AdjustFormulas::CurrentGain(60000.0f, 5.0f));  // truncates to 0
    EXPECT_FALSE(AdjustFormulas::VoltageGain(16500, 22.0f, 220.0f));
    EXPECT_FALSE(AdjustFormulas::PhaseCorrection(-3000.0f, 550.0f));     // arcsin of more than 1
    EXPECT_FALSE(AdjustFormulas::PowerGainCorrection(100.0f, 1100.0f));  // c = 10
    EXPECT_FALSE(AdjustFormulas::ReactiveCorrection(1.0f, 0.0f));
}

// The corrections are signed as the module reads them: a value that fits 16 bits but spills
// into the other half of its field would be read with the wrong sign (a +1.08 power
// correction as -0.93), so it is refused like any other out of range.
TEST(AdjustFormulasTest, ACorrectionOutsideItsSignedFieldIsRefused) {
    EXPECT_EQ(AdjustFormulas::PowerGainCorrection(550.1f, 1100.0f), 32756);  // c just below 1
    EXPECT_FALSE(AdjustFormulas::PowerGainCorrection(550.0f, 1100.0f));      // c = 1: 32768
    EXPECT_FALSE(AdjustFormulas::PowerGainCorrection(528.0f, 1100.0f));      // 2.4 A against 5 A
    // Phase: 0..127 up, 128..255 down.
    EXPECT_EQ(AdjustFormulas::PhaseCorrection(0.93f * 550.0f, 550.0f), 115);
    EXPECT_FALSE(AdjustFormulas::PhaseCorrection(0.92f * 550.0f, 550.0f));  // +2.65 degrees: 132
    EXPECT_EQ(AdjustFormulas::PhaseCorrection(1.07f * 550.0f, 550.0f), 140);
    EXPECT_FALSE(AdjustFormulas::PhaseCorrection(1.08f * 550.0f, 550.0f));  // -2.65 degrees: 123
    // Reactive: r below 1 and above -1.
    EXPECT_EQ(AdjustFormulas::ReactiveCorrection(2.7f * 950.0f, 950.0f), 32164);
    EXPECT_FALSE(AdjustFormulas::ReactiveCorrection(2.8f * 950.0f, 950.0f));
    EXPECT_FALSE(AdjustFormulas::ReactiveCorrection(-0.8f * 950.0f, 950.0f));
}

TEST(AdjustFormulasTest, DecodingAndRegisters) {
    EXPECT_EQ(AdjustFormulas::CircuitStart(1), 10);
    EXPECT_EQ(AdjustFormulas::CircuitStart(30), 358);

    // 5.012 A, P = -1100.5 W (0xFFFFD503), Q = 6.7 var, f = 49.98 Hz.
    const RegisterValues regs{5012, 0xD503, 0xFFFF, 67, 0, 0, 0, 4998, 0, 0, 0, 0};
    const CircuitReading r = AdjustFormulas::DecodeCircuit(regs);
    EXPECT_FLOAT_EQ(r.current, 5.012f);
    EXPECT_FLOAT_EQ(r.active, -1100.5f);
    EXPECT_FLOAT_EQ(r.reactive, 6.7f);
    EXPECT_NEAR(r.powerFactor, -0.99998, 1e-5);
    EXPECT_FLOAT_EQ(r.frequency, 49.98f);
    EXPECT_EQ(AdjustFormulas::DecodeCircuit(RegisterValues(12, 0)).powerFactor, 0.0f);
    EXPECT_FLOAT_EQ(AdjustFormulas::DecodeCircuit(RegisterValues{0, 0, 0, 0, 0, 0, 0, 0xFFFE}).frequency,
                    -0.02f);

    const LineReading u = AdjustFormulas::DecodeLine(RegisterValues{22100, 0, 65535});
    EXPECT_FLOAT_EQ(u.ua, 221.0f);
    EXPECT_FLOAT_EQ(u.uc, 655.35f);  // unsigned

    EXPECT_EQ(AdjustFormulas::Block(7, 6314, 65210, 16, 189),
              (CalibrationBlock{999, 6, 1000, 6314, 65210, 16, 0, 189, 7501, 0, 0}));
    EXPECT_EQ(AdjustFormulas::RestoreBlock(1),
              (CalibrationBlock{999, 0, 1000, 6378, 0, 0, 0, 0, 7501, 0, 0}));
}
