// Malformed, truncated and inconsistent "xe5.pb" files are refused with the
// documented results, never crash, and leave the object uninitialised.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "brindle/xvext.h"
#include "tests/brindle/xe5-test-model.h"
#include "tests/support/test-dir.h"

namespace {

using brindle_test::TModel;

// Documented results.
constexpr int kFileMissing = 0x40009001;
constexpr int kFileUnreadable = 0x40009002;
constexpr int kBadMagic = 0x40009010;
constexpr int kBadVersion = 0x40009011;
constexpr int kBadLength = 0x40009012;
constexpr int kBadChecksum = 0x40009013;
constexpr int kBadLayerKind = 0x40009014;
constexpr int kBadDimension = 0x40009015;
constexpr int kDimensionMismatch = 0x40009016;
constexpr int kBadContext = 0x40009017;
constexpr int kBadParameter = 0x40009018;
constexpr int kBadActivation = 0x40009019;
constexpr int kBadRecordLength = 0x4000901A;
constexpr int kNotInitialized = 0x30109301;

TModel Base() {
  // frame(3->4, {-1,0,1}), frame(4->5, {-2,2}), pooling(5->10), segment(10->3), segment(3->2)
  return brindle_test::RandomModel({3, {4, 5}, {{-1, 0, 1}, {-2, 2}}, 3, {2}}, 77);
}

std::vector<size_t> RecordStarts() {
  std::vector<size_t> starts;
  brindle_test::Encode(Base(), &starts);
  return starts;
}

// Returns the result of Init on the bytes; checks the object stays unusable.
int InitOn(const std::string& bytes) {
  jor_test::TestDir dir;
  const std::string path = dir.File("xe5.pb");
  jor_test::WriteFile(path, bytes);
  XVECTOR::C_XVEXT xv;
  const int r = xv.Init(path, 0);
  if (r != 0) {
    std::vector<float> out(3, 1.0f);
    EXPECT_EQ(xv.GetXvector(std::vector<float>(30, 0.5f), out), kNotInitialized);
    EXPECT_TRUE(out.empty());
  }
  return r;
}

struct ModelCase {
  const char* name;
  std::function<void(TModel&)> edit;
  int expected;
};

TEST(BrindleModelFile, InconsistentModelsAreRefused) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  const std::vector<ModelCase> cases = {
      {"valid", [](TModel&) {}, 0},
      {"input_dim_header_mismatch", [](TModel& m) { m.inputDim = 4; }, kDimensionMismatch},
      {"embedding_dim_header_mismatch", [](TModel& m) { m.embeddingDim = 2; }, kDimensionMismatch},
      {"input_dim_zero", [](TModel& m) { m.inputDim = 0; }, kBadDimension},
      {"embedding_dim_too_large", [](TModel& m) { m.embeddingDim = 65537; }, kBadDimension},
      {"chain_mismatch",
       [](TModel& m) {
         m.layers[1].in = 6;
         m.layers[1].weight.resize(5 * 2 * 6, 0.1f);
       },
       kDimensionMismatch},
      {"segment_chain_mismatch",
       [](TModel& m) {
         m.layers[4].in = 4;
         m.layers[4].weight.resize(2 * 4, 0.1f);
       },
       kDimensionMismatch},
      {"pooling_output_not_twice_input", [](TModel& m) { m.layers[2].out = 11; },
       kDimensionMismatch},
      {"zero_output_layer",
       [](TModel& m) {
         m.layers[0].out = 0;
         m.layers[0].weight.clear();
         m.layers[0].bias.clear();
         m.layers[0].scale.clear();
         m.layers[0].shift.clear();
       },
       kBadDimension},
      {"zero_input_pooling", [](TModel& m) { m.layers[2].in = 0; }, kBadDimension},
      {"unknown_kind", [](TModel& m) { m.layers[1].kind = 4; }, kBadLayerKind},
      {"kind_zero", [](TModel& m) { m.layers[0].kind = 0; }, kBadLayerKind},
      {"pooling_first", [](TModel& m) { m.layers.erase(m.layers.begin(), m.layers.begin() + 2); },
       kBadLayerKind},
      {"segment_before_pooling", [](TModel& m) { m.layers.erase(m.layers.begin() + 2); },
       kBadLayerKind},
      {"no_segment_layer", [](TModel& m) { m.layers.resize(3); }, kBadLayerKind},
      {"two_poolings", [](TModel& m) { m.layers.insert(m.layers.begin() + 3, m.layers[2]); },
       kBadLayerKind},
      {"frame_after_pooling", [](TModel& m) { m.layers.insert(m.layers.begin() + 3, m.layers[1]); },
       kBadLayerKind},
      {"too_few_layers", [](TModel& m) { m.layers.resize(2); }, kBadLayerKind},
      {"too_many_layers",
       [](TModel& m) {
         while (m.layers.size() <= 64) m.layers.push_back(m.layers[4]);
       },
       kBadLayerKind},
      {"offsets_repeated",
       [](TModel& m) {
         m.layers[0].offsets = {-1, 0, 0};
       },
       kBadContext},
      {"offsets_decreasing",
       [](TModel& m) {
         m.layers[1].offsets = {2, -2};
       },
       kBadContext},
      {"offset_out_of_range",
       [](TModel& m) {
         m.layers[1].offsets = {-2, 257};
       },
       kBadContext},
      {"frame_without_offsets", [](TModel& m) { m.layers[1].offsets.clear(); }, kBadContext},
      {"pooling_with_offsets", [](TModel& m) { m.layers[2].offsets = {0}; }, kBadContext},
      {"segment_with_offsets", [](TModel& m) { m.layers[3].offsets = {0}; }, kBadContext},
      {"nan_weight", [nan](TModel& m) { m.layers[1].weight[7] = nan; }, kBadParameter},
      {"inf_bias", [inf](TModel& m) { m.layers[3].bias[2] = -inf; }, kBadParameter},
      {"nan_scale", [nan](TModel& m) { m.layers[0].scale[0] = nan; }, kBadParameter},
      {"nan_shift_in_later_segment", [nan](TModel& m) { m.layers[4].shift[1] = nan; },
       kBadParameter},
      {"negative_variance_floor", [](TModel& m) { m.layers[2].varianceFloor = -1.0f; },
       kBadParameter},
      {"nan_variance_floor", [nan](TModel& m) { m.layers[2].varianceFloor = nan; }, kBadParameter},
      {"zero_variance_floor", [](TModel& m) { m.layers[2].varianceFloor = 0.0f; }, 0},
      {"activation_code_2", [](TModel& m) { m.layers[0].activation = 2; }, kBadActivation},
      {"unknown_flag_bit", [](TModel& m) { m.layers[3].flags = 3; }, kBadActivation},
      {"pooling_with_activation", [](TModel& m) { m.layers[2].activation = 1; }, kBadActivation},
  };
  for (const ModelCase& c : cases) {
    SCOPED_TRACE(c.name);
    TModel m = Base();
    c.edit(m);
    EXPECT_EQ(InitOn(brindle_test::Encode(m)), c.expected);
  }
}

