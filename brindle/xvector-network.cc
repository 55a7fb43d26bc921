#include "brindle/xvector-network.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "common/result-codes.h"

namespace brindle {
namespace {

using MatrixMap = Eigen::Map<Eigen::MatrixXf>;
using ConstMatrixMap = Eigen::Map<const Eigen::MatrixXf>;
using SpliceMap = Eigen::Map<const Eigen::MatrixXf, 0, Eigen::OuterStride<>>;

bool AllFinite(const float* p, size_t n) {
  bool ok = true;
  for (size_t i = 0; i < n; ++i) ok &= std::isfinite(p[i]);
  return ok;
}

// Bias, activation and the folded normalisation, in one sweep over the output.
void FinishFrameOutput(const Layer& layer, MatrixMap& y) {
  const int rows = layer.outputDim;
  const float* b = layer.bias.data();
  const float* s = layer.hasScaleShift ? layer.scale.data() : nullptr;
  const float* t = layer.hasScaleShift ? layer.shift.data() : nullptr;
  const bool relu = layer.activation == Activation::kRelu;
  for (Eigen::Index col = 0; col < y.cols(); ++col) {
    float* v = y.data() + col * rows;
    for (int r = 0; r < rows; ++r) v[r] += b[r];
    if (relu)
      for (int r = 0; r < rows; ++r) v[r] = std::max(v[r], 0.0f);
    if (s)
      for (int r = 0; r < rows; ++r) v[r] = v[r] * s[r] + t[r];
  }
}

}  // namespace

XvectorNetwork::XvectorNetwork(Model model) : model_(std::move(model)) {
  // Settles Eigen's lazily computed cache sizes before threads share the network.
  Eigen::initParallel();
  int lead = 0;
  for (const Layer& layer : model_.frameLayers) {
    span_ += layer.Span();
    lead -= layer.MinOffset();
    maxFrameOutput_ = std::max(maxFrameOutput_, layer.outputDim);
    if (!layer.Contiguous())
      maxSpliceRows_ = std::max(maxSpliceRows_, layer.offsets.size() * layer.inputDim);
  }
  leadPadding_ = std::clamp(lead, 0, span_);
}

uint32_t XvectorNetwork::Compute(const float* features, size_t count, std::vector<float>* embedding,
                                 size_t blockFrames) const {
  if (count == 0) return jor::kXvectorEmptyInput;
  const size_t dim = static_cast<size_t>(model_.inputDim);
  if (count % dim != 0) return jor::kXvectorInputNotWholeRows;
  if (!AllFinite(features, count)) return jor::kXvectorInputNotFinite;

  const size_t span = static_cast<size_t>(span_);
  size_t frames = count / dim;
  const float* x = features;
  std::vector<float> padded;
  if (frames <= span) {
    // Too short for the context: repeat the edge frames so that each real
    // frame still yields one frame-level output.
    const size_t lead = static_cast<size_t>(leadPadding_);
    padded.resize((frames + span) * dim);
    for (size_t i = 0; i < frames + span; ++i) {
      const size_t src = i < lead ? 0 : std::min(i - lead, frames - 1);
      std::copy_n(features + src * dim, dim, padded.data() + i * dim);
    }
    x = padded.data();
    frames += span;
  }
  const size_t outputs = frames - span;
  const size_t block = std::min(outputs, std::max<size_t>(blockFrames, 1));

  const size_t maxColumns = block + span;
  Eigen::VectorXf bufferA(static_cast<Eigen::Index>(maxFrameOutput_ * maxColumns));
  Eigen::VectorXf bufferB(bufferA.size());
  Eigen::VectorXf splice(static_cast<Eigen::Index>(maxSpliceRows_ * maxColumns));
  float* buffers[2] = {bufferA.data(), bufferB.data()};

  const Layer& pooling = model_.pooling;
  const int pooledDim = pooling.inputDim;
  std::vector<double> sum(pooledDim, 0.0), sumSq(pooledDim, 0.0);

  for (size_t first = 0; first < outputs; first += block) {
    const size_t blockOutputs = std::min(block, outputs - first);
    const float* in = x + first * dim;
    Eigen::Index inDim = model_.inputDim;
    Eigen::Index n = static_cast<Eigen::Index>(blockOutputs + span);
    int which = 0;
    for (const Layer& layer : model_.frameLayers) {
      const Eigen::Index nOut = n - layer.Span();
      const Eigen::Index rows = static_cast<Eigen::Index>(layer.offsets.size()) * inDim;
      MatrixMap y(buffers[which], layer.outputDim, nOut);
      if (layer.Contiguous()) {
        // Consecutive offsets: column t of the spliced input is the contiguous
        // run of input columns t..t+span, read in place.
        y.noalias() = layer.weight * SpliceMap(in, rows, nOut, Eigen::OuterStride<>(inDim));
      } else {
        ConstMatrixMap input(in, inDim, n);
        MatrixMap spliced(splice.data(), rows, nOut);
        const int minOffset = layer.MinOffset();
        for (size_t j = 0; j < layer.offsets.size(); ++j)
          spliced.middleRows(static_cast<Eigen::Index>(j) * inDim, inDim) =
              input.middleCols(layer.offsets[j] - minOffset, nOut);
        y.noalias() = layer.weight * spliced;
      }
      FinishFrameOutput(layer, y);
      in = y.data();
      inDim = layer.outputDim;
      n = nOut;
      which ^= 1;
    }
    for (Eigen::Index col = 0; col < n; ++col) {
      const float* v = in + col * pooledDim;
      for (int r = 0; r < pooledDim; ++r) {
        const double d = v[r];
        sum[r] += d;
        sumSq[r] += d * d;
      }
    }
  }

  Eigen::VectorXf pooled(2 * pooledDim);
  const double count_d = static_cast<double>(outputs);
  const double floor = pooling.varianceFloor;
  for (int r = 0; r < pooledDim; ++r) {
    const double mean = sum[r] / count_d;
    const double var = std::max(sumSq[r] / count_d - mean * mean, floor);
    pooled[r] = static_cast<float>(mean);
    pooled[pooledDim + r] = static_cast<float>(std::sqrt(var));
  }
  const Layer& segment = model_.segmentLayers.front();
  Eigen::VectorXf e = segment.bias;
  e.noalias() += segment.weight * pooled;
  if (!AllFinite(e.data(), static_cast<size_t>(e.size()))) return jor::kXvectorOutputNotFinite;
  embedding->assign(e.data(), e.data() + e.size());
  return 0;
}

}  // namespace brindle
