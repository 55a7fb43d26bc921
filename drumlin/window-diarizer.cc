#include "drumlin/window-diarizer.h"

#include "common/result-codes.h"

#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>

#include "IvectorExt/featext/feat-extractor.h"
#include "drumlin/agglomerative-clustering.h"
#include "drumlin/audec.h"
#include "drumlin/speaker-database.h"

namespace drumlin {
namespace {

// The engine's seed for the batch pipeline's dither, so that rows equal what
// the recognition library computes for the same audio.
constexpr uint32_t kEngineSeed = 6793;

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point t0) {
  return std::chrono::duration<double>(Clock::now() - t0).count();
}

int Frames(double seconds, double frameSeconds) {
  return static_cast<int>(std::lround(seconds / frameSeconds));
}

bool ValidOptions(const WindowDiarizerOptions& o) {
  const auto inRange = [](double v, double lo, double hi) { return v >= lo && v <= hi; };
  return inRange(o.windowSeconds, 0.1, 60) && inRange(o.stepSeconds, 0.01, o.windowSeconds) &&
         inRange(o.bridgeSeconds, 0, 60) && inRange(o.minWindowSeconds, 0, o.windowSeconds) &&
         inRange(o.maxGapSeconds, 0, 600) && o.speakers >= 0 && o.speakers <= 1000 &&
         o.maxSpeakers >= 0 && o.maxSpeakers <= 1000 && o.minClusterWindows >= 0 &&
         o.maxWindows >= 2 && o.maxWindows <= 20000 && std::isfinite(o.threshold) &&
         o.resegmentation.gaussians >= 1 && o.resegmentation.gaussians <= 256 &&
         o.resegmentation.rounds >= 0 && o.resegmentation.rounds <= 20 &&
         o.resegmentation.emIterations >= 0 && o.resegmentation.emIterations <= 100 &&
         std::isfinite(o.resegmentation.switchPenalty) &&
         std::isfinite(o.resegmentation.pauseDiscount);
}

// Windows over the voiced regions: runs of voiced frames with pauses under
// `bridge` frames joined; each region is covered by windows of `width`
// frames every `step`, the last one ending with the region.
void MakeWindows(const std::vector<int>& rowFrames, int width, int step, int bridge,
                 size_t minRows, std::vector<WindowAnalysis::Window>* windows) {
  windows->clear();
  const size_t n = rowFrames.size();
  size_t regionStart = 0;
  // Index of the first row at or after `frame`, searching from `from`.
  const auto rowAt = [&](size_t from, int frame) {
    return static_cast<size_t>(
        std::lower_bound(rowFrames.begin() + from, rowFrames.end(), frame) - rowFrames.begin());
  };
  while (regionStart < n) {
    size_t regionEnd = regionStart + 1;
    while (regionEnd < n && rowFrames[regionEnd] - rowFrames[regionEnd - 1] <= bridge + 1)
      ++regionEnd;
    const int f0 = rowFrames[regionStart];
    const int f1 = rowFrames[regionEnd - 1] + 1;
    const auto add = [&](int a, int b) {
      const size_t first = rowAt(regionStart, a);
      const size_t last = rowAt(first, b);
      if (last - first < minRows) return;
      windows->push_back({first, last - first, a, b});
    };
    if (f1 - f0 <= width) {
      add(f0, f1);
    } else {
      int a = f0;
      for (; a + width < f1; a += step) add(a, a + width);
      add(f1 - width, f1);
    }
    regionStart = regionEnd;
  }
}

// Joins clusters of fewer than `minWindows` windows to the cluster they score
// best with on average.
void JoinSmallClusters(const std::vector<float>& scores, size_t n, int minWindows,
                       std::vector<int>* labels) {
  int K = 0;
  for (int l : *labels) K = std::max(K, l + 1);
  std::vector<int> count(K, 0);
  for (int l : *labels) ++count[l];
  std::vector<char> small(K, 0);
  int big = 0;
  for (int k = 0; k < K; ++k) {
    small[k] = count[k] < minWindows;
    big += !small[k];
  }
  if (big == 0 || big == K) return;
  std::vector<double> sum(K);
  for (size_t i = 0; i < n; ++i) {
    if (!small[(*labels)[i]]) continue;
    std::fill(sum.begin(), sum.end(), 0.0);
    for (size_t j = 0; j < n; ++j) sum[(*labels)[j]] += scores[i * n + j];
    int best = -1;
    for (int k = 0; k < K; ++k) {
      if (small[k]) continue;
      if (best < 0 || sum[k] / count[k] > sum[best] / count[best]) best = k;
    }
    (*labels)[i] = best;
  }
}

// Label of every voiced row: that of the window whose centre is nearest.
std::vector<int> RowLabels(const WindowAnalysis& a, const std::vector<int>& windowLabels) {
  std::vector<double> centres(a.windows.size());
  for (size_t w = 0; w < a.windows.size(); ++w)
    centres[w] = 0.5 * (a.windows[w].firstFrame + a.windows[w].endFrame);
  std::vector<int> labels(a.rowFrames.size(), 0);
  size_t w = 0;
  for (size_t r = 0; r < a.rowFrames.size(); ++r) {
    const double f = a.rowFrames[r] + 0.5;
    // Centres increase with w (windows are made in time order).
    while (w + 1 < centres.size() && std::fabs(centres[w + 1] - f) <= std::fabs(centres[w] - f))
      ++w;
    labels[r] = windowLabels[w];
  }
  return labels;
}

}  // namespace