struct BytesCase {
  const char* name;
  std::function<void(std::string&)> edit;
  int expected;
};

TEST(BrindleModelFile, DamagedBytesAreRefused) {
  const std::string good = brindle_test::Encode(Base());
  const std::vector<size_t> starts = RecordStarts();
  std::vector<BytesCase> cases = {
      {"bad_magic", [](std::string& s) { s[3] = 'M'; }, kBadMagic},
      {"version_2",
       [](std::string& s) {
         brindle_test::SetU32(s, 4, 2);
         brindle_test::Reseal(s);
       },
       kBadVersion},
      {"version_0",
       [](std::string& s) {
         brindle_test::SetU32(s, 4, 0);
         brindle_test::Reseal(s);
       },
       kBadVersion},
      {"reserved_set",
       [](std::string& s) {
         brindle_test::SetU32(s, 28, 1);
         brindle_test::Reseal(s);
       },
       kBadVersion},
      {"length_field_short", [](std::string& s) { s[8] = static_cast<char>(s[8] - 1); },
       kBadLength},
      {"byte_appended", [](std::string& s) { s.push_back('\0'); }, kBadLength},
      {"byte_appended_resealed",
       [](std::string& s) {
         s.insert(s.size() - 4, 1, '\0');
         brindle_test::Reseal(s);
       },
       kBadRecordLength},
      {"weight_bit_flipped", [&](std::string& s) { s[starts[1] + 40] ^= 0x10; }, kBadChecksum},
      {"checksum_flipped", [](std::string& s) { s[s.size() - 1] ^= 0x01; }, kBadChecksum},
      {"record_length_plus_4",
       [&](std::string& s) {
         brindle_test::SetU32(s, starts[1] + 24, brindle_test::GetU32(s, starts[1] + 24) + 4);
         brindle_test::Reseal(s);
       },
       kBadRecordLength},
      {"layer_count_plus_1",
       [](std::string& s) {
         brindle_test::SetU32(s, 24, brindle_test::GetU32(s, 24) + 1);
         brindle_test::Reseal(s);
       },
       kBadRecordLength},
      {"layer_count_minus_1",
       [](std::string& s) {
         brindle_test::SetU32(s, 24, brindle_test::GetU32(s, 24) - 1);
         brindle_test::Reseal(s);
       },
       kBadRecordLength},
      {"huge_dimensions_small_file",
       [&](std::string& s) {
         brindle_test::SetU32(s, starts[3] + 8, 65536);
         brindle_test::Reseal(s);
       },
       kBadRecordLength},
  };
  // Truncation at every section boundary: inside and after the header, at
  // each record and its parameters, before the checksum.
  std::vector<size_t> cuts = {0, 3, 4, 16, 31, 32, good.size() - 4, good.size() - 1};
  for (size_t st : starts) {
    cuts.push_back(st);
    cuts.push_back(st + 32);
    cuts.push_back(st + 36);
  }
  for (size_t cut : cuts) {
    cases.push_back({"truncated", [cut](std::string& s) { s.resize(cut); }, kBadLength});
    // Envelope made consistent again: the records themselves must catch it.
    if (cut > 32 && cut != good.size() - 4)
      cases.push_back({"truncated_resealed",
                       [cut](std::string& s) {
                         s.resize(cut);
                         s.append(4, '\0');
                         brindle_test::Reseal(s);
                       },
                       kBadRecordLength});
  }
  for (const BytesCase& c : cases) {
    SCOPED_TRACE(c.name);
    std::string s = good;
    c.edit(s);
    EXPECT_EQ(InitOn(s), c.expected) << "size " << s.size();
  }
}

TEST(BrindleModelFile, MissingOrUnreadableFile) {
  jor_test::TestDir dir;
  XVECTOR::C_XVEXT xv;
  EXPECT_EQ(xv.Init(dir.File("absent.pb"), 0), kFileMissing);
  EXPECT_EQ(xv.Init(dir.path().string(), 0), kFileUnreadable);
  EXPECT_EQ(xv.Init("", 0), kFileMissing);
}

TEST(BrindleModelFile, FailedInitDropsEarlierModel) {
  jor_test::TestDir dir;
  jor_test::WriteFile(dir.File("good.pb"), brindle_test::Encode(Base()));
  XVECTOR::C_XVEXT xv;
  std::vector<float> out;
  ASSERT_EQ(xv.Init(dir.File("good.pb"), 0), 0);
  ASSERT_EQ(xv.GetXvector(std::vector<float>(30, 0.5f), out), 0);
  EXPECT_EQ(out.size(), 3u);
  EXPECT_EQ(xv.Init(dir.File("absent.pb"), 0), kFileMissing);
  EXPECT_EQ(xv.GetXvector(std::vector<float>(30, 0.5f), out), kNotInitialized);
  EXPECT_TRUE(out.empty());
}

}  // namespace
