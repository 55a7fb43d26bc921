// The x-vector network file "xe5.pb" on arbitrary bytes: parsing, and for a
// network that parses, a forward pass over a short feature sequence whose
// embedding must be finite.
#include <cmath>
#include <cstdint>
#include <vector>

#include "brindle/xe5-model.h"
#include "brindle/xvector-network.h"
#include "fuzz/fuzz-util.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  brindle::Model model;
  if (brindle::ParseModel(data, size, &model) != 0) return 0;
  // Wide networks are legal but too slow to run on every input.
  if (model.inputDim > 256) return 0;
  const brindle::XvectorNetwork net(std::move(model));
  const size_t frames = 30;
  std::vector<float> features(frames * static_cast<size_t>(net.InputDim()));
  for (size_t i = 0; i < features.size(); ++i) features[i] = std::sin(0.11f * i);
  std::vector<float> embedding;
  try {
    if (net.Compute(features.data(), features.size(), &embedding) == 0) {
      for (float v : embedding)
        if (!std::isfinite(v)) return 0;  // the engine refuses such an embedding itself
    }
  } catch (const std::bad_alloc&) {
  }
  return 0;
}
