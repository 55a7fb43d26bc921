// PLACEHOLDER: replaced by the GMM posterior / statistics front.
#include "IvectorExt/GMMPP_IVEXT/gmmpp/gmmpp-ivext.h"

namespace gmmpp_ivext {
namespace {
constexpr int kNotReady = static_cast<int>(0x30105301u);
}
int GmmppIvext::ExtractIvector(std::vector<float>&) { return kNotReady; }
int GmmppIvext::ExtractIvectorFromFeatures(const std::vector<float>&, std::vector<float>&) {
  return kNotReady;
}
int GmmppIvext::ResetStats() { return 0; }
int GmmppIvext::AccumulateFeatures(const std::vector<float>&) { return kNotReady; }
int GmmppIvext::InitModels(FILE*, FILE*, FILE*, int, float, int, const bool&) {
  return static_cast<int>(0x40006000u);
}
void GmmppIvext::ReleaseModels() {}
}  // namespace gmmpp_ivext
