// The x-vector network as stored in "xe5.pb": frame-level layers (1-D
// convolutions over time), one statistics-pooling layer and segment-level
// affine layers. The byte layout is documented in brindle/README.md.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include <Eigen/Core>

namespace brindle {

enum class LayerKind : uint32_t { kFrame = 1, kPooling = 2, kSegment = 3 };
enum class Activation : uint32_t { kNone = 0, kRelu = 1 };

constexpr char kMagic[4] = {'X', 'E', '5', 'N'};
constexpr uint32_t kFormatVersion = 1;
constexpr size_t kHeaderBytes = 32;
constexpr size_t kRecordHeaderBytes = 32;
constexpr size_t kChecksumBytes = 4;
constexpr uint32_t kFlagScaleShift = 1;

// Limits that keep every size computation far from overflow.
constexpr uint32_t kMaxLayers = 64;
constexpr uint32_t kMaxDim = 65536;
constexpr uint32_t kMaxContext = 32;
constexpr int kMaxOffset = 256;
constexpr size_t kMaxFileBytes = size_t{1} << 31;

using RowMatrixXf = Eigen::Matrix<float, Eigen::Dynamic, Eigen::Dynamic, Eigen::RowMajor>;

struct Layer {
  LayerKind kind = LayerKind::kFrame;
  int inputDim = 0;
  int outputDim = 0;
  std::vector<int> offsets;  // frame layers: strictly increasing
  Activation activation = Activation::kNone;
  bool hasScaleShift = false;
  // outputDim x (offsets.size() * inputDim); columns grouped by offset.
  RowMatrixXf weight;
  Eigen::VectorXf bias;
  Eigen::VectorXf scale;  // applied after the activation when hasScaleShift
  Eigen::VectorXf shift;
  float varianceFloor = 0.0f;  // pooling only

  int MinOffset() const { return offsets.empty() ? 0 : offsets.front(); }
  int MaxOffset() const { return offsets.empty() ? 0 : offsets.back(); }
  // Frames lost at the edges: output count = input count - Span().
  int Span() const { return MaxOffset() - MinOffset(); }
  // Consecutive offsets: a spliced column is a contiguous run of input columns.
  bool Contiguous() const { return Span() + 1 == static_cast<int>(offsets.size()); }
};

struct Model {
  int inputDim = 0;
  int embeddingDim = 0;
  std::vector<Layer> frameLayers;
  Layer pooling;
  std::vector<Layer> segmentLayers;
};

// Parses a whole file image. Returns 0 or one of the model-data results of
// common/result-codes.h; `model` is filled only on success.
uint32_t ParseModel(const uint8_t* data, size_t size, Model* model);

// Reads and parses the file at `path`.
uint32_t ReadModelFile(const std::string& path, Model* model);

}  // namespace brindle
