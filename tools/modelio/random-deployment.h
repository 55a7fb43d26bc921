// A complete deployment of random but valid models: options,
// model container (two HTK GMMs, i-vector extractor, mean/variance,
// whitening, SPLDA) and an x-vector network whose embedding has the scoring
// dimension. Scores from it are well-formed but mean nothing.
#pragma once

#include <cstdint>
#include <string>

namespace modelio {

struct DeploymentSpec {
  int numGaussians = 32;  // both GMMs and the extractor (at least the 20 selected)
  int numCeps = 20;       // features: num_bins 23, no deltas
  int dim = 32;           // i-vector, x-vector and scoring dimension
  bool fullCovariancePosterior = false;
  bool withWhitening = true;
  int logLevel = 6;     // 6: off
  std::string logFile;  // empty: ULXSdk.log inside the deployment
  uint32_t seed = 1;
};

// Writes "ulxmodel.dat", "mfcc-options.json", "log-options.json" and
// "xe5.pb" into `dir` (which must exist).
void WriteRandomDeployment(const std::string& dir, const DeploymentSpec& spec = {});

}  // namespace modelio
