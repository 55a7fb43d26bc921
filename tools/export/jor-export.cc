// jor-export: the engine's own voiced feature matrices, Baum-Welch statistics
// i-vectors and raw x-vectors of 16-bit mono WAV recordings, written as .npy files so that
// the trainers see exactly what the engine computes.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "IvectorExt/GMMPP_IVEXT/gmmpp/gmmpp-ivext.h"
#include "IvectorExt/featext/feat-extractor.h"
#include "IvectorExt/featext/mfcc-options.h"
#include "IvectorExt/ivext/utterance-stats.h"
#include "brindle/xvext.h"
#include "common/model/model_manager.h"
#include "engine/model-set.h"
#include "tools/export/npy-writer.h"
#include "tools/wavio/wav-reader.h"

namespace {

// The engine's seed for the batch pipeline's dither (engine/ravel.cc).
constexpr uint32_t kEngineSeed = 6793;

const char kUsage[] =
    "Usage: jor-export [options] [--manifest FILE] [WAV...]\n"
    "\n"
    "Writes, per recording ID, into --out DIR:\n"
    "  ID.feats.npy    float32 (N, F): the voiced feature rows (as Ravel_GetFeature)\n"
    "  ID.zeroth.npy   float32 (C,):   zeroth-order statistics      (with GMMs)\n"
    "  ID.first.npy    float32 (C, F): uncentred first-order sums   (with GMMs)\n"
    "  ID.ivector.npy  float32 (R,):   the engine's i-vector        (with --ivectors)\n"
    "  ID.xvector.npy  float32 (D,):   the network's x-vector       (with --xvectors)\n"
    "and index.tsv (id, path, samples, frames, status).\n"
    "\n"
    "Options:\n"
    "  --out DIR               output folder (must exist)\n"
    "  --mfcc-options FILE     mfcc-options.json (default: built-in defaults)\n"
    "  --deployment DIR        shorthand for DIR/mfcc-options.json and DIR/ulxmodel.dat\n"
    "  --models FILE           model container: selection GMM, posterior GMM, extractor\n"
    "  --selection-gmm FILE    HTK text/binary selection GMM (instead of --models)\n"
    "  --posterior-gmm FILE    HTK posterior GMM (default: the selection GMM file)\n"
    "  --extractor FILE        i-vector extractor section (instead of --models)\n"
    "  --ivectors              also write the engine's i-vectors\n"
    "  --xvectors              also write the raw x-vectors (as the engine feeds the\n"
    "                          verifier, before normalisation)\n"
    "  --xvector-model FILE    the x-vector network (default: DIR/xe5.pb of --deployment)\n"
    "  --gselect N             Gaussians selected per frame (default 20)\n"
    "  --min-posterior P       posterior floor of the posterior GMM (default 0.025)\n"
    "  --no-features           do not write ID.feats.npy\n"
    "  --manifest FILE         recordings: one path per line, or a table with a header\n"
    "                          naming columns 'path' and optionally 'recording'\n"
    "                          (tab or comma separated)\n"
    "  --quiet                 no progress output\n"
    "  --help                  this text\n"
    "\n"
    "Recording IDs: the manifest's 'recording' column, else the file name without\n"
    "its extension. Exit status 0 when every recording was exported, 1 when some\n"
    "failed (listed in index.tsv), 2 on a usage or model error.\n";

struct Recording {
  std::string id;
  std::string path;
};

struct Options {
  std::string out;
  std::string mfccOptions;
  std::string models;
  std::string selectionGmm;
  std::string posteriorGmm;
  std::string extractor;
  std::string manifest;
  std::string xvectorModel;
  bool ivectors = false;
  bool xvectors = false;
  bool features = true;
  bool quiet = false;
  int gselect = 20;
  float minPosterior = 0.025f;
  std::vector<std::string> wavs;
};

struct FileCloser {
  void operator()(FILE* f) const {
    if (f) std::fclose(f);
  }
};
using FilePtr = std::unique_ptr<FILE, FileCloser>;

std::string BaseId(const std::string& path) {
  std::string name = path.substr(path.find_last_of('/') + 1);
  const size_t dot = name.find_last_of('.');
  if (dot != std::string::npos && dot > 0) name.resize(dot);
  return name;
}

std::vector<std::string> SplitRow(const std::string& line) {
  const char sep = line.find('\t') != std::string::npos ? '\t' : ',';
  std::vector<std::string> cells;
  std::stringstream ss(line);
  std::string cell;
  while (std::getline(ss, cell, sep)) cells.push_back(cell);
  return cells;
}

// Relative paths in a manifest are taken from the manifest's folder.
std::string FromManifest(const std::string& manifest, const std::string& path) {
  if (path.empty() || path[0] == '/') return path;
  const size_t slash = manifest.find_last_of('/');
  return slash == std::string::npos ? path : manifest.substr(0, slash + 1) + path;
}

bool ReadManifest(const std::string& path, std::vector<Recording>* out) {
  std::ifstream in(path);
  if (!in) return false;
  std::string line;
  int pathCol = -1, idCol = -1;
  bool first = true;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '#') continue;
    const bool table = line.find('\t') != std::string::npos || line.find(',') != std::string::npos;
    if (first) {
      first = false;
      if (table) {
        const std::vector<std::string> head = SplitRow(line);
        for (size_t i = 0; i < head.size(); ++i) {
          if (head[i] == "path") pathCol = static_cast<int>(i);
          if (head[i] == "recording") idCol = static_cast<int>(i);
        }
        if (pathCol < 0) {
          std::fprintf(stderr, "jor-export: manifest %s: no 'path' column\n", path.c_str());
          return false;
        }
        continue;
      }
    }
    if (pathCol < 0) {
      out->push_back({BaseId(line), FromManifest(path, line)});
      continue;
    }
    const std::vector<std::string> cells = SplitRow(line);
    if (static_cast<int>(cells.size()) <= pathCol) continue;
    Recording r;
    r.path = cells[static_cast<size_t>(pathCol)];
    r.id = idCol >= 0 && static_cast<int>(cells.size()) > idCol ? cells[static_cast<size_t>(idCol)]
                                                                : BaseId(r.path);
    r.path = FromManifest(path, r.path);
    out->push_back(r);
  }
  return true;
}