int WindowDiarizer::Load(const char* modelDir) {
  try {
    modelDir_ = modelDir ? modelDir : "";
  } catch (const std::bad_alloc&) {
    return kWindowNoMemory;
  }
  return models_.Load(modelDir);
}

int WindowDiarizer::Analyse(const std::vector<short>& pcm, const WindowDiarizerOptions& options,
                            WindowAnalysis* a) const {
  if (!models_.loaded()) return kWindowNotLoaded;
  if (!ValidOptions(options) || a == nullptr) return kWindowBadOptions;
  try {
    *a = WindowAnalysis();
    const jor_feat::MfccOptions& mfcc = models_.options();
    a->frameSeconds = mfcc.frame_opts.frame_shift_ms / 1000.0;
    a->dim = mfcc.FeatureDim();
    if (pcm.empty()) return kWindowOk;
    {
      jor_feat::FeatureExtractor<float> extractor(mfcc, kEngineSeed);
      float duration = 0, volume = 0, snr = 0, start = 0, end = 0;
      std::vector<float> freqSnr, flags;
      const int r = extractor.ExtractFeature(pcm, &a->rows, &duration, &volume, &snr, &start, &end,
                                             &freqSnr, &flags);
      // Too short for one frame: nothing to diarize.
      if (r == static_cast<int>(jor::kFeatNoFrames)) return kWindowOk;
      if (r != 0) return r;
      a->frameCount = static_cast<int>(flags.size());
      for (int f = 0; f < a->frameCount; ++f) {
        if (flags[f] != 0.0f) a->rowFrames.push_back(f);
      }
      if (a->rowFrames.size() * a->dim != a->rows.size()) return kWindowInternal;
    }
    int width = std::max(1, Frames(options.windowSeconds, a->frameSeconds));
    int step = std::max(1, Frames(options.stepSeconds, a->frameSeconds));
    // Memory and time grow with the square of the window count.
    const size_t estimate = a->rowFrames.size() / static_cast<size_t>(step) + 1;
    if (estimate > options.maxWindows) {
      step = static_cast<int>(a->rowFrames.size() / options.maxWindows) + 1;
      width = std::max(width, step);
    }
    const size_t minRows = std::max<size_t>(1, Frames(options.minWindowSeconds, a->frameSeconds));
    MakeWindows(a->rowFrames, width, step, Frames(options.bridgeSeconds, a->frameSeconds), minRows,
                &a->windows);
    if (a->windows.size() > options.maxWindows) a->windows.resize(options.maxWindows);
    const size_t n = a->windows.size();
    auto t0 = Clock::now();
    const size_t T = models_.TemplateValues();
    std::vector<float> templates(n * T);
    std::vector<float> rows, embedding, values;
    for (size_t w = 0; w < n; ++w) {
      const WindowAnalysis::Window& win = a->windows[w];
      rows.assign(a->rows.begin() + win.firstRow * a->dim,
                  a->rows.begin() + (win.firstRow + win.rowCount) * a->dim);
      int r = models_.Embed(rows, &embedding);
      if (r != 0) return r;
      r = models_.Transform(embedding, &values);
      if (r != 0) return r;
      if (values.size() != T) return kWindowInternal;
      std::copy(values.begin(), values.end(), templates.begin() + w * T);
    }
    a->embeddingSeconds = SecondsSince(t0);
    t0 = Clock::now();
    std::vector<float> scores(n * n);
    for (size_t i = 0; i < n; ++i) {
      const int r = models_.ScoreMany(&templates[i * T], &templates[i * T], n - i,
                                      &scores[i * n + i]);
      if (r != 0) return r;
      for (size_t j = i + 1; j < n; ++j) scores[j * n + i] = scores[i * n + j];
    }
    for (float& s : scores) {
      if (!std::isfinite(s)) s = -1e6f;
    }
    a->scores = std::move(scores);
    a->scoringSeconds = SecondsSince(t0);
  } catch (const std::bad_alloc&) {
    return kWindowNoMemory;
  }
  return kWindowOk;
}

