// The engine on the shipped default deployment (models/default, or the folder
// in JOR_BENCH_DEPLOYMENT): initialisation with a private model and the
// resident memory it leaves, and one x-vector template of 4 s of speech
// (features, network, transform) on the calling thread.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "engine/ravel-exports.h"

namespace {

std::string Deployment() {
  const char* dir = std::getenv("JOR_BENCH_DEPLOYMENT");
  return dir != nullptr && *dir != '\0' ? dir : std::string(JOR_SOURCE_DIR) + "/models/default";
}

int Initialise() {
  const std::string dir = Deployment();
  const bool share = false;
  return Ravel_Initialize((dir + "/ulxmodel.dat").c_str(), 20, 0.025f, dir.c_str(), share);
}

double ResidentMiB() {
  FILE* f = std::fopen("/proc/self/status", "r");
  if (f == nullptr) return 0.0;
  char line[256];
  double kib = 0.0;
  while (std::fgets(line, sizeof line, f) != nullptr)
    if (std::strncmp(line, "VmRSS:", 6) == 0) kib = std::atof(line + 6);
  std::fclose(f);
  return kib / 1024.0;
}

// Speech-like 8 kHz test signal: a gliding harmonic tone with noise, loud
// enough for the energy detector to keep most frames.
std::vector<short> Signal(double seconds) {
  std::vector<short> pcm(static_cast<size_t>(seconds * 8000));
  unsigned seed = 1;
  double phase = 0.0;
  for (size_t i = 0; i < pcm.size(); ++i) {
    const double t = static_cast<double>(i) / 8000.0;
    phase += 2.0 * 3.14159265358979 * (120.0 + 30.0 * std::sin(2.0 * 3.14159265358979 * 3.0 * t)) / 8000.0;
    double v = 0.0;
    for (int h = 1; h <= 12; ++h) v += std::sin(h * phase) / h;
    seed = seed * 1103515245u + 12345u;
    v += 0.05 * (static_cast<double>(seed >> 16 & 0x7FFF) / 16384.0 - 1.0);
    pcm[i] = static_cast<short>(6000.0 * v);
  }
  return pcm;
}

void BM_Initialise(benchmark::State& state) {
  for (auto _ : state) {
    if (Initialise() != 0) {
      state.SkipWithError("initialisation failed");
      return;
    }
    state.PauseTiming();
    state.counters["resident_MiB"] = ResidentMiB();
    Ravel_Terminate();
    state.ResumeTiming();
  }
}
BENCHMARK(BM_Initialise)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_XvectorTemplate4s(benchmark::State& state) {
  if (Initialise() != 0) {
    state.SkipWithError("initialisation failed");
    return;
  }
  void* h = nullptr;
  Ravel_Create(&h);
  const std::vector<short> pcm = Signal(4.0);
  std::vector<float> features, freqSnr;
  std::vector<char> templ;
  float duration = 0, volume = 0, snr = 0, lo = 0, hi = 0;
  for (auto _ : state) {
    features.clear();
    templ.clear();
    if (Ravel_GetFeature(h, pcm, &features, &duration, &volume, &snr, &lo, &hi, &freqSnr) != 0 ||
        Ravel_GetXvector(h, features, duration, volume, snr, &templ, true) != 0) {
      state.SkipWithError("template failed");
      break;
    }
  }
  state.counters["resident_MiB"] = ResidentMiB();
  Ravel_Delete(&h);
  Ravel_Terminate();
}
BENCHMARK(BM_XvectorTemplate4s)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
