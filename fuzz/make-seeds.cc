// Writes the committed seed corpora of the fuzz targets into OUT/<target>/:
//   fuzz_make_seeds SOURCE_DIR OUT
// Seeds come from real deployment sections and real speech (the trained test
// deployment and its recordings) and from small deployments of random but
// valid models, whose loaders run fast enough to fuzz. Audio seeds in other
// formats (stereo, 8-bit, MP3) are made from the same speech by make-seeds.sh.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "drumlin/speaker-database.h"
#include "pellam/pellam.h"
#include "tools/modelio/htk-writer.h"
#include "tools/modelio/random-deployment.h"
#include "tests/support/test-dir.h"

namespace {

#define BIND(ordinal, role, name) constexpr role k##role = &name;
PELLAM_EXPORTS(BIND)
#undef BIND

namespace fs = std::filesystem;

std::string Slice(const std::string& bytes, size_t from, size_t count) {
  return bytes.substr(from, count);
}

// The sections of a container, by type, cut at the next section's offset.
std::vector<std::string> Sections(const std::string& container) {
  std::vector<uint32_t> offsets, types;
  for (int i = 0; i < 6; ++i) {
    uint32_t o, t;
    std::memcpy(&o, container.data() + 4 + 12 * i, 4);
    std::memcpy(&t, container.data() + 12 + 12 * i, 4);
    offsets.push_back(o);
    types.push_back(t);
  }
  std::vector<std::string> out(6);
  for (int i = 0; i < 6; ++i) {
    size_t end = container.size();
    for (uint32_t o : offsets)
      if (o > offsets[i] && o < end) end = o;
    if (types[i] < 6) out[types[i]] = Slice(container, offsets[i], end - offsets[i]);
  }
  return out;
}

std::vector<short> Speech(const std::string& wavPath, size_t fromSample, size_t count) {
  const std::string wav = jor_test::ReadFile(wavPath);
  std::vector<short> pcm(count);
  std::memcpy(pcm.data(), wav.data() + 44 + 2 * fromSample, 2 * count);
  return pcm;
}

std::string Wav(const std::vector<short>& pcm) {
  std::string out(44, '\0');
  const uint32_t data = static_cast<uint32_t>(pcm.size() * 2);
  auto put32 = [&](size_t at, uint32_t v) { std::memcpy(&out[at], &v, 4); };
  auto put16 = [&](size_t at, uint16_t v) { std::memcpy(&out[at], &v, 2); };
  std::memcpy(&out[0], "RIFF", 4);
  put32(4, data + 36);
  std::memcpy(&out[8], "WAVEfmt ", 8);
  put32(16, 16);
  put16(20, 1);
  put16(22, 1);
  put32(24, 8000);
  put32(28, 16000);
  put16(32, 2);
  put16(34, 16);
  std::memcpy(&out[36], "data", 4);
  put32(40, data);
  out.append(reinterpret_cast<const char*>(pcm.data()), data);
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s SOURCE_DIR OUT\n", argv[0]);
    return 2;
  }
  const std::string src = argv[1];
  const fs::path out = argv[2];
  const std::string trained = src + "/tests/data/trained";
  const std::string speech = trained + "/conversation";
  for (const char* t : {"container_fuzz", "options_fuzz", "htk_read_fuzz", "template_fuzz",
                        "xe5_fuzz", "audio_fuzz", "speaker_db_fuzz", "xml_fuzz"})
    fs::create_directories(out / t);
  auto put = [&](const char* target, const std::string& name, const std::string& bytes) {
    jor_test::WriteFile((out / target / name).string(), bytes);
  };

  // Small deployments (6 cepstra, 20 Gaussians, dimension 8): every loader runs.
  jor_test::TestDir dir;
  struct Variant {
    const char* name;
    bool full;
    bool whitening;
  };
  for (const Variant& v : {Variant{"diagonal.dat", false, true}, Variant{"full.dat", true, true},
                           Variant{"no-whitening.dat", false, false}}) {
    modelio::DeploymentSpec spec;
    spec.numGaussians = 20;
    spec.numCeps = 6;
    spec.dim = 8;
    spec.fullCovariancePosterior = v.full;
    spec.withWhitening = v.whitening;
    modelio::WriteRandomDeployment(dir.path().string(), spec);
    put("container_fuzz", v.name, jor_test::ReadFile(dir.File("ulxmodel.dat")));
    if (!v.full) put("xe5_fuzz", "small.pb", jor_test::ReadFile(dir.File("xe5.pb")));
  }

