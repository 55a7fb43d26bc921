// One engine, many threads: 8 threads × 10 rounds of streamed enrolment,
// whole-recording features, i-vector and x-vector templates and scoring, each
// thread on its own handle, give byte for byte what the same calls give one
// after the other on one thread.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "engine/ravel-exports.h"
#include "tests/support/synthetic-speech.h"
#include "tools/modelio/random-deployment.h"
#include "tests/support/test-dir.h"

namespace {

constexpr int kThreads = 8;
constexpr int kRounds = 10;

// Everything one round produces, as bytes; empty on the first failure.
std::string Round(void* h, int thread, int round, const std::vector<char>& reference) {
  const std::vector<short> pcm =
      jor_test::SyntheticSpeech(1.5 + 0.1 * round, static_cast<unsigned>(100 * thread + round));
  std::string out;
  auto add = [&](const void* p, size_t n) { out.append(static_cast<const char*>(p), n); };
  const bool yes = true;
  // Streamed enrolment in 20 ms chunks.
  if (Ravel_Reset(h) != 0) return {};
  for (size_t at = 0; at < pcm.size(); at += 160) {
    const std::vector<short> chunk(pcm.begin() + at, pcm.begin() + std::min(pcm.size(), at + 160));
    if (Ravel_PutPCM(h, chunk) != 0) return {};
  }
  float d = 0, v = 0, s = 0, lo = 0, hi = 0;
  std::vector<float> bands;
  if (Ravel_GetQualityMeasures(h, &d, &v, &s, &lo, &hi, &bands) != 0) return {};
  add(&d, 4), add(&v, 4), add(&s, 4);
  std::vector<char> streamed;
  if (Ravel_GetIvector(h, &streamed, yes) != 0) return {};
  add(streamed.data(), streamed.size());
  // Whole recording: features, i-vector and x-vector templates.
  std::vector<float> features;
  if (Ravel_GetFeature(h, pcm, &features, &d, &v, &s, &lo, &hi, &bands) != 0) return {};
  add(features.data(), features.size() * sizeof(float));
  std::vector<char> ivector, xvector;
  if (Ravel_GetIvector(h, features, d, v, s, &ivector, yes) != 0) return {};
  if (Ravel_GetXvector(h, features, d, v, s, &xvector, yes) != 0) return {};
  add(ivector.data(), ivector.size());
  add(xvector.data(), xvector.size());
  // Verification against the reference and against each other.
  float scores[3] = {-1, -1, -1};
  if (Ravel_GetScore(h, streamed, reference, &scores[0]) != 0 ||
      Ravel_GetScore(h, ivector, streamed, &scores[1]) != 0 ||
      Ravel_GetScore(h, xvector, reference, &scores[2]) != 0)
    return {};
  add(scores, sizeof scores);
  return out;
}

TEST(ThreadsTest, ThreadsGiveTheSerialResults) {
  jor_test::TestDir dir;
  modelio::WriteRandomDeployment(dir.path().string());
  const bool share = false;
  ASSERT_EQ(
      Ravel_Initialize(dir.File("ulxmodel.dat").c_str(), 20, 0.025f, dir.path().c_str(), share), 0);
  std::vector<char> reference;
  {
    void* h = nullptr;
    ASSERT_EQ(Ravel_Create(&h), 0);
    std::vector<float> features, bands;
    float d, v, s, lo, hi;
    ASSERT_EQ(Ravel_GetFeature(h, jor_test::SyntheticSpeech(3.0, 7), &features, &d, &v, &s, &lo,
                               &hi, &bands),
              0);
    const bool yes = true;
    ASSERT_EQ(Ravel_GetXvector(h, features, d, v, s, &reference, yes), 0);
    Ravel_Delete(&h);
  }

  auto runThread = [&](int t, std::vector<std::string>* results) {
    void* h = nullptr;
    if (Ravel_Create(&h) != 0) return;
    for (int r = 0; r < kRounds; ++r) (*results)[r] = Round(h, t, r, reference);
    Ravel_Delete(&h);
  };
  std::vector<std::vector<std::string>> serial(kThreads, std::vector<std::string>(kRounds));
  for (int t = 0; t < kThreads; ++t) runThread(t, &serial[t]);
  std::vector<std::vector<std::string>> parallel(kThreads, std::vector<std::string>(kRounds));
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) threads.emplace_back(runThread, t, &parallel[t]);
  for (std::thread& th : threads) th.join();

  for (int t = 0; t < kThreads; ++t) {
    for (int r = 0; r < kRounds; ++r) {
      ASSERT_FALSE(serial[t][r].empty()) << "thread " << t << " round " << r;
      EXPECT_TRUE(parallel[t][r] == serial[t][r]) << "thread " << t << " round " << r;
    }
  }
  EXPECT_EQ(Ravel_Terminate(), 0);
}

}  // namespace
