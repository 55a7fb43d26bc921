// Writes a deployment of random but valid models: every file the engine
// loads, consistent in dimensions, so the whole system runs end to end.
// Scores from it carry no speaker information.
//
//   make-random-deployment DIR [--dim 512] [--gaussians 64] [--ceps 40] [--seed 1]
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "tools/modelio/random-deployment.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr,
                 "usage: %s DIR [--dim N] [--gaussians N] [--ceps N] [--seed N] [--log-level N]\n",
                 argv[0]);
    return 2;
  }
  modelio::DeploymentSpec spec;
  spec.dim = 512;
  spec.numGaussians = 64;
  spec.numCeps = 40;
  spec.logFile = "ULXSdk.log";
  for (int i = 2; i + 1 < argc; i += 2) {
    const int value = std::atoi(argv[i + 1]);
    if (!std::strcmp(argv[i], "--dim")) spec.dim = value;
    else if (!std::strcmp(argv[i], "--gaussians")) spec.numGaussians = value;
    else if (!std::strcmp(argv[i], "--ceps")) spec.numCeps = value;
    else if (!std::strcmp(argv[i], "--seed")) spec.seed = static_cast<uint32_t>(value);
    else if (!std::strcmp(argv[i], "--log-level")) spec.logLevel = value;
    else {
      std::fprintf(stderr, "unknown option %s\n", argv[i]);
      return 2;
    }
  }
  std::filesystem::create_directories(argv[1]);
  modelio::WriteRandomDeployment(argv[1], spec);
  std::printf("wrote %s: %d Gaussians, %d cepstra, dimension %d\n", argv[1], spec.numGaussians,
              spec.numCeps, spec.dim);
  return 0;
}
