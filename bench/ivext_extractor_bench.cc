// I-vector extractor with C = 256 Gaussians, F = 40, R = 512: load and
// precompute (goal < 2 s), attach to a published model from a second process
// (goal < 100 ms), one extraction (goal < 30 ms, one core), and the memory of
// an attached process compared with a private load.
#include <benchmark/benchmark.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>

#include "IvectorExt/ivext/extractor.h"
#include "IvectorExt/ivext/iv-extractor.h"
#include "IvectorExt/ivext/shmem-manager.h"
#include "tests/ivext/ivector-reference.h"
#include "tests/support/test-dir.h"
#include "tools/modelio/ivector-writer.h"

extern char** environ;

namespace {

constexpr int kC = 256, kF = 40, kR = 512;

struct Files {
  jor_test::TestDir dir;
  std::string float32, float64;
  Files() {
    const modelio::IvectorModel m = modelio::RandomIvectorModel(kC, kF, kR, 7, 100.0, 0.1);
    float32 = dir.File("ivector32.bin");
    float64 = dir.File("ivector64.bin");
    modelio::WriteIvectorModel(float32, m, 4);
    modelio::WriteIvectorModel(float64, m, 8);
  }
};

const Files& ModelFiles() {
  static const Files files;
  return files;
}

UtteranceStats<float> BenchStats() {
  const ivext_test::Stats s = ivext_test::RandomStats(kC, kF, 8);
  UtteranceStats<float> stats(kF, kC);
  stats.numFrames = 500;
  for (int c = 0; c < kC; ++c) {
    // Every Gaussian occupied, as in a few seconds of speech.
    stats.zeroth[c] = s.zeroth[c] == 0.0 ? 0.5f : static_cast<float>(s.zeroth[c]);
    for (int d = 0; d < kF; ++d) stats.first[c][d] = static_cast<float>(s.first[c][d] + 0.1);
  }
  return stats;
}

int Load(ivext::IvExtractor& iv, const std::string& path, bool share) {
  FILE* file = path.empty() ? nullptr : std::fopen(path.c_str(), "rb");
  const int rc = iv.LoadModel(file, share);
  if (file != nullptr) std::fclose(file);
  return rc;
}

void BM_LoadAndPrecompute(benchmark::State& state) {
  const bool doubleModel = state.range(0) == 8;
  const bool share = state.range(1) != 0;
  const std::string& path = doubleModel ? ModelFiles().float64 : ModelFiles().float32;
  for (auto _ : state) {
    ivext::ShmemManager::RemoveShared();
    ivext::IvExtractor iv;
    if (Load(iv, path, share) != 0) state.SkipWithError("load failed");
  }
  ivext::ShmemManager::RemoveShared();
}
BENCHMARK(BM_LoadAndPrecompute)
    ->ArgNames({"E", "shared"})
    ->Args({4, 0})
    ->Args({4, 1})
    ->Args({8, 0})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);

void BM_Extract(benchmark::State& state) {
  ivext::IvExtractor iv;
  const bool doubleModel = state.range(0) == 8;
  const bool share = state.range(1) != 0;
  ivext::ShmemManager::RemoveShared();
  if (Load(iv, doubleModel ? ModelFiles().float64 : ModelFiles().float32, share) != 0) {
    state.SkipWithError("load failed");
    return;
  }
  const UtteranceStats<float> stats = BenchStats();
  std::vector<float> w;
  iv.Extract(stats, w);  // first touch of the model pages is not part of extraction
  for (auto _ : state) {
    if (iv.Extract(stats, w) != 0) state.SkipWithError("extract failed");
    benchmark::DoNotOptimize(w.data());
  }
}
BENCHMARK(BM_Extract)
    ->ArgNames({"E", "shared"})
    ->Args({4, 0})
    ->Args({4, 1})
    ->Args({8, 0})
    ->Args({8, 1})
    ->Unit(benchmark::kMillisecond);