int WindowDiarizer::Diarize(const std::vector<short>& pcm, const WindowDiarizerOptions& options,
                            WindowDiarization* result) const {
  if (result == nullptr) return kWindowBadOptions;
  *result = WindowDiarization();
  WindowAnalysis analysis;
  auto t0 = Clock::now();
  int r = Analyse(pcm, options, &analysis);
  result->featureSeconds =
      SecondsSince(t0) - analysis.embeddingSeconds - analysis.scoringSeconds;
  if (r != 0) return r;
  r = Finish(analysis, options, result);
  return r;
}

int WindowDiarizer::Finish(const WindowAnalysis& a, const WindowDiarizerOptions& options,
                           WindowDiarization* result) const {
  if (!models_.loaded()) return kWindowNotLoaded;
  if (!ValidOptions(options) || result == nullptr) return kWindowBadOptions;
  const double featureSeconds = result->featureSeconds;
  *result = WindowDiarization();
  result->featureSeconds = featureSeconds;
  try {
    const size_t n = a.windows.size();
    result->windowCount = static_cast<int>(n);
    result->embeddingSeconds = a.embeddingSeconds;
    result->scoringSeconds = a.scoringSeconds;
    if (n == 0) return kWindowOk;
    if (a.scores.size() != n * n) return kWindowBadOptions;
    auto t0 = Clock::now();
    const std::vector<Merge> merges = AverageLinkageDendrogram(a.scores, static_cast<int>(n));
    CutOptions cut;
    cut.threshold = options.threshold;
    cut.clusters = options.speakers;
    cut.maxClusters = options.maxSpeakers;
    std::vector<int> windowLabels = CutDendrogram(merges, static_cast<int>(n), cut);
    if (options.speakers == 0 && options.minClusterWindows > 1) {
      JoinSmallClusters(a.scores, n, options.minClusterWindows, &windowLabels);
    }
    int K = 0;
    for (int l : windowLabels) K = std::max(K, l + 1);
    result->clusteringSeconds = SecondsSince(t0);

    t0 = Clock::now();
    std::vector<int> labels = RowLabels(a, windowLabels);
    if (options.resegment && K > 1) {
      std::vector<int> moved = labels;
      if (!ResegmentRows(a.rows.data(), a.rowFrames.size(), a.dim, a.rowFrames, K,
                         options.resegmentation, &moved))
        return kWindowInternal;
      // A fixed count is kept: resegmentation may not take a speaker away.
      std::vector<char> seen(K, 0);
      int kept = 0;
      for (int l : moved) kept += seen[l] ? 0 : (seen[l] = 1);
      if (options.speakers == 0 || kept == K) labels = std::move(moved);
    }
    result->resegmentationSeconds = SecondsSince(t0);

    // Turns, speakers numbered by their first turn.
    const int maxGap = Frames(options.maxGapSeconds, a.frameSeconds);
    std::vector<int> number(K, -1);
    size_t r = 0;
    const size_t rowsCount = a.rowFrames.size();
    while (r < rowsCount) {
      size_t q = r + 1;
      while (q < rowsCount && labels[q] == labels[r] &&
             a.rowFrames[q] - a.rowFrames[q - 1] <= maxGap + 1)
        ++q;
      const int k = labels[r];
      if (number[k] < 0) {
        number[k] = static_cast<int>(result->speakers.size());
        result->speakers.push_back("spk" + std::to_string(number[k] + 1));
      }
      WindowTurn turn;
      turn.speaker = result->speakers[number[k]];
      turn.start = a.rowFrames[r] * a.frameSeconds;
      turn.end = (a.rowFrames[q - 1] + 1) * a.frameSeconds;
      result->turns.push_back(std::move(turn));
      r = q;
    }
  } catch (const std::bad_alloc&) {
    return kWindowNoMemory;
  } catch (...) {
    return kWindowInternal;
  }
  return kWindowOk;
}

