// The trained test deployment through the engine's exports: recordings of one
// voice score higher than recordings of two voices, on the x-vector path
// (Ravel_GetFeature + Ravel_GetXvector) and the streamed i-vector path
// (Ravel_PutPCM + Ravel_GetIvector).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "engine/ravel-exports.h"
#include "tests/accuracy/heldout-set.h"

namespace {

using jor_accuracy::Recording;

enum class Path { kXvector, kStreamedIvector };

std::vector<char> MakeTemplate(void* h, const Recording& r, Path path) {
  std::vector<char> templ;
  if (path == Path::kXvector) {
    std::vector<float> features, bands;
    float duration = 0, volume = 0, snr = 0, lo = 0, hi = 0;
    EXPECT_EQ(Ravel_GetFeature(h, r.pcm, &features, &duration, &volume, &snr, &lo, &hi, &bands), 0)
        << r.id << " detail " << Ravel_GetDetail(h);
    EXPECT_EQ(Ravel_GetXvector(h, features, duration, volume, snr, &templ, true), 0)
        << r.id << " detail " << Ravel_GetDetail(h);
  } else {
    EXPECT_EQ(Ravel_Reset(h), 0);
    for (size_t at = 0; at < r.pcm.size(); at += 8000) {
      const size_t end = std::min(r.pcm.size(), at + 8000);
      EXPECT_EQ(Ravel_PutPCM(h, std::vector<short>(r.pcm.begin() + at, r.pcm.begin() + end)), 0);
    }
    EXPECT_EQ(Ravel_GetIvector(h, &templ, true), 0) << r.id << " detail " << Ravel_GetDetail(h);
  }
  return templ;
}

TEST(EngineAccuracy, SameVoiceScoresHigherOnBothPaths) {
  const std::vector<Recording> recs = jor_accuracy::ReadHeldout();
  ASSERT_GE(recs.size(), 8u) << "held-out recordings missing under "
                             << jor_accuracy::DeploymentDir();
  const std::string dir = jor_accuracy::DeploymentDir();
  const bool share = false;
  ASSERT_EQ(Ravel_Initialize((dir + "/ulxmodel.dat").c_str(), 20, 0.025f, dir.c_str(), share), 0)
      << "detail " << Ravel_GetDetail(nullptr);
  void* h = nullptr;
  ASSERT_EQ(Ravel_Create(&h), 0);
  const size_t size = static_cast<size_t>(Ravel_GetTemplateSize());
  // The diarization speaker database stores templates of 512-dimensional models.
  EXPECT_EQ(size, jor_accuracy::kDatabaseTemplateBytes);

  for (const Path path : {Path::kXvector, Path::kStreamedIvector}) {
    const char* name = path == Path::kXvector ? "x-vector" : "streamed i-vector";
    SCOPED_TRACE(name);
    std::vector<std::vector<char>> templates;
    for (const Recording& r : recs) {
      templates.push_back(MakeTemplate(h, r, path));
      ASSERT_EQ(templates.back().size(), size) << r.id;
    }
    auto score = [&](size_t i, size_t j) {
      float s = -1.0f;
      EXPECT_EQ(Ravel_GetScore(h, templates[i], templates[j], &s), 0);
      return s;
    };
    jor_accuracy::CheckSeparation("engine", name, recs, score);
  }
  EXPECT_EQ(Ravel_Delete(&h), 0);
  EXPECT_EQ(Ravel_Terminate(), 0);
}

}  // namespace
