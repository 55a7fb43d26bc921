#include "brindle/xvext.h"

#include <memory>
#include <new>

#include "brindle/result-codes.h"
#include "brindle/xe5-model.h"
#include "brindle/xvector-network.h"

namespace XVECTOR {

class C_XVEXT::Impl {
 public:
  std::unique_ptr<brindle::XvectorNetwork> network;
};

C_XVEXT::C_XVEXT() : impl_(new (std::nothrow) Impl) {}

C_XVEXT::~C_XVEXT() {
  delete impl_;
}

int C_XVEXT::Init(std::string path, int /*flags*/) {
  if (!impl_) return static_cast<int>(brindle::kNoMemory);
  impl_->network.reset();
  try {
    brindle::Model model;
    const uint32_t r = brindle::ReadModelFile(path, &model);
    if (r) return static_cast<int>(r);
    impl_->network = std::make_unique<brindle::XvectorNetwork>(std::move(model));
    return 0;
  } catch (const std::bad_alloc&) {
    return static_cast<int>(brindle::kNoMemory);
  } catch (...) {
    return static_cast<int>(brindle::kInternalError);
  }
}

int C_XVEXT::GetXvector(const std::vector<float>& features, std::vector<float>& xvector) {
  xvector.clear();
  if (!impl_ || !impl_->network) return static_cast<int>(brindle::kNotInitialized);
  try {
    return static_cast<int>(impl_->network->Compute(features.data(), features.size(), &xvector));
  } catch (const std::bad_alloc&) {
    xvector.clear();
    return static_cast<int>(brindle::kNoMemory);
  } catch (...) {
    xvector.clear();
    return static_cast<int>(brindle::kInternalError);
  }
}

}  // namespace XVECTOR