int DecodeAudioFile(const char* audioPath, std::vector<short>* pcm) {
  if (audioPath == nullptr || pcm == nullptr) return kWindowUnreadable;
  try {
    struct stat st;
    if (stat(audioPath, &st) != 0 || st.st_size <= 0) return kWindowUnreadable;
    std::vector<uint8_t> data(static_cast<size_t>(st.st_size));
    std::FILE* f = std::fopen(audioPath, "rb");
    if (f == nullptr) return kWindowUnreadable;
    const bool ok = std::fread(data.data(), 1, data.size(), f) == data.size();
    std::fclose(f);
    if (!ok) return kWindowUnreadable;
    std::string ext = audioPath;
    const size_t dot = ext.find_last_of("./\\");
    ext = dot != std::string::npos && ext[dot] == '.' ? ext.substr(dot) : "";
    for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    Audec audec;
    std::vector<uint8_t> bytes;
    if (audec.Decode(ext == ".mp3" ? AudecFormatMp3 : AudecFormatWav, data.data(), data.size(),
                     &bytes) != 0)
      return kWindowUnreadable;
    pcm->resize(bytes.size() / 2);
    std::memcpy(pcm->data(), bytes.data(), pcm->size() * 2);
  } catch (const std::bad_alloc&) {
    return kWindowNoMemory;
  }
  return kWindowOk;
}

int WindowDiarizer::DiarizeFile(const char* audioPath, const WindowDiarizerOptions& options,
                                WindowDiarization* result, std::vector<short>* pcmOut) const {
  std::vector<short> local;
  std::vector<short>& pcm = pcmOut ? *pcmOut : local;
  int r = DecodeAudioFile(audioPath, &pcm);
  if (r != 0) return r;
  r = Diarize(pcm, options, result);
  if (r != 0) return r;
  // Naming is best effort: the turns stand without it.
  NameWindowSpeakers(BoundPellamApi(), modelDir_.c_str(), SpeakerDatabasePath(modelDir_.c_str()),
                     pcm, result);
  return kWindowOk;
}

int NameWindowSpeakers(const PellamApi& api, const char* modelDir, const std::string& databasePath,
                       const std::vector<short>& pcm, WindowDiarization* result) {
  if (result == nullptr) return kWindowBadOptions;
  try {
    std::vector<SpeakerEntry> entries;
    if (ReadSpeakerDatabase(databasePath, &entries) != kSpeakerDbOk)
      return kWindowNoMemory;
    if (entries.empty()) return kWindowOk;
    if (!api.initialize || !api.create || !api.destroy || !api.makeXvectorTemplate ||
        !api.compare || !api.getTemplateSize)
      return kWindowNotLoaded;
    const bool share = false;
    int r = api.initialize(modelDir, &share);
    if (r != 0) return r;
    void* handle = nullptr;
    r = api.create(&handle);
    if (r != 0) return r;
    struct HandleGuard {
      const PellamApi& api;
      void** handle;
      ~HandleGuard() {
        if (*handle != nullptr) api.destroy(handle);
      }
    } guard{api, &handle};
    const int sizeValue = api.getTemplateSize();
    const size_t templateSize = sizeValue > 0 ? static_cast<size_t>(sizeValue) : 0;
    std::vector<char> templ(templateSize);
    std::vector<std::string> names = result->speakers;
    std::vector<short> audio;
    for (size_t s = 0; s < result->speakers.size() && templateSize > 0; ++s) {
      audio.clear();
      for (const WindowTurn& t : result->turns) {
        if (t.speaker != result->speakers[s]) continue;
        const size_t a = std::min(pcm.size(), static_cast<size_t>(t.start * 8000.0));
        const size_t b = std::min(pcm.size(), static_cast<size_t>(t.end * 8000.0));
        audio.insert(audio.end(), pcm.begin() + a, pcm.begin() + b);
      }
      size_t count = audio.size();
      float duration = 0, volume = 0, snr = 0;
      if (count == 0 || api.makeXvectorTemplate(handle, audio.data(), &count, templ.data(),
                                                &templateSize, &duration, &volume, &snr) != 0)
        continue;
      // As the 4-second driver names its clusters: the best entry, if it
      // reaches the naming threshold after the driver's floors.
      float best = -1.0f;
      size_t bestEntry = 0;
      for (size_t e = 0; e < entries.size(); ++e) {
        const size_t entryBytes = entries[e].templ.size();
        if (entryBytes != templateSize) continue;
        float score = 0.0f;
        if (api.compare(handle, templ.data(), &templateSize, entries[e].templ.data(), &entryBytes,
                        &score) != 0 ||
            std::isnan(score) || score < kMinScore || score < kScoreFloor)
          score = 0.0f;
        if (score > best) {
          best = score;
          bestEntry = e;
        }
      }
      if (best >= kNameThreshold) names[s] = entries[bestEntry].name;
    }
    for (WindowTurn& t : result->turns) {
      const size_t s = std::find(result->speakers.begin(), result->speakers.end(), t.speaker) -
                       result->speakers.begin();
      if (s < names.size()) t.speaker = names[s];
    }
    result->speakers = std::move(names);
  } catch (const std::bad_alloc&) {
    return kWindowNoMemory;
  }
  return kWindowOk;
}

}  // namespace drumlin
