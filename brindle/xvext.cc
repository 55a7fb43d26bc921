// PLACEHOLDER: replaced by the x-vector network library.
#include "brindle/xvext.h"

namespace XVECTOR {
C_XVEXT::C_XVEXT() = default;
C_XVEXT::~C_XVEXT() = default;
int C_XVEXT::Init(std::string, int) { return 0x40009000; }
int C_XVEXT::GetXvector(const std::vector<float>&, std::vector<float>&) { return 0x30109000; }
}  // namespace XVECTOR
