// Pellam adds nothing of its own to the engine: the template bytes and scores
// it returns are those the engine exports make of the same audio.
#include <gtest/gtest.h>

#include <vector>

#include "engine/ravel-exports.h"
#include "tests/pellam/pellam-aliases.h"
#include "tests/support/synthetic-speech.h"
#include "tests/support/test-dir.h"
#include "tools/modelio/random-deployment.h"

namespace {

TEST(PellamEngineTest, TemplatesAndScoresEqualTheEngineExports) {
  jor_test::TestDir dir;
  modelio::WriteRandomDeployment(dir.path().string());
  const bool share = false;
  ASSERT_EQ(RecInit(dir.path().c_str(), &share), 0);
  const size_t bytes = static_cast<size_t>(RecSize());
  void* rec = nullptr;  // through Pellam
  void* eng = nullptr;  // through the engine's exports
  ASSERT_EQ(RecCreate_(&rec), 0);
  ASSERT_EQ(Ravel_Create(&eng), 0);

  std::vector<std::vector<char>> pellamTemplates, engineTemplates;
  for (uint32_t seed = 1; seed <= 2; ++seed) {
    const std::vector<short> pcm = jor_test::SyntheticSpeech(3.0, seed, 100.0 + 40.0 * seed);
    const size_t count = pcm.size();
    float d, v, s;

    // X-vector template of the whole recording.
    std::vector<char> px(bytes);
    ASSERT_EQ(RecMakeX(rec, pcm.data(), &count, px.data(), &bytes, &d, &v, &s), 0);
    std::vector<float> features, bands;
    float ed, ev, es, lo, hi;
    ASSERT_EQ(Ravel_GetFeature(eng, pcm, &features, &ed, &ev, &es, &lo, &hi, &bands), 0);
    std::vector<char> ex;
    ASSERT_EQ(Ravel_GetXvector(eng, features, ed, ev, es, &ex, true), 0);
    EXPECT_EQ(px, ex);
    EXPECT_EQ(d, ed);

    // I-vector template of the stream.
    ASSERT_EQ(RecPut(rec, pcm.data(), &count), 0);
    ASSERT_EQ(Ravel_PutPCM(eng, pcm), 0);
    std::vector<char> pi(bytes);
    ASSERT_EQ(RecMakeI(rec, pi.data(), &bytes, &d, &v, &s), 0);
    std::vector<char> ei;
    ASSERT_EQ(Ravel_GetIvector(eng, &ei, true), 0);
    EXPECT_EQ(pi, ei);
    ASSERT_EQ(RecReset_(rec), 0);
    ASSERT_EQ(Ravel_Reset(eng), 0);

    pellamTemplates.insert(pellamTemplates.end(), {px, pi});
    engineTemplates.insert(engineTemplates.end(), {ex, ei});
  }
  for (size_t a = 0; a < pellamTemplates.size(); ++a)
    for (size_t b = 0; b < pellamTemplates.size(); ++b) {
      float ps = -1, es = -2;
      ASSERT_EQ(RecCompare_(rec, pellamTemplates[a].data(), &bytes, pellamTemplates[b].data(),
                            &bytes, &ps),
                0);
      ASSERT_EQ(Ravel_GetScore(eng, engineTemplates[a], engineTemplates[b], &es), 0);
      EXPECT_EQ(ps, es) << a << " " << b;
    }
  RecDelete_(&rec);
  Ravel_Delete(&eng);
  RecTerm();
}

}  // namespace
