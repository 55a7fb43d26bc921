#include "IvectorExt/ivext/iv-extractor.h"

#include <sys/types.h>

#include <new>

#include "engine/logging.h"

namespace ivext {

IvExtractor::IvExtractor()
    : floatExtractor(std::make_unique<Extractor<float>>()),
      doubleExtractor(std::make_unique<Extractor<double>>()) {}

IvExtractor::~IvExtractor() = default;

bool IvExtractor::IsShared() const {
  if (elemSize == 4) return floatExtractor->IsShared();
  if (elemSize == 8) return doubleExtractor->IsShared();
  return false;
}

int IvExtractor::LoadModel(FILE* file, const bool& shareModel) {
  elemSize = numGaussians = featureDim = ivectorDim = 0;
  off_t start = 0;
  if (file != nullptr) {
    start = ::ftello(file);
    if (start < 0) {
      jor_log::LogF(__FILE__, "IvExtractor::LoadModel", __LINE__, jor_log::kError,
                    "Cannot read the position of the extractor model");
      return jor::kExtractorFileError;
    }
  }
  int rc = floatExtractor->LoadModel(file, shareModel);
  if (rc == 0) {
    elemSize = 4;
    numGaussians = floatExtractor->NumGaussians();
    featureDim = floatExtractor->FeatureDim();
    ivectorDim = floatExtractor->IvectorDim();
    return 0;
  }
  // A failure of the shared store is not a question of the element size: the
  // double probe would only read the float file and hide it.
  if (rc == jor::kSharedMemoryError) return rc;
  if (file != nullptr && ::fseeko(file, start, SEEK_SET) != 0) {
    jor_log::LogF(__FILE__, "IvExtractor::LoadModel", __LINE__, jor_log::kError,
                  "Cannot return to the start of the extractor model");
    return jor::kExtractorFileError;
  }
  rc = doubleExtractor->LoadModel(file, shareModel);
  if (rc != 0) return rc;
  elemSize = 8;
  numGaussians = doubleExtractor->NumGaussians();
  featureDim = doubleExtractor->FeatureDim();
  ivectorDim = doubleExtractor->IvectorDim();
  return 0;
}

int IvExtractor::Extract(const UtteranceStats<float>& stats, std::vector<float>& ivector) const {
  if (stats.numFrames == 0) return jor::kIvectorNoFrames;
  if (elemSize == 4) return floatExtractor->Extract(stats, ivector);
  if (elemSize != 8) return jor::kExtractorFormatError;
  try {
    UtteranceStats<double> wide(stats.featureDim, stats.numGaussians);
    wide.numFrames = stats.numFrames;
    wide.zeroth.assign(stats.zeroth.begin(), stats.zeroth.end());
    wide.first.resize(stats.first.size());
    for (size_t c = 0; c < stats.first.size(); ++c)
      wide.first[c].assign(stats.first[c].begin(), stats.first[c].end());
    std::vector<double> result;
    const int rc = doubleExtractor->Extract(wide, result);
    if (rc != 0) return rc;
    ivector.resize(result.size());
    for (size_t i = 0; i < result.size(); ++i) ivector[i] = static_cast<float>(result[i]);
    return 0;
  } catch (const std::bad_alloc&) {
    return jor::kExtractorNoMemory;
  }
}

}  // namespace ivext
