// Cutoff calibration of the low-pass and high-pass modes: a factor read from two 8-point tables.
#pragma once

// Knot frequencies (Hz) and the correction factors of low-pass and high-pass at each knot.
inline constexpr float kCalibKnobHz[8] = {100.f, 250.f, 500.f, 1000.f, 2000.f, 4000.f, 8000.f, 12000.f};
inline constexpr float kCalibCorrLP[8] = {0.74f, 0.799f, 0.811f, 0.783f, 0.786f, 0.807f, 0.822f, 0.852f};
inline constexpr float kCalibCorrHP[8] = {1.179f, 1.28f, 1.223f, 1.236f, 1.265f, 1.223f, 1.142f, 1.194f};

// Factor for a cutoff hz in a mode. Band-pass, notch and non-finite cutoffs give 1. Low-pass and
// high-pass: the first entry at or below 100 Hz, linear in ln(hz) between knots up to 12 kHz, then
// toward 1 at 19 kHz (in ln(hz)), and 1 from 19 kHz.
float filterCalibCorrForMode(int mode, float hz);

// Calibrated cutoff in Hz: hz times the mode's factor, or while a calibration blend is active the
// factors of fromMode and toMode interpolated by t.
float applyFilterCalibration(float hz, int mode, bool blendActive, int fromMode, int toMode, float t);
