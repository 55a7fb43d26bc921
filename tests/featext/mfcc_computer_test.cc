// One MFCC frame end to end against an independent double-precision
// computation: naive DFT, explicit triangles, explicit DCT, lifter, energy.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "IvectorExt/featext/feature-window.h"
#include "IvectorExt/featext/mfcc-computer.h"

namespace jor_feat {
namespace {

double Mel(double f) {
  return 1127.0 * std::log(1.0 + f / 700.0);
}

struct Reference {
  std::vector<double> ceps;
  std::vector<double> magnitudes;
};

Reference ReferenceMfcc(const MfccOptions& o, const std::vector<double>& frame, double raw_energy,
                        double mel_floor, double energy_min) {
  const int p = static_cast<int>(frame.size()), half = p / 2;
  const int nb = o.mel_opts.num_bins, nc = o.num_ceps;
  Reference r;
  double energy = raw_energy;
  if (o.use_energy && !o.raw_energy) {
    double s = 0;
    for (double v : frame) s += v * v;
    energy = std::log(std::max(s, energy_min));
  }
  std::vector<double> power(half + 1);
  for (int k = 0; k <= half; ++k) {
    double re = 0, im = 0;
    for (int n = 0; n < p; ++n) {
      const double ang = -2.0 * M_PI * static_cast<double>((k * n) % p) / p;
      re += frame[n] * std::cos(ang);
      im += frame[n] * std::sin(ang);
    }
    power[k] = re * re + im * im;
  }
  for (int k = 0; k < half; ++k) r.magnitudes.push_back(std::sqrt(power[k]));

  const double sf = o.frame_opts.samp_freq, nyq = sf / 2;
  const double high = o.mel_opts.high_freq <= 0 ? o.mel_opts.high_freq + nyq : o.mel_opts.high_freq;
  const double ml = Mel(o.mel_opts.low_freq), mh = Mel(high), delta = (mh - ml) / (nb + 1);
  std::vector<double> logmel(nb);
  for (int b = 0; b < nb; ++b) {
    const double l = ml + b * delta, c = l + delta, rr = l + 2 * delta;
    double e = 0;
    for (int i = 0; i < half; ++i) {
      const double m = Mel(i * sf / p);
      if (m > l && m < rr) e += power[i] * (m <= c ? (m - l) / (c - l) : (rr - m) / (rr - c));
    }
    logmel[b] = std::log(std::max(e, mel_floor));
  }
  for (int k = 0; k < nc; ++k) {
    double s = 0;
    for (int n = 0; n < nb; ++n) {
      const double basis =
          k == 0 ? std::sqrt(1.0 / nb) : std::sqrt(2.0 / nb) * std::cos(M_PI / nb * (n + 0.5) * k);
      s += basis * logmel[n];
    }
    const double q = o.cepstral_lifter;
    if (q != 0) s *= 1.0 + 0.5 * q * std::sin(M_PI * k / q);
    r.ceps.push_back(s);
  }
  if (o.use_energy) {
    if (o.energy_floor > 0 && energy < std::log(static_cast<double>(o.energy_floor))) {
      energy = std::log(static_cast<double>(o.energy_floor));
    }
    r.ceps[0] = energy;
  }
  if (o.htk_compat) {
    double e0 = r.ceps[0];
    r.ceps.erase(r.ceps.begin());
    if (!o.use_energy) e0 *= std::sqrt(2.0);
    r.ceps.push_back(e0);
  }
  return r;
}

template <typename T>
class Recorder : public SpectrumObserver<T> {
 public:
  void ObserveSpectrum(const T* magnitude, int32_t count) override {
    ++calls;
    values.assign(magnitude, magnitude + count);
  }
  int calls = 0;
  std::vector<T> values;
};

template <typename T>
void CheckFrame(const MfccOptions& o, const std::vector<double>& frame_d, double raw_energy,
                double tol, const std::string& label) {
  const double mel_floor = std::numeric_limits<T>::epsilon();
  const double energy_min = std::numeric_limits<T>::min();
  const Reference ref = ReferenceMfcc(o, frame_d, raw_energy, mel_floor, energy_min);
  MfccComputer<T> computer(o);
  ASSERT_EQ(computer.CepstralDim(), o.num_ceps);
  std::vector<T> frame(frame_d.begin(), frame_d.end());
  std::vector<T> feature(o.num_ceps + 1, T(-12345));
  Recorder<T> observer;
  const int32_t p = static_cast<int32_t>(frame.size());
  ASSERT_EQ(
      computer.Compute(static_cast<T>(raw_energy), frame.data(), &p, feature.data(), &observer), 0);
  EXPECT_EQ(feature[o.num_ceps], T(-12345)) << label << ": wrote past num_ceps";
  for (int k = 0; k < o.num_ceps; ++k) {
    EXPECT_NEAR(feature[k], ref.ceps[k], tol * std::max(1.0, std::abs(ref.ceps[k])))
        << label << " coefficient " << k;
  }
  ASSERT_EQ(observer.calls, 1);
  ASSERT_EQ(observer.values.size(), static_cast<size_t>(p / 2));
  double peak = 1;
  for (double m : ref.magnitudes) peak = std::max(peak, m);
  for (int k = 0; k < p / 2; ++k) {
    EXPECT_NEAR(observer.values[k], ref.magnitudes[k], tol * peak) << label << " magnitude " << k;
  }
}

TEST(MfccComputerFrame, AgainstIndependentComputation) {
  struct Case {
    bool use_energy, raw_energy, htk_compat;
    float lifter;
    int num_bins, num_ceps;
    float energy_floor;
    float samp_freq;
    const char* signal;  // "speech", "zeros", "tone"
  };
  const Case cases[] = {
      {true, true, false, 22, 40, 40, 0, 8000, "speech"},
      {true, false, false, 22, 40, 40, 0, 8000, "speech"},
      {true, true, true, 22, 23, 13, 0, 8000, "speech"},
      {false, true, true, 22, 23, 13, 0, 8000, "speech"},  // last = sqrt(2) * C0
      {true, true, false, 0, 23, 23, 0, 8000, "speech"},
      {false, false, false, 0, 40, 20, 0, 8000, "tone"},
      {true, false, true, 0, 30, 30, 0, 16000, "speech"},
      {true, false, false, 22, 23, 13, 50.0f, 8000, "zeros"},  // energy floor applies
      {true, true, false, 22, 23, 13, 0, 8000, "zeros"},       // mel floor, raw energy kept
  };
  for (const Case& c : cases) {
    MfccOptions o;
    o.frame_opts.samp_freq = c.samp_freq;
    o.frame_opts.ComputeDerived();
    o.use_energy = c.use_energy;
    o.raw_energy = c.raw_energy;
    o.htk_compat = c.htk_compat;
    o.cepstral_lifter = c.lifter;
    o.mel_opts.num_bins = c.num_bins;
    o.num_ceps = c.num_ceps;
    o.energy_floor = c.energy_floor;
    const int p = o.frame_opts.padded_window_size, len = o.frame_opts.window_size;
    std::vector<double> frame(p, 0.0);
    std::mt19937 rng(11);
    std::normal_distribution<double> g(0.0, 30.0);
    const std::string signal = c.signal;
    for (int i = 0; i < len; ++i) {
      if (signal == "speech") {
        frame[i] = 2000 * std::sin(2 * M_PI * 210 * i / c.samp_freq) +
                   800 * std::sin(2 * M_PI * 1430 * i / c.samp_freq) + g(rng);
      } else if (signal == "tone") {
        frame[i] = 1000 * std::sin(2 * M_PI * 1000 * i / c.samp_freq);
      }
    }
    const double raw_energy = signal == "zeros" ? std::log(1.1920929e-7) : 17.25;
    const std::string label = std::string(signal) + " energy=" + std::to_string(c.use_energy) +
                              " raw=" + std::to_string(c.raw_energy) +
                              " htk=" + std::to_string(c.htk_compat) +
                              " lifter=" + std::to_string(c.lifter);
    // The banks place their triangles on the single-precision mel scale, so
    // even the double computer agrees with the reference to about 1e-5 only.
    CheckFrame<double>(o, frame, raw_energy, 1e-4, label + " <double>");
    CheckFrame<float>(o, frame, raw_energy, 1e-3, label + " <float>");
  }
}

TEST(MfccComputerFrame, RejectsBadConfigurations) {
  struct Case {
    int num_bins, num_ceps;
    bool round_pow2;
    const char* message;  // exact text, or empty for any text
  };
  const Case cases[] = {
      {23, 40, true, ""},  // the record's own defaults
      {23, 24, true, ""},
      {40, 41, true, ""},
      {23, 0, true, ""},
      {128, 40, true, ""},  // bins that cover no FFT index
      {23, 13, false, "padded_window_size must be a power of two."},
  };
  for (const Case& c : cases) {
    MfccOptions o;
    o.mel_opts.num_bins = c.num_bins;
    o.num_ceps = c.num_ceps;
    o.frame_opts.round_to_power_of_two = c.round_pow2;
    o.frame_opts.ComputeDerived();
    try {
      MfccComputer<float> computer(o);
      ADD_FAILURE() << "accepted num_bins=" << c.num_bins << " num_ceps=" << c.num_ceps;
    } catch (const std::invalid_argument& e) {
      if (*c.message) {
        EXPECT_EQ(std::string(e.what()), c.message);
      } else {
        EXPECT_NE(std::string(e.what()), "");
      }
    }
  }
  // A warp factor whose bank cannot be built is refused up front.
  MfccOptions o;
  o.mel_opts.num_bins = 40;
  o.vtln_warp = 0.0f;
  EXPECT_THROW(MfccComputer<double>{o}, std::invalid_argument);

  // A frame length that does not match the FFT is refused, not read past.
  MfccOptions ok;
  ok.mel_opts.num_bins = 40;
  MfccComputer<float> computer(ok);
  std::vector<float> frame(128, 1.0f), feature(40);
  const int32_t wrong = 128;
  EXPECT_NE(computer.Compute(0.0f, frame.data(), &wrong, feature.data(), nullptr), 0);
}

TEST(MfccComputerFrame, DeploymentChainIsReproducible) {
  // The per-frame chain the pipelines run, twice with the same seed.
  MfccOptions o;  // the deployment's options
  o.mel_opts.num_bins = 40;
  o.frame_opts.ComputeDerived();
  std::vector<float> wave(8000);
  for (int i = 0; i < 8000; ++i) wave[i] = 3000.0f * std::sin(0.05f * i) * std::sin(0.001f * i);
  auto run = [&](uint32_t seed) {
    MfccComputer<float> computer(o);
    const WindowFunction<float> window = BuildWindowFunction<float>(o.frame_opts);
    DitherEngine engine(seed);
    DitherDistribution dist(0.0f, 1.0f);
    const int32_t n = 8000;
    const int64_t frames = NumFrames(n, o.frame_opts, true);
    std::vector<float> out(frames * 40), frame;
    for (int32_t f = 0; f < frames; ++f) {
      ExtractFrame<float>(0, wave.data(), &n, &f, o.frame_opts, &frame);
      float energy = 0;
      ConditionFrame<float>(o.frame_opts, window, &engine, &dist, frame.data(),
                            &o.frame_opts.window_size,
                            computer.UsesRawEnergy() ? &energy : nullptr);
      EXPECT_EQ(computer.Compute(energy, frame.data(), &o.frame_opts.padded_window_size,
                                 &out[f * 40], nullptr),
                0);
    }
    return out;
  };
  const std::vector<float> a = run(6793), b = run(6793), c = run(1);
  ASSERT_EQ(a.size(), 100u * 40u);
  EXPECT_EQ(a, b);
  EXPECT_NE(a, c);
  for (float v : a) ASSERT_TRUE(std::isfinite(v));
}

}  // namespace
}  // namespace jor_feat
