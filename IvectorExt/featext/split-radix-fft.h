// Split-radix FFT for power-of-two sizes, unnormalised in both directions.
//
// Usage:
//   SplitRadixRealFft<float> fft(256);   // tables built once
//   fft.Compute(frame, /*forward=*/true); // in place, packed output:
//   // data[0] = Re bin 0, data[1] = Re bin N/2, data[2k], data[2k+1] = bin k.
// Inverse after forward gives N times the input. Compute allocates nothing
// once the object's temporary buffer has grown to size.
#pragma once

#include <cstdint>
#include <vector>

namespace jor_feat {

template <typename T>
class SplitRadixComplexFft {
 public:
  // `n` complex points; must be a power of two (0 and 1 are accepted and
  // leave the data untouched).
  explicit SplitRadixComplexFft(int32_t n);
  SplitRadixComplexFft(const SplitRadixComplexFft&) = default;
  SplitRadixComplexFft& operator=(const SplitRadixComplexFft&) = default;
  virtual ~SplitRadixComplexFft() = default;

  // Interleaved data: x[2i] real, x[2i+1] imaginary, 2N values.
  // `temp_buffer` is resized to N on use.
  void Compute(T* x, bool forward, std::vector<T>* temp_buffer);
  void Compute(T* x, bool forward) { Compute(x, forward, &temp_buffer_); }
  // Split data: N real parts and N imaginary parts.
  void Compute(T* xr, T* xi, bool forward);

  int32_t N() const { return n_; }

 protected:
  // The transform without the final digit-reverse permutation: output k is
  // left at position DigitReverseOrder()[k] (for N >= 4; else in place).
  void ComputeUnordered(T* xr, T* xi, bool forward);
  const std::vector<int32_t>& DigitReverseOrder() const { return digit_reverse_order_; }

  std::vector<T> temp_buffer_;

 private:
  void BuildTables();
  void SplitRadixPass(T* xr, T* xi, int32_t logm);
  template <typename U>
  void DigitReversePermute(U* x) const;

  int32_t n_;
  int32_t logn_;
  std::vector<int32_t> digit_reverse_seeds_;
  // Level q - 4 holds the six arrays for sub-transforms of 2^q points.
  std::vector<std::vector<T>> twiddle_tables_;
  std::vector<int32_t> digit_reverse_order_;
};

template <typename T>
class SplitRadixRealFft : private SplitRadixComplexFft<T> {
 public:
  // `n_real` real points: an even power of two (2 or more).
  explicit SplitRadixRealFft(int32_t n_real);
  SplitRadixRealFft(const SplitRadixRealFft&) = default;
  SplitRadixRealFft& operator=(const SplitRadixRealFft&) = default;
  ~SplitRadixRealFft() override = default;

  // In place on `n_real` values. Forward writes the packed spectrum; inverse
  // reads it and writes n_real times the signal.
  virtual void Compute(T* data, bool forward);

  int32_t NReal() const { return n_real_; }

 private:
  int32_t n_real_;
  // cos/sin of the per-bin rotation, precomputed for both directions so the
  // twiddle pass does no trigonometry per call.
  std::vector<T> fwd_cos_, fwd_sin_, inv_cos_, inv_sin_;
};

}  // namespace jor_feat
