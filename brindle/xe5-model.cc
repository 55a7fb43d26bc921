#include "brindle/xe5-model.h"

#include <bit>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>

#include "brindle/crc32.h"
#include "common/result-codes.h"

namespace brindle {
namespace {

static_assert(std::endian::native == std::endian::little,
              "xe5.pb is read in place as little-endian");

// Bounds-checked little-endian reader over the file image.
class Cursor {
 public:
  Cursor(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  size_t pos() const { return pos_; }
  size_t Left() const { return size_ - pos_; }
  uint32_t U32() { return Get<uint32_t>(); }
  int32_t I32() { return Get<int32_t>(); }
  uint64_t U64() { return Get<uint64_t>(); }
  float F32() { return Get<float>(); }
  // Copies n floats; the caller has checked that they are there.
  void Floats(float* out, size_t n) {
    std::memcpy(out, data_ + pos_, n * sizeof(float));
    pos_ += n * sizeof(float);
  }

 private:
  template <typename T>
  T Get() {
    T v;
    std::memcpy(&v, data_ + pos_, sizeof(T));
    pos_ += sizeof(T);
    return v;
  }
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
};

bool AllFinite(const float* p, size_t n) {
  bool ok = true;
  for (size_t i = 0; i < n; ++i) ok &= std::isfinite(p[i]);
  return ok;
}

bool DimOk(uint32_t d) {
  return d >= 1 && d <= kMaxDim;
}

// Parameter bytes that follow a record's offsets.
uint64_t ParameterBytes(LayerKind kind, uint64_t in, uint64_t out, uint64_t context, bool scaled) {
  if (kind == LayerKind::kPooling) return 4;
  const uint64_t cols = kind == LayerKind::kFrame ? context * in : in;
  return 4 * (out * cols + out + (scaled ? 2 * out : 0));
}

uint32_t ReadAffine(Cursor& cur, Layer& layer, size_t cols) {
  layer.weight.resize(layer.outputDim, static_cast<Eigen::Index>(cols));
  layer.bias.resize(layer.outputDim);
  cur.Floats(layer.weight.data(), layer.weight.size());
  cur.Floats(layer.bias.data(), layer.bias.size());
  bool finite = AllFinite(layer.weight.data(), layer.weight.size()) &&
                AllFinite(layer.bias.data(), layer.bias.size());
  if (layer.hasScaleShift) {
    layer.scale.resize(layer.outputDim);
    layer.shift.resize(layer.outputDim);
    cur.Floats(layer.scale.data(), layer.scale.size());
    cur.Floats(layer.shift.data(), layer.shift.size());
    finite = finite && AllFinite(layer.scale.data(), layer.scale.size()) &&
             AllFinite(layer.shift.data(), layer.shift.size());
  }
  return finite ? 0 : jor::kXvectorBadParameter;
}

// Kinds accepted at a position: bit (kind - 1).
constexpr uint32_t kAllowFrame = 1, kAllowPooling = 2, kAllowSegment = 4;

// One layer record at the cursor; `expectedIn` is the previous layer's output.
uint32_t ReadLayer(Cursor& cur, size_t end, uint32_t expectedIn, uint32_t allowed, Layer& layer) {
  if (end - cur.pos() < kRecordHeaderBytes) return jor::kXvectorBadRecordLength;
  const size_t start = cur.pos();
  const uint32_t kind = cur.U32();
  const uint32_t in = cur.U32();
  const uint32_t out = cur.U32();
  const uint32_t context = cur.U32();
  const uint32_t activation = cur.U32();
  const uint32_t flags = cur.U32();
  const uint64_t recordBytes = cur.U64();

  if (kind < 1 || kind > 3 || (allowed & (1u << (kind - 1))) == 0) return jor::kXvectorBadLayerKind;
  layer.kind = static_cast<LayerKind>(kind);
  if (!DimOk(in) || !DimOk(out)) return jor::kXvectorBadDimension;
  if (layer.kind == LayerKind::kFrame ? (context < 1 || context > kMaxContext) : context != 0)
    return jor::kXvectorBadContext;
  if (layer.kind == LayerKind::kPooling ? (activation != 0 || flags != 0)
                                        : (activation > 1 || (flags & ~kFlagScaleShift) != 0))
    return jor::kXvectorBadActivation;
  const uint64_t expectedBytes = kRecordHeaderBytes + 4ull * context +
                                 ParameterBytes(layer.kind, in, out, context, flags != 0);
  if (recordBytes != expectedBytes || recordBytes > end - start) return jor::kXvectorBadRecordLength;

  layer.offsets.resize(context);
  for (uint32_t i = 0; i < context; ++i) {
    const int32_t o = cur.I32();
    if (o < -kMaxOffset || o > kMaxOffset || (i > 0 && o <= layer.offsets[i - 1]))
      return jor::kXvectorBadContext;
    layer.offsets[i] = o;
  }
  if (in != expectedIn) return jor::kXvectorDimensionMismatch;
  if (layer.kind == LayerKind::kPooling && out != 2 * in) return jor::kXvectorDimensionMismatch;

  layer.inputDim = static_cast<int>(in);
  layer.outputDim = static_cast<int>(out);
  layer.activation = static_cast<Activation>(activation);
  layer.hasScaleShift = (flags & kFlagScaleShift) != 0;
  if (layer.kind == LayerKind::kPooling) {
    layer.varianceFloor = cur.F32();
    if (!std::isfinite(layer.varianceFloor) || layer.varianceFloor < 0.0f) return jor::kXvectorBadParameter;
    return 0;
  }
  const size_t cols = layer.kind == LayerKind::kFrame ? size_t{context} * in : in;
  return ReadAffine(cur, layer, cols);
}

}  // namespace

uint32_t ParseModel(const uint8_t* data, size_t size, Model* model) {
  if (size >= 4 && std::memcmp(data, kMagic, 4) != 0) return jor::kXvectorBadMagic;
  if (size < kHeaderBytes + kChecksumBytes) return jor::kXvectorBadLength;
  Cursor cur(data, size);
  cur.U32();  // magic
  const uint32_t version = cur.U32();
  const uint64_t length = cur.U64();
  const uint32_t inputDim = cur.U32();
  const uint32_t embeddingDim = cur.U32();
  const uint32_t layerCount = cur.U32();
  const uint32_t reserved = cur.U32();
  if (version != kFormatVersion || reserved != 0) return jor::kXvectorBadVersion;
  if (length != size) return jor::kXvectorBadLength;
  const size_t end = size - kChecksumBytes;
  uint32_t stored;
  std::memcpy(&stored, data + end, 4);
  if (Crc32(data, end) != stored) return jor::kXvectorBadChecksum;
  if (layerCount < 3 || layerCount > kMaxLayers) return jor::kXvectorBadLayerKind;
  if (!DimOk(inputDim) || !DimOk(embeddingDim)) return jor::kXvectorBadDimension;

  Model m;
  m.inputDim = static_cast<int>(inputDim);
  m.embeddingDim = static_cast<int>(embeddingDim);
  bool pooled = false;
  uint32_t previousOut = inputDim;
  for (uint32_t i = 0; i < layerCount; ++i) {
    // One or more frame layers, the pooling layer, one or more segment layers.
    const uint32_t allowed =
        pooled ? kAllowSegment : (i == 0 ? kAllowFrame : kAllowFrame | kAllowPooling);
    Layer layer;
    const uint32_t r = ReadLayer(cur, end, previousOut, allowed, layer);
    if (r) return r;
    previousOut = static_cast<uint32_t>(layer.outputDim);
    switch (layer.kind) {
      case LayerKind::kFrame:
        m.frameLayers.push_back(std::move(layer));
        break;
      case LayerKind::kPooling:
        m.pooling = std::move(layer);
        pooled = true;
        break;
      case LayerKind::kSegment:
        if (m.segmentLayers.empty() && layer.outputDim != m.embeddingDim) return jor::kXvectorDimensionMismatch;
        m.segmentLayers.push_back(std::move(layer));
        break;
    }
  }
  if (cur.pos() != end) return jor::kXvectorBadRecordLength;
  if (m.segmentLayers.empty()) return jor::kXvectorBadLayerKind;
  *model = std::move(m);
  return 0;
}

uint32_t ReadModelFile(const std::string& path, Model* model) {
  std::error_code ec;
  const auto st = std::filesystem::status(path, ec);
  if (!std::filesystem::exists(st)) return jor::kXvectorFileMissing;
  if (!std::filesystem::is_regular_file(st)) return jor::kXvectorFileUnreadable;
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"),
                                                       &std::fclose);
  if (!file) return errno == ENOENT ? jor::kXvectorFileMissing : jor::kXvectorFileUnreadable;
  std::vector<uint8_t> bytes;
  uint8_t chunk[1 << 16];
  for (;;) {
    const size_t n = std::fread(chunk, 1, sizeof chunk, file.get());
    if (n == 0) break;
    if (bytes.size() + n > kMaxFileBytes) return jor::kXvectorFileUnreadable;
    bytes.insert(bytes.end(), chunk, chunk + n);
  }
  if (std::ferror(file.get())) return jor::kXvectorFileUnreadable;
  return ParseModel(bytes.data(), bytes.size(), model);
}

}  // namespace brindle
