// PLACEHOLDER: replaced by the i-vector extractor work.
#include "IvectorExt/ivext/iv-extractor.h"

namespace ivext {
IvExtractor::IvExtractor() = default;
IvExtractor::~IvExtractor() = default;
int IvExtractor::LoadModel(FILE*, const bool&) { return static_cast<int>(0x40007000u); }
int IvExtractor::Extract(const UtteranceStats<float>&, std::vector<float>&) {
  return static_cast<int>(0x40007001u);
}
int IvExtractor::NumGaussians() { return 0; }
int IvExtractor::FeatureDim() { return 0; }
int IvExtractor::IvectorDim() { return 0; }
}  // namespace ivext