bool ParseArgs(int argc, char** argv, Options* o, int* exitCode) {
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    auto value = [&](std::string* dst) {
      if (i + 1 >= argc) {
        std::fprintf(stderr, "jor-export: %s needs a value\n", a.c_str());
        return false;
      }
      *dst = argv[++i];
      return true;
    };
    std::string v;
    if (a == "--help" || a == "-h") {
      std::fputs(kUsage, stdout);
      *exitCode = 0;
      return false;
    } else if (a == "--out") {
      if (!value(&o->out)) return false;
    } else if (a == "--mfcc-options") {
      if (!value(&o->mfccOptions)) return false;
    } else if (a == "--deployment") {
      if (!value(&v)) return false;
      o->mfccOptions = v + "/mfcc-options.json";
      o->models = v + "/ulxmodel.dat";
      if (o->xvectorModel.empty()) o->xvectorModel = v + "/xe5.pb";
    } else if (a == "--models") {
      if (!value(&o->models)) return false;
    } else if (a == "--selection-gmm") {
      if (!value(&o->selectionGmm)) return false;
    } else if (a == "--posterior-gmm") {
      if (!value(&o->posteriorGmm)) return false;
    } else if (a == "--extractor") {
      if (!value(&o->extractor)) return false;
    } else if (a == "--manifest") {
      if (!value(&o->manifest)) return false;
    } else if (a == "--ivectors") {
      o->ivectors = true;
    } else if (a == "--xvectors") {
      o->xvectors = true;
    } else if (a == "--xvector-model") {
      if (!value(&o->xvectorModel)) return false;
    } else if (a == "--no-features") {
      o->features = false;
    } else if (a == "--quiet") {
      o->quiet = true;
    } else if (a == "--gselect") {
      if (!value(&v)) return false;
      o->gselect = std::atoi(v.c_str());
      if (o->gselect < 1) {
        std::fprintf(stderr, "jor-export: --gselect must be positive\n");
        return false;
      }
    } else if (a == "--min-posterior") {
      if (!value(&v)) return false;
      o->minPosterior = std::strtof(v.c_str(), nullptr);
    } else if (!a.empty() && a[0] == '-') {
      std::fprintf(stderr, "jor-export: unknown option %s (see --help)\n", a.c_str());
      return false;
    } else {
      o->wavs.push_back(a);
    }
  }
  if (o->out.empty()) {
    std::fprintf(stderr, "jor-export: --out DIR is required (see --help)\n");
    return false;
  }
  if (o->posteriorGmm.empty()) o->posteriorGmm = o->selectionGmm;
  return true;
}

// The engine's model set, loaded by the engine's own load steps from a
// container or from section files: the GMMs, the extractor and the network
// as far as the options ask for them, checked against each other and the
// features as engine initialisation checks them.
using Models = ravel_engine::ModelSet;

