// The shipped default deployment recognises voices it was never trained on:
// through Pellam's exports, every pair of recordings of one held-out voice
// scores above the diarization driver's naming threshold (70) and every pair
// of two held-out voices below it, on the x-vector and the streamed i-vector
// path.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/accuracy/heldout-set.h"
#include "tests/accuracy/pellam-templates.h"
#include "tests/pellam/pellam-aliases.h"

namespace {

constexpr float kNamingThreshold = 70.0f;

TEST(DefaultDeployment, HeldOutVoicesAcceptedAndRejectedAtTheNamingThreshold) {
  const std::string dir = std::string(JOR_SOURCE_DIR) + "/models/default";
  const std::vector<jor_accuracy::Recording> recs =
      jor_accuracy::ReadHeldout(std::string(JOR_SOURCE_DIR) + "/tests/data/default-heldout");
  ASSERT_GE(recs.size(), 6u);
  const bool share = false;
  ASSERT_EQ(RecInit(dir.c_str(), &share), 0) << "detail " << RecDetail(nullptr);
  void* h = nullptr;
  ASSERT_EQ(RecCreate_(&h), 0);
  const size_t size = static_cast<size_t>(RecSize());
  EXPECT_EQ(size, jor_accuracy::kDatabaseTemplateBytes);

  for (const bool xvector : {true, false}) {
    SCOPED_TRACE(xvector ? "x-vector" : "streamed i-vector");
    const std::vector<std::vector<char>> templates =
        jor_accuracy::PellamTemplates(h, recs, xvector, 4000);
    for (size_t i = 0; i < recs.size(); ++i) {
      for (size_t j = 0; j < recs.size(); ++j) {
        if (i == j) continue;
        float score = -1.0f;
        ASSERT_EQ(RecCompare_(h, templates[i].data(), &size, templates[j].data(), &size, &score),
                  0);
        if (recs[i].speaker == recs[j].speaker) {
          EXPECT_GT(score, kNamingThreshold) << recs[i].id << " / " << recs[j].id;
        } else {
          EXPECT_LT(score, kNamingThreshold) << recs[i].id << " / " << recs[j].id;
        }
      }
    }
  }
  EXPECT_EQ(RecDelete_(&h), 0);
  EXPECT_EQ(RecTerm(), 0);
}

}  // namespace
