#include "tests/support/synthetic-speech.h"

#include <algorithm>
#include <cmath>
#include <random>

namespace jor_test {

std::vector<short> SyntheticSpeech(double seconds, uint32_t seed, double pitchHz, int sampleRate) {
  const size_t n = static_cast<size_t>(seconds * sampleRate);
  std::vector<short> pcm(n);
  std::mt19937 rng(seed);
  std::normal_distribution<double> noise(0.0, 30.0);
  std::uniform_real_distribution<double> uni(0.0, 1.0);
  const double formants[3] = {500 + 300 * uni(rng), 1400 + 500 * uni(rng), 2500 + 400 * uni(rng)};
  double phase = 0.0;
  for (size_t i = 0; i < n; ++i) {
    const double t = static_cast<double>(i) / sampleRate;
    // 4 syllables a second, with a silent quarter between bursts.
    const double syllable = std::fmod(t * 4.0, 1.0);
    const double envelope = syllable < 0.75 ? std::sin(M_PI * syllable / 0.75) : 0.0;
    const double f0 = pitchHz * (1.0 + 0.1 * std::sin(2 * M_PI * 0.7 * t));
    phase += 2 * M_PI * f0 / sampleRate;
    double voiced = 0.0;
    for (int h = 1; h <= 25; ++h) {
      const double f = h * f0;
      if (f > 3800) break;
      double gain = 0.0;
      for (double fm : formants) gain += 1.0 / (1.0 + std::pow((f - fm) / 150.0, 2));
      voiced += gain * std::sin(h * phase) / std::sqrt(h);
    }
    const double v = 3000.0 * envelope * voiced + noise(rng);
    pcm[i] = static_cast<short>(std::clamp(v, -32768.0, 32767.0));
  }
  return pcm;
}

}  // namespace jor_test
