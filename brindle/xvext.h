// PLACEHOLDER: replaced by the x-vector network library.
#pragma once

#include <string>
#include <vector>

#include "common/visibility.h"

#if defined(BRINDLE_BUILDING)
#define BRINDLE_API JOR_EXPORT_SYMBOL
#else
#define BRINDLE_API JOR_IMPORT_SYMBOL
#endif

namespace XVECTOR {

class BRINDLE_API C_XVEXT {
 public:
  C_XVEXT();
  virtual ~C_XVEXT();
  int Init(std::string path, int flags);
  int GetXvector(const std::vector<float>& features, std::vector<float>& xvector);
};

}  // namespace XVECTOR
