#include "tools/modelio/htk-writer.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <numbers>
#include <random>

namespace modelio {

const char kHtkSeparator[] = "__KAVOR__SEPARATOR__";

namespace {

// Symbol numbers of the binary keyword form.
enum : int {
  kBeginHmm = 0,
  kEndHmm = 2,
  kNumMixes = 3,
  kNumStates = 4,
  kStreamInfo = 5,
  kVecSize = 6,
  kNullD = 7,
  kDiagC = 12,
  kState = 15,
  kMixture = 17,
  kMean = 20,
  kVariance = 21,
  kInvCovar = 22,
  kGconst = 24,
  kTransP = 27,
};

const char* const kKeywords[] = {
    "BeginHMM", "Use",      "EndHMM", "NumMixes", "NumStates", "StreamInfo", "VecSize",
    "NullD",    "PoissonD", "GammaD", "RelD",     "GenD",      "DiagC",      "FullC",
    "XFormC",   "State",    "TMix",   "Mixture",  "Stream",    "SWeights",   "Mean",
    "Variance", "InvCovar", "XForm",  "GConst",   "Duration",  "InvDiagC",   "TransP"};

class Emitter {
 public:
  explicit Emitter(bool binary) : binary_(binary) {}

  void Keyword(int sym) {
    if (binary_) {
      out_ += ':';
      out_ += static_cast<char>(sym);
    } else {
      out_ += '<';
      out_ += kKeywords[sym];
      out_ += '>';
    }
  }
  void Int(int v) {
    if (binary_) {
      const uint16_t u = static_cast<uint16_t>(static_cast<int16_t>(v));
      out_ += static_cast<char>(u & 0xFF);
      out_ += static_cast<char>(u >> 8);
    } else {
      out_ += ' ' + std::to_string(v);
    }
  }
  void Real(double v) {
    if (binary_) {
      const float f = static_cast<float>(v);
      uint32_t bits;
      std::memcpy(&bits, &f, 4);
      for (int i = 0; i < 4; ++i) out_ += static_cast<char>((bits >> (8 * i)) & 0xFF);
    } else {
      char buf[40];
      std::snprintf(buf, sizeof(buf), " %.17g", v);
      out_ += buf;
    }
  }
  void Text(const std::string& s) { out_ += s; }
  void Line() {
    if (!binary_) out_ += '\n';
  }
  std::string& str() { return out_; }

