#include "IvectorExt/featext/split-radix-fft.h"

#include <cmath>
#include <stdexcept>
#include <utility>

namespace jor_feat {

namespace {

constexpr double kTwoPi = 6.283185307179586476925286766559;

bool IsPowerOfTwoOrZero(int32_t n) {
  return n >= 0 && (n & (n - 1)) == 0;
}

}  // namespace

template <typename T>
SplitRadixComplexFft<T>::SplitRadixComplexFft(int32_t n) : n_(n), logn_(0) {
  if (!IsPowerOfTwoOrZero(n)) {
    throw std::invalid_argument("SplitRadixComplexFft: size must be a power of two");
  }
  for (int32_t m = n; m > 1; m >>= 1) ++logn_;
  BuildTables();
}

template <typename T>
void SplitRadixComplexFft<T>::BuildTables() {
  int32_t lg2 = (logn_ + 1) >> 1;
  // At least two seeds: seed[1] is always written.
  digit_reverse_seeds_.assign(lg2 < 1 ? 2 : (size_t{1} << lg2), 0);
  digit_reverse_seeds_[0] = 0;
  digit_reverse_seeds_[1] = 1;
  for (int32_t j = 2; j <= lg2; ++j) {
    const int32_t imax = 1 << (j - 1);
    for (int32_t i = 0; i < imax; ++i) {
      digit_reverse_seeds_[i] <<= 1;
      digit_reverse_seeds_[i + imax] = digit_reverse_seeds_[i] + 1;
    }
  }

  // Where the permutation takes each output from, found by permuting the
  // indices themselves.
  digit_reverse_order_.resize(n_ > 0 ? n_ : 0);
  for (int32_t i = 0; i < n_; ++i) digit_reverse_order_[i] = i;
  if (logn_ > 1) DigitReversePermute(digit_reverse_order_.data());

  twiddle_tables_.clear();
  if (logn_ < 4) return;
  twiddle_tables_.resize(logn_ - 3);
  for (int32_t q = logn_; q >= 4; --q) {
    const int32_t m = 1 << q, m4 = m / 4, m8 = m / 8;
    const int32_t nel = m4 - 2;
    std::vector<T>& tab = twiddle_tables_[q - 4];
    tab.assign(6 * static_cast<size_t>(nel), T(0));
    T* cn = tab.data();
    T* spcn = cn + nel;
    T* smcn = spcn + nel;
    T* c3n = smcn + nel;
    T* spc3n = c3n + nel;
    T* smc3n = spc3n + nel;
    for (int32_t n = 1; n < m4; ++n) {
      if (n == m8) continue;
      T ang = static_cast<T>(n * kTwoPi / m);
      T c = std::cos(ang), s = std::sin(ang);
      *cn++ = c;
      *spcn++ = -(s + c);
      *smcn++ = s - c;
      ang = static_cast<T>(3 * n * kTwoPi / m);
      c = std::cos(ang);
      s = std::sin(ang);
      *c3n++ = c;
      *spc3n++ = -(s + c);
      *smc3n++ = s - c;
    }
  }
}

template <typename T>
void SplitRadixComplexFft<T>::Compute(T* xr, T* xi, bool forward) {
  if (!forward) std::swap(xr, xi);
  SplitRadixPass(xr, xi, logn_);
  if (logn_ > 1) {
    DigitReversePermute(xr);
    DigitReversePermute(xi);
  }
}

template <typename T>
void SplitRadixComplexFft<T>::ComputeUnordered(T* xr, T* xi, bool forward) {
  if (!forward) std::swap(xr, xi);
  SplitRadixPass(xr, xi, logn_);
}

template <typename T>
void SplitRadixComplexFft<T>::Compute(T* x, bool forward, std::vector<T>* temp_buffer) {
  const int32_t n = n_;
  if (n <= 1) return;
  if (temp_buffer->size() != static_cast<size_t>(n)) temp_buffer->resize(n);
  T* tmp = temp_buffer->data();
  // Real parts to the first half (reads stay ahead of writes), imaginary
  // parts to the second half through the buffer.
  for (int32_t i = 0; i < n; ++i) {
    const T re = x[2 * i], im = x[2 * i + 1];
    x[i] = re;
    tmp[i] = im;
  }
  for (int32_t i = 0; i < n; ++i) x[n + i] = tmp[i];
  Compute(x, x + n, forward);
  for (int32_t i = 0; i < n; ++i) tmp[i] = x[n + i];
  for (int32_t i = n - 1; i > 0; --i) {
    x[2 * i] = x[i];
    x[2 * i + 1] = tmp[i];
  }
  x[1] = tmp[0];
}

namespace {

// Transforms of 2, 4 and 8 points, inlined into their callers: most of the
// recursion's calls would otherwise go to these tiny sizes.
template <typename T>
inline void Butterfly(T* a, T* b) {
  const T t = *a + *b;
  *b = *a - *b;
  *a = t;
}

template <typename T>
inline void Pass1(T* xr, T* xi) {
  Butterfly(xr, xr + 1);
  Butterfly(xi, xi + 1);
}

// The -i rotation of step 2 on one (r1, r2) pair.
template <typename T>
inline void RotateMinusI(T* xr, T* xi, int32_t r1, int32_t r2) {
  const T a = xr[r1] + xi[r2];
  const T b = xi[r1] + xr[r2];
  xi[r1] = xi[r1] - xr[r2];
  xr[r2] = xr[r1] - xi[r2];
  xr[r1] = a;
  xi[r2] = b;
}

template <typename T>
inline void Pass2(T* xr, T* xi) {
  Butterfly(xr, xr + 2);
  Butterfly(xi, xi + 2);
  Butterfly(xr + 1, xr + 3);
  Butterfly(xi + 1, xi + 3);
  Butterfly(xr, xr + 1);
  Butterfly(xi, xi + 1);
  RotateMinusI(xr, xi, 2, 3);
}

template <typename T>
inline void Pass3(T* xr, T* xi) {
  for (int32_t n = 0; n < 4; ++n) {
    Butterfly(xr + n, xr + n + 4);
    Butterfly(xi + n, xi + n + 4);
  }
  RotateMinusI(xr, xi, 4, 6);
  RotateMinusI(xr, xi, 5, 7);
  const T sqhalf = static_cast<T>(M_SQRT1_2);
  const T r1 = xr[5], i1 = xi[5], r2 = xr[7], i2 = xi[7];
  xr[5] = sqhalf * (r1 + i1);
  xi[5] = sqhalf * (i1 - r1);
  xr[7] = sqhalf * (i2 - r2);
  xi[7] = -sqhalf * (r2 + i2);
  Pass2(xr, xi);
  Pass1(xr + 4, xi + 4);
  Pass1(xr + 6, xi + 6);
}

template <typename T>
inline void PassSmall(T* xr, T* xi, int32_t logm) {
  switch (logm) {
    case 1:
      Pass1(xr, xi);
      break;
    case 2:
      Pass2(xr, xi);
      break;
    case 3:
      Pass3(xr, xi);
      break;
    default:
      break;
  }
}

}  // namespace

template <typename T>
void SplitRadixComplexFft<T>::SplitRadixPass(T* xr, T* xi, int32_t logm) {
  if (logm <= 3) {
    PassSmall(xr, xi, logm);
    return;
  }

  const int32_t m = 1 << logm, m2 = m / 2, m4 = m / 4, m8 = m / 8;

  // Step 1: butterflies between the halves.
  for (int32_t n = 0; n < m2; ++n) {
    const T ar = xr[n], br = xr[n + m2], ai = xi[n], bi = xi[n + m2];
    xr[n] = ar + br;
    xr[n + m2] = ar - br;
    xi[n] = ai + bi;
    xi[n + m2] = ai - bi;
  }

  // Steps 2 and 3 on the upper quarters, fused: the -i rotation, then the
  // twiddle of n. n = m/8 is a plain 45-degree rotation that the tables
  // skip, so the runs on either side are straight loops (they vectorise).
  T* xr1 = xr + m2;
  T* xr2 = xr1 + m4;
  T* xi1 = xi + m2;
  T* xi2 = xi1 + m4;
  const int32_t nel = m4 - 2;
  const T* cn = twiddle_tables_[logm - 4].data();
  const T* spcn = cn + nel;
  const T* smcn = spcn + nel;
  const T* c3n = smcn + nel;
  const T* spc3n = c3n + nel;
  const T* smc3n = spc3n + nel;

  RotateMinusI(xr1, xi1, 0, m4);
  auto twiddle = [&](int32_t begin, int32_t end, int32_t table_offset) {
    for (int32_t n = begin; n < end; ++n) {
      const T r1 = xr1[n] + xi2[n];
      const T i2 = xi1[n] + xr2[n];
      const T i1 = xi1[n] - xr2[n];
      const T r2 = xr1[n] - xi2[n];
      const int32_t t = n - table_offset;
      const T a = cn[t] * (r1 + i1);
      xi1[n] = spcn[t] * r1 + a;
      xr1[n] = smcn[t] * i1 + a;
      const T b = c3n[t] * (r2 + i2);
      xi2[n] = spc3n[t] * r2 + b;
      xr2[n] = smc3n[t] * i2 + b;
    }
  };
  twiddle(1, m8, 1);
  {
    RotateMinusI(xr1, xi1, m8, m8 + m4);
    const T sqhalf = static_cast<T>(M_SQRT1_2);
    const T r1 = xr1[m8], i1 = xi1[m8], r2 = xr2[m8], i2 = xi2[m8];
    xr1[m8] = sqhalf * (r1 + i1);
    xi1[m8] = sqhalf * (i1 - r1);
    xr2[m8] = sqhalf * (i2 - r2);
    xi2[m8] = -sqhalf * (r2 + i2);
  }
  twiddle(m8 + 1, m4, 2);

  // Step 4: the first half and the two upper quarters.
  if (logm - 1 <= 3) {
    PassSmall(xr, xi, logm - 1);
  } else {
    SplitRadixPass(xr, xi, logm - 1);
  }
  if (logm - 2 <= 3) {
    PassSmall(xr + m2, xi + m2, logm - 2);
    PassSmall(xr + 3 * m4, xi + 3 * m4, logm - 2);
  } else {
    SplitRadixPass(xr + m2, xi + m2, logm - 2);
    SplitRadixPass(xr + 3 * m4, xi + 3 * m4, logm - 2);
  }
}

template <typename T>
template <typename U>
void SplitRadixComplexFft<T>::DigitReversePermute(U* x) const {
  const int32_t h2 = logn_ >> 1;
  const int32_t n = 1 << h2;
  const int32_t* seed = digit_reverse_seeds_.data();
  for (int32_t off = 1; off < n; ++off) {
    const int32_t fj = n * seed[off];
    std::swap(x[off], x[fj]);
    U* xp = x + off;
    for (int32_t gno = 1; gno < seed[off]; ++gno) {
      xp += n;
      std::swap(*xp, x[fj + seed[gno]]);
    }
  }
}

template <typename T>
SplitRadixRealFft<T>::SplitRadixRealFft(int32_t n_real)
    : SplitRadixComplexFft<T>(n_real >= 2 && n_real % 2 == 0 ? n_real / 2 : -1), n_real_(n_real) {
  // Rotation per bin, w_k = -sign * e^(i sign 2 pi k / N), from the exact
  // angle in double: a running product w_k = w_(k-1) * r would drift by
  // about k rounding errors, which is visible in float at large N.
  const int32_t n2 = n_real / 2;
  const int32_t kmax = n2 / 2;
  for (int dir = 0; dir < 2; ++dir) {
    const bool forward = dir == 0;
    const int sign = forward ? -1 : 1;
    std::vector<T>& cs = forward ? fwd_cos_ : inv_cos_;
    std::vector<T>& sn = forward ? fwd_sin_ : inv_sin_;
    cs.assign(kmax + 1, T(0));
    sn.assign(kmax + 1, T(0));
    for (int32_t k = 1; k <= kmax; ++k) {
      const double ang = sign * kTwoPi * k / n_real;
      cs[k] = static_cast<T>(-sign * std::cos(ang));
      sn[k] = static_cast<T>(-sign * std::sin(ang));
    }
  }
}

template <typename T>
void SplitRadixRealFft<T>::Compute(T* data, bool forward) {
  const int32_t n = n_real_, n2 = n / 2;
  // The N/2 complex points z_j = data[2j] + i data[2j+1] are held split
  // (real parts, then imaginary parts) in the temporary buffer.
  std::vector<T>& buffer = this->temp_buffer_;
  if (buffer.size() != static_cast<size_t>(n)) buffer.resize(n);
  T* __restrict zr = buffer.data();
  T* __restrict zi = zr + n2;
  const T* cs = forward ? fwd_cos_.data() : inv_cos_.data();
  const T* sn = forward ? fwd_sin_.data() : inv_sin_.data();
  if (forward) {
    for (int32_t j = 0; j < n2; ++j) {
      zr[j] = data[2 * j];
      zi[j] = data[2 * j + 1];
    }
    // The permutation is folded into the reads of the twiddle pass below.
    this->ComputeUnordered(zr, zi, true);
  }
  const int32_t* order = this->DigitReverseOrder().data();

  // Twiddle pass, from the complex spectrum B to the packed spectrum A
  // (forward), or back (inverse). Reads and writes never overlap: the
  // forward pass goes from the buffer to data, the inverse from data to
  // the buffer.
  auto twiddle_pass = [&](auto b_re, auto b_im, auto store) {
    for (int32_t k = 1; 2 * k <= n2; ++k) {
      const T w_re = cs[k], w_im = sn[k];
      const int32_t kdash = n2 - k;
      const T bk_re = b_re(k), bk_im = b_im(k);
      const T bj_re = b_re(kdash), bj_im = b_im(kdash);
      const T ck_re = T(0.5) * (bk_re + bj_re);
      const T ck_im = T(0.5) * (bk_im - bj_im);
      const T dk_re = T(0.5) * (bk_im + bj_im);
      const T dk_im = T(-0.5) * (bk_re - bj_re);
      store(k, ck_re + (w_re * dk_re - w_im * dk_im), ck_im + (w_re * dk_im + w_im * dk_re));
      if (kdash != k) {
        // C and D of N/2 - k are the conjugates; its rotation is -conj(w).
        store(kdash, ck_re + (-w_re * dk_re - w_im * -dk_im),
              -ck_im + (-w_re * -dk_im + w_im * dk_re));
      }
    }
  };
  auto packed_re = [&](int32_t k) { return data[2 * k]; };
  auto packed_im = [&](int32_t k) { return data[2 * k + 1]; };
  auto ordered_re = [&](int32_t k) { return zr[order[k]]; };
  auto ordered_im = [&](int32_t k) { return zi[order[k]]; };
  if (forward) {
    twiddle_pass(ordered_re, ordered_im, [&](int32_t k, T re, T im) {
      data[2 * k] = re;
      data[2 * k + 1] = im;
    });
    const T b0_re = ordered_re(0), b0_im = ordered_im(0);
    data[0] = b0_re + b0_im;
    data[1] = b0_re - b0_im;
    return;
  }
  twiddle_pass(packed_re, packed_im, [&](int32_t k, T re, T im) {
    zr[k] = re;
    zi[k] = im;
  });
  const T b0_re = packed_re(0), b0_im = packed_im(0);
  zr[0] = (b0_re + b0_im) / 2;
  zi[0] = (b0_re - b0_im) / 2;
  SplitRadixComplexFft<T>::Compute(zr, zi, false);
  for (int32_t j = 0; j < n2; ++j) {
    data[2 * j] = zr[j] * 2;
    data[2 * j + 1] = zi[j] * 2;
  }
}

template class SplitRadixComplexFft<float>;
template class SplitRadixComplexFft<double>;
template class SplitRadixRealFft<float>;
template class SplitRadixRealFft<double>;

}  // namespace jor_feat
