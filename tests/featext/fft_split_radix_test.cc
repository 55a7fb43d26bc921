// Split-radix complex and real FFT against a naive DFT in double precision.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <random>
#include <stdexcept>
#include <vector>

#include "IvectorExt/featext/split-radix-fft.h"

namespace jor_feat {
namespace {

using cd = std::complex<double>;

std::vector<cd> NaiveDft(const std::vector<cd>& x, bool forward) {
  const size_t n = x.size();
  std::vector<cd> y(n);
  const double sign = forward ? -1.0 : 1.0;
  // Powers of the root of unity, indexed by k*j mod n.
  std::vector<cd> root(n);
  for (size_t m = 0; m < n; ++m) {
    const double ang = sign * 2.0 * M_PI * static_cast<double>(m) / static_cast<double>(n);
    root[m] = cd(std::cos(ang), std::sin(ang));
  }
  for (size_t k = 0; k < n; ++k) {
    cd s = 0;
    for (size_t j = 0; j < n; ++j) s += x[j] * root[(k * j) % n];
    y[k] = s;
  }
  return y;
}

// Relative tolerance on the largest output magnitude.
template <typename T>
double Tolerance();
template <>
double Tolerance<float>() {
  return 2e-6;
}
template <>
double Tolerance<double>() {
  return 1e-13;
}

template <typename T>
void CheckComplex(int n, std::mt19937* rng) {
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  std::vector<cd> x(n);
  for (auto& v : x) v = cd(static_cast<T>(u(*rng)), static_cast<T>(u(*rng)));
  for (bool forward : {true, false}) {
    const std::vector<cd> ref = NaiveDft(x, forward);
    double peak = 1.0;
    for (const cd& v : ref) peak = std::max(peak, std::abs(v));
    const double tol = Tolerance<T>() * peak * std::log2(2.0 * n);

    SplitRadixComplexFft<T> fft(n);
    // Interleaved form.
    std::vector<T> data(2 * n);
    for (int i = 0; i < n; ++i) {
      data[2 * i] = static_cast<T>(x[i].real());
      data[2 * i + 1] = static_cast<T>(x[i].imag());
    }
    std::vector<T> tmp;
    fft.Compute(data.data(), forward, &tmp);
    // Split form.
    std::vector<T> xr(n), xi(n);
    for (int i = 0; i < n; ++i) {
      xr[i] = static_cast<T>(x[i].real());
      xi[i] = static_cast<T>(x[i].imag());
    }
    fft.Compute(xr.data(), xi.data(), forward);
    for (int k = 0; k < n; ++k) {
      ASSERT_NEAR(data[2 * k], ref[k].real(), tol) << "n=" << n << " k=" << k;
      ASSERT_NEAR(data[2 * k + 1], ref[k].imag(), tol) << "n=" << n << " k=" << k;
      ASSERT_NEAR(xr[k], ref[k].real(), tol) << "n=" << n << " k=" << k;
      ASSERT_NEAR(xi[k], ref[k].imag(), tol) << "n=" << n << " k=" << k;
    }
  }
}

template <typename T>
void CheckReal(int n, std::mt19937* rng) {
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  std::vector<T> input(n);
  std::vector<cd> x(n);
  for (int i = 0; i < n; ++i) {
    input[i] = static_cast<T>(u(*rng));
    x[i] = cd(input[i], 0.0);
  }
  const std::vector<cd> ref = NaiveDft(x, true);
  double peak = 1.0;
  for (const cd& v : ref) peak = std::max(peak, std::abs(v));
  const double tol = Tolerance<T>() * peak * std::log2(2.0 * n);

  SplitRadixRealFft<T> fft(n);
  std::vector<T> data = input;
  fft.Compute(data.data(), true);
  ASSERT_NEAR(data[0], ref[0].real(), tol) << "n=" << n;
  ASSERT_NEAR(data[1], ref[n / 2].real(), tol) << "n=" << n;
  for (int k = 1; k < n / 2; ++k) {
    ASSERT_NEAR(data[2 * k], ref[k].real(), tol) << "n=" << n << " k=" << k;
    ASSERT_NEAR(data[2 * k + 1], ref[k].imag(), tol) << "n=" << n << " k=" << k;
  }
  // Inverse after forward gives n times the input.
  fft.Compute(data.data(), false);
  const double tol_back = Tolerance<T>() * n * std::log2(2.0 * n);
  for (int i = 0; i < n; ++i) {
    ASSERT_NEAR(data[i], n * static_cast<double>(input[i]), tol_back) << "n=" << n << " i=" << i;
  }
}

TEST(FftSplitRadix, AgainstNaiveDft) {
  std::mt19937 rng(12345);
  for (int n = 1; n <= 2048; n *= 2) {
    CheckComplex<float>(n, &rng);
    CheckComplex<double>(n, &rng);
  }
  for (int n = 2; n <= 4096; n *= 2) {
    CheckReal<float>(n, &rng);
    CheckReal<double>(n, &rng);
  }
}

TEST(FftSplitRadix, RepeatedUseAndCopies) {
  // The same object (and a copy) gives the same result on every call.
  std::mt19937 rng(7);
  std::uniform_real_distribution<float> u(-100.0f, 100.0f);
  std::vector<float> input(256);
  for (float& v : input) v = u(rng);
  SplitRadixRealFft<float> fft(256);
  std::vector<float> a = input;
  fft.Compute(a.data(), true);
  SplitRadixRealFft<float> copy(fft);
  for (int rep = 0; rep < 3; ++rep) {
    std::vector<float> b = input, c = input;
    fft.Compute(b.data(), true);
    copy.Compute(c.data(), true);
    for (int i = 0; i < 256; ++i) {
      ASSERT_EQ(a[i], b[i]);
      ASSERT_EQ(a[i], c[i]);
    }
  }
}

TEST(FftSplitRadix, PackedLayout) {
  struct Case {
    bool alternating;
    int index_of_peak;  // the one non-zero packed value
  };
  for (const Case c : {Case{false, 0}, Case{true, 1}}) {
    for (int n : {2, 4, 8, 256, 512}) {
      std::vector<double> d(n);
      std::vector<float> f(n);
      for (int i = 0; i < n; ++i) d[i] = f[i] = (c.alternating && (i % 2)) ? -1.0f : 1.0f;
      SplitRadixRealFft<double> fd(n);
      SplitRadixRealFft<float> ff(n);
      fd.Compute(d.data(), true);
      ff.Compute(f.data(), true);
      for (int i = 0; i < n; ++i) {
        const double expected = i == c.index_of_peak ? n : 0.0;
        ASSERT_NEAR(d[i], expected, 1e-12 * n) << "n=" << n << " i=" << i;
        ASSERT_NEAR(f[i], expected, 1e-5 * n) << "n=" << n << " i=" << i;
      }
    }
  }
}

TEST(FftSplitRadix, RejectsBadSizes) {
  for (int n : {3, 6, 100, -4}) {
    EXPECT_THROW(SplitRadixComplexFft<float>{n}, std::invalid_argument) << n;
  }
  for (int n : {0, 1, 3, 6, 200}) {
    EXPECT_THROW(SplitRadixRealFft<double>{n}, std::invalid_argument) << n;
  }
}

}  // namespace
}  // namespace jor_feat
