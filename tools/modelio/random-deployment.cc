#include "tools/modelio/random-deployment.h"

#include "tools/modelio/container-writer.h"
#include "tools/modelio/file-bytes.h"
#include "tools/modelio/htk-writer.h"
#include "tools/modelio/ivector-writer.h"
#include "tools/modelio/scoring-writer.h"
#include "tools/modelio/xe5-writer.h"

namespace modelio {

void WriteRandomDeployment(const std::string& dir, const DeploymentSpec& spec) {
  const int F = spec.numCeps;
  const int C = spec.numGaussians;
  const int R = spec.dim;
  WriteFile(dir + "/mfcc-options.json",
            "{\"MfccOptions\":{\"num_ceps\":" + std::to_string(F) +
                ",\"MelBanksOptions\":{\"num_bins\":" + std::to_string(F < 23 ? 23 : F) + "}}}");
  const std::string logFile = spec.logFile.empty() ? dir + "/ULXSdk.log" : spec.logFile;
  WriteFile(dir + "/log-options.json", "{\"LogOptions\":{\"filename\":\"" + logFile +
                                           "\",\"level\":" + std::to_string(spec.logLevel) + "}}");

  const std::string selection = HtkTextGmm(RandomDiagonalGmm(C, F, spec.seed));
  const std::string posterior =
      HtkTextGmm(spec.fullCovariancePosterior ? RandomFullGmm(C, F, spec.seed + 1)
                                              : RandomDiagonalGmm(C, F, spec.seed + 1));
  const IvectorModel ivector = RandomIvectorModel(C, F, R, spec.seed + 2);
  const ScoringSections scoring = RandomScoringSections(R, spec.seed + 3);
  std::vector<ContainerSection> sections = {
      {0, selection},
      {1, posterior},
      {2, IvectorModelBytes(ivector, 4)},
      {3, scoring.splda},
      {4, scoring.meanVariance},
      {5, spec.withWhitening ? scoring.whitening : std::string()},
  };
  if (!spec.withWhitening) sections[5].type = 9;  // unknown type: no whitening section
  WriteFile(dir + "/ulxmodel.dat", BuildContainer(sections));

  NetSpec net;
  net.inputDim = static_cast<uint32_t>(F);
  net.frameDims = {48, 48, 48, 48, 96};
  net.contexts = {{-2, -1, 0, 1, 2}, {-2, 0, 2}, {-3, 0, 3}, {0}, {0}};
  net.embeddingDim = static_cast<uint32_t>(R);
  net.laterSegmentDims = {};
  WriteFile(dir + "/xe5.pb", Encode(RandomModel(net, spec.seed + 4)));
}

}  // namespace modelio