 private:
  bool binary_;
  std::string out_;
};

std::string Write(const HtkGmm& gmm, bool binary, bool separator) {
  Emitter e(binary);
  const int dim = gmm.vecSize;
  bool anyFull = false;
  for (const HtkGaussian& g : gmm.gaussians) anyFull = anyFull || g.variance.empty();
  e.Text("~o\n");
  e.Keyword(kStreamInfo);
  e.Int(1);
  e.Int(dim);
  e.Line();
  e.Keyword(kVecSize);
  e.Int(dim);
  e.Keyword(kNullD);
  if (!gmm.parmKind.empty()) e.Text("<" + gmm.parmKind + ">");
  if (!anyFull) e.Keyword(kDiagC);
  e.Text("\n~h \"" + gmm.name + "\"\n");
  e.Keyword(kBeginHmm);
  e.Line();
  e.Keyword(kNumStates);
  e.Int(3);
  e.Line();
  e.Keyword(kState);
  e.Int(2);
  e.Line();
  e.Keyword(kNumMixes);
  e.Int(static_cast<int>(gmm.gaussians.size()));
  e.Line();
  for (size_t m = 0; m < gmm.gaussians.size(); ++m) {
    const HtkGaussian& g = gmm.gaussians[m];
    e.Keyword(kMixture);
    e.Int(static_cast<int>(m + 1));
    e.Real(g.weight);
    e.Line();
    e.Keyword(kMean);
    e.Int(static_cast<int>(g.mean.size()));
    e.Line();
    for (double v : g.mean) e.Real(v);
    e.Line();
    if (!g.variance.empty()) {
      e.Keyword(kVariance);
      e.Int(static_cast<int>(g.variance.size()));
      e.Line();
      for (double v : g.variance) e.Real(v);
    } else {
      e.Keyword(kInvCovar);
      e.Int(dim);
      e.Line();
      for (double v : g.invCovarUpper) e.Real(v);
    }
    e.Line();
    if (g.hasGconst) {
      e.Keyword(kGconst);
      e.Real(g.gconst);
      e.Line();
    }
  }
  e.Keyword(kTransP);
  e.Int(3);
  e.Line();
  const double trans[9] = {0.0, 1.0, 0.0, 0.0, 0.5, 0.5, 0.0, 0.0, 0.0};
  for (int i = 0; i < 9; ++i) {
    e.Real(trans[i]);
    if (i % 3 == 2) e.Line();
  }
  e.Keyword(kEndHmm);
  e.Text("\n");
  if (separator) e.Text(kHtkSeparator);
  return e.str();
}

double Float(double v) {
  return static_cast<double>(static_cast<float>(v));
}

}  // namespace

std::string HtkTextGmm(const HtkGmm& gmm, bool separator) {
  return Write(gmm, false, separator);
}

std::string HtkBinaryGmm(const HtkGmm& gmm, bool separator) {
  return Write(gmm, true, separator);
}

double DiagonalGconst(const std::vector<double>& variance) {
  double g = variance.size() * std::log(2.0 * std::numbers::pi);
  for (double v : variance) g += std::log(v);
  return g;
}

std::vector<double> ExpandUpper(const std::vector<double>& upper, int n) {
  std::vector<double> full(static_cast<size_t>(n) * n);
  size_t k = 0;
  for (int r = 0; r < n; ++r) {
    for (int c = r; c < n; ++c, ++k) {
      full[static_cast<size_t>(r) * n + c] = upper[k];
      full[static_cast<size_t>(c) * n + r] = upper[k];
    }
  }
  return full;
}

double FullGconst(const std::vector<double>& upper, int n) {
  std::vector<double> a = ExpandUpper(upper, n);
  double logDet = 0.0;
  for (int j = 0; j < n; ++j) {
    double d = a[static_cast<size_t>(j) * n + j];
    for (int k = 0; k < j; ++k)
      d -= a[static_cast<size_t>(j) * n + k] * a[static_cast<size_t>(j) * n + k];
    d = std::sqrt(d);
    a[static_cast<size_t>(j) * n + j] = d;
    logDet += 2.0 * std::log(d);
    for (int i = j + 1; i < n; ++i) {
      double s = a[static_cast<size_t>(i) * n + j];
      for (int k = 0; k < j; ++k)
        s -= a[static_cast<size_t>(i) * n + k] * a[static_cast<size_t>(j) * n + k];
      a[static_cast<size_t>(i) * n + j] = s / d;
    }
  }
  return n * std::log(2.0 * std::numbers::pi) - logDet;
}

namespace {

// Weights, means, then the covariance part that `fill` draws, Gaussian after
// Gaussian from one generator; weights normalised at the end.
template <typename Fill>
HtkGmm RandomGmm(int numGaussians, int dim, std::mt19937& rng, bool withGconst, Fill fill) {
  std::uniform_real_distribution<double> meanDist(-2.0, 2.0);
  std::uniform_real_distribution<double> weightDist(0.2, 1.0);
  HtkGmm gmm;
  gmm.vecSize = dim;
  double total = 0.0;
  for (int m = 0; m < numGaussians; ++m) {
    HtkGaussian g;
    g.weight = weightDist(rng);
    total += g.weight;
    for (int i = 0; i < dim; ++i) g.mean.push_back(Float(meanDist(rng)));
    fill(&g);
    g.hasGconst = withGconst;
    gmm.gaussians.push_back(g);
  }
  for (HtkGaussian& g : gmm.gaussians) g.weight = Float(g.weight / total);
  return gmm;
}

}  // namespace

HtkGmm RandomDiagonalGmm(int numGaussians, int dim, unsigned seed, bool withGconst) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> varDist(0.3, 2.0);
  return RandomGmm(numGaussians, dim, rng, withGconst, [&](HtkGaussian* g) {
    for (int i = 0; i < dim; ++i) g->variance.push_back(Float(varDist(rng)));
    g->gconst = Float(DiagonalGconst(g->variance));
  });
}

HtkGmm RandomFullGmm(int numGaussians, int dim, unsigned seed, bool withGconst) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> offDist(-0.3, 0.3);
  std::uniform_real_distribution<double> diagDist(0.5, 2.0);
  return RandomGmm(numGaussians, dim, rng, withGconst, [&](HtkGaussian* g) {
    // A = B Bᵀ / dim + D: symmetric positive definite.
    std::vector<double> b(static_cast<size_t>(dim) * dim);
    for (double& v : b) v = offDist(rng);
    for (int r = 0; r < dim; ++r) {
      for (int c = r; c < dim; ++c) {
        double sum = 0.0;
        for (int k = 0; k < dim; ++k)
          sum += b[static_cast<size_t>(r) * dim + k] * b[static_cast<size_t>(c) * dim + k];
        sum /= dim;
        if (r == c) sum += diagDist(rng);
        g->invCovarUpper.push_back(Float(sum));
      }
    }
    g->gconst = Float(FullGconst(g->invCovarUpper, dim));
  });
}

}  // namespace modelio
