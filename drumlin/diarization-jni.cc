// Java entry point: com.jor.wrapper.SpeakerDiarizationWrapper.Diariztion.
#include <jni.h>

#include <string>
#include <vector>

#include "drumlin/diarization-driver.h"
#include "drumlin/utf8.h"

namespace {

// UTF-16 of a UTF-8 text, for NewString: NewStringUTF wants modified UTF-8,
// which differs for characters beyond U+FFFF.
std::vector<jchar> ToUtf16(const std::string& text) {
  std::vector<jchar> out;
  out.reserve(text.size());
  size_t i = 0;
  while (i < text.size()) {
    uint32_t cp = drumlin::NextCodePoint(text, &i);
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(static_cast<jchar>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<jchar>(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(static_cast<jchar>(cp));
    }
  }
  return out;
}

}  // namespace

extern "C" JNIEXPORT jstring JNICALL Java_com_jor_wrapper_SpeakerDiarizationWrapper_Diariztion(
    JNIEnv* env, jobject /*self*/, jstring audioPath, jstring modelDir) {
  const char* audio = nullptr;
  const char* model = nullptr;
  if (audioPath != nullptr) {
    audio = env->GetStringUTFChars(audioPath, nullptr);
    if (audio == nullptr) return nullptr;  // OutOfMemoryError is pending
  }
  if (modelDir != nullptr) {
    model = env->GetStringUTFChars(modelDir, nullptr);
    if (model == nullptr) {
      if (audio != nullptr) env->ReleaseStringUTFChars(audioPath, audio);
      return nullptr;
    }
  }

  std::string text;
  try {
    text = drumlin::Diarize(drumlin::BoundPellamApi(), audio, model);
  } catch (...) {
    text = drumlin::kDiarizationError;
  }
  if (model != nullptr) env->ReleaseStringUTFChars(modelDir, model);
  if (audio != nullptr) env->ReleaseStringUTFChars(audioPath, audio);

  try {
    const std::vector<jchar> utf16 = ToUtf16(text);
    return env->NewString(utf16.data(), static_cast<jsize>(utf16.size()));
  } catch (...) {
    return nullptr;
  }
}