// Runs this program again as `--ivext-child=<mode>` and returns what it
// printed: a fresh process, not a fork, so that nothing of this one is
// resident in it.
std::string InChild(const char* mode, const std::string& modelPath = "") {
  int fds[2];
  if (::pipe(fds) != 0) return {};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
  posix_spawn_file_actions_addclose(&actions, fds[0]);
  const std::string arg = std::string("--ivext-child=") + mode;
  char* argv[] = {const_cast<char*>("ivext_extractor_bench"), const_cast<char*>(arg.c_str()),
                  const_cast<char*>(modelPath.c_str()), nullptr};
  pid_t pid = -1;
  const int rc = posix_spawn(&pid, "/proc/self/exe", &actions, nullptr, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(fds[1]);
  std::string result;
  char buf[512];
  ssize_t n;
  while (rc == 0 && (n = ::read(fds[0], buf, sizeof buf)) > 0)
    result.append(buf, static_cast<size_t>(n));
  ::close(fds[0]);
  int status = 0;
  if (rc == 0) ::waitpid(pid, &status, 0);
  return result;
}

// Child modes.
std::string AttachSeconds() {
  const auto start = std::chrono::steady_clock::now();
  ivext::IvExtractor iv;
  const int rc = Load(iv, "", true);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  return rc == 0 && iv.IsShared() ? std::to_string(seconds) : std::string("fail");
}

// Attach of a second process to a model that the benchmark process published.
void BM_AttachFromSecondProcess(benchmark::State& state) {
  ivext::ShmemManager::RemoveShared();
  ivext::IvExtractor publisher;
  if (Load(publisher, ModelFiles().float32, true) != 0) {
    state.SkipWithError("publish failed");
    return;
  }
  for (auto _ : state) {
    const std::string out = InChild("attach");
    if (out.empty() || out == "fail") {
      state.SkipWithError("attach failed");
      break;
    }
    state.SetIterationTime(std::stod(out));
  }
  ivext::ShmemManager::RemoveShared();
}
BENCHMARK(BM_AttachFromSecondProcess)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(5);

// Resident memory in MiB after one extraction: process-private anonymous
// pages and pages of shared memory (one copy for every attached process).
std::string MemoryAfterExtraction(const std::string& modelPath, bool share) {
  ivext::IvExtractor iv;
  if (Load(iv, modelPath, share) != 0) return "fail";
  const UtteranceStats<float> stats = BenchStats();
  std::vector<float> w;
  if (iv.Extract(stats, w) != 0) return "fail";
  std::ifstream in("/proc/self/status");
  std::string line;
  double anonKb = 0, shmemKb = 0, value = 0;
  while (std::getline(in, line)) {
    if (std::sscanf(line.c_str(), "RssAnon: %lf", &value) == 1) anonKb = value;
    if (std::sscanf(line.c_str(), "RssShmem: %lf", &value) == 1) shmemKb = value;
  }
  return std::to_string(anonKb / 1024.0) + " " + std::to_string(shmemKb / 1024.0);
}

void BM_ResidentMemory(benchmark::State& state) {
  ivext::ShmemManager::RemoveShared();
  ivext::IvExtractor publisher;
  if (Load(publisher, ModelFiles().float32, true) != 0) {
    state.SkipWithError("publish failed");
    return;
  }
  double anon[2] = {0, 0}, shmem[2] = {0, 0};
  for (auto _ : state) {
    for (int shared = 0; shared < 2; ++shared) {
      const std::string out =
          InChild(shared ? "memory-attached" : "memory-private", ModelFiles().float32);
      if (std::sscanf(out.c_str(), "%lf %lf", &anon[shared], &shmem[shared]) != 2)
        state.SkipWithError("measurement failed");
    }
  }
  state.counters["private_anon_MiB"] = anon[0];
  state.counters["private_shmem_MiB"] = shmem[0];
  state.counters["attached_anon_MiB"] = anon[1];
  state.counters["attached_shmem_MiB"] = shmem[1];
  ivext::ShmemManager::RemoveShared();
}
BENCHMARK(BM_ResidentMemory)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::strncmp(argv[1], "--ivext-child=", 14) == 0) {
    const std::string mode = argv[1] + 14;
    const std::string modelPath = argv[2];
    std::string out = "fail";
    if (mode == "attach") out = AttachSeconds();
    if (mode == "memory-private") out = MemoryAfterExtraction(modelPath, false);
    if (mode == "memory-attached") out = MemoryAfterExtraction("", true);
    std::fputs(out.c_str(), stdout);
    return 0;
  }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
