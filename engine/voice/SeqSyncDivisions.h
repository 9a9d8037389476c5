// Tempo divisions shared by the sequencer lanes, their start delays and the envelopes' synced times.
#pragma once

#include <array>

// Tempo divisions in beats, indexed by a division 0..18: "1/32", "1/32D", "1/32T", "1/16", "1/16D",
// "1/16T", "1/8", "1/8D", "1/8T", "1/4", "1/4D", "1/4T", "1/2", "1/2D", "1/2T", "1 bar", "2 bar",
// "4 bar", "8 bar". Triplets are the five-digit decimals the labels have always meant.
inline constexpr std::array<double, 19> kSeqSyncDivBeats = {
    0.125, 0.1875,  0.08333, 0.25, 0.375,   0.16667, 0.5, 0.75, 0.33333, 1.0,
    1.5,   0.66667, 2.0,     3.0,  1.33333, 4.0,     8.0, 16.0, 32.0};
inline constexpr int kSeqLastSyncDiv = static_cast<int>(kSeqSyncDivBeats.size()) - 1;