bool LoadModels(const Options& o, Models* m) {
  FILE* sel = nullptr;
  FILE* post = nullptr;
  FILE* ext = nullptr;
  std::unique_ptr<common::model::ModelManager> container;
  FilePtr selFile, postFile, extFile;
  if (!o.models.empty()) {
    container = std::make_unique<common::model::ModelManager>(o.models.c_str());
    const uint32_t rc = container->initialize();
    if (rc != 0) {
      std::fprintf(stderr, "jor-export: model container %s unreadable (0x%08x)\n", o.models.c_str(),
                   rc);
      return false;
    }
    sel = container->SelectionGmm();
    post = container->PosteriorGmm();
    ext = container->IvectorExtractor();
  }
  if (!o.selectionGmm.empty()) {
    selFile.reset(std::fopen(o.selectionGmm.c_str(), "rb"));
    postFile.reset(std::fopen(o.posteriorGmm.c_str(), "rb"));
    if (!selFile || !postFile) {
      std::fprintf(stderr, "jor-export: cannot open the GMM files\n");
      return false;
    }
    sel = selFile.get();
    post = postFile.get();
  }
  if (!o.extractor.empty()) {
    extFile.reset(std::fopen(o.extractor.c_str(), "rb"));
    if (!extFile) {
      std::fprintf(stderr, "jor-export: cannot open %s\n", o.extractor.c_str());
      return false;
    }
    ext = extFile.get();
  }
  if (sel && post) {
    const uint32_t rc = m->LoadGmms(sel, post, o.gselect, o.minPosterior);
    if (rc != 0) {
      std::fprintf(stderr, "jor-export: GMM rejected by the engine (0x%08x)\n", rc);
      return false;
    }
  }
  if (o.ivectors) {
    if (!m->HasGmms() || !ext) {
      std::fprintf(stderr, "jor-export: --ivectors needs both GMMs and an extractor\n");
      return false;
    }
    const uint32_t rc = m->LoadExtractor(ext, false);
    if (rc != 0) {
      std::fprintf(stderr, "jor-export: extractor rejected by the engine (0x%08x)\n", rc);
      return false;
    }
  }
  if (o.xvectors) {
    if (o.xvectorModel.empty()) {
      std::fprintf(stderr, "jor-export: --xvectors needs --xvector-model or --deployment\n");
      return false;
    }
    const uint32_t rc = m->LoadXvectorNet(o.xvectorModel);
    if (rc != 0) {
      std::fprintf(stderr, "jor-export: x-vector network %s rejected (0x%08x)\n",
                   o.xvectorModel.c_str(), rc);
      return false;
    }
  }
  std::string why;
  const uint32_t rc = m->Check(&why);
  if (rc != 0) {
    std::fprintf(stderr, "jor-export: models do not fit together: %s (0x%08x)\n", why.c_str(), rc);
    return false;
  }
  return true;
}

// The raw x-vector of the voiced rows, as the engine computes it for a template.
std::string ExportXvector(const Models& m, const std::vector<float>& feats,
                          const std::string& base) {
  if (feats.empty()) return "no voiced frames: no x-vector";
  std::vector<float> xvector;
  const int rc = m.XvectorNet()->GetXvector(feats, xvector);
  if (rc != 0) {
    char buf[64];
    std::snprintf(buf, sizeof(buf), "x-vector failed (0x%08x)", static_cast<unsigned>(rc));
    return buf;
  }
  if (!jor_export::WriteNpy(base + ".xvector.npy", {xvector.size()}, xvector.data(),
                            xvector.size()))
    return "cannot write " + base + ".xvector.npy";
  return "ok";
}

