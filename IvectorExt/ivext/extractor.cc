#include "IvectorExt/ivext/extractor.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <type_traits>

// GCC 12 reports false maybe-uninitialized warnings inside Eigen's AVX-512 kernels.
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#include <Eigen/Core>
#include <boost/interprocess/exceptions.hpp>

#include "engine/logging.h"

namespace ivext {

namespace {

constexpr size_t kHeaderBytes = 32;
// File data is read in pieces so that the memory taken grows with the bytes
// actually present, not with the sizes a header claims.
constexpr uint64_t kReadChunkBytes = uint64_t{16} << 20;

template <class T>
const char* Name(const char* forFloat, const char* forDouble) {
  return std::is_same_v<T, float> ? forFloat : forDouble;
}

bool ReadExact(FILE* file, void* out, size_t bytes) {
  return std::fread(out, 1, bytes, file) == bytes;
}

// Reads `count` values; false on a short read.
template <class T>
bool ReadArray(FILE* file, uint64_t count, std::vector<T>& out) {
  out.clear();
  const uint64_t chunk = kReadChunkBytes / sizeof(T);
  uint64_t done = 0;
  while (done < count) {
    const uint64_t n = std::min(chunk, count - done);
    out.resize(static_cast<size_t>(done + n));
    if (!ReadExact(file, out.data() + done, static_cast<size_t>(n) * sizeof(T))) return false;
    done += n;
  }
  return true;
}

// Large arrays are asked to live on huge pages: first-touch faults dominate
// the load time of a big private model otherwise.
void* AllocateModelArray(uint64_t bytes) {
  constexpr size_t kHuge = size_t{2} << 20;
  if (bytes > SIZE_MAX - kHuge) return nullptr;
  if (bytes < kHuge) return std::malloc(bytes > 0 ? static_cast<size_t>(bytes) : 1);
  const size_t rounded = (static_cast<size_t>(bytes) + kHuge - 1) / kHuge * kHuge;
  void* p = std::aligned_alloc(kHuge, rounded);
  if (p != nullptr) ::madvise(p, rounded, MADV_HUGEPAGE);  // advice only
  return p;
}

uint64_t PhysicalMemoryBytes() {
  const long pages = ::sysconf(_SC_PHYS_PAGES);
  const long pageSize = ::sysconf(_SC_PAGESIZE);
  if (pages <= 0 || pageSize <= 0) return UINT64_MAX;
  return static_cast<uint64_t>(pages) * static_cast<uint64_t>(pageSize);
}

// Model arrays are read through ModelElem types: a double model in the
// shared segment is only 4-byte aligned. Overloads, not templates, so that
// the alignment attribute of the element type is kept.
using ModelDouble = ModelElem<double>::type;

// y[j] += x0·a0[j] + x1·a1[j] + x2·a2[j] + x3·a3[j]
void Axpy4(float* __restrict y, const float* __restrict a0, const float* __restrict a1,
           const float* __restrict a2, const float* __restrict a3, float x0, float x1, float x2,
           float x3, size_t n) {
  for (size_t j = 0; j < n; ++j)
    y[j] = std::fma(x3, a3[j], std::fma(x2, a2[j], std::fma(x1, a1[j], std::fma(x0, a0[j], y[j]))));
}
void Axpy4(double* __restrict y, const ModelDouble* __restrict a0, const ModelDouble* __restrict a1,
           const ModelDouble* __restrict a2, const ModelDouble* __restrict a3, double x0, double x1,
           double x2, double x3, size_t n) {
  for (size_t j = 0; j < n; ++j)
    y[j] = std::fma(x3, a3[j], std::fma(x2, a2[j], std::fma(x1, a1[j], std::fma(x0, a0[j], y[j]))));
}

// y[j] += x·a[j]
void Axpy1(float* __restrict y, const float* __restrict a, float x, size_t n) {
  for (size_t j = 0; j < n; ++j) y[j] = std::fma(x, a[j], y[j]);
}
void Axpy1(double* __restrict y, const ModelDouble* __restrict a, double x, size_t n) {
  for (size_t j = 0; j < n; ++j) y[j] = std::fma(x, a[j], y[j]);
}

// Solves the n×n system held row-major in aug (n rows of n+1 values, the
// right-hand side last) by Gauss-Jordan elimination with partial pivoting:
// the pivot of column k is the first row at or below k with the largest
// magnitude. The solution is left in the last column.
template <class T>
bool GaussJordan(T* aug, size_t n) {
  const size_t stride = n + 1;
  for (size_t k = 0; k < n; ++k) {
    size_t pivotRow = n;
    T best = T(-1);
    for (size_t i = k; i < n; ++i) {
      const T a = std::fabs(aug[i * stride + k]);
      if (a > best) {
        best = a;
        pivotRow = i;
      }
    }
    // Zero, or nothing comparable (NaN): no usable pivot.
    if (!(best > T(0))) return false;
    T* pk = aug + k * stride;
    if (pivotRow != k) {
      T* pp = aug + pivotRow * stride;
      for (size_t j = k; j < stride; ++j) std::swap(pk[j], pp[j]);
    }
    const T scale = T(1) / pk[k];
    for (size_t j = k + 1; j < stride; ++j) pk[j] *= scale;
    pk[k] = T(1);
    const size_t len = stride - (k + 1);
    const T* __restrict src = pk + k + 1;
    for (size_t i = 0; i < n; ++i) {
      if (i == k) continue;
      T* row = aug + i * stride;
      const T f = row[k];
      row[k] = T(0);
      if (f == T(0)) continue;
      Axpy1(row + k + 1, src, -f, len);
    }
  }
  return true;
}

}  // namespace

template <class T>
Extractor<T>::Extractor() : shmem(std::make_unique<ShmemManager>()) {}

template <class T>
Extractor<T>::~Extractor() = default;

template <class T>
void Extractor<T>::Unload() {
  numGaussians = featureDim = ivectorDim = 0;
  priorOffset = T(0);
  sigmaInvT = nullptr;
  quadTerms = nullptr;
  sharedHeader = nullptr;
  privateSigmaInvT.reset();
  privateQuadTerms.reset();
}

template <class T>
int Extractor<T>::LoadModel(FILE* file, const bool& shareModel) {
  const char* fn = Name<T>("Extractor<float>::LoadModel", "Extractor<double>::LoadModel");
  Unload();
  try {
    // A fresh manager also releases whatever an earlier load held.
    if (shareModel)
      shmem = std::make_unique<ShmemManager>();
    else
      shmem.reset();
    // Without a model file only a published model can serve, as it is.
    if (shmem && file == nullptr && shmem->Exists()) return Attach(nullptr);
  } catch (const std::bad_alloc&) {
    return jor::kExtractorNoMemory;
  }

  if (file == nullptr) {
    jor_log::LogF(__FILE__, fn, __LINE__, jor_log::kError, "No i-vector extractor model file");
    return jor::kExtractorFileError;
  }
  unsigned char header[kHeaderBytes];
  int32_t elemSize = 0;
  if (!ReadExact(file, header, sizeof header) || !ReadExact(file, &elemSize, sizeof elemSize)) {
    jor_log::LogF(__FILE__, fn, __LINE__, jor_log::kError,
                  "Cannot read the i-vector extractor header");
    return jor::kExtractorFileError;
  }
  if (elemSize != static_cast<int32_t>(sizeof(T))) {
    // Expected while the float extractor probes a double model.
    jor_log::LogF(__FILE__, fn, __LINE__, jor_log::kDebug, "Element size %d is not %d",
                  static_cast<int>(elemSize), static_cast<int>(sizeof(T)));
    return jor::kExtractorFormatError;
  }
  int32_t dims[3];
  if (!ReadExact(file, dims, sizeof dims)) {
    jor_log::LogF(__FILE__, fn, __LINE__, jor_log::kError,
                  "Cannot read the i-vector extractor dimensions");
    return jor::kExtractorFileError;
  }
  for (int32_t d : dims) {
    if (d < 1 || d > shared_layout::kMaxDim) {
      jor_log::LogF(__FILE__, fn, __LINE__, jor_log::kError,
                    "I-vector extractor dimensions out of range: C=%d F=%d R=%d",
                    static_cast<int>(dims[0]), static_cast<int>(dims[1]),
                    static_cast<int>(dims[2]));
      return jor::kExtractorFormatError;
    }
  }
  const int c = dims[0], f = dims[1], r = dims[2];
  T prior;
  if (!ReadExact(file, &prior, sizeof prior)) {
    jor_log::LogF(__FILE__, fn, __LINE__, jor_log::kError, "Cannot read the prior offset");
    return jor::kExtractorFileError;
  }

  const uint64_t countS = shared_layout::SigmaInvTCount(c, f, r);
  const uint64_t countSigma =
      static_cast<uint64_t>(c) * (static_cast<uint64_t>(f) * (static_cast<uint64_t>(f) + 1u) / 2u);
  std::vector<T> t, sigmaInv;
  try {
    if (!ReadArray(file, countS, t) || !ReadArray(file, countSigma, sigmaInv)) {
      jor_log::LogF(__FILE__, fn, __LINE__, jor_log::kError,
                    "The i-vector extractor model is truncated (C=%d F=%d R=%d)", c, f, r);
      return jor::kExtractorFileError;
    }
  } catch (const std::bad_alloc&) {
    jor_log::LogF(__FILE__, fn, __LINE__, jor_log::kError, "Out of memory reading the model");
    return jor::kExtractorNoMemory;
  }

  if (!shmem) return LoadPrivate(c, f, r, prior, t.data(), sigmaInv.data());

  // The identity of this model file, compared with the one a segment holds.
  uint64_t hash = shared_layout::ModelHash(&elemSize, sizeof elemSize);
  hash = shared_layout::ModelHash(dims, sizeof dims, hash);
  hash = shared_layout::ModelHash(&prior, sizeof prior, hash);
  hash = shared_layout::ModelHash(t.data(), t.size() * sizeof(T), hash);
  hash = shared_layout::ModelHash(sigmaInv.data(), sigmaInv.size() * sizeof(T), hash);
  // A segment of another model is never used: this process keeps its own copy.
  auto attachOrPrivate = [&]() {
    const int rc = Attach(&hash);
    if (rc != kSegmentOfAnotherModel) return rc;
    jor_log::LogF(__FILE__, fn, __LINE__, jor_log::kWarning,
                  "The shared model \"%s\" holds another i-vector extractor model; this process "
                  "uses a private copy of its own (remove the shared model to share this one)",
                  kSharedSegmentName);
    return LoadPrivate(c, f, r, prior, t.data(), sigmaInv.data());
  };

  bool writing = false;  // this process holds the writer's lock on the segment
  try {
    if (ShmemManager::CompleteSegmentExists()) return attachOrPrivate();
    const uint64_t arrayEnd = shared_layout::SegmentBytes(elemSize, c, f, r);
    const uint64_t segmentBytes = arrayEnd + shared_layout::kTrailerBytes;
    if (arrayEnd == 0 || segmentBytes > SIZE_MAX || segmentBytes > PhysicalMemoryBytes()) {
      jor_log::LogF(__FILE__, fn, __LINE__, jor_log::kError,
                    "The shared model would need %llu bytes",
                    static_cast<unsigned long long>(segmentBytes));
      return jor::kSharedMemoryError;
    }
    void* base = nullptr;
    try {
      base = shmem->CreateForWrite(static_cast<size_t>(segmentBytes));
    } catch (const boost::interprocess::interprocess_exception& e) {
      shmem = std::make_unique<ShmemManager>();
      jor_log::LogF(__FILE__, fn, __LINE__, jor_log::kError, "Cannot create the shared model: %s",
                    e.what());
      return jor::kSharedMemoryError;
    }
    if (base == nullptr) {
      // Another process published a model while this one waited.
      shmem = std::make_unique<ShmemManager>();
      return attachOrPrivate();
    }
    writing = true;
    auto* bytes = static_cast<unsigned char*>(base);
    const int32_t fields[4] = {c, f, r, 0};
    std::memcpy(bytes + shared_layout::kGaussiansOffset, fields, sizeof fields);
    std::memcpy(bytes + shared_layout::kPriorOffset, &prior, sizeof prior);
    const size_t headerBytes = static_cast<size_t>(shared_layout::HeaderBytes(elemSize));
    const int rc = Precompute(c, f, r, t.data(), sigmaInv.data(), bytes + headerBytes,
                              bytes + headerBytes + static_cast<size_t>(countS) * sizeof(T));
    if (rc != 0) {
      // Never leave a half-written segment behind for other processes.
      ShmemManager::RemoveShared();
      shmem = std::make_unique<ShmemManager>();
      return rc;
    }
    std::memcpy(bytes + arrayEnd, shared_layout::kTrailerTag, sizeof shared_layout::kTrailerTag);
    std::memcpy(bytes + arrayEnd + sizeof shared_layout::kTrailerTag, &hash, sizeof hash);
    shared_layout::PublishElemSize(base, elemSize);
    writing = false;
    // Dropping the writer's manager releases the exclusive lock and the mapping.
    shmem = std::make_unique<ShmemManager>();
    const int attached = attachOrPrivate();
    if (attached != 0) ShmemManager::RemoveShared();
    return attached;
  } catch (const std::bad_alloc&) {
    Unload();
    if (writing) {
      ShmemManager::RemoveShared();
      shmem.reset();  // releases the writer's lock; the next load makes a new manager
    }
    jor_log::LogF(__FILE__, fn, __LINE__, jor_log::kError, "Out of memory precomputing the model");
    return jor::kExtractorNoMemory;
  } catch (const boost::interprocess::interprocess_exception& e) {
    Unload();
    jor_log::LogF(__FILE__, fn, __LINE__, jor_log::kError, "Shared model failure: %s", e.what());
    return jor::kSharedMemoryError;
  }
}

template <class T>
int Extractor<T>::LoadPrivate(int c, int f, int r, T prior, const T* t, const T* sigmaInv) {
  const char* fn = Name<T>("Extractor<float>::LoadModel", "Extractor<double>::LoadModel");
  shmem.reset();
  const uint64_t countS = shared_layout::SigmaInvTCount(c, f, r);
  const uint64_t countQ = shared_layout::QuadTermsCount(c, r);
  const uint64_t arrayBytes = (countS + countQ) * sizeof(T);
  if (arrayBytes > PhysicalMemoryBytes()) {
    jor_log::LogF(__FILE__, fn, __LINE__, jor_log::kError, "The precomputed model needs %llu bytes",
                  static_cast<unsigned long long>(arrayBytes));
    return jor::kExtractorNoMemory;
  }
  privateSigmaInvT.reset(static_cast<T*>(AllocateModelArray(countS * sizeof(T))));
  privateQuadTerms.reset(static_cast<T*>(AllocateModelArray(countQ * sizeof(T))));
  if (!privateSigmaInvT || !privateQuadTerms) {
    Unload();
    jor_log::LogF(__FILE__, fn, __LINE__, jor_log::kError,
                  "Out of memory for the precomputed model");
    return jor::kExtractorNoMemory;
  }
  const int rc =
      Precompute(c, f, r, t, sigmaInv, reinterpret_cast<unsigned char*>(privateSigmaInvT.get()),
                 reinterpret_cast<unsigned char*>(privateQuadTerms.get()));
  if (rc != 0) {
    Unload();
    return rc;
  }
  numGaussians = c;
  featureDim = f;
  ivectorDim = r;
  priorOffset = prior;
  sigmaInvT = privateSigmaInvT.get();
  quadTerms = privateQuadTerms.get();
  return 0;
}

template <class T>
int Extractor<T>::Attach(const uint64_t* expectedHash) {
  const char* fn = Name<T>("Extractor<float>::Attach", "Extractor<double>::Attach");
  const void* base = nullptr;
  size_t size = 0;
  try {
    if (!shmem) shmem = std::make_unique<ShmemManager>();
    base = shmem->OpenForRead();
    size = shmem->RegionSize();
  } catch (const boost::interprocess::interprocess_exception& e) {
    shmem = std::make_unique<ShmemManager>();
    jor_log::LogF(__FILE__, fn, __LINE__, jor_log::kError, "Cannot attach the shared model: %s",
                  e.what());
    return jor::kSharedMemoryError;
  } catch (const std::bad_alloc&) {
    return jor::kExtractorNoMemory;
  }
  const auto* bytes = static_cast<const unsigned char*>(base);
  int32_t elemSize = 0;
  int32_t dims[3] = {0, 0, 0};
  if (size >= shared_layout::HeaderBytes(4)) {
    elemSize = shared_layout::LoadElemSize(base);
    std::memcpy(dims, bytes + shared_layout::kGaussiansOffset, sizeof dims);
  }
  int rc = 0;
  if (elemSize == 0) {
    jor_log::LogF(__FILE__, fn, __LINE__, jor_log::kError,
                  "The shared model is incomplete; remove it and load again");
    rc = jor::kSharedMemoryError;
  } else if (elemSize != static_cast<int32_t>(sizeof(T))) {
    jor_log::LogF(__FILE__, fn, __LINE__, jor_log::kDebug, "Shared model element size %d is not %d",
                  static_cast<int>(elemSize), static_cast<int>(sizeof(T)));
    // With a model file of this element size in hand, it is another model.
    rc = expectedHash ? kSegmentOfAnotherModel : jor::kExtractorFormatError;
  } else {
    const uint64_t need = shared_layout::SegmentBytes(elemSize, dims[0], dims[1], dims[2]);
    if (need == 0 || need > size) {
      jor_log::LogF(__FILE__, fn, __LINE__, jor_log::kError,
                    "The shared model header does not match its size (%llu bytes)",
                    static_cast<unsigned long long>(size));
      rc = jor::kSharedMemoryError;
    } else if (expectedHash != nullptr) {
      // A segment without the trailer (or with another hash) holds a model
      // that cannot be shown to be this one.
      uint64_t stored = ~*expectedHash;
      if (size - need >= shared_layout::kTrailerBytes &&
          std::memcmp(bytes + need, shared_layout::kTrailerTag,
                      sizeof shared_layout::kTrailerTag) == 0)
        std::memcpy(&stored, bytes + need + sizeof shared_layout::kTrailerTag, sizeof stored);
      if (stored != *expectedHash) {
        jor_log::LogF(__FILE__, fn, __LINE__, jor_log::kWarning,
                      "The shared model's hash %016llx is not this model's %016llx",
                      static_cast<unsigned long long>(stored),
                      static_cast<unsigned long long>(*expectedHash));
        rc = kSegmentOfAnotherModel;
      }
    }
  }
  if (rc != 0) {
    shmem = std::make_unique<ShmemManager>();  // gives up the sharable lock
    return rc;
  }
  numGaussians = dims[0];
  featureDim = dims[1];
  ivectorDim = dims[2];
  std::memcpy(&priorOffset, bytes + shared_layout::kPriorOffset, sizeof(T));
  const size_t headerBytes = static_cast<size_t>(shared_layout::HeaderBytes(elemSize));
  const uint64_t countS = shared_layout::SigmaInvTCount(numGaussians, featureDim, ivectorDim);
  sigmaInvT = reinterpret_cast<const Elem*>(bytes + headerBytes);
  quadTerms =
      reinterpret_cast<const Elem*>(bytes + headerBytes + static_cast<size_t>(countS) * sizeof(T));
  sharedHeader = base;
  return 0;
}

template <class T>
int Extractor<T>::Precompute(int c, int f, int r, const T* t, const T* sigmaInvPacked,
                             unsigned char* sigmaInvTOut, unsigned char* quadTermsOut) {
  using Mat = Eigen::Matrix<T, Eigen::Dynamic, Eigen::Dynamic, Eigen::RowMajor>;
  if (t == nullptr || sigmaInvPacked == nullptr || sigmaInvTOut == nullptr ||
      quadTermsOut == nullptr)
    return jor::kExtractorNoMemory;
  const size_t F = static_cast<size_t>(f);
  const size_t R = static_cast<size_t>(r);
  const size_t packedSigma = F * (F + 1) / 2;
  const size_t packedQuad = R * (R + 1) / 2;
  Mat sigma(f, f);
  Mat product(f, r);
  Mat quad(r, r);
  for (size_t g = 0; g < static_cast<size_t>(c); ++g) {
    const T* packed = sigmaInvPacked + g * packedSigma;
    for (size_t i = 0; i < F; ++i) {
      const T* row = packed + i * (i + 1) / 2;
      for (size_t j = 0; j <= i; ++j) sigma(i, j) = sigma(j, i) = row[j];
    }
    Eigen::Map<const Mat> tg(t + g * F * R, f, r);
    if (sigma.cols() != tg.rows()) return jor::kShapeMismatch;
    product.noalias() = sigma * tg;
    // Copied bytewise: a double model in the shared segment is not 8-byte aligned.
    std::memcpy(sigmaInvTOut + g * F * R * sizeof(T), product.data(), F * R * sizeof(T));
    // The full product is several times faster than Eigen's triangular one.
    quad.noalias() = tg.transpose() * product;
    unsigned char* out = quadTermsOut + g * packedQuad * sizeof(T);
    for (size_t i = 0; i < R; ++i)
      std::memcpy(out + i * (i + 1) / 2 * sizeof(T), quad.data() + i * R, (i + 1) * sizeof(T));
  }
  return 0;
}

template <class T>
int Extractor<T>::Extract(const UtteranceStats<T>& stats, std::vector<T>& ivector) const {
  const char* fn = Name<T>("Extractor<float>::Extract", "Extractor<double>::Extract");
  if (sigmaInvT == nullptr || quadTerms == nullptr) {
    jor_log::LogF(__FILE__, fn, __LINE__, jor_log::kError, "No i-vector extractor model loaded");
    return jor::kExtractorFormatError;
  }
  const size_t C = static_cast<size_t>(numGaussians);
  const size_t F = static_cast<size_t>(featureDim);
  const size_t R = static_cast<size_t>(ivectorDim);
  bool match = stats.numGaussians == numGaussians && stats.featureDim == featureDim &&
               stats.zeroth.size() == C && stats.first.size() == C;
  for (size_t g = 0; match && g < C; ++g) match = stats.first[g].size() == F;
  if (!match) {
    jor_log::LogF(__FILE__, fn, __LINE__, jor_log::kError,
                  "Statistics of %d Gaussians x %d do not fit the model (%d x %d)",
                  stats.numGaussians, stats.featureDim, numGaussians, featureDim);
    return jor::kShapeMismatch;
  }
  try {
    std::vector<size_t> active;
    active.reserve(C);
    for (size_t g = 0; g < C; ++g)
      if (stats.zeroth[g] != T(0)) active.push_back(g);

    // Linear term: prior offset plus Σ_c (Σ_c⁻¹T_c)ᵀ f_c.
    std::vector<T> linear(R, T(0));
    linear[0] = priorOffset;
    for (size_t g : active) {
      const Elem* s = sigmaInvT + g * F * R;
      const T* x = stats.first[g].data();
      size_t d = 0;
      for (; d + 4 <= F; d += 4)
        Axpy4(linear.data(), s + d * R, s + (d + 1) * R, s + (d + 2) * R, s + (d + 3) * R, x[d],
              x[d + 1], x[d + 2], x[d + 3], R);
      for (; d < F; ++d) Axpy1(linear.data(), s + d * R, x[d], R);
    }

    // Precision: I + Σ_c γ_c U_c, packed lower.
    const size_t packed = R * (R + 1) / 2;
    std::vector<T> precision(packed, T(0));
    for (size_t i = 0; i < R; ++i) precision[i * (i + 1) / 2 + i] = T(1);
    size_t k = 0;
    for (; k + 4 <= active.size(); k += 4) {
      const size_t g0 = active[k], g1 = active[k + 1], g2 = active[k + 2], g3 = active[k + 3];
      Axpy4(precision.data(), quadTerms + g0 * packed, quadTerms + g1 * packed,
            quadTerms + g2 * packed, quadTerms + g3 * packed, stats.zeroth[g0], stats.zeroth[g1],
            stats.zeroth[g2], stats.zeroth[g3], packed);
    }
    for (; k < active.size(); ++k)
      Axpy1(precision.data(), quadTerms + active[k] * packed, stats.zeroth[active[k]], packed);

    // Full symmetric system with the linear term as last column.
    const size_t stride = R + 1;
    std::vector<T> aug(R * stride);
    for (size_t i = 0; i < R; ++i) {
      const T* row = precision.data() + i * (i + 1) / 2;
      for (size_t j = 0; j <= i; ++j) {
        aug[i * stride + j] = row[j];
        aug[j * stride + i] = row[j];
      }
      aug[i * stride + R] = linear[i];
    }
    if (!GaussJordan(aug.data(), R)) {
      jor_log::LogF(__FILE__, fn, __LINE__, jor_log::kError, "The precision matrix is singular");
      return jor::kSingularMatrix;
    }
    ivector.resize(R);
    for (size_t i = 0; i < R; ++i) ivector[i] = aug[i * stride + R];
    ivector[0] -= priorOffset;
    return 0;
  } catch (const std::bad_alloc&) {
    jor_log::LogF(__FILE__, fn, __LINE__, jor_log::kError, "Out of memory extracting");
    return jor::kExtractorNoMemory;
  }
}

template class Extractor<float>;
template class Extractor<double>;

}  // namespace ivext
