// Template bytes: layout, checksum, and the nine validation tests with their
// result codes.
#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "engine/template-format.h"

namespace {

using ravel_template::Validate;

uint8_t ByteXor(const std::vector<char>& t, size_t from) {
  uint8_t x = 0;
  for (size_t i = from; i < t.size(); ++i) x ^= static_cast<uint8_t>(t[i]);
  return x;
}

std::vector<char> Make(const std::vector<float>& values, float duration = 12.5f,
                       float volume = -20.0f, float snr = 30.0f) {
  std::vector<char> t(256 + 4 * values.size());
  ravel_template::WriteTemplate(values.data(), values.size(), duration, volume, snr, 1, 1,
                                t.data());
  return t;
}

TEST(TemplateFormatTest, ByteLayout) {
  const std::vector<float> values = {1.0f, -2.5f, 3.25f};
  const auto t = Make(values);
  ASSERT_EQ(t.size(), 268u);
  const unsigned char expected_head[] = {0, 1, 'U', 'L', 'X', 0, 0, 0, 0, 0x00, 0x01, 0, 0, 1, 1};
  for (size_t i = 1; i < sizeof(expected_head); ++i)
    EXPECT_EQ(static_cast<unsigned char>(t[i]), expected_head[i]) << i;
  // 12.5f = 0x41480000, -20.0f = 0xC1A00000, 30.0f = 0x41F00000, little-endian.
  const unsigned char quality[] = {0x00, 0x00, 0x48, 0x41, 0x00, 0x00, 0xA0, 0xC1,
                                   0x00, 0x00, 0xF0, 0x41};
  for (size_t i = 0; i < sizeof(quality); ++i)
    EXPECT_EQ(static_cast<unsigned char>(t[15 + i]), quality[i]) << 15 + i;
  for (size_t i = 27; i < 256; ++i) EXPECT_EQ(t[i], 0) << i;
  // -2.5f = 0xC0200000
  EXPECT_EQ(static_cast<unsigned char>(t[256 + 4 + 3]), 0xC0);
  EXPECT_EQ(static_cast<unsigned char>(t[256 + 4 + 2]), 0x20);
  EXPECT_EQ(static_cast<uint8_t>(t[0]), ByteXor(t, 1));
}

TEST(TemplateFormatTest, WideXorEqualsByteXor) {
  std::mt19937 rng(5);
  for (size_t length : {0, 1, 63, 64, 65, 127, 128, 255, 256, 1000, 4355, 4356}) {
    std::vector<char> bytes(length);
    for (auto& b : bytes) b = static_cast<char>(rng());
    // Unaligned start too.
    for (size_t start : {0, 1, 3}) {
      if (start > length) continue;
      uint8_t x = 0;
      for (size_t i = start; i < length; ++i) x ^= static_cast<uint8_t>(bytes[i]);
      EXPECT_EQ(ravel_template::TemplateXor(bytes.data() + start, length - start), x) << length;
    }
  }
}

TEST(TemplateFormatTest, ValidationCodes) {
  const auto good = Make({1, 2, 3});
  std::string version;
  EXPECT_EQ(Validate(good, 268, 1, 1, &version), 0u);
  EXPECT_EQ(version, "1.1");
  EXPECT_EQ(Validate({}, 268, 1, 1, &version), 0x30002020u);
  EXPECT_EQ(Validate(good, 268, 1, 1, nullptr), 0x30002020u);
  EXPECT_EQ(Validate(good, 272, 1, 1, &version), 0x70002030u);
  EXPECT_EQ(Validate(good, 268, 1, 2, &version), 0x70102031u);
  EXPECT_EQ(Validate(good, 268, 2, 1, &version), 0x70102031u);
}

TEST(TemplateFormatTest, EverySingleByteFlipIsCaught) {
  const auto good = Make({0.5f, -0.25f, 8.0f, 1e-3f, 7.0f});
  std::string version;
  for (size_t i = 0; i < good.size(); ++i) {
    if ((i >= 9 && i <= 12) || (i >= 27 && i <= 255)) continue;  // not examined
    auto t = good;
    t[i] = static_cast<char>(t[i] ^ 0x10);
    EXPECT_EQ(Validate(t, good.size(), 1, 1, &version), 0x70002030u) << "byte " << i;
  }
  // The unexamined bytes may change freely once the checksum is right.
  for (size_t i : {9, 12, 27, 100, 255}) {
    auto t = good;
    t[i] = static_cast<char>(t[i] ^ 0x5A);
    t[0] = static_cast<char>(ByteXor(t, 1));
    EXPECT_EQ(Validate(t, good.size(), 1, 1, &version), 0u) << "byte " << i;
  }
}

TEST(TemplateFormatTest, ChecksumCorrectedChanges) {
  const auto good = Make({1, 2, 3});
  struct Case {
    size_t byte;
    char value;
    uint32_t expected;
  };
  const Case cases[] = {
      {1, 2, 0x70102031u},  {13, 2, 0x70102031u}, {14, 0, 0x70102031u},
      {2, 'V', 0x70002030u}, {5, 1, 0x70002030u},  {6, 1, 0x70002030u},
      {7, 1, 0x70002030u},   {8, 1, 0x70002030u},  {300 - 44, 9, 0u},
  };
  std::string version;
  for (const Case& c : cases) {
    auto t = good;
    t[c.byte] = c.value;
    t[0] = static_cast<char>(ByteXor(t, 1));
    EXPECT_EQ(Validate(t, good.size(), 1, 1, &version), c.expected) << "byte " << c.byte;
  }
}

}  // namespace
