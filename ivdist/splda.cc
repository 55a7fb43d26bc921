#include "ivdist/splda.h"

#include <cmath>
#include <cstring>
#include <span>

#include "ivdist/projection.h"
#include "common/result-codes.h"
#include "ivdist/section-reader.h"

namespace ivdist::splda {
namespace {

// One 32-byte register of lanes: 8 floats or 4 doubles. Each lane is plain
// IEEE arithmetic, so the result does not depend on the instruction set.
template <typename T>
struct Lanes {
  typedef T Vec __attribute__((vector_size(32)));
  static constexpr size_t kWidth = 32 / sizeof(T);
};

template <typename T>
inline T LoadScalar(const unsigned char* bytes, size_t index) {
  T v;
  std::memcpy(&v, bytes + index * sizeof(T), sizeof(T));
  return v;
}

template <typename T>
inline void LoadLanes(typename Lanes<T>::Vec* v, const unsigned char* bytes, size_t index) {
  // Written through a pointer: returning a vector by value changes the ABI
  // on builds without AVX.
  std::memcpy(v, bytes + index * sizeof(T), sizeof(*v));
}

// Finishes a score from its lane sums: lanes in order, k, the tail
// coordinates one by one, then the two linear values.
template <typename T>
T FinishScore(const T* lanes, const unsigned char* p, const unsigned char* q, size_t d, T k) {
  constexpr size_t kW = Lanes<T>::kWidth;
  T sum = 0;
  for (size_t w = 0; w < kW; ++w) sum += lanes[w];
  sum += k;
  for (size_t i = d - d % kW; i < d; ++i) {
    const T ps = LoadScalar<T>(p, d + i);
    const T qs = LoadScalar<T>(q, d + i);
    sum = ((sum + LoadScalar<T>(p, i) * LoadScalar<T>(q, i)) - ps * ps) - qs * qs;
  }
  return (LoadScalar<T>(q, 2 * d) + LoadScalar<T>(p, 2 * d)) + sum;
}

// Score of two templates of 2D+1 values each, given as raw bytes. Lane w
// sums the coordinates i = w (mod W) below D rounded down to W.
template <typename T>
T ScoreBytes(const unsigned char* p, const unsigned char* q, size_t d, T k) {
  using Vec = typename Lanes<T>::Vec;
  constexpr size_t kW = Lanes<T>::kWidth;
  const size_t dw = d - d % kW;
  Vec acc = {};
  for (size_t i = 0; i < dw; i += kW) {
    Vec pc, qc, ps, qs;
    LoadLanes<T>(&pc, p, i);
    LoadLanes<T>(&qc, q, i);
    LoadLanes<T>(&ps, p, d + i);
    LoadLanes<T>(&qs, q, d + i);
    acc = ((acc + pc * qc) - ps * ps) - qs * qs;
  }
  T lanes[kW];
  std::memcpy(lanes, &acc, sizeof(lanes));
  return FinishScore<T>(lanes, p, q, d, k);
}

// The same as ScoreBytes for one probe against kGroup templates at once: the
// templates form independent chains, which keeps the adders busy. Per
// template the operations and their order are those of ScoreBytes.
template <typename T, size_t kGroup>
void ScoreGroup(const unsigned char* p, const unsigned char* q, size_t stride, size_t d, T k,
                T* results) {
  using Vec = typename Lanes<T>::Vec;
  constexpr size_t kW = Lanes<T>::kWidth;
  const size_t dw = d - d % kW;
  Vec acc[kGroup] = {};
  for (size_t i = 0; i < dw; i += kW) {
    Vec pc, ps;
    LoadLanes<T>(&pc, p, i);
    LoadLanes<T>(&ps, p, d + i);
    const Vec pp = ps * ps;
    for (size_t g = 0; g < kGroup; ++g) {
      const unsigned char* t = q + g * stride;
      Vec qc, qs;
      LoadLanes<T>(&qc, t, i);
      LoadLanes<T>(&qs, t, d + i);
      acc[g] = ((acc[g] + pc * qc) - pp) - qs * qs;
    }
  }
  for (size_t g = 0; g < kGroup; ++g) {
    T lanes[kW];
    std::memcpy(lanes, &acc[g], sizeof(lanes));
    results[g] = FinishScore<T>(lanes, p, q + g * stride, d, k);
  }
}

template <typename T>
T CrossScaleOf(T a);
template <>
float CrossScaleOf(float a) {
  return static_cast<float>(std::sqrt(static_cast<double>(a) + static_cast<double>(a)));
}
template <>
double CrossScaleOf(double a) {
  return static_cast<double>(static_cast<float>(std::sqrt(a + a)));
}

}  // namespace

template <typename T>
int Splda<T>::Load(FILE* stream) {
  const int r = Read(stream);
  // A half-read model must not be usable: leave it empty.
  if (r) {
    dimension = 0;
    for (std::vector<T>* v : {&crossBasis, &selfBasis, &crossScale, &selfScale, &linearTerm})
      v->clear();
    constantTerm = 0;
  }
  return r;
}

template <typename T>
int Splda<T>::Read(FILE* stream) {
  if (!stream) return jor::kSpldaUnreadable;
  int32_t elementSize = 0;
  if (!SkipSectionHeader(stream) || !ReadExact(stream, &elementSize, sizeof(elementSize)))
    return jor::kSpldaUnreadable;
  if (elementSize != static_cast<int32_t>(sizeof(T))) return jor::kSpldaBadModel;
  int32_t d = 0;
  if (!ReadExact(stream, &d, sizeof(d))) return jor::kSpldaUnreadable;
  if (static_cast<uint32_t>(d) - 1u > kMaxDimension - 1u) return jor::kSpldaBadModel;
  dimension = d;
  const size_t n = static_cast<size_t>(d);
  if (!ReadValues(stream, n * n, &crossBasis)) return jor::kSpldaUnreadable;
  // The eigenvalue block of A reports its short read as a bad model.
  if (!ReadValues(stream, n, &crossScale)) return jor::kSpldaBadModel;
  if (!ReadValues(stream, n * n, &selfBasis)) return jor::kSpldaUnreadable;
  if (!ReadValues(stream, n, &selfScale)) return jor::kSpldaUnreadable;
  if (!ReadValues(stream, n, &linearTerm)) return jor::kSpldaUnreadable;
  if (!ReadExact(stream, &constantTerm, sizeof(T))) return jor::kSpldaUnreadable;

  // Values that are not finite would make every template or score not finite.
  if (!AllFinite(crossBasis.data(), crossBasis.size()) ||
      !AllFinite(selfBasis.data(), selfBasis.size()) ||
      !AllFinite(crossScale.data(), crossScale.size()) ||
      !AllFinite(selfScale.data(), selfScale.size()) ||
      !AllFinite(linearTerm.data(), linearTerm.size()) || !std::isfinite(constantTerm))
    return jor::kSpldaBadModel;
  for (size_t i = 0; i < n; ++i) {
    T a = crossScale[i];
    if (a < 0) a = 0;
    crossScale[i] = CrossScaleOf(a);
    T b = selfScale[i];
    if (b > 0) b = 0;
    selfScale[i] = std::sqrt(-b);
  }
  if (!AllFinite(crossScale.data(), crossScale.size())) return jor::kSpldaBadModel;
  return 0;
}

template <typename T>
int Splda<T>::Transform(const std::vector<T>& x, std::vector<T>* t) const {
  const size_t d = static_cast<size_t>(dimension);
  if (x.size() != d) return jor::kWrongLength;
  if (!t) return jor::kNullResult;
  if (t == &x) {
    std::vector<T> result;
    const int r = Transform(x, &result);
    if (r == 0) *t = std::move(result);
    return r;
  }
  // u and v are projected straight into the cross and self blocks.
  t->assign(2 * d + 1, T(0));
  std::span<T> u(t->data(), d);
  std::span<T> v(t->data() + d, d);
  int r = ProjectRows<T>(crossBasis, d, d, x, u);
  if (r) return r;
  r = ProjectRows<T>(selfBasis, d, d, x, v);
  if (r) return r;
  T s = 0;
  for (size_t i = 0; i < d; ++i) s += linearTerm[i] * x[i];
  for (size_t i = 0; i < d; ++i) u[i] = u[i] * crossScale[i];
  for (size_t i = 0; i < d; ++i) v[i] = v[i] * selfScale[i];
  (*t)[2 * d] = s;
  return 0;
}

template <typename T>
int Splda<T>::ScoreTransformed(const T* p, const uint32_t* pCount, const T* q,
                               const uint32_t* qCount, T* result) const {
  if (!result) return jor::kNullResult;
  const uint32_t expected = TransformedSize();
  if (!pCount || !qCount || *pCount != expected || *qCount != expected || !p || !q)
    return jor::kWrongLength;
  *result = ScoreBytes<T>(reinterpret_cast<const unsigned char*>(p),
                          reinterpret_cast<const unsigned char*>(q), static_cast<size_t>(dimension),
                          constantTerm);
  return 0;
}

template <typename T>
int Splda<T>::ScoreTransformed(const std::vector<T>& p, const std::vector<T>& q, T* result) const {
  if (!result) return jor::kNullResult;
  const size_t expected = TransformedSize();
  if (p.size() != expected || q.size() != expected) return jor::kWrongLength;
  *result = ScoreBytes<T>(reinterpret_cast<const unsigned char*>(p.data()),
                          reinterpret_cast<const unsigned char*>(q.data()),
                          static_cast<size_t>(dimension), constantTerm);
  return 0;
}

template <typename T>
int Splda<T>::Score(const std::vector<T>& x, const std::vector<T>& y, T* result) const {
  if (!result) return jor::kNullResult;
  const size_t d = static_cast<size_t>(dimension);
  if (x.size() != d || y.size() != d) return jor::kWrongLength;
  std::vector<T> tx, ty;
  int r = Transform(x, &tx);
  if (r) return r;
  r = Transform(y, &ty);
  if (r) return r;
  return ScoreTransformed(tx, ty, result);
}

template <typename T>
uint32_t Splda<T>::TransformedSize() const {
  return 2u * static_cast<uint32_t>(dimension) + 1u;
}

template <typename T>
int Splda<T>::ScoreTransformedMany(const T* probe, uint32_t probeCount, const T* templates,
                                   size_t n, T* results) const {
  if (n == 0) return 0;
  if (!results) return jor::kNullResult;
  if (!probe || !templates || probeCount != TransformedSize()) return jor::kWrongLength;
  constexpr size_t kGroup = 8;
  const size_t d = static_cast<size_t>(dimension);
  const size_t stride = (2 * d + 1) * sizeof(T);
  const auto* p = reinterpret_cast<const unsigned char*>(probe);
  const auto* q = reinterpret_cast<const unsigned char*>(templates);
  size_t j = 0;
  for (; j + kGroup <= n; j += kGroup)
    ScoreGroup<T, kGroup>(p, q + j * stride, stride, d, constantTerm, results + j);
  for (; j < n; ++j) results[j] = ScoreBytes<T>(p, q + j * stride, d, constantTerm);
  return 0;
}

template class Splda<float>;
template class Splda<double>;

}  // namespace ivdist::splda
