// The trained test deployment through Pellam's exports: recordings of one
// voice score higher than recordings of two voices, with x-vector templates
// (ordinal 6) and streamed i-vector templates (ordinals 10, 7, 8), compared
// with ordinal 11.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "tests/accuracy/heldout-set.h"
#include "tests/pellam/pellam-aliases.h"

namespace {

using jor_accuracy::Recording;

TEST(PellamAccuracy, SameVoiceScoresHigherOnBothPaths) {
  const std::vector<Recording> recs = jor_accuracy::ReadHeldout();
  ASSERT_GE(recs.size(), 8u) << "held-out recordings missing under "
                             << jor_accuracy::DeploymentDir();
  const std::string dir = jor_accuracy::DeploymentDir();
  const bool share = false;
  ASSERT_EQ(RecInit(dir.c_str(), &share), 0) << "detail " << RecDetail(nullptr);
  void* h = nullptr;
  ASSERT_EQ(RecCreate_(&h), 0);
  const size_t size = static_cast<size_t>(RecSize());
  // The diarization speaker database stores templates of 512-dimensional models.
  EXPECT_EQ(size, jor_accuracy::kDatabaseTemplateBytes);

  for (const bool xvector : {true, false}) {
    const char* name = xvector ? "x-vector" : "streamed i-vector";
    SCOPED_TRACE(name);
    std::vector<std::vector<char>> templates;
    for (const Recording& r : recs) {
      std::vector<char> templ(size);
      float duration = 0, volume = 0, snr = 0;
      if (xvector) {
        const size_t n = r.pcm.size();
        ASSERT_EQ(RecMakeX(h, r.pcm.data(), &n, templ.data(), &size, &duration, &volume, &snr), 0)
            << r.id << " detail " << RecDetail(h);
      } else {
        ASSERT_EQ(RecReset_(h), 0);
        for (size_t at = 0; at < r.pcm.size(); at += 8000) {
          const size_t n = std::min<size_t>(8000, r.pcm.size() - at);
          ASSERT_EQ(RecPut(h, r.pcm.data() + at, &n), 0);
        }
        ASSERT_EQ(RecMakeI(h, templ.data(), &size, &duration, &volume, &snr), 0)
            << r.id << " detail " << RecDetail(h);
      }
      templates.push_back(std::move(templ));
    }
    auto score = [&](size_t i, size_t j) {
      float s = -1.0f;
      EXPECT_EQ(RecCompare_(h, templates[i].data(), &size, templates[j].data(), &size, &s), 0);
      return s;
    };
    jor_accuracy::CheckSeparation("pellam", name, recs, score);
  }
  EXPECT_EQ(RecDelete_(&h), 0);
  EXPECT_EQ(RecTerm(), 0);
}

}  // namespace