  // Real sections of the trained deployment: its GMMs (text) and options.
  const std::vector<std::string> real = Sections(jor_test::ReadFile(trained + "/ulxmodel.dat"));
  put("htk_read_fuzz", "trained-selection.txt", real[0]);
  put("htk_read_fuzz", "trained-posterior.txt", real[1]);
  put("options_fuzz", "trained.json", jor_test::ReadFile(trained + "/mfcc-options.json"));
  put("options_fuzz", "default.json",
      jor_test::ReadFile(src + "/models/default/mfcc-options.json"));
  put("options_fuzz", "full.json",
      "{\"MfccOptions\":{\"num_ceps\":13,\"use_energy\":true,\"delta_order\":2,"
      "\"cmvn\":\"sliding\",\"MelBanksOptions\":{\"num_bins\":23,\"low_freq\":20,"
      "\"high_freq\":-200},\"FrameExtractionOptions\":{\"samp_freq\":8000,"
      "\"frame_length_ms\":25,\"frame_shift_ms\":10,\"dither\":0}}}");
  // HTK forms the trained sections do not show: binary keywords, full covariances.
  put("htk_read_fuzz", "binary-diagonal.bin",
      modelio::HtkBinaryGmm(modelio::RandomDiagonalGmm(4, 6, 11)));
  put("htk_read_fuzz", "binary-full.bin",
      modelio::HtkBinaryGmm(modelio::RandomFullGmm(3, 4, 12)));
  put("htk_read_fuzz", "text-full.txt", modelio::HtkTextGmm(modelio::RandomFullGmm(3, 4, 13)));
  // One Gaussian of dimension 70,000 (text: binary counts are 16-bit): its
  // covariance triangle needs 64-bit offsets.
  {
    modelio::HtkGmm wide;
    wide.vecSize = 70000;
    modelio::HtkGaussian g;
    g.mean.assign(70000, 0.0);
    g.variance.assign(70000, 1.0);
    wide.gaussians.push_back(g);
    put("htk_read_fuzz", "dimension-70000.txt", modelio::HtkTextGmm(wide));
  }

  // Real speech: templates and audio.
  const bool share = false;
  void* handle = nullptr;
  if (kRecInitialize(trained.c_str(), &share) != 0 || kRecCreate(&handle) != 0) {
    std::fprintf(stderr, "the trained deployment does not initialise\n");
    return 1;
  }
  const size_t templateBytes = static_cast<size_t>(kRecGetTemplateSize());
  std::vector<drumlin::SpeakerEntry> entries;
  int number = 1;
  for (const char* voice : {"es-f1-enrol", "es-m4-enrol"}) {
    const std::vector<short> pcm = Speech(speech + "/" + voice + ".wav", 8000, 24000);
    std::string templ(templateBytes, '\0');
    const size_t n = pcm.size();
    float d, vol, snr;
    if (kRecMakeXvectorTemplate(handle, pcm.data(), &n, templ.data(), &templateBytes, &d, &vol,
                                &snr) != 0) {
      std::fprintf(stderr, "no template for %s\n", voice);
      return 1;
    }
    put("template_fuzz", std::string(voice) + ".tpl", templ);
    drumlin::SpeakerEntry e;
    e.number = number++;
    e.name = voice;
    e.templ.assign(templ.begin(), templ.end());
    entries.push_back(e);
    // Half a second of the voice as an 8 kHz WAV; the format byte 1 means WAV
    // with the decoder's default flags.
    put("audio_fuzz", std::string(voice) + ".wav",
        "\x01" + Wav(Speech(speech + "/" + voice + ".wav", 8000, 4000)));
  }
  kRecDelete(&handle);
  drumlin::WriteSpeakerDatabase((out / "speaker_db_fuzz" / "spdbdata").string(), entries);
  put("xml_fuzz", "two-voices.txt",
      std::string("es-f1\nUnknown\nJos\xC3\xA9 & \"Ana\" <x>\n\n") +
          std::string("\x00\x01\x01\x02\x02\x02\x00\x03\x03\x01", 10));
  return 0;
}