// Exports one recording; returns "ok" or the reason it failed.
std::string ExportOne(const Options& o, const Models& m, const Recording& rec, size_t* numSamples,
                      size_t* numFrames) {
  const jor_feat::MfccOptions& mfcc = m.FeatureOptions();
  std::vector<short> samples;
  int sampleRate = 0;
  std::string why = wavio::ReadWav(rec.path, &samples, &sampleRate);
  if (!why.empty()) return why;
  *numSamples = samples.size();
  if (sampleRate != static_cast<int>(mfcc.frame_opts.samp_freq))
    return "sampling rate " + std::to_string(sampleRate) + " Hz, expected " +
           std::to_string(static_cast<int>(mfcc.frame_opts.samp_freq));
  const int dim = mfcc.FeatureDim();
  std::vector<float> feats;
  float duration = 0, volume = 0, snr = 0, start = 0, end = 0;
  std::vector<float> freqSnr;
  if (!samples.empty()) {
    // As Ravel_GetFeature: a fresh batch pipeline with the engine's seed.
    jor_feat::FeatureExtractor<float> extractor(mfcc, kEngineSeed);
    const int rc =
        extractor.ExtractFeature(samples, &feats, &duration, &volume, &snr, &start, &end, &freqSnr);
    if (rc != 0) {
      char buf[64];
      std::snprintf(buf, sizeof(buf), "feature extraction failed (0x%08x)",
                    static_cast<unsigned>(rc));
      return buf;
    }
  }
  const size_t frames = feats.size() / static_cast<size_t>(dim);
  feats.resize(frames * static_cast<size_t>(dim));
  *numFrames = frames;
  const std::string base = o.out + "/" + rec.id;
  if (o.features && !jor_export::WriteNpy(base + ".feats.npy", {frames, static_cast<size_t>(dim)},
                                          feats.data(), feats.size()))
    return "cannot write " + base + ".feats.npy";
  if (m.XvectorNet()) {
    const std::string status = ExportXvector(m, feats, base);
    if (status != "ok") return status;
  }
  if (!m.HasGmms()) return "ok";
  const gmmpp_ivext::IvectorModels& gmms = *m.Ivector();
  const int c = gmms.posteriorGmm.NumGaussians();
  UtteranceStats<float> stats(dim, c);
  const int rc = gmmpp_ivext::GmmppIvext::AccumulateFrames(gmms.selectionGmm, gmms.posteriorGmm,
                                                           dim, feats, stats);
  if (rc != 0) {
    char buf[64];
    std::snprintf(buf, sizeof(buf), "statistics failed (0x%08x)", static_cast<unsigned>(rc));
    return buf;
  }
  std::vector<float> first;
  first.reserve(static_cast<size_t>(c) * static_cast<size_t>(dim));
  for (int g = 0; g < c; ++g) first.insert(first.end(), stats.First(g), stats.First(g) + dim);
  if (!jor_export::WriteNpy(base + ".zeroth.npy", {static_cast<size_t>(c)}, stats.zeroth.data(),
                            stats.zeroth.size()) ||
      !jor_export::WriteNpy(base + ".first.npy", {static_cast<size_t>(c), static_cast<size_t>(dim)},
                            first.data(), first.size()))
    return "cannot write the statistics of " + rec.id;
  if (!m.HasExtractor()) return "ok";
  if (stats.numFrames == 0) return "no voiced frames: no i-vector";
  std::vector<float> ivector;
  const int erc = gmms.extractor.Extract(stats, ivector);
  if (erc != 0) {
    char buf[64];
    std::snprintf(buf, sizeof(buf), "i-vector failed (0x%08x)", static_cast<unsigned>(erc));
    return buf;
  }
  if (!jor_export::WriteNpy(base + ".ivector.npy", {ivector.size()}, ivector.data(),
                            ivector.size()))
    return "cannot write " + base + ".ivector.npy";
  return "ok";
}

int Run(int argc, char** argv) {
  Options o;
  int exitCode = 2;
  if (!ParseArgs(argc, argv, &o, &exitCode)) return exitCode;

  std::vector<Recording> recs;
  if (!o.manifest.empty() && !ReadManifest(o.manifest, &recs)) {
    std::fprintf(stderr, "jor-export: cannot read manifest %s\n", o.manifest.c_str());
    return 2;
  }
  for (const std::string& w : o.wavs) recs.push_back({BaseId(w), w});
  if (recs.empty()) {
    std::fprintf(stderr, "jor-export: no recordings given (see --help)\n");
    return 2;
  }

  Models models;
  if (models.LoadOptions(o.mfccOptions) != 0) {
    std::string why;
    models.FeatureOptions().Validate(&why);
    if (why.empty()) models.FeatureOptions().Resolved(jor_feat::kModeOnline).Validate(&why);
    std::fprintf(stderr, "jor-export: feature options unusable: %s\n", why.c_str());
    return 2;
  }
  if (!LoadModels(o, &models)) return 2;

  std::ofstream index(o.out + "/index.tsv", std::ios::trunc);
  if (!index) {
    std::fprintf(stderr, "jor-export: cannot write %s/index.tsv\n", o.out.c_str());
    return 2;
  }
  index << "id\tpath\tsamples\tframes\tstatus\n";
  int failed = 0;
  for (size_t i = 0; i < recs.size(); ++i) {
    size_t samples = 0, frames = 0;
    std::string status;
    try {
      status = ExportOne(o, models, recs[i], &samples, &frames);
    } catch (const std::exception& e) {
      status = std::string("error: ") + e.what();
    }
    if (status != "ok") {
      ++failed;
      std::fprintf(stderr, "jor-export: %s: %s\n", recs[i].path.c_str(), status.c_str());
    }
    index << recs[i].id << '\t' << recs[i].path << '\t' << samples << '\t' << frames << '\t'
          << status << '\n';
    if (!o.quiet && (i + 1 == recs.size() || (i + 1) % 50 == 0 || recs.size() <= 20))
      std::fprintf(stderr, "jor-export: [%zu/%zu] %s (%zu frames)\n", i + 1, recs.size(),
                   recs[i].id.c_str(), frames);
  }
  if (!o.quiet)
    std::fprintf(stderr, "jor-export: %zu recordings, %d failed\n", recs.size(), failed);
  return failed ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
  return Run(argc, argv);
}
