// Speech-like test signals: voiced bursts (a few harmonics of a drifting
// pitch, syllable-rate amplitude envelope) separated by quiet gaps with a
// little noise, at 8 kHz, deterministic for a seed.
#pragma once

#include <cstdint>
#include <vector>

namespace jor_test {

std::vector<short> SyntheticSpeech(double seconds, uint32_t seed, double pitchHz = 120.0,
                                   int sampleRate = 8000);

}  // namespace jor_test
