// The trained test deployment through Pellam's exports: recordings of one
// voice score higher than recordings of two voices, with x-vector templates
// (ordinal 6) and streamed i-vector templates (ordinals 10, 7, 8), compared
// with ordinal 11.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "pellam/pellam.h"
#include "tests/accuracy/heldout-set.h"

#define RecInit Entry_cd45c54f57981b6bcdc2efd49e6929c10567ebe7bb1d75e59fe3bae9d39ee7ab
#define RecTerm Entry_fb7923f791fb19135c1faedc427acd7ff5fee971c577b29513dede24d862df4a
#define RecCreate_ Entry_ffdbf5fe32062761fde21420f31f877d1d705941021673fdf7062fb4ab5ef2c9
#define RecDelete_ Entry_bc3673082b003145048ccb34e657ffb613b2bd5a94f4b8dcd2a712ebeecf4c66
#define RecMakeX Entry_faf73d186b40459db7cfddf2a9c85802e82f0ccedc92f6fba17ed7342dcfd006
#define RecPut Entry_589feab40955bf75bce8509064bd0574cd9aa9e3ae59cd5e90357615ea1c88ac
#define RecMakeI Entry_5c769344bf97836a4c4de07a4fee4819ccc6f7b640bd6c513884f53fba2c6754
#define RecReset_ Entry_b1834cb7088341f92c133c088ddb385b8fc218b1d4c594afedc6e8b205c92d82
#define RecCompare_ Entry_160c47515f08786e8d27f50a58f8eca7b4b18971a750893f9085ac1ee736bcd2
#define RecDetail Entry_34a0d7eeb8756d45404ab5a6d690cb4fa2a8ef828a51cd8b0c8b8d036afe74d1
#define RecSize Entry_ee8a4b11689d57013760f6094ee7e4e8016ac9e2b3382f778aa7980c49ca9fe8

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
    const jor_accuracy::TrialMeans m = jor_accuracy::ScoreAllPairs(recs, score);
    const double nearest = jor_accuracy::NearestIsSameVoice(recs, score);
    std::printf(
        "pellam %-17s same voice %6.2f (%d trials)  different voices %6.2f (%d trials)"
        "  nearest is same voice %.0f%%\n",
        name, m.same, m.same_count, m.different, m.different_count, 100.0 * nearest);
    EXPECT_GT(m.same_count, 0);
    EXPECT_GT(m.same, m.different + 15.0);
    EXPECT_GE(nearest, 0.75);
  }
  EXPECT_EQ(RecDelete_(&h), 0);
  EXPECT_EQ(RecTerm(), 0);
}

}  // namespace
