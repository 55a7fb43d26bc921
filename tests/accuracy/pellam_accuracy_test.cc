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
#include "tests/accuracy/pellam-templates.h"
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
    const std::vector<std::vector<char>> templates =
        jor_accuracy::PellamTemplates(h, recs, xvector, 8000);
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
