// The Java entry point with a stand-in JNIEnv: strings are obtained,
// released and the result text returned as a Java string.
#include <gtest/gtest.h>
#include <jni.h>

#include <string>
#include <vector>

#include "tests/support/test-dir.h"

extern "C" JNIEXPORT jstring JNICALL Java_com_jor_wrapper_SpeakerDiarizationWrapper_Diariztion(
    JNIEnv* env, jobject self, jstring audioPath, jstring modelDir);

namespace {

struct JavaStrings {
  int gets = 0;
  int releases = 0;
  bool failGets = false;
  std::vector<std::u16string> made;
};
JavaStrings* g_java = nullptr;

const char* JNICALL GetUtf(JNIEnv*, jstring s, jboolean* isCopy) {
  EXPECT_EQ(isCopy, nullptr);
  if (g_java->failGets) return nullptr;
  ++g_java->gets;
  return reinterpret_cast<const std::string*>(s)->c_str();
}
void JNICALL ReleaseUtf(JNIEnv*, jstring s, const char* chars) {
  EXPECT_EQ(chars, reinterpret_cast<const std::string*>(s)->c_str());
  ++g_java->releases;
}
jstring JNICALL NewString(JNIEnv*, const jchar* text, jsize length) {
  g_java->made.emplace_back(reinterpret_cast<const char16_t*>(text), size_t(length));
  return reinterpret_cast<jstring>(&g_java->made.back());
}

class JavaEntry : public ::testing::Test {
 protected:
  void SetUp() override {
    g_java = &java_;
    java_.made.reserve(8);
    functions_.GetStringUTFChars = GetUtf;
    functions_.ReleaseStringUTFChars = ReleaseUtf;
    functions_.NewString = NewString;
    env_.functions = &functions_;
  }
  void TearDown() override { g_java = nullptr; }

  std::u16string Call(std::string* audio, std::string* model) {
    jstring r = Java_com_jor_wrapper_SpeakerDiarizationWrapper_Diariztion(
        &env_, nullptr, reinterpret_cast<jstring>(audio), reinterpret_cast<jstring>(model));
    if (r == nullptr) return u"(null)";
    return *reinterpret_cast<std::u16string*>(r);
  }

  JavaStrings java_;
  JNINativeInterface_ functions_{};
  JNIEnv env_{};
  jor_test::TestDir dir_;
};

TEST_F(JavaEntry, ReleasesBothStrings) {
  std::string audio = dir_.File("missing.wav");
  std::string model = dir_.path().string();
  EXPECT_EQ(Call(&audio, &model), u"Wave sprit Error");
  EXPECT_EQ(java_.gets, 2);
  EXPECT_EQ(java_.releases, 2);
}

TEST_F(JavaEntry, NullArguments) {
  std::string model = dir_.path().string();
  EXPECT_EQ(Call(nullptr, &model), u"Wave sprit Error");
  EXPECT_EQ(Call(nullptr, nullptr), u"Wave sprit Error");
  EXPECT_EQ(java_.gets, 1);
  EXPECT_EQ(java_.releases, 1);
}

TEST_F(JavaEntry, OutOfMemoryInGetStringReturnsNull) {
  std::string audio = "a.wav", model = "m";
  java_.failGets = true;
  EXPECT_EQ(Call(&audio, &model), u"(null)");
  EXPECT_EQ(java_.releases, 0);
}

}  // namespace
