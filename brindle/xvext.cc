#include "brindle/xvext.h"

#include <memory>
#include <new>

#include "brindle/xe5-model.h"
#include "brindle/xvector-network.h"
#include "common/result-codes.h"

namespace XVECTOR {

class C_XVEXT::Impl {
 public:
  std::unique_ptr<brindle::XvectorNetwork> network;
};

namespace {

// The library's one exception boundary: nothing thrown leaves an export.
template <typename F>
int Guarded(F&& body) {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    return static_cast<int>(jor::kXvectorNoMemory);
  } catch (...) {
    return static_cast<int>(jor::kXvectorInternalError);
  }
}

}  // namespace

C_XVEXT::C_XVEXT() : impl_(new (std::nothrow) Impl) {}

C_XVEXT::~C_XVEXT() {
  delete impl_;
}

int C_XVEXT::Init(std::string path, int /*flags*/) {
  if (!impl_) return static_cast<int>(jor::kXvectorNoMemory);
  impl_->network.reset();
  return Guarded([&] {
    brindle::Model model;
    const uint32_t r = brindle::ReadModelFile(path, &model);
    if (r) return static_cast<int>(r);
    impl_->network = std::make_unique<brindle::XvectorNetwork>(std::move(model));
    return 0;
  });
}

int C_XVEXT::GetXvector(const std::vector<float>& features, std::vector<float>& xvector) {
  xvector.clear();
  if (!impl_ || !impl_->network) return static_cast<int>(jor::kXvectorNotInitialized);
  const int r = Guarded([&] {
    return static_cast<int>(impl_->network->Compute(features.data(), features.size(), &xvector));
  });
  // A failure leaves no partial embedding behind.
  if (r) xvector.clear();
  return r;
}

int C_XVEXT::InputDim() const {
  return impl_ && impl_->network ? impl_->network->InputDim() : 0;
}

int C_XVEXT::EmbeddingDim() const {
  return impl_ && impl_->network ? impl_->network->EmbeddingDim() : 0;
}

}  // namespace XVECTOR
