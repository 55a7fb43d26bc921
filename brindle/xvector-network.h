// Forward pass of an x-vector network: frame layers over all voiced frames,
// mean and standard deviation pooling, and the first segment layer's affine
// output as the embedding.
//
// Thread safety: Compute is const and keeps its scratch on the call, so one
// network serves any number of threads at once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "brindle/xe5-model.h"

namespace brindle {

class XvectorNetwork {
 public:
  // Frame-level outputs computed per pass (about 10 s of speech at 100 frames
  // per second): each frame layer is one matrix product over the pass, whose
  // activations stay in cache; on 60 s inputs this runs twice as fast as a
  // single pass and keeps scratch bounded for any recording length.
  static constexpr size_t kDefaultBlockFrames = 1024;

  explicit XvectorNetwork(Model model);

  const Model& model() const { return model_; }
  int InputDim() const { return model_.inputDim; }
  int EmbeddingDim() const { return model_.embeddingDim; }
  // Input frames consumed by the frame layers around each output frame.
  int Span() const { return span_; }
  // Copies of the first frame put in front of an input of at most Span() frames
  // (Span() - LeadPadding() copies of the last frame go behind).
  int LeadPadding() const { return leadPadding_; }

  // `features`: `count` floats, row-major, InputDim() per row. Returns 0 and
  // the embedding, or an input result of common/result-codes.h (embedding
  // untouched). May throw std::bad_alloc.
  uint32_t Compute(const float* features, size_t count, std::vector<float>* embedding,
                   size_t blockFrames = kDefaultBlockFrames) const;

 private:
  Model model_;
  int span_ = 0;
  int leadPadding_ = 0;
  int maxFrameOutput_ = 0;
  size_t maxSpliceRows_ = 0;  // 0 when every frame layer splices in place
};

}  // namespace brindle
